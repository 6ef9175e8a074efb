#include "database.h"

#include "postgres.h"
#include "storefailure.h"
#include "storelog.h"
#include "systemreason.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUrl>

#include <atomic>
#include <cmath>
#include <limits>

namespace nx7 {

struct Database::Connection
{
    QString name;
    QString path;
    std::unique_ptr<postgres::Lease> server; // a PostgreSQL connection lent by the pool
    ~Connection()
    {
        if (server)
            return; // the lease hands the connection back
        {
            QSqlDatabase db = QSqlDatabase::database(name, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
    }
};

struct Database::TableShape
{
    QString from;
    QStringList fields;
    QStringList types;
    QStringList key;
    QString order;
};

namespace {

constexpr int kSharedBusyTimeoutMs = 5000;

QString nextConnectionName()
{
    static std::atomic<int> counter{0};
    return QStringLiteral("nx7-%1").arg(++counter);
}

// The old kiosk's Access files begin with the Jet or ACE signature.
bool isAccessFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.read(32);
    return head.contains("Standard Jet DB") || head.contains("Standard ACE DB");
}

Error sqlError(const QSqlError &error, const QString &what)
{
    // Busy or out of reach for a while: a number of its own, which callers wait out.
    if (auto unavailable = unavailableSqlError(error, what))
        return *unavailable;
    const QString text = error.text().trimmed();
    qCWarning(lcStore).noquote() << what << ":" << text;
    if (text.contains(QStringLiteral("no such table"), Qt::CaseInsensitive))
        return Error::make(ErrorNumber::TableNotFound,
                           QStringLiteral("Impossibile trovare la tabella: %1").arg(what));
    if (text.contains(QStringLiteral("no such column"), Qt::CaseInsensitive) ||
        text.contains(QStringLiteral("has no column"), Qt::CaseInsensitive))
        return Error::make(ErrorNumber::ItemNotFound);
    if (text.contains(QStringLiteral("not a database"), Qt::CaseInsensitive))
        return Error::make(ErrorNumber::UnrecognizedDatabaseFormat);
    return Error::make(ErrorNumber::DatabaseOperationFailed,
                       QStringLiteral("Operazione sul database non riuscita: %1")
                           .arg(SystemReason::fromDatabaseText(text)));
}

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

QVariant boundFor(const Database &db, const QVariant &value, const QString &type)
{
    return db.isPostgres() ? postgres::forColumn(value, type) : value;
}

int indexOfField(const QStringList &fields, const QString &name)
{
    for (int i = 0; i < fields.size(); ++i) {
        if (fields.at(i).compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

// 3044 when the folder is missing, else 3024.
Error missingDatabase(const QFileInfo &info)
{
    if (!info.absoluteDir().exists())
        return Error::make(ErrorNumber::NotValidPath,
                           QStringLiteral("'%1' non è un percorso valido. Verificare che il "
                                          "percorso sia corretto e che il server sia "
                                          "raggiungibile.")
                               .arg(QDir::toNativeSeparators(info.absolutePath())));
    return Error::make(ErrorNumber::DatabaseFileNotFound,
                       QStringLiteral("Impossibile trovare il file '%1'.")
                           .arg(QDir::toNativeSeparators(info.absoluteFilePath())));
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
    const QFileInfo info(path);
    if (!info.exists() || info.isDir())
        return missingDatabase(info);
    if (isAccessFile(path))
        return Error::make(ErrorNumber::UnrecognizedDatabaseFormat,
                           QStringLiteral("Il file '%1' è un database Access del vecchio totem e "
                                          "non può essere usato: crearne uno nuovo con nx7setup.")
                               .arg(QDir::toNativeSeparators(info.absoluteFilePath())));

    auto connection = std::make_shared<Connection>();
    connection->name = nextConnectionName();
    connection->path = path;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection->name);
        // mode=rw: should the file vanish after the check above (a share going away),
        // SQLite fails instead of making a new empty database.
        db.setDatabaseName(
            QUrl::fromLocalFile(info.absoluteFilePath()).toString(QUrl::FullyEncoded) +
            QStringLiteral("?mode=rw"));
        QString options = QStringLiteral("QSQLITE_OPEN_URI");
        if (sharing == Sharing::Shared)
            options += QStringLiteral(";QSQLITE_BUSY_TIMEOUT=%1").arg(kSharedBusyTimeoutMs);
        db.setConnectOptions(options);
        if (!db.open()) {
            if (!QFileInfo::exists(info.absoluteFilePath()))
                return missingDatabase(info);
            qCWarning(lcStore).noquote() << "cannot open" << path << ":" << db.lastError().text();
            return Error::make(ErrorNumber::CannotOpenDatabase,
                               QStringLiteral("Impossibile aprire il database '%1': %2")
                                   .arg(QDir::toNativeSeparators(path),
                                        SystemReason::fromSqlError(db.lastError())));
        }
    }
    Database database(std::move(connection));
    // Any other file is refused here: SQLite reports it on the first read. Other failures
    // (a lock held too long by another station) keep their own description.
    if (auto schema = database.select(QStringLiteral("PRAGMA schema_version")); !schema) {
        if (schema.errorNumber() != ErrorNumber::UnrecognizedDatabaseFormat)
            return schema.error();
        return Error::make(ErrorNumber::UnrecognizedDatabaseFormat,
                           QStringLiteral("Il file '%1' non è un database riconosciuto.")
                               .arg(QDir::toNativeSeparators(info.absoluteFilePath())));
    }
    if (sharing == Sharing::Shared)
        database.useRollbackJournal();
    return database;
}

Result<Database> Database::openPostgres(const QString &connectionString, const QString &origin)
{
    auto lease = postgres::lease(connectionString);
    if (!lease)
        return lease.error();
    auto connection = std::make_shared<Connection>();
    connection->name = (*lease)->connectionName();
    connection->path = origin.isEmpty() ? QStringLiteral("PostgreSQL") : origin;
    connection->server = std::move(*lease);
    return Database(std::move(connection));
}

bool Database::isPostgres() const
{
    return m_connection && m_connection->server;
}

Error Database::failure(const QSqlError &error, const QString &what)
{
    return isPostgres() ? m_connection->server->failure(error, what) : sqlError(error, what);
}

// A write-ahead log needs shared memory, which a network share does not give: a shared
// file made in that mode by another tool goes back to the rollback journal. Should another
// station hold it open, the change waits for a later open; the kiosk carries on meanwhile.
void Database::useRollbackJournal()
{
    auto mode = select(QStringLiteral("PRAGMA journal_mode"));
    if (!mode || mode->isEmpty() ||
        mode->first().value(0).toString().compare(QStringLiteral("wal"), Qt::CaseInsensitive) != 0)
        return;
    auto changed = select(QStringLiteral("PRAGMA journal_mode=DELETE"));
    if (!changed || changed->isEmpty() ||
        changed->first().value(0).toString().compare(QStringLiteral("delete"),
                                                     Qt::CaseInsensitive) != 0)
        qCWarning(lcStore).noquote() << "shared database" << path()
                                     << "stays in write-ahead-log mode: another station holds it";
    else
        qCInfo(lcStore).noquote() << "shared database" << path() << "moved to the rollback journal";
}

QString Database::path() const
{
    return m_connection ? m_connection->path : QString();
}

QString Database::connectionName() const
{
    return m_connection ? m_connection->name : QString();
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
    QSqlQuery query(QSqlDatabase::database(m_connection->name, false));
    query.setForwardOnly(true);
    // PostgreSQL prepares only queries and row changes, and a statement without values
    // needs one round trip instead of three.
    if (isPostgres() && binds.isEmpty()) {
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
    if (!isPostgres())
        return exec(QStringLiteral("BEGIN IMMEDIATE"));
    Status begun = exec(QStringLiteral("BEGIN"));
    if (begun)
        m_connection->server->setInTransaction(true);
    return begun;
}

Status Database::commit()
{
    const Status committed = exec(QStringLiteral("COMMIT"));
    // A PostgreSQL transaction ends with its COMMIT even when that fails.
    if (isPostgres())
        m_connection->server->setInTransaction(false);
    return committed;
}

void Database::rollback()
{
    if (const Status status = exec(QStringLiteral("ROLLBACK")); !status)
        qCWarning(lcStore) << "rollback failed:" << status.error().description;
    if (isPostgres())
        m_connection->server->setInTransaction(false);
}

bool Database::hasTable(const QString &table)
{
    auto found = findTable(table);
    return found && *found;
}

Result<bool> Database::findTable(const QString &table)
{
    if (isPostgres()) {
        auto found = m_connection->server->table(table);
        if (!found && found.errorNumber() != ErrorNumber::TableNotFound)
            return found.error();
        return found.ok();
    }
    auto rows = select(QStringLiteral("SELECT 1 FROM sqlite_master WHERE type IN ('table','view') "
                                      "AND name = ? COLLATE NOCASE"),
                       {table});
    if (!rows)
        return rows.error();
    return !rows->isEmpty();
}

Result<QList<std::pair<QString, QString>>> Database::columns(const QString &table)
{
    if (isPostgres()) {
        auto found = m_connection->server->table(table);
        if (!found)
            return found.error();
        QList<std::pair<QString, QString>> result;
        for (int i = 0; i < found->columns.size(); ++i)
            result.append({found->columns.at(i), found->types.at(i)});
        return result;
    }
    // A file that cannot be read (locked too long by another station) keeps its own error.
    auto found = findTable(table);
    if (!found)
        return found.error();
    if (!*found)
        return Error::make(ErrorNumber::TableNotFound,
                           QStringLiteral("Impossibile trovare la tabella '%1'.").arg(table));
    auto rows =
        select(QStringLiteral("SELECT name, type FROM pragma_table_info(?) ORDER BY cid"), {table});
    if (!rows)
        return rows.error();
    QList<std::pair<QString, QString>> result;
    for (const QVariantList &row : *rows)
        result.append({row.at(0).toString(), row.at(1).toString().toUpper()});
    return result;
}

Status Database::addColumn(const QString &table, const QString &column, const QString &declaredType)
{
    if (isPostgres()) {
        auto found = m_connection->server->table(table);
        if (!found)
            return found.error();
        m_connection->server->forgetTables();
        return exec(QStringLiteral("ALTER TABLE %1 ADD COLUMN %2 %3")
                        .arg(found->sqlName, quoted(column), declaredType));
    }
    return exec(QStringLiteral("ALTER TABLE %1 ADD COLUMN %2 %3")
                    .arg(quoted(table), quoted(column), declaredType));
}

Status Database::deleteAllRows(const QString &table)
{
    auto target = shape(table);
    if (!target)
        return target.error();
    return exec(QStringLiteral("DELETE FROM %1").arg(target->from));
}

Status Database::insert(const QString &table, const FieldValues &fields)
{
    QStringList names;
    QStringList marks;
    QVariantList values;
    QString from = quoted(table);
    if (isPostgres()) {
        // PostgreSQL names are exact: the fields take the spelling the table has.
        auto target = m_connection->server->table(table);
        if (!target)
            return target.error();
        from = target->sqlName;
        for (const auto &[name, value] : fields) {
            const int index = target->column(name);
            if (index < 0)
                return Error::make(
                    ErrorNumber::ItemNotFound,
                    QStringLiteral("Elemento non trovato in questo insieme: %1.").arg(name));
            names.append(quoted(target->columns.at(index)));
            marks.append(QStringLiteral("?"));
            values.append(postgres::forColumn(value, target->types.at(index)));
        }
    } else {
        for (const auto &[name, value] : fields) {
            names.append(quoted(name));
            marks.append(QStringLiteral("?"));
            values.append(value);
        }
    }
    return exec(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                    .arg(from, names.join(u','), marks.join(u',')),
                values);
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
            return Error::make(
                ErrorNumber::ItemNotFound,
                QStringLiteral("Elemento non trovato in questo insieme: %1.").arg(name));
        // Accepted by PostgreSQL and by SQLite from 3.39 on; "IS ?" is SQLite only.
        conditions.append(quoted(target->fields.at(index)) +
                          QStringLiteral(" IS NOT DISTINCT FROM ?"));
        binds.append(boundFor(*this, value, target->types.at(index)));
    }
    auto rows = select(QStringLiteral("SELECT COUNT(*) FROM %1 WHERE %2")
                           .arg(target->from, conditions.join(QStringLiteral(" AND "))),
                       binds);
    if (!rows)
        return rows.error();
    return rows->isEmpty() ? 0 : rows->first().value(0).toInt();
}

Result<Database::TableShape> Database::shape(const QString &table)
{
    if (isPostgres()) {
        auto found = m_connection->server->table(table);
        if (!found)
            return found.error();
        return TableShape{found->sqlName, found->columns, found->types, found->key, found->order};
    }
    auto described = columns(table);
    if (!described)
        return described.error();
    TableShape result{quoted(table), {}, {}, {QStringLiteral("rowid")}, QStringLiteral("rowid")};
    for (const auto &[name, type] : *described) {
        result.fields.append(name);
        result.types.append(type);
    }
    return result;
}

namespace {

// System columns are named bare; everything else quoted with its exact spelling.
QString keyExpression(const QString &column)
{
    if (column == QStringLiteral("rowid") || column == QStringLiteral("ctid"))
        return column;
    return Database::quoted(column);
}

} // namespace

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
        binds.append(boundFor(db, value, set.m_types.at(index)));
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
        binds.append(boundFor(m_db, value, m_types.at(fieldIndex(name))));
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
    if (!m_db.isPostgres())
        return m_db.exec(sql, binds);
    // The row is found again by its key; a row without one moves with each update, so its
    // new position is taken. A row another station removed, or moved first, is not
    // overwritten blindly: it is reported.
    QStringList returned;
    for (const QString &key : std::as_const(m_keyColumns))
        returned.append(keyExpression(key));
    auto rows = m_db.select(sql + QStringLiteral(" RETURNING ") + returned.join(u','), binds);
    if (!rows)
        return rows.error();
    if (rows->size() != 1)
        return Error::make(ErrorNumber::DatabaseOperationFailed,
                           QStringLiteral("Il record è stato modificato o eliminato da un'altra "
                                          "postazione: modifica non salvata."));
    m_keys[m_current] = rows->first();
    return {};
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
