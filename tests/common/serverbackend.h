#pragma once

#include "postgresserver.h"
#include "tempinstallation.h"

#include <QTest>

#include <memory>

namespace nx7::test {

// The server-database backends the store, numbering and ticket tests run against: the
// SQLite file "NX7PRO.mdb" and a PostgreSQL database named by "NX7PRO.pg". The private
// PostgreSQL server is started once per test program (initTestCase) and stopped at the end.
namespace ServerBackend {

inline const QString SQLite = QStringLiteral("sqlite");
inline const QString PostgreSQL = QStringLiteral("postgresql");

// The backend of the running test, for fixtures made without naming one: SQLite unless
// a suite over both backends sets it from its global data in init().
QString current();
void setCurrent(const QString &backend);

// Starts the PostgreSQL server; false with the reason when it cannot (not installed).
bool start(QString *error);
void stop();
PostgresServer *postgres();

// The column "backend" and one row per backend, for a test's _data function.
void addRows();
// The column "backend" only, for _data functions that add their own rows with row().
void addColumn();
// Rows of an existing data table are added once per backend with this name suffix.
QStringList all();

// A temporary installation whose server database is on that backend; each PostgreSQL
// installation gets a database of its own.
std::unique_ptr<TempInstallation> install(const QString &backend,
                                          const Installation::ServerOptions &options = {});

} // namespace ServerBackend
} // namespace nx7::test

// In a suite over both backends (the column "backend" of initTestCase_data), a test that
// never touches the server database runs with the first backend only.
#define NX7_SERVER_PLAYS_NO_PART()                                                                 \
    do {                                                                                           \
        QFETCH_GLOBAL(QString, backend);                                                           \
        if (backend != nx7::test::ServerBackend::SQLite)                                           \
            QSKIP("the server database plays no part here");                                       \
    } while (false)

// A test whose fault is made through one backend's own means runs on that backend only.
#define NX7_ON_BACKEND_ONLY(only, why)                                                             \
    do {                                                                                           \
        QFETCH_GLOBAL(QString, backend);                                                           \
        if (backend != (only))                                                                     \
            QSKIP(why);                                                                            \
    } while (false)
