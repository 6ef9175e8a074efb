#pragma once

// The engine behind a Database, chosen once when the database opens: the SQLite file of
// the station or the shared server, or the PostgreSQL database that "NX7PRO.pg" names.
// Database and RecordSet speak to it only through this interface. Used by the store only.

#include "errors.h"

#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>

class QSqlError;

namespace nx7 {

class Database;

// A table as the engine holds it.
struct TableShape
{
    QString from; // the table as the SQL names it
    QStringList fields;
    QStringList types; // declared types, upper case
    QStringList key;   // what tells the rows apart for an update
    QString order;     // the ORDER BY of "table order"; empty for none
};

class Backend
{
public:
    virtual ~Backend() = default;

    // The Qt connection that statements run on.
    virtual QString connectionName() const = 0;
    virtual bool isPostgres() const = 0;
    // The error a failed statement stands for, in the numbers the handlers select on.
    virtual Error failure(const QSqlError &error, const QString &what) = 0;
    // Whether a statement that failed with this number lost its connection after it was
    // made, the server rolling back what the open transaction wrote. Never for a file.
    virtual bool lostConnection(int /*errorNumber*/) const { return false; }

    // The statement that opens a transaction, and what the engine must know of it.
    virtual QString beginStatement() const = 0;
    virtual void setInTransaction(bool /*open*/) {}

    // The table of that name, found without regard to case; 3078 when there is none.
    virtual Result<TableShape> table(Database &db, const QString &name) = 0;
    // Table shapes kept from earlier lookups are stale after a change of definition.
    virtual void forgetTables() {}
    // A value as a column of that declared type takes it.
    virtual QVariant bound(const QVariant &value, const QString &type) const = 0;
    // Runs the UPDATE of one row found by its key; `key` becomes the row's key afterwards.
    virtual Status updateRow(Database &db, const QString &sql, const QVariantList &binds,
                             const QStringList &keyExpressions, QVariantList &key) = 0;
};

namespace sqlite {
// The SQLite file at `path`; never creates one. `shared`: the server's file, which waits
// for other stations' locks and keeps the rollback journal.
Result<std::unique_ptr<Backend>> open(const QString &path, bool shared);
} // namespace sqlite

namespace postgres {
// A connection lent by the pool to the database of a libpq connection string.
Result<std::unique_ptr<Backend>> open(const QString &connectionString);
} // namespace postgres

} // namespace nx7
