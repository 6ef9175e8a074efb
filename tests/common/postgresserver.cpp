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
    if (!m_root.isValid()) {
        m_error = QStringLiteral("no temporary directory");
        return;
    }
    if (runningAsRoot() && !giveToServerUser(m_root.path())) {
        m_error = QStringLiteral("cannot give %1 to the postgres user").arg(m_root.path());
        return;
    }
    m_data = m_root.filePath(QStringLiteral("data"));
    if (!runTool(QStringLiteral("initdb"),
                 {QStringLiteral("-D"), m_data, QStringLiteral("-U"), QStringLiteral("postgres"),
                  QStringLiteral("--auth=trust"), QStringLiteral("-E"), QStringLiteral("UTF8"),
                  QStringLiteral("--no-locale"), QStringLiteral("--no-sync")}))
        return;
    m_ok = start();
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

namespace {

bool openssl(const QString &folder, const QStringList &arguments, QString *error)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.start(QStringLiteral("openssl"), arguments);
    if (process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit &&
        process.exitCode() == 0)
        return true;
    *error = QStringLiteral("openssl %1 failed: %2")
                 .arg(arguments.join(u' '), QString::fromLocal8Bit(process.readAllStandardError()));
    return false;
}

} // namespace

bool PostgresServer::makeCertificates()
{
    const QString folder = m_root.filePath(QStringLiteral("tls"));
    if (QFileInfo::exists(folder + QStringLiteral("/server.crt")))
        return true;
    QDir().mkpath(folder);
    QFile extensions(folder + QStringLiteral("/server.ext"));
    if (!extensions.open(QIODevice::WriteOnly) ||
        extensions.write("subjectAltName=DNS:localhost,IP:127.0.0.1\n") < 0)
        return false;
    extensions.close();
    const auto key = [](const QString &name) {
        return QStringList{QStringLiteral("-newkey"),
                           QStringLiteral("ec"),
                           QStringLiteral("-pkeyopt"),
                           QStringLiteral("ec_paramgen_curve:prime256v1"),
                           QStringLiteral("-nodes"),
                           QStringLiteral("-keyout"),
                           name + ".key"};
    };
    const auto authority = [&](const QString &name, const QString &subject) {
        return openssl(folder,
                       QStringList{QStringLiteral("req"), QStringLiteral("-x509"),
                                   QStringLiteral("-days"), QStringLiteral("2"),
                                   QStringLiteral("-subj"), subject, QStringLiteral("-out"),
                                   name + ".crt"} +
                           key(name),
                       &m_error);
    };
    const bool made =
        authority(QStringLiteral("ca"), QStringLiteral("/CN=NX7 test CA")) &&
        authority(QStringLiteral("foreign"), QStringLiteral("/CN=Another CA")) &&
        openssl(folder,
                QStringList{QStringLiteral("req"), QStringLiteral("-subj"),
                            QStringLiteral("/CN=localhost"), QStringLiteral("-out"),
                            QStringLiteral("server.csr")} +
                    key(QStringLiteral("server")),
                &m_error) &&
        openssl(folder,
                {QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"),
                 QStringLiteral("server.csr"), QStringLiteral("-CA"), QStringLiteral("ca.crt"),
                 QStringLiteral("-CAkey"), QStringLiteral("ca.key"),
                 QStringLiteral("-CAcreateserial"), QStringLiteral("-days"), QStringLiteral("2"),
                 QStringLiteral("-extfile"), QStringLiteral("server.ext"), QStringLiteral("-out"),
                 QStringLiteral("server.crt")},
                &m_error);
    if (!made)
        return false;
    // The server reads its key only when the key is its own and private.
    const QString serverKey = folder + QStringLiteral("/server.key");
    QFile::setPermissions(serverKey, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return !runningAsRoot() || (giveToServerUser(folder) && giveToServerUser(serverKey) &&
                                giveToServerUser(folder + QStringLiteral("/server.crt")));
}

bool PostgresServer::setTls(bool on)
{
    if (on && !makeCertificates())
        return false;
    // The last setting of the file wins; a reload applies it to new connections.
    QFile conf(m_data + QStringLiteral("/postgresql.conf"));
    const QString tls = m_root.filePath(QStringLiteral("tls"));
    const QString lines = on ? QStringLiteral("ssl = on\nssl_cert_file = '%1/server.crt'\n"
                                              "ssl_key_file = '%1/server.key'\n")
                                   .arg(tls)
                             : QStringLiteral("ssl = off\n");
    if (!conf.open(QIODevice::Append) || conf.write(lines.toUtf8()) < 0)
        return false;
    conf.close();
    if (psql(QStringLiteral("postgres"), QStringLiteral("SELECT pg_reload_conf()")).isNull())
        return false;
    const QByteArray wanted = on ? "on\n" : "off\n";
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (psql(QStringLiteral("postgres"), QStringLiteral("SHOW ssl")) == wanted)
            return true;
        QThread::msleep(50);
    }
    m_error = QStringLiteral("the server did not switch ssl %1").arg(on ? "on" : "off");
    return false;
}

QString PostgresServer::tlsConnectionString(const QString &database, const QString &user,
                                            const QString &ca) const
{
    return QStringLiteral("host=localhost hostaddr=127.0.0.1 port=%1 dbname=%2 user=%3 "
                          "sslmode=verify-full sslrootcert=%4")
        .arg(m_port)
        .arg(database, user, ca);
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
