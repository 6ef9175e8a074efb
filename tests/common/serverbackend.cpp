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

void addColumn()
{
    QTest::addColumn<QString>("backend");
}

void addRows()
{
    addColumn();
    for (const QString &backend : all())
        QTest::newRow(qPrintable(backend)) << backend;
}

QStringList all()
{
    return {SQLite, PostgreSQL};
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
