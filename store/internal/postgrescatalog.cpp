// The server's catalog: tables and columns found without regard to case, how rows are told
// apart and ordered, and the values the columns take.
#include "postgresparts.h"

#include "database.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>

namespace nx7::postgres {

using namespace detail;

namespace detail {

QString quote(const QString &identifier)
{
    QString escaped = identifier;
    escaped.replace(u'"', QStringLiteral("\"\""));
    return u'"' + escaped + u'"';
}

} // namespace detail

int Table::column(const QString &name) const
{
    for (int i = 0; i < columns.size(); ++i) {
        if (columns.at(i).compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

QVariant forColumn(const QVariant &value, const QString &type)
{
    if (Value::isNull(value))
        return value;
    const int id = value.metaType().id();
    if (type == QStringLiteral("BOOLEAN")) {
        if (id == QMetaType::Bool)
            return value;
        if (id == QMetaType::QString) {
            bool number = false;
            const double parsed = value.toString().trimmed().toDouble(&number);
            return number ? QVariant(parsed != 0.0)
                          : value; // "true", "f" ... as the server reads them
        }
        return QVariant(Value::isTrue(value));
    }
    const bool numberColumn =
        type == QStringLiteral("SMALLINT") || type == QStringLiteral("INTEGER") ||
        type == QStringLiteral("BIGINT") || type.startsWith(QStringLiteral("NUMERIC")) ||
        type == QStringLiteral("REAL") || type == QStringLiteral("DOUBLE PRECISION");
    if (numberColumn && id == QMetaType::Bool)
        return QVariant(value.toBool() ? -1 : 0);
    return value;
}

Result<Table> Lease::table(const QString &name)
{
    const QString lookup = name.toLower();
    if (auto cached = m_session->tables.constFind(lookup); cached != m_session->tables.constEnd())
        return *cached;
    // The exact spelling wins over another capitalisation; the search path decides the schema.
    QSqlQuery query(QSqlDatabase::database(m_session->name, false));
    query.setForwardOnly(true);
    const QString sql = QStringLiteral(
        "WITH t AS (SELECT c.oid, n.nspname, c.relname, c.relkind FROM pg_catalog.pg_class c "
        "JOIN pg_catalog.pg_namespace n ON n.oid = c.relnamespace "
        "WHERE c.relkind IN ('r', 'p', 'v', 'm', 'f') AND lower(c.relname::text) = lower(?::text) "
        "AND n.nspname = ANY (current_schemas(false)) "
        "ORDER BY array_position(current_schemas(false), n.nspname), (c.relname::text = ?::text) "
        "DESC "
        "LIMIT 1) "
        "SELECT t.nspname, t.relname, t.relkind, a.attname, upper(format_type(a.atttypid, "
        "a.atttypmod)), "
        "CASE WHEN a.attnum = ANY (i.indkey) THEN array_position(i.indkey::int2[], a.attnum) - "
        "array_lower(i.indkey::int2[], 1) + 1 ELSE 0 END FROM t "
        "JOIN pg_catalog.pg_attribute a ON a.attrelid = t.oid AND a.attnum > 0 AND NOT "
        "a.attisdropped "
        "LEFT JOIN pg_catalog.pg_index i ON i.indrelid = t.oid AND i.indisprimary "
        "ORDER BY a.attnum");
    if (!query.prepare(sql))
        return failure(query.lastError(), sql);
    query.addBindValue(name);
    query.addBindValue(name);
    if (!query.exec())
        return failure(query.lastError(), sql);
    Table table;
    QString kind;
    QList<std::pair<int, QString>> primaryKey;
    while (query.next()) {
        table.sqlName = quote(query.value(0).toString()) + u'.' + quote(query.value(1).toString());
        kind = query.value(2).toString();
        const QString column = query.value(3).toString();
        table.columns.append(column);
        table.types.append(query.value(4).toString());
        if (const int position = query.value(5).toInt(); position > 0)
            primaryKey.append({position, column});
    }
    if (table.sqlName.isEmpty())
        return Error::make(ErrorNumber::TableNotFound,
                           QStringLiteral("Impossibile trovare la tabella '%1'.").arg(name));
    std::sort(primaryKey.begin(), primaryKey.end());
    QStringList quotedKey;
    for (const auto &[position, column] : primaryKey) {
        table.key.append(column);
        quotedKey.append(quote(column));
    }
    const bool physical = kind != QStringLiteral("v");
    if (!quotedKey.isEmpty())
        table.order = quotedKey.join(u',');
    else if (const int id = table.column(QStringLiteral("ID")); id >= 0)
        table.order = quote(table.columns.at(id));
    else if (physical)
        table.order = QStringLiteral("ctid");
    if (table.key.isEmpty() && physical)
        table.key = QStringList{QStringLiteral("ctid")};
    m_session->tables.insert(lookup, table);
    return table;
}

} // namespace nx7::postgres
