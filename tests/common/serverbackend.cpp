#include "serverbackend.h"

#include <QTest>

namespace nx7::test::ServerBackend {

namespace {
std::unique_ptr<PostgresServer> &server()
{
    static std::unique_ptr<PostgresServer> running;
    return running;
}

QString &currentBackend()
{
    static QString backend = SQLite;
    return backend;
}
} // namespace

QString current()
{
    return currentBackend();
}

void setCurrent(const QString &backend)
{
    currentBackend() = backend;
}

bool start(QString *error)
{
    if (!server())
        server() = std::make_unique<PostgresServer>();
    if (!server()->ok() && error)
        *error = server()->error();
    return server()->ok();
}

void stop()
{
    server().reset();
}

PostgresServer *postgres()
{
    return server().get();
}

std::unique_ptr<TempInstallation> install(const QString &backend,
                                          const Installation::ServerOptions &options)
{
    if (backend != PostgreSQL)
        return std::make_unique<TempInstallation>(options);
    QString connection = QStringLiteral("no PostgreSQL server running");
    if (postgres() && postgres()->ok()) {
        const QString database = postgres()->createDatabase();
        if (!database.isEmpty())
            connection = postgres()->connectionString(database);
    }
    return std::make_unique<TempInstallation>(options, connection);
}

} // namespace nx7::test::ServerBackend

namespace nx7::test {

void BackendSuite::initTestCase_data()
{
    QTest::addColumn<QString>("backend");
    for (const QString &backend : {ServerBackend::SQLite, ServerBackend::PostgreSQL})
        QTest::newRow(qPrintable(backend)) << backend;
}

void BackendSuite::initTestCase()
{
    for (const QString &name : std::as_const(m_localTests)) // a misspelt name would run twice
        QVERIFY2(metaObject()->indexOfSlot(qPrintable(name + QStringLiteral("()"))) >= 0,
                 qPrintable(name));
    QString error;
    QVERIFY2(ServerBackend::start(&error), qPrintable(error));
}

void BackendSuite::cleanupTestCase()
{
    ServerBackend::stop();
}

void BackendSuite::init()
{
    QFETCH_GLOBAL(QString, backend);
    ServerBackend::setCurrent(backend);
    if (backend != ServerBackend::SQLite &&
        m_localTests.contains(QString::fromLatin1(QTest::currentTestFunction())))
        QSKIP("the server database plays no part here");
}

} // namespace nx7::test
