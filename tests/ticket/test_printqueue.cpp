// The printer check before a ticket is numbered, against a real CUPS scheduler that the
// test starts itself with its own configuration in a temporary folder.
#include "database.h"
#include "filenames.h"
#include "printqueue.h"
#include "stationstate.h"
#include "tempinstallation.h"
#include "testshell.h"
#include "ticketfakes.h"
#include "ticketissue.h"
#include "ticketprinter.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

using namespace nx7;
using namespace nx7::test;

namespace {

// A private cupsd listening on a socket in a temporary folder; printers print to a file.
class PrivateCups
{
public:
    bool start()
    {
        const QString cupsd =
            QStandardPaths::findExecutable(QStringLiteral("cupsd"), {QStringLiteral("/usr/sbin")});
        if (cupsd.isEmpty() || !m_root.isValid()) {
            m_error = QStringLiteral("cupsd is not installed");
            return false;
        }
        // The scheduler drops its privileges to lp for some of its work.
        QFile::setPermissions(m_root.path(), QFile::ReadOwner | QFile::WriteOwner |
                                                 QFile::ExeOwner | QFile::ReadOther |
                                                 QFile::ExeOther | QFile::ReadGroup |
                                                 QFile::ExeGroup);
        for (const char *dir : {"spool", "tmp", "cache", "state", "log", "ppd"})
            QDir(m_root.path()).mkpath(QString::fromLatin1(dir));
        const QString root = m_root.path();
        write(QStringLiteral("cupsd.conf"),
              QStringLiteral("Listen %1\nLogLevel warn\nWebInterface No\nBrowsing No\n"
                             "DefaultAuthType None\n<Location />\n  Order allow,deny\n"
                             "  Allow all\n</Location>\n<Policy default>\n  <Limit All>\n"
                             "    Order deny,allow\n    Allow all\n  </Limit>\n</Policy>\n")
                  .arg(socket()));
        write(QStringLiteral("cups-files.conf"),
              QStringLiteral("FileDevice Yes\nServerRoot %1\nRequestRoot %1/spool\n"
                             "TempDir %1/tmp\nCacheDir %1/cache\nStateDir %1/state\n"
                             "AccessLog %1/log/access_log\nErrorLog %1/log/error_log\n"
                             "PageLog %1/log/page_log\nUser lp\nGroup lp\nSystemGroup root\n")
                  .arg(root));
        // Every CUPS client of this process and its children talks to this scheduler.
        qputenv("CUPS_SERVER", socket().toUtf8());
        m_cupsd.setProcessChannelMode(QProcess::MergedChannels);
        m_cupsd.start(cupsd, {QStringLiteral("-f"), QStringLiteral("-c"),
                              m_root.filePath(QStringLiteral("cupsd.conf")), QStringLiteral("-s"),
                              m_root.filePath(QStringLiteral("cups-files.conf"))});
        if (!m_cupsd.waitForStarted(5000)) {
            m_error = m_cupsd.errorString();
            return false;
        }
        for (int tries = 0; tries < 100; ++tries) {
            if (QFile::exists(socket()) && run(QStringLiteral("lpstat"), {QStringLiteral("-r")}))
                return true;
            if (m_cupsd.state() != QProcess::Running)
                break;
            QThread::msleep(50);
        }
        m_error = QStringLiteral("cupsd did not answer: ") + QString::fromUtf8(m_cupsd.readAll()) +
                  fileText(QStringLiteral("log/error_log"));
        return false;
    }

    void stop()
    {
        if (m_cupsd.state() == QProcess::NotRunning)
            return;
        m_cupsd.terminate();
        if (!m_cupsd.waitForFinished(5000))
            m_cupsd.kill();
        m_cupsd.waitForFinished(2000);
    }

    ~PrivateCups() { stop(); }

    // Runs a CUPS command (lpadmin, cupsdisable, ...) against this scheduler.
    bool run(const QString &program, const QStringList &arguments)
    {
        QProcess command;
        const QString path = QStandardPaths::findExecutable(
            program, {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin")});
        command.setProcessChannelMode(QProcess::MergedChannels);
        command.start(path.isEmpty() ? program : path, arguments);
        if (!command.waitForFinished(10000) || command.exitCode() != 0) {
            m_error = program + u' ' + arguments.join(u' ') + QStringLiteral(": ") +
                      QString::fromUtf8(command.readAll());
            return false;
        }
        return true;
    }

    bool addPrinter(const QString &name)
    {
        return run(QStringLiteral("lpadmin"),
                   {QStringLiteral("-p"), name, QStringLiteral("-E"), QStringLiteral("-v"),
                    QStringLiteral("file:/dev/null"), QStringLiteral("-m"), QStringLiteral("raw")});
    }

    QString socket() const { return m_root.filePath(QStringLiteral("cups.sock")); }
    QString error() const { return m_error; }

private:
    void write(const QString &name, const QString &text)
    {
        QFile file(m_root.filePath(name));
        if (file.open(QIODevice::WriteOnly))
            file.write(text.toUtf8());
    }
    QString fileText(const QString &name) const
    {
        QFile file(m_root.filePath(name));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    QTemporaryDir m_root;
    QProcess m_cupsd;
    QString m_error;
};

Status readyOf(const QString &printer)
{
    SystemTicketPrinter system;
    return system.ready(printer.isEmpty() ? PrintTarget{}
                                          : PrintTarget{PrintTarget::Kind::NamedPrinter, printer});
}

QString reasonOf(const Status &status)
{
    return status ? QStringLiteral("ready") : status.error().description;
}

} // namespace

class TestPrintQueue : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase() { m_cups.stop(); }
    void queueStatesAsTheSchedulerReportsThem();
    void stoppedPrinterConsumesNoNumber();
    void stateReasonsThatStopATicket_data();
    void stateReasonsThatStopATicket();
    void pdfOutputIsReadyWhenItsFolderIsWritable();
    void schedulerNotRunning(); // last: it stops the scheduler

private:
    PrivateCups m_cups;
};

void TestPrintQueue::initTestCase()
{
    // A kiosk machine has CUPS; a machine where it cannot start fails here, never skips.
    QVERIFY2(m_cups.start(), qPrintable(m_cups.error()));
    QVERIFY2(m_cups.addPrinter(QStringLiteral("Biglietti")), qPrintable(m_cups.error()));
}

void TestPrintQueue::queueStatesAsTheSchedulerReportsThem()
{
    const QString name = QStringLiteral("Biglietti");
    QVERIFY2(readyOf(name), qPrintable(reasonOf(readyOf(name))));
    QVERIFY2(readyOf(QStringLiteral("Biglietti")), "names as lpstat lists them");

    // No default printer yet, then one.
    QVERIFY(!readyOf(QString()));
    QVERIFY2(reasonOf(readyOf(QString())).contains(QStringLiteral("predefinita")),
             qPrintable(reasonOf(readyOf(QString()))));
    QVERIFY(m_cups.run(QStringLiteral("lpadmin"), {QStringLiteral("-d"), name}));
    QVERIFY2(readyOf(QString()), qPrintable(reasonOf(readyOf(QString()))));

    // Stopped (cupsdisable): the queue would hold the ticket and print nothing.
    QVERIFY(m_cups.run(QStringLiteral("cupsdisable"), {name}));
    QVERIFY(!readyOf(name));
    QVERIFY2(reasonOf(readyOf(name)).contains(QStringLiteral("ferma")),
             qPrintable(reasonOf(readyOf(name))));
    QVERIFY(!readyOf(QString()));
    QVERIFY(m_cups.run(QStringLiteral("cupsenable"), {name}));
    QVERIFY(readyOf(name));

    // Rejecting jobs (cupsreject).
    QVERIFY(m_cups.run(QStringLiteral("cupsreject"), {name}));
    QVERIFY2(reasonOf(readyOf(name)).contains(QStringLiteral("non accetta")),
             qPrintable(reasonOf(readyOf(name))));
    QVERIFY(m_cups.run(QStringLiteral("cupsaccept"), {name}));
    QVERIFY(readyOf(name));

    // A printer the service does not know, or one deleted while the kiosk runs.
    QVERIFY2(
        reasonOf(readyOf(QStringLiteral("Sconosciuta"))).contains(QStringLiteral("non esiste")),
        qPrintable(reasonOf(readyOf(QStringLiteral("Sconosciuta")))));
    QVERIFY(m_cups.addPrinter(QStringLiteral("DaTogliere")));
    QVERIFY(readyOf(QStringLiteral("DaTogliere")));
    QVERIFY(m_cups.run(QStringLiteral("lpadmin"),
                       {QStringLiteral("-x"), QStringLiteral("DaTogliere")}));
    QVERIFY(!readyOf(QStringLiteral("DaTogliere")));

    // The check is paid on every touch: it must cost no visible time.
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < 50; ++i)
        QVERIFY(readyOf(name));
    QVERIFY2(timer.elapsed() < 50 * 20, qPrintable(QString::number(timer.elapsed())));
    qInfo() << "printer check:" << double(timer.nsecsElapsed()) / 50e6 << "ms each";
}

void TestPrintQueue::stoppedPrinterConsumesNoNumber()
{
    TempInstallation installation;
    QVERIFY2(installation.ok(), qPrintable(installation.error()));
    QVERIFY(m_cups.addPrinter(QStringLiteral("Sportello")));
    QFile layout(FileName::TicketLayout);
    QVERIFY(layout.open(QIODevice::WriteOnly));
    layout.write("page 80 40\noutput printer Sportello\ntext | {NumeroDaStampare}\n");
    layout.close();

    StationState state;
    state.serverPath = installation.serverPath();
    TestShell shell;
    TestClock clock;
    FakeWaiter waiter;
    SystemTicketPrinter printer;
    TicketIssue issue(state, shell, clock, waiter, printer);
    FakeTicketScreen screen;
    screen.context.slotNextNumber[1] = 7;
    screen.context.slotServiceId[1] = 1;
    screen.captions[1] = QStringLiteral("Anagrafe ");
    const auto queueLength = [&] {
        auto db = Database::open(installation.serverDatabase());
        auto rows = db ? db->select(QStringLiteral("SELECT COUNT(*) FROM Codafromtotem"))
                       : Result<QList<QVariantList>>(db.error());
        return rows ? rows->value(0).value(0).toInt() : -1;
    };
    const auto localNext = [&] {
        auto db = Database::open(installation.localDatabase());
        auto rows = db ? db->select(QStringLiteral("SELECT P1 FROM Numerazione"))
                       : Result<QList<QVariantList>>(db.error());
        return rows ? rows->value(0).value(0).toInt() : -1;
    };
    const int storedBefore = localNext();

    QVERIFY(m_cups.run(QStringLiteral("cupsdisable"), {QStringLiteral("Sportello")}));
    issue.IssueTicket(screen, 1);
    QCOMPARE(screen.notices, QStringList{TicketIssue::PrinterNotice});
    QCOMPARE(screen.context.slotNextNumber[1], 7);
    QCOMPARE(localNext(), storedBefore);
    QCOMPARE(queueLength(), 0);
    QVERIFY(waiter.waits.isEmpty());

    // Back in service: the same touch gives ticket 7, recorded and sent to the printer.
    QVERIFY(m_cups.run(QStringLiteral("cupsenable"), {QStringLiteral("Sportello")}));
    issue.IssueTicket(screen, 1);
    QCOMPARE(screen.context.issuedNumber, 7);
    QCOMPARE(queueLength(), 1);
    QCOMPARE(screen.notices.size(), 1);
    QVERIFY(!shell.programEnded());
}

void TestPrintQueue::stateReasonsThatStopATicket_data()
{
    QTest::addColumn<QStringList>("reasons");
    QTest::addColumn<bool>("ready");
    QTest::newRow("none") << QStringList{"none"} << true;
    QTest::newRow("low paper only warns") << QStringList{"media-low-warning"} << true;
    QTest::newRow("out of paper") << QStringList{"media-empty-error"} << false;
    QTest::newRow("out of paper as a warning") << QStringList{"media-empty-warning"} << false;
    QTest::newRow("off line") << QStringList{"offline-report"} << false;
    QTest::newRow("paused") << QStringList{"none", "paused"} << false;
    QTest::newRow("any error") << QStringList{"other-error"} << false;
    QTest::newRow("door open") << QStringList{"door-open-report"} << false;
}

void TestPrintQueue::stateReasonsThatStopATicket()
{
    QFETCH(QStringList, reasons);
    QFETCH(bool, ready);
    PrintQueueState queue;
    queue.name = QStringLiteral("Biglietti");
    queue.reasons = reasons;
    QCOMPARE(PrintQueue::unreadyReason(queue).isEmpty(), ready);
}

void TestPrintQueue::pdfOutputIsReadyWhenItsFolderIsWritable()
{
    QTemporaryDir dir;
    SystemTicketPrinter printer;
    QVERIFY(printer.ready({PrintTarget::Kind::PdfFile, dir.filePath(QStringLiteral("t.pdf"))}));
    QVERIFY(!printer.ready({PrintTarget::Kind::PdfFile, dir.filePath(QStringLiteral("no/t.pdf"))}));
}

void TestPrintQueue::schedulerNotRunning()
{
    QVERIFY(readyOf(QStringLiteral("Biglietti")));
    m_cups.stop();
    QElapsedTimer timer;
    timer.start();
    const Status status = readyOf(QStringLiteral("Biglietti"));
    QVERIFY(!status);
    QVERIFY2(reasonOf(status).contains(QStringLiteral("non risponde")),
             qPrintable(reasonOf(status)));
    QVERIFY(timer.elapsed() < 2000);
}

QTEST_MAIN(TestPrintQueue)
#include "test_printqueue.moc"
