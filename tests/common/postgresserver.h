#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

namespace nx7::test {

// A private PostgreSQL server for one test run: a fresh cluster in a temporary folder,
// listening on a free loopback port and on a unix socket in that folder, stopped and
// removed when the object goes. As root (CI) the server runs as the "postgres" user,
// since initdb and postgres refuse to run as root. Without PostgreSQL installed ok() is
// false: the tests that need it fail instead of being skipped.
class PostgresServer
{
public:
    // A test server skips the disk flushes; a durable one (for timings) keeps them.
    explicit PostgresServer(bool durable = false);
    ~PostgresServer();
    PostgresServer(const PostgresServer &) = delete;
    PostgresServer &operator=(const PostgresServer &) = delete;

    bool ok() const { return m_ok; }
    QString error() const { return m_error; }
    int port() const { return m_port; }
    QString socketFolder() const { return m_root.path(); }

    // A libpq connection string for `database` through the unix socket, or over TCP on
    // the loopback when `tcp` is true.
    QString connectionString(const QString &database, bool tcp = false) const;
    // A new empty database with a name not used before in this run.
    QString createDatabase(const QString &prefix = QStringLiteral("nx7"));
    // Runs SQL with psql in `database` (as the superuser); its output (unaligned, no
    // headers) or an empty text with error() set when it fails.
    QByteArray psql(const QString &database, const QString &sql);

    // Stops (immediately, as a crash would) and starts the same cluster, for tests of a
    // server going away.
    bool stop();
    bool start();

    // A hot standby of this server on a port of its own, made with pg_basebackup -R and
    // streaming from it synchronously: a COMMIT here returns once the standby holds it.
    std::unique_ptr<PostgresServer> startStandby();
    // A standby stops recovering and takes writes: the primary it is now.
    bool promote();

    // Switches TLS on or off while the server runs. The first time, openssl makes the CA
    // "ca.crt", the server's certificate it signs, and a foreign CA "foreign.crt".
    bool setTls(bool on);
    QString tlsFile(const QString &name) const { return m_root.filePath("tls/" + name); }

private:
    struct Standby
    {
    };
    PostgresServer(const PostgresServer &primary, Standby);
    bool prepareRoot();
    QStringList asServerUser(const QString &program, const QStringList &arguments) const;
    bool runTool(const QString &program, const QStringList &arguments, int timeoutMs = 60000,
                 QByteArray *output = nullptr);

    QTemporaryDir m_root;
    QString m_binaries;
    QString m_data;
    int m_port = -1;
    int m_databases = 0;
    bool m_running = false;
    bool m_durable = false;
    bool m_ok = false;
    QString m_error;
};

} // namespace nx7::test
