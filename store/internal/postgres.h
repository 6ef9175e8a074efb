#pragma once

// The PostgreSQL side of the shared server database: the connection string of
// "NX7PRO.pg", a small pool that keeps connections between tickets, the catalog lookups
// that make table and field names case-insensitive, and the mapping of the server's
// failures to the error numbers the handlers select on. Used by database.cpp only.

#include "errors.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>
#include <utility>

class QSqlError;

namespace nx7::postgres {

// The settings of a libpq connection string, keyword and value, in their order.
using Settings = QList<std::pair<QString, QString>>;
// "host=... dbname=..." or a "postgresql://" URI; 3051 when it cannot be read.
Result<Settings> parseConnectionString(const QString &text);

// The connection file that turns the server database at `databasePath` into a
// PostgreSQL database: "NX7PRO.pg" beside it (any capitalisation), or an empty text.
QString connectionFileFor(const QString &databasePath);
// The connection string held in a connection file: lines joined, "#" comments dropped, and
// a relative file it names (sslrootcert, sslcert, sslkey, sslcrl, passfile) taken from the
// connection file's own folder.
Result<QString> readConnectionFile(const QString &path);

// A table as the server holds it: its real name, its columns and how rows are told apart.
struct Table
{
    QString sqlName; // quoted, schema-qualified
    QStringList columns;
    QStringList types; // upper case, as format_type() gives them ("INTEGER", "BOOLEAN")
    QStringList key;   // the primary key's columns, or "ctid" when there is none
    QString order;     // the ORDER BY of "table order"
    int column(const QString &name) const; // without regard to case; -1 when missing
    bool hasPrimaryKey() const { return key != QStringList{QStringLiteral("ctid")}; }
};

// A value as a column of that type takes it: Yes/No becomes a boolean in a boolean
// column and -1 / 0 in a number column, as Access front-ends write it.
QVariant forColumn(const QVariant &value, const QString &type);

struct Session;

// One connection lent by the pool. Handing it back ends a transaction left open and
// drops a connection that failed, so the next lease connects again.
class Lease
{
public:
    explicit Lease(std::shared_ptr<Session> session);
    ~Lease();
    Lease(const Lease &) = delete;
    Lease &operator=(const Lease &) = delete;

    QString connectionName() const;
    void setInTransaction(bool open);
    // The error a failed statement stands for; a lost connection marks the session broken.
    Error failure(const QSqlError &error, const QString &what);
    // The table of that name, found without regard to case; 3078 when there is none.
    Result<Table> table(const QString &name);
    void forgetTables();

private:
    std::shared_ptr<Session> m_session;
};

// Lends a connection to the database of a connection string, reusing one kept from
// before when it still answers. An unreachable server is 3044; a refused login, a missing
// database, a certificate that does not verify or a server without TLS when sslmode asks
// for it 3051, each with an Italian description of its own; libpq's reason is logged.
Result<std::unique_ptr<Lease>> lease(const QString &connectionString);

// Connections made again after one to the same database broke or stopped answering, in
// this process so far.
quint64 reconnections();

} // namespace nx7::postgres
