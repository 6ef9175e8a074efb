#pragma once

#include "postgresserver.h"
#include "tempinstallation.h"

#include <QObject>
#include <QStringList>
#include <QTest>

#include <memory>
#include <utility>

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

// A temporary installation whose server database is on that backend; each PostgreSQL
// installation gets a database of its own.
std::unique_ptr<TempInstallation> install(const QString &backend = current(),
                                          const Installation::ServerOptions &options = {});

} // namespace ServerBackend

// A suite over both backends, as Qt's own SQL tests run one suite against every driver: the
// backend is the suite's global data, the PostgreSQL server runs for the whole suite, and
// fixtures made without naming a backend take the row's. The tests named local never touch
// the server database and run once, on SQLite.
class BackendSuite : public QObject
{
    Q_OBJECT
public:
    explicit BackendSuite(QStringList localTests = {}) : m_localTests(std::move(localTests)) {}

protected Q_SLOTS:
    void initTestCase_data();
    void initTestCase();
    void cleanupTestCase();
    void init();

private:
    QStringList m_localTests;
};

} // namespace nx7::test

// A test whose fault is made through one backend's own means runs on that backend only.
#define NX7_ON_BACKEND_ONLY(only, why)                                                             \
    do {                                                                                           \
        QFETCH_GLOBAL(QString, backend);                                                           \
        if (backend != (only))                                                                     \
            QSKIP(why);                                                                            \
    } while (false)
