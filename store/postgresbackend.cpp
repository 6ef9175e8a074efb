// The PostgreSQL engine of the shared server database, over a connection lent by the pool.
#include "backend.h"
#include "database.h"
#include "postgres.h"

namespace nx7::postgres {

namespace {

class PostgresBackend : public Backend
{
public:
    explicit PostgresBackend(std::unique_ptr<Lease> lease) : m_lease(std::move(lease)) {}

    QString connectionName() const override { return m_lease->connectionName(); }
    bool isPostgres() const override { return true; }
    Error failure(const QSqlError &error, const QString &what) override
    {
        return m_lease->failure(error, what);
    }
    // A connection that broke is told as a server folder that is gone (Lease::failure).
    bool lostConnection(int errorNumber) const override
    {
        return errorNumber == ErrorNumber::NotValidPath;
    }
    QString beginStatement() const override { return QStringLiteral("BEGIN"); }
    // A PostgreSQL transaction ends with its COMMIT even when that fails.
    void setInTransaction(bool open) override { m_lease->setInTransaction(open); }

    Result<TableShape> table(Database &, const QString &name) override
    {
        auto found = m_lease->table(name);
        if (!found)
            return found.error();
        return TableShape{found->sqlName, found->columns, found->types, found->key, found->order};
    }
    void forgetTables() override { m_lease->forgetTables(); }
    QVariant bound(const QVariant &value, const QString &type) const override
    {
        return forColumn(value, type);
    }

    // The row is found again by its key; a row without one moves with each update, so its
    // new position is taken. A row another station removed, or moved first, is not
    // overwritten blindly: it is reported.
    Status updateRow(Database &db, const QString &sql, const QVariantList &binds,
                     const QStringList &keyExpressions, QVariantList &key) override
    {
        auto rows =
            db.select(sql + QStringLiteral(" RETURNING ") + keyExpressions.join(u','), binds);
        if (!rows)
            return rows.error();
        if (rows->size() != 1)
            return Error::make(ErrorNumber::DatabaseOperationFailed,
                               QStringLiteral("Il record è stato modificato o eliminato da "
                                              "un'altra postazione: modifica non salvata."));
        key = rows->first();
        return {};
    }

private:
    std::unique_ptr<Lease> m_lease;
};

} // namespace

Result<std::unique_ptr<Backend>> open(const QString &connectionString)
{
    auto lent = lease(connectionString);
    if (!lent)
        return lent.error();
    return std::unique_ptr<Backend>(std::make_unique<PostgresBackend>(std::move(*lent)));
}

} // namespace nx7::postgres
