#include "cupsserver.h"

#include <QFile>
#include <QThread>

namespace nx7::test {

namespace {

// lpstat -r exits 0 even when nothing answers, so wait for what it says. An English
// answer is asked for, because the test may run under an Italian locale.
bool schedulerAnswers()
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral("lpstat"), {QStringLiteral("-r")});
    return process.waitForFinished(10000) &&
           process.readAllStandardOutput().trimmed() == "scheduler is running";
}

} // namespace

CupsServer::CupsServer() : m_previousServer(qgetenv("CUPS_SERVER"))
{
    // lp, the scheduler's user, works in the folder too.
    QFile::setPermissions(m_root.path(), QFileDevice::Permissions(0x7755));
    const QString r = m_root.path();
    const auto write = [&](const QString &name, const QString &text) {
        QFile file(m_root.filePath(name));
        return file.open(QIODevice::WriteOnly) && file.write(text.arg(r).toUtf8()) > 0;
    };
    if (!write("cupsd.conf", "Listen %1/cups.sock\nBrowsing No\nWebInterface No\n<Policy default>"
                             "\n<Limit All>\nOrder deny,allow\nAllow all\n</Limit>\n</Policy>\n") ||
        !write("cups-files.conf", "FileDevice Yes\nServerRoot %1\nRequestRoot %1\nTempDir %1\n"
                                  "CacheDir %1\nStateDir %1\nErrorLog %1/error_log\nUser lp\n")) {
        m_error = QStringLiteral("cannot write the scheduler's configuration");
        return;
    }
    qputenv("CUPS_SERVER", (r + QStringLiteral("/cups.sock")).toUtf8());
    m_cupsd.start(QStringLiteral("/usr/sbin/cupsd"),
                  {"-f", "-c", r + "/cupsd.conf", "-s", r + "/cups-files.conf"});
    if (!m_cupsd.waitForStarted()) {
        m_error = QStringLiteral("cupsd cannot start: install cups-daemon");
        return;
    }
    // A fresh machine's first cupsd can take seconds before it listens.
    for (int tries = 0; tries < 300 && m_cupsd.state() == QProcess::Running; ++tries) {
        if (schedulerAnswers())
            return;
        QThread::msleep(50);
    }
    QFile log(m_root.filePath(QStringLiteral("error_log")));
    log.open(QIODevice::ReadOnly);
    m_error = QStringLiteral("the private cupsd does not answer: ") +
              QString::fromLocal8Bit(log.readAll() + m_cupsd.readAllStandardError());
}

CupsServer::~CupsServer()
{
    stop();
    if (m_previousServer.isNull())
        qunsetenv("CUPS_SERVER");
    else
        qputenv("CUPS_SERVER", m_previousServer);
}

bool CupsServer::stop()
{
    if (m_cupsd.state() == QProcess::NotRunning)
        return true;
    m_cupsd.terminate();
    return m_cupsd.waitForFinished(5000);
}

bool CupsServer::tool(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(10000) && process.exitCode() == 0;
}

} // namespace nx7::test
