#include "database.h"

#include "backend.h"
#include "fieldnames.h"
#include "postgres.h"
#include "storelog.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>

#include <algorithm>

namespace nx7 {

struct Database::Connection
{
    QString path;
    std::unique_ptr<Backend> backend;
};

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

bool Database::lostConnection(const Status &failed) const
{
    return m_connection && !failed && m_connection->backend->lostConnection(failed.errorNumber());
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

} // namespace nx7
