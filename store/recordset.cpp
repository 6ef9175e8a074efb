#include "database.h"

#include "backend.h"
#include "fieldnames.h"

#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>

namespace nx7 {

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

// System columns are named bare; everything else quoted with its exact spelling.
QString keyExpression(const QString &column)
{
    if (column == QStringLiteral("rowid") || column == QStringLiteral("ctid"))
        return column;
    return Database::quoted(column);
}

} // namespace

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

} // namespace nx7
