#include "database.h"

#include "backend.h"
#include "postgres.h"
#include "storelog.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>

#include <algorithm>
#include <cmath>
#include <limits>

namespace nx7 {

struct Database::Connection
{
    QString path;
    std::unique_ptr<Backend> backend;
};

namespace {

bool isNumber(const QVariant &value)
{
    switch (value.metaType().id()) {
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
        return true;
    default:
        return false;
    }
}

// Numbers compare as numbers, anything else as text; Null matches nothing.
bool sameValue(const QVariant &stored, const QVariant &wanted)
{
    if (Value::isNull(stored) || Value::isNull(wanted))
        return false;
    if (isNumber(stored) && isNumber(wanted))
        return stored.toDouble() == wanted.toDouble();
    return stored.toString() == wanted.toString();
}

int indexOfField(const QStringList &fields, const QString &name)
{
    for (int i = 0; i < fields.size(); ++i) {
        if (fields.at(i).compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

Error fieldNotFound(const QString &name)
{
    return Error::make(ErrorNumber::ItemNotFound,
                       QStringLiteral("Elemento non trovato in questo insieme: %1.").arg(name));
}

// System columns are named bare; everything else quoted with its exact spelling.
QString keyExpression(const QString &column)
{
    if (column == QStringLiteral("rowid") || column == QStringLiteral("ctid"))
        return column;
    return Database::quoted(column);
}

} // namespace

Database::Database(std::shared_ptr<Connection> connection) : m_connection(std::move(connection)) {}

Result<Database> Database::open(const QString &path, Sharing sharing)
{
    if (const QString file = postgres::connectionFileFor(path); !file.isEmpty()) {
        auto connectionString = postgres::readConnectionFile(file);
        if (!connectionString)
            return connectionString.error();
        return openPostgres(*connectionString, file);
    }
    auto backend = sqlite::open(path, sharing == Sharing::Shared);
    if (!backend)
        return backend.error();
    return Database(std::make_shared<Connection>(Connection{path, std::move(*backend)}));
}

Result<Database> Database::openPostgres(const QString &connectionString, const QString &origin)
{
    auto backend = postgres::open(connectionString);
    if (!backend)
        return backend.error();
    const QString path = origin.isEmpty() ? QStringLiteral("PostgreSQL") : origin;
    return Database(std::make_shared<Connection>(Connection{path, std::move(*backend)}));
}

quint64 Database::serverReconnections()
{
    return postgres::reconnections();
}

bool Database::isPostgres() const
{
    return m_connection && m_connection->backend->isPostgres();
}

Error Database::failure(const QSqlError &error, const QString &what)
{
    return m_connection->backend->failure(error, what);
}

QString Database::path() const
{
    return m_connection ? m_connection->path : QString();
}

QString Database::connectionName() const
{
    return m_connection ? m_connection->backend->connectionName() : QString();
}

QString Database::quoted(const QString &identifier)
{
    QString escaped = identifier;
    escaped.replace(u'"', QStringLiteral("\"\""));
    return u'"' + escaped + u'"';
}

Result<QSqlQuery> Database::run(const QString &sql, const QVariantList &binds)
{
    if (!m_connection)
        return Error::make(ErrorNumber::CannotOpenDatabase);
    QSqlQuery query(QSqlDatabase::database(connectionName(), false));
    query.setForwardOnly(true);
    // PostgreSQL prepares only queries and row changes, and a statement without values
    // needs one round trip instead of three.
    if (binds.isEmpty()) {
        if (!query.exec(sql))
            return failure(query.lastError(), sql);
        return query;
    }
    if (!query.prepare(sql))
        return failure(query.lastError(), sql);
    for (const QVariant &value : binds)
        query.addBindValue(value);
    if (!query.exec())
        return failure(query.lastError(), sql);
    return query;
}

Status Database::exec(const QString &sql, const QVariantList &binds)
{
    auto query = run(sql, binds);
    if (!query)
        return query.error();
    return {};
}

Result<QList<QVariantList>> Database::select(const QString &sql, const QVariantList &binds)
{
    auto query = run(sql, binds);
    if (!query)
        return query.error();
    QList<QVariantList> rows;
    const int columnCount = query->record().count();
    while (query->next()) {
        QVariantList row;
        row.reserve(columnCount);
        for (int i = 0; i < columnCount; ++i)
            row.append(query->value(i));
        rows.append(row);
    }
    return rows;
}

Status Database::beginTransaction()
{
    Status begun = exec(m_connection->backend->beginStatement());
    if (begun)
        m_connection->backend->setInTransaction(true);
    return begun;
}

Status Database::commit()
{
    const Status committed = exec(QStringLiteral("COMMIT"));
    m_connection->backend->setInTransaction(false);
    return committed;
}

void Database::rollback()
{
    if (const Status status = exec(QStringLiteral("ROLLBACK")); !status)
        qCWarning(lcStore) << "rollback failed:" << status.error().description;
    m_connection->backend->setInTransaction(false);
}

bool Database::hasTable(const QString &table)
{
    return bool(shape(table));
}

Result<QList<std::pair<QString, QString>>> Database::columns(const QString &table)
{
    auto found = shape(table);
    if (!found)
        return found.error();
    QList<std::pair<QString, QString>> result;
    for (int i = 0; i < found->fields.size(); ++i)
        result.append({found->fields.at(i), found->types.at(i)});
    return result;
}

Status Database::addColumn(const QString &table, const QString &column, const QString &declaredType)
{
    auto target = shape(table);
    if (!target)
        return target.error();
    m_connection->backend->forgetTables();
    return exec(QStringLiteral("ALTER TABLE %1 ADD COLUMN %2 %3")
                    .arg(target->from, quoted(column), declaredType));
}

Status Database::addMissingColumns(const QString &table,
                                   const QList<std::pair<QString, QString>> &wanted)
{
    auto present = columns(table);
    if (!present)
        return present.error();
    for (const auto &[name, type] : wanted) {
        const QString &wantedName = name; // a structured binding no lambda may capture
        const bool has = std::any_of(present->begin(), present->end(), [&](const auto &column) {
            return column.first.compare(wantedName, Qt::CaseInsensitive) == 0;
        });
        if (has)
            continue;
        if (Status added = addColumn(table, name, type); !added) {
            qCWarning(lcStore).noquote()
                << "cannot add" << name << "to" << table << ":" << added.error().description;
            return added;
        }
        qCInfo(lcStore).noquote() << "table" << table << "upgraded: added" << name;
    }
    return {};
}

Status Database::deleteAllRows(const QString &table)
{
    auto target = shape(table);
    if (!target)
        return target.error();
    return exec(QStringLiteral("DELETE FROM %1").arg(target->from));
}

// The fields take the spelling the table has (PostgreSQL names are exact) and their
// values the form their columns take.
Status Database::insert(const QString &table, const FieldValues &fields)
{
    auto target = shape(table);
    if (!target)
        return target.error();
    QStringList names;
    QStringList marks;
    QVariantList values;
    for (const auto &[name, value] : fields) {
        const int index = indexOfField(target->fields, name);
        if (index < 0)
            return fieldNotFound(name);
        names.append(quoted(target->fields.at(index)));
        marks.append(QStringLiteral("?"));
        values.append(bound(value, target->types.at(index)));
    }
    return exec(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                    .arg(target->from, names.join(u','), marks.join(u',')),
                values);
}

Result<int> Database::update(const QString &table, const FieldValues &fields,
                             const FieldValues &where)
{
    auto target = shape(table);
    if (!target)
        return target.error();
    QStringList sets;
    QStringList conditions;
    QVariantList binds;
    for (const auto *list : {&fields, &where}) {
        for (const auto &[name, value] : *list) {
            const int index = indexOfField(target->fields, name);
            if (index < 0)
                return fieldNotFound(name);
            (list == &fields ? sets : conditions)
                .append(quoted(target->fields.at(index)) + QStringLiteral(" = ?"));
            binds.append(bound(value, target->types.at(index)));
        }
    }
    auto query = run(QStringLiteral("UPDATE %1 SET %2 WHERE %3")
                         .arg(target->from, sets.join(u','),
                              conditions.isEmpty() ? QStringLiteral("1 = 1")
                                                   : conditions.join(QStringLiteral(" AND "))),
                     binds);
    if (!query)
        return query.error();
    return query->numRowsAffected();
}

Result<int> Database::countMatching(const QString &table, const FieldValues &fields)
{
    auto target = shape(table);
    if (!target)
        return target.error();
    QStringList conditions{QStringLiteral("1 = 1")};
    QVariantList binds;
    for (const auto &[name, value] : fields) {
        const int index = indexOfField(target->fields, name);
        if (index < 0)
            return fieldNotFound(name);
        // Accepted by PostgreSQL and by SQLite from 3.39 on; "IS ?" is SQLite only.
        conditions.append(quoted(target->fields.at(index)) +
                          QStringLiteral(" IS NOT DISTINCT FROM ?"));
        // Any kind of Null (a JSON null read back is one) is bound as the SQL Null.
        binds.append(Value::isNull(value) ? QVariant() : bound(value, target->types.at(index)));
    }
    auto rows = select(QStringLiteral("SELECT COUNT(*) FROM %1 WHERE %2")
                           .arg(target->from, conditions.join(QStringLiteral(" AND "))),
                       binds);
    if (!rows)
        return rows.error();
    return rows->isEmpty() ? 0 : rows->first().value(0).toInt();
}

Result<TableShape> Database::shape(const QString &table)
{
    if (!m_connection)
        return Error::make(ErrorNumber::CannotOpenDatabase);
    return m_connection->backend->table(*this, table);
}

QVariant Database::bound(const QVariant &value, const QString &type) const
{
    return m_connection->backend->bound(value, type);
}

Status Database::updateRow(const QString &sql, const QVariantList &binds,
                           const QStringList &keyExpressions, QVariantList &key)
{
    return m_connection->backend->updateRow(*this, sql, binds, keyExpressions, key);
}

// ---------------------------------------------------------------------------

Result<RecordSet> RecordSet::openTable(Database &db, const QString &table, const QString &column,
                                       const QVariant &value)
{
    auto shape = db.shape(table);
    if (!shape)
        return shape.error();
    RecordSet set;
    set.m_db = db;
    set.m_table = table;
    set.m_from = shape->from;
    set.m_fields = shape->fields;
    set.m_types = shape->types;
    set.m_keyColumns = shape->key;
    QStringList selected;
    for (const QString &key : std::as_const(set.m_keyColumns))
        selected.append(keyExpression(key));
    for (const QString &name : std::as_const(set.m_fields))
        selected.append(Database::quoted(name));
    QString sql = QStringLiteral("SELECT %1 FROM %2").arg(selected.join(u','), set.m_from);
    QVariantList binds;
    if (!column.isEmpty()) {
        const int index = set.fieldIndex(column);
        if (index < 0)
            return Error::make(ErrorNumber::ItemNotFound);
        sql += QStringLiteral(" WHERE %1 = ?").arg(Database::quoted(set.m_fields.at(index)));
        binds.append(db.bound(value, set.m_types.at(index)));
    }
    if (!shape->order.isEmpty())
        sql += QStringLiteral(" ORDER BY ") + shape->order;
    auto query = db.run(sql, binds);
    if (!query)
        return query.error();
    const int keyCount = int(set.m_keyColumns.size());
    while (query->next()) {
        QVariantList key;
        for (int i = 0; i < keyCount; ++i)
            key.append(query->value(i));
        set.m_keys.append(key);
        QVariantList row;
        for (int i = 0; i < set.m_fields.size(); ++i)
            row.append(query->value(i + keyCount));
        set.m_rows.append(row);
    }
    return set;
}

Result<RecordSet> RecordSet::openQuery(Database &db, const QString &sql, const QVariantList &binds)
{
    auto query = db.run(sql, binds);
    if (!query)
        return query.error();
    RecordSet set;
    set.m_db = db;
    const QSqlRecord record = query->record();
    for (int i = 0; i < record.count(); ++i) {
        set.m_fields.append(record.fieldName(i));
        set.m_types.append(QString::fromLatin1(record.field(i).metaType().name()).toUpper());
    }
    while (query->next()) {
        QVariantList row;
        for (int i = 0; i < record.count(); ++i)
            row.append(query->value(i));
        set.m_rows.append(row);
    }
    return set;
}

void RecordSet::moveFirst()
{
    m_mode = Mode::Browse;
    m_current = 0;
}

void RecordSet::moveNext()
{
    m_mode = Mode::Browse;
    if (m_current < m_rows.size())
        ++m_current;
}

int RecordSet::fieldIndex(const QString &name) const
{
    return indexOfField(m_fields, name);
}

Result<QVariant> RecordSet::value(const QString &field) const
{
    const int index = fieldIndex(field);
    if (index < 0)
        return Error::make(
            ErrorNumber::ItemNotFound,
            QStringLiteral("Elemento non trovato in questo insieme: %1.").arg(field));
    if (m_mode != Mode::Browse)
        return m_buffer.at(index);
    if (eof())
        return Error::make(ErrorNumber::NoCurrentRecord);
    return m_rows.at(m_current).at(index);
}

QVariant RecordSet::value(int index) const
{
    if (m_mode != Mode::Browse)
        return m_buffer.value(index);
    return eof() ? QVariant() : m_rows.at(m_current).value(index);
}

Result<bool> RecordSet::findFirst(const QString &field, const QVariant &value)
{
    const int index = fieldIndex(field);
    if (index < 0)
        return Error::make(ErrorNumber::ItemNotFound);
    m_mode = Mode::Browse;
    for (qsizetype row = 0; row < m_rows.size(); ++row) {
        if (sameValue(m_rows.at(row).at(index), value)) {
            m_current = row;
            return true;
        }
    }
    m_current = m_rows.size();
    return false;
}

Status RecordSet::edit()
{
    if (m_table.isEmpty())
        return Error::make(ErrorNumber::DatabaseOperationFailed,
                           QStringLiteral("Il recordset non è aggiornabile."));
    if (eof())
        return Error::make(ErrorNumber::NoCurrentRecord);
    m_mode = Mode::Edit;
    m_buffer = m_rows.at(m_current);
    m_dirty = QList<bool>(m_fields.size(), false);
    return {};
}

Status RecordSet::addNew()
{
    if (m_table.isEmpty())
        return Error::make(ErrorNumber::DatabaseOperationFailed,
                           QStringLiteral("Il recordset non è aggiornabile."));
    m_mode = Mode::Add;
    m_buffer = QVariantList(m_fields.size());
    m_dirty = QList<bool>(m_fields.size(), false);
    return {};
}

Status RecordSet::setValue(const QString &field, const QVariant &value)
{
    const int index = fieldIndex(field);
    if (index < 0)
        return Error::make(
            ErrorNumber::ItemNotFound,
            QStringLiteral("Elemento non trovato in questo insieme: %1.").arg(field));
    if (m_mode == Mode::Browse)
        return Error::make(ErrorNumber::DatabaseOperationFailed,
                           QStringLiteral("Aggiornamento senza Edit o AddNew."));
    m_buffer[index] = value;
    m_dirty[index] = true;
    return {};
}

Status RecordSet::update()
{
    if (m_mode == Mode::Browse)
        return Error::make(ErrorNumber::DatabaseOperationFailed,
                           QStringLiteral("Aggiornamento senza Edit o AddNew."));
    FieldValues changed;
    for (int i = 0; i < m_fields.size(); ++i) {
        if (m_dirty.at(i))
            changed.append({m_fields.at(i), m_buffer.at(i)});
    }
    Status status;
    if (m_mode == Mode::Add) {
        status = changed.isEmpty()
                     ? m_db.exec(QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(m_from))
                     : m_db.insert(m_table, changed);
    } else if (!changed.isEmpty()) {
        status = updateCurrent(changed);
    }
    if (!status)
        return status;
    if (m_mode == Mode::Edit)
        m_rows[m_current] = m_buffer;
    m_mode = Mode::Browse;
    return {};
}

// Only the changed fields are written, so that a station's change to another field of
// the same row in the meantime is kept.
Status RecordSet::updateCurrent(const FieldValues &changed)
{
    QStringList sets;
    QVariantList binds;
    for (const auto &[name, value] : changed) {
        sets.append(Database::quoted(name) + QStringLiteral(" = ?"));
        binds.append(m_db.bound(value, m_types.at(fieldIndex(name))));
    }
    QStringList keys;
    for (int i = 0; i < m_keyColumns.size(); ++i) {
        keys.append(keyExpression(m_keyColumns.at(i)) + QStringLiteral(" = ?"));
        binds.append(m_keys.at(m_current).at(i));
    }
    if (keys.isEmpty())
        return Error::make(ErrorNumber::DatabaseOperationFailed,
                           QStringLiteral("Il recordset non è aggiornabile."));
    const QString sql = QStringLiteral("UPDATE %1 SET %2 WHERE %3")
                            .arg(m_from, sets.join(u','), keys.join(QStringLiteral(" AND ")));
    QStringList keyExpressions;
    for (const QString &key : std::as_const(m_keyColumns))
        keyExpressions.append(keyExpression(key));
    return m_db.updateRow(sql, binds, keyExpressions, m_keys[m_current]);
}

// ---------------------------------------------------------------------------

bool Value::isNull(const QVariant &value)
{
    return !value.isValid() || value.isNull();
}

bool Value::isTrue(const QVariant &value)
{
    if (isNull(value))
        return false;
    switch (value.metaType().id()) {
    case QMetaType::Bool:
        return value.toBool();
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return value.toLongLong() != 0;
    case QMetaType::Double:
        return value.toDouble() != 0.0;
    default:
        return false;
    }
}

Result<qint32> Value::toInt32(const QVariant &value)
{
    if (isNull(value))
        return Error::make(ErrorNumber::InvalidUseOfNull);
    double number = 0;
    if (value.metaType().id() == QMetaType::QString) {
        bool ok = false;
        number = value.toString().trimmed().toDouble(&ok);
        if (!ok)
            return Error::make(ErrorNumber::TypeMismatch);
    } else {
        bool ok = false;
        number = value.toDouble(&ok);
        if (!ok)
            return Error::make(ErrorNumber::TypeMismatch);
    }
    const double rounded = std::nearbyint(number); // half to even in the default mode
    if (!std::isfinite(rounded) || rounded > std::numeric_limits<qint32>::max() ||
        rounded < std::numeric_limits<qint32>::min())
        return Error::make(ErrorNumber::Overflow);
    return static_cast<qint32>(rounded);
}

} // namespace nx7
