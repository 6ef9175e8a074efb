// The printer check before a ticket is numbered, against a private CUPS scheduler.
#include "database.h"
#include "filenames.h"
#include "stationstate.h"
#include "tempinstallation.h"
#include "testshell.h"
#include "ticketfakes.h"
#include "ticketissue.h"
#include "ticketprinter.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

using namespace nx7;
using namespace nx7::test;

namespace {

// Runs a CUPS tool (lpadmin, cupsdisable, lpstat, ...); true when it succeeds.
bool cups(const QString &tool, const QStringList &arguments)
{
    QProcess process;
    process.start(tool, arguments);
    return process.waitForFinished(10000) && process.exitCode() == 0;
}

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

QString readiness(const QString &printer)
{
    SystemTicketPrinter system;
    const Status status = system.ready({PrintTarget::Kind::NamedPrinter, printer});
    return status ? QStringLiteral("ready") : status.error().description;
}

} // namespace

class TestPrintQueue : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void printerStatesAsTheSchedulerReportsThem();
};

void TestPrintQueue::printerStatesAsTheSchedulerReportsThem()
{
    // A scheduler of its own: configuration, spool and socket in a temporary folder.
    QTemporaryDir root;
    QFile::setPermissions(root.path(), QFileDevice::Permissions(0x7755)); // lp works there too
    const QString r = root.path();
    QFile conf(root.filePath(QStringLiteral("cupsd.conf")));
    QFile files(root.filePath(QStringLiteral("cups-files.conf")));
    QVERIFY(conf.open(QIODevice::WriteOnly) && files.open(QIODevice::WriteOnly));
    conf.write(QStringLiteral("Listen %1/cups.sock\nBrowsing No\nWebInterface No\n<Policy default>"
                              "\n<Limit All>\nOrder deny,allow\nAllow all\n</Limit>\n</Policy>\n")
                   .arg(r)
                   .toUtf8());
    files.write(QStringLiteral("FileDevice Yes\nServerRoot %1\nRequestRoot %1\nTempDir %1\n"
                               "CacheDir %1\nStateDir %1\nErrorLog %1/error_log\nUser lp\n")
                    .arg(r)
                    .toUtf8());
    conf.close();
    files.close();
    qputenv("CUPS_SERVER", (r + QStringLiteral("/cups.sock")).toUtf8());
    QProcess cupsd;
    cupsd.start(QStringLiteral("/usr/sbin/cupsd"),
                {QStringLiteral("-f"), QStringLiteral("-c"), conf.fileName(), QStringLiteral("-s"),
                 files.fileName()});
    QVERIFY2(cupsd.waitForStarted(), "cupsd cannot start: install cups-daemon");
    // A fresh machine's first cupsd can take seconds before it listens.
    bool answers = false;
    for (int tries = 0; tries < 300 && cupsd.state() == QProcess::Running && !answers; ++tries) {
        answers = schedulerAnswers();
        if (!answers)
            QThread::msleep(50);
    }
    if (!answers) {
        QFile log(root.filePath(QStringLiteral("error_log")));
        log.open(QIODevice::ReadOnly);
        QFAIL(qPrintable(QStringLiteral("the private cupsd does not answer: ") +
                         QString::fromLocal8Bit(log.readAll() + cupsd.readAllStandardError())));
    }
    const QString name = QStringLiteral("Biglietti");
    QVERIFY(
        cups(QStringLiteral("lpadmin"), {"-p", name, "-E", "-v", "file:/dev/null", "-m", "raw"}));
    QCOMPARE(readiness(name), QStringLiteral("ready"));

    QVERIFY(cups(QStringLiteral("cupsdisable"), {name}));
    QVERIFY(readiness(name).contains(QStringLiteral("ferma")));

    // A stopped printer takes no number; back in service, the same touch gives ticket 7.
    TempInstallation installation;
    QVERIFY2(installation.ok(), qPrintable(installation.error()));
    QFile layout(FileName::TicketLayout);
    QVERIFY(layout.open(QIODevice::WriteOnly));
    layout.write("output printer Biglietti\ntext | {NumeroDaStampare}\n");
    layout.close();
    StationState state;
    state.serverPath = installation.serverPath();
    TestShell shell;
    TestClock clock;
    FakeWaiter waiter;
    SystemTicketPrinter printer;
    TicketIssue issue(installation.stores(), state, shell, clock, waiter, printer);
    FakeTicketScreen screen;
    screen.context.slotNextNumber[1] = 7;
    screen.context.slotServiceId[1] = 1;
    issue.IssueTicket(screen, 1);
    QCOMPARE(screen.notices, QStringList{TicketIssue::PrinterNotice});
    QCOMPARE(screen.context.slotNextNumber[1], 7);
    auto db = Database::open(installation.serverDatabase());
    QVERIFY(db);
    QCOMPARE(db->select(QStringLiteral("SELECT * FROM Codafromtotem"))->size(), 0);
    QVERIFY(cups(QStringLiteral("cupsenable"), {name}));
    issue.IssueTicket(screen, 1);
    QCOMPARE(screen.context.issuedNumber, 7);
    QCOMPARE(db->select(QStringLiteral("SELECT * FROM Codafromtotem"))->size(), 1);
    QCOMPARE(screen.notices.size(), 1); // printed: nothing more to tell

    QVERIFY(cups(QStringLiteral("cupsreject"), {name}));
    QVERIFY(readiness(name).contains(QStringLiteral("non accetta")));
    QVERIFY(cups(QStringLiteral("lpadmin"), {QStringLiteral("-x"), name}));
    QVERIFY(readiness(name).contains(QStringLiteral("non esiste")));
    cupsd.terminate();
    QVERIFY(cupsd.waitForFinished(5000));
    QVERIFY(readiness(name).contains(QStringLiteral("non risponde")));
}

QTEST_MAIN(TestPrintQueue)
#include "test_printqueue.moc"
