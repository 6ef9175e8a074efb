#include "postgresserver.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace nx7::test {

namespace {

// The newest installed server's programs (Debian keeps them out of PATH).
QString serverBinaries()
{
    QDir versions(QStringLiteral("/usr/lib/postgresql"));
    QStringList found = versions.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    std::sort(found.begin(), found.end(),
              [](const QString &a, const QString &b) { return a.toInt() > b.toInt(); });
    for (const QString &version : found) {
        const QString bin = versions.filePath(version + QStringLiteral("/bin"));
        if (QFileInfo(bin + QStringLiteral("/initdb")).isExecutable())
            return bin;
    }
    const QString initdb = QStandardPaths::findExecutable(QStringLiteral("initdb"));
    return initdb.isEmpty() ? QString() : QFileInfo(initdb).absolutePath();
}

// A loopback port nobody listens on now; postgres binds it a moment later.
int freeLoopbackPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    int port = -1;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

bool runningAsRoot()
{
    return ::geteuid() == 0;
}

bool giveToServerUser(const QString &path)
{
    const passwd *user = ::getpwnam("postgres");
    return user && ::chown(QFile::encodeName(path).constData(), user->pw_uid, user->pw_gid) == 0;
}

} // namespace

PostgresServer::PostgresServer(bool durable)
    : m_root(QDir::tempPath() + QStringLiteral("/nx7pg-XXXXXX")), m_durable(durable)
{
    m_binaries = serverBinaries();
    if (m_binaries.isEmpty()) {
        m_error =
            QStringLiteral("PostgreSQL is not installed (no initdb under /usr/lib/postgresql)");
        return;
    }
    if (!prepareRoot())
        return;
    if (!runTool(QStringLiteral("initdb"),
                 {QStringLiteral("-D"), m_data, QStringLiteral("-U"), QStringLiteral("postgres"),
                  QStringLiteral("--auth=trust"), QStringLiteral("-E"), QStringLiteral("UTF8"),
                  QStringLiteral("--no-locale"), QStringLiteral("--no-sync")}))
        return;
    m_ok = start();
}

PostgresServer::PostgresServer(const PostgresServer &primary, Standby)
    : m_root(QDir::tempPath() + QStringLiteral("/nx7pg-XXXXXX")), m_binaries(primary.m_binaries),
      m_durable(primary.m_durable)
{
    if (!prepareRoot())
        return;
    // Streamed over the primary's socket, after a checkpoint at once rather than a spread
    // one; -R leaves standby.signal and primary_conninfo.
    if (!runTool(QStringLiteral("pg_basebackup"),
                 {QStringLiteral("-D"), m_data, QStringLiteral("-R"), QStringLiteral("-X"),
                  QStringLiteral("stream"), QStringLiteral("--checkpoint=fast"),
                  QStringLiteral("--no-sync"), QStringLiteral("-d"),
                  primary.connectionString(QStringLiteral("postgres"))}))
        return;
    m_ok = start();
}

bool PostgresServer::prepareRoot()
{
    if (!m_root.isValid()) {
        m_error = QStringLiteral("no temporary directory");
        return false;
    }
    if (runningAsRoot() && !giveToServerUser(m_root.path())) {
        m_error = QStringLiteral("cannot give %1 to the postgres user").arg(m_root.path());
        return false;
    }
    m_data = m_root.filePath(QStringLiteral("data"));
    return true;
}

std::unique_ptr<PostgresServer> PostgresServer::startStandby()
{
    std::unique_ptr<PostgresServer> standby(new PostgresServer(*this, Standby{}));
    // A test server commits without waiting (synchronous_commit=off on its command line,
    // which only a role's own setting overrides); here a COMMIT waits for the standby.
    const QString postgres = QStringLiteral("postgres");
    const bool set =
        standby->ok() &&
        !psql(postgres, QStringLiteral("ALTER SYSTEM SET synchronous_standby_names = '*'"))
             .isNull() &&
        !psql(postgres, QStringLiteral("ALTER ROLE postgres SET synchronous_commit = on"))
             .isNull() &&
        !psql(postgres, QStringLiteral("SELECT pg_reload_conf()")).isNull();
    for (int attempt = 0; set && attempt < 200; ++attempt, QThread::msleep(50)) {
        if (psql(postgres, QStringLiteral("SELECT sync_state FROM pg_stat_replication")) ==
            "sync\n")
            return standby;
    }
    if (standby->ok()) {
        standby->m_ok = false;
        standby->m_error = QStringLiteral("the standby does not stream synchronously: ") + m_error;
    }
    return standby;
}

bool PostgresServer::promote()
{
    return runTool(QStringLiteral("pg_ctl"), {QStringLiteral("-D"), m_data, QStringLiteral("-w"),
                                              QStringLiteral("-t"), QStringLiteral("30"),
                                              QStringLiteral("promote")});
}

PostgresServer::~PostgresServer()
{
    stop();
    // The files belong to the server user: the temporary folder is removed as root.
}

QStringList PostgresServer::asServerUser(const QString &program, const QStringList &arguments) const
{
    const QString path = QDir(m_binaries).filePath(program);
    if (!runningAsRoot())
        return QStringList{path} + arguments;
    return QStringList{QStringLiteral("runuser"), QStringLiteral("-u"), QStringLiteral("postgres"),
                       QStringLiteral("--"), path} +
           arguments;
}

bool PostgresServer::runTool(const QString &program, const QStringList &arguments, int timeoutMs,
                             QByteArray *output)
{
    QStringList command = asServerUser(program, arguments);
    QProcess process;
    process.setWorkingDirectory(m_root.path()); // readable by the server user
    process.start(command.takeFirst(), command);
    const bool finished = process.waitForFinished(timeoutMs);
    if (!finished || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        if (!finished)
            process.kill();
        process.waitForFinished(1000);
        m_error = QStringLiteral("%1 failed: %2%3")
                      .arg(program, QString::fromLocal8Bit(process.readAllStandardError()),
                           QString::fromLocal8Bit(process.readAllStandardOutput()));
        return false;
    }
    if (output)
        *output = process.readAllStandardOutput();
    return true;
}

bool PostgresServer::start()
{
    if (m_running)
        return true;
    // The port may be taken between the probe and the bind: try a few.
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (m_port < 0 || attempt > 0)
            m_port = freeLoopbackPort();
        QString options =
            QStringLiteral("-p %1 -k %2 -c listen_addresses=127.0.0.1 -c max_connections=60")
                .arg(m_port)
                .arg(m_root.path());
        if (!m_durable)
            options +=
                QStringLiteral(" -c fsync=off -c synchronous_commit=off -c full_page_writes=off");
        if (runTool(QStringLiteral("pg_ctl"),
                    {QStringLiteral("-D"), m_data, QStringLiteral("-w"), QStringLiteral("-t"),
                     QStringLiteral("30"), QStringLiteral("-l"),
                     m_root.filePath(QStringLiteral("server.log")), QStringLiteral("-o"), options,
                     QStringLiteral("start")})) {
            m_running = true;
            return true;
        }
    }
    return false;
}

bool PostgresServer::stop()
{
    if (!m_running)
        return true;
    m_running =
        !runTool(QStringLiteral("pg_ctl"),
                 {QStringLiteral("-D"), m_data, QStringLiteral("-m"), QStringLiteral("immediate"),
                  QStringLiteral("-w"), QStringLiteral("stop")});
    return !m_running;
}

bool PostgresServer::setTls(bool on)
{
    // Run as the server user (an absolute program is taken as it is), so the key is its own.
    // The last "ssl" line of the configuration wins; a reload applies it to new connections.
    const QString script = QStringLiteral(
        "mkdir -p tls; cd tls; [ -f server.crt ] || { "
        "k='-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2';"
        "openssl req -x509 -subj /CN=ca $k -keyout ca.key -out ca.crt;"
        "openssl req -x509 -subj /CN=foreign $k -keyout foreign.key -out foreign.crt;"
        "openssl req -subj /CN=localhost -CA ca.crt -CAkey ca.key $k -keyout server.key -out "
        "server.crt -addext basicConstraints=CA:FALSE -addext subjectAltName=DNS:localhost,IP:"
        "127.0.0.1; chmod 600 server.key; printf \"ssl_cert_file='$PWD/server.crt'\\n"
        "ssl_key_file='$PWD/server.key'\\n\" >> ../data/postgresql.conf; };"
        "echo ssl = $0 >> ../data/postgresql.conf");
    if (!runTool(QStringLiteral("/bin/sh"), {QStringLiteral("-ec"), script, on ? "on" : "off"}))
        return false;
    psql(QStringLiteral("postgres"), QStringLiteral("SELECT pg_reload_conf()"));
    for (int attempt = 0; attempt < 100; ++attempt, QThread::msleep(50))
        if (psql(QStringLiteral("postgres"), QStringLiteral("SHOW ssl")) == (on ? "on\n" : "off\n"))
            return true;
    return false;
}

QString PostgresServer::connectionString(const QString &database, bool tcp) const
{
    return QStringLiteral("host=%1 port=%2 dbname=%3 user=postgres")
        .arg(tcp ? QStringLiteral("127.0.0.1") : m_root.path())
        .arg(m_port)
        .arg(database);
}

QString PostgresServer::createDatabase(const QString &prefix)
{
    const QString name = QStringLiteral("%1_%2_%3").arg(prefix).arg(::getpid()).arg(++m_databases);
    if (psql(QStringLiteral("postgres"), QStringLiteral("CREATE DATABASE \"%1\"").arg(name))
            .isNull())
        return {};
    return name;
}

QByteArray PostgresServer::psql(const QString &database, const QString &sql)
{
    // The client needs no other user: it connects through the socket as "postgres".
    const QString client = QDir(m_binaries).filePath(QStringLiteral("psql"));
    QProcess process;
    process.start(client,
                  {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-A"),
                   QStringLiteral("-t"), QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1"),
                   QStringLiteral("-d"), connectionString(database), QStringLiteral("-c"), sql});
    if (!process.waitForFinished(30000) || process.exitCode() != 0) {
        process.kill();
        process.waitForFinished(1000);
        m_error = QStringLiteral("psql failed: ") +
                  QString::fromLocal8Bit(process.readAllStandardError());
        return QByteArray();
    }
    QByteArray out = process.readAllStandardOutput();
    if (out.isNull())
        out = QByteArray("");
    return out;
}

} // namespace nx7::test
