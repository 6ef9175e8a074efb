// The printer check before a ticket is numbered, against a private CUPS scheduler.
#include "cupsserver.h"
#include "database.h"
#include "filenames.h"
#include "printqueue.h"
#include "reportengine.h"
#include "stationstate.h"
#include "systemprinters.h"
#include "tempinstallation.h"
#include "testshell.h"
#include "ticketfakes.h"
#include "ticketissue.h"

#include <QFile>
#include <QProcess>
#include <QTest>

using namespace nx7;
using namespace nx7::test;

namespace {

const auto cups = &CupsServer::tool;

QString readiness(const QString &printer)
{
    SystemPrinters system;
    const Status status = system.printerFor({PrintTarget::Kind::NamedPrinter, printer}).ready();
    return status ? QStringLiteral("ready") : status.error().description;
}

} // namespace

class TestPrintQueue : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void printerStatesAsTheSchedulerReportsThem();
    void stateForTheScreen_data();
    void stateForTheScreen();
};

void TestPrintQueue::printerStatesAsTheSchedulerReportsThem()
{
    // A scheduler of its own: configuration, spool and socket in a temporary folder.
    CupsServer cupsd;
    QVERIFY2(cupsd.ok(), qPrintable(cupsd.error()));
    const QString name = QStringLiteral("Biglietti");
    QVERIFY(
        cups(QStringLiteral("lpadmin"), {"-p", name, "-E", "-v", "file:/dev/null", "-m", "raw"}));
    QCOMPARE(readiness(name), QStringLiteral("ready"));

    // No default queue, or no readable layout: each named as such, not as a printer fault.
    using C = PrinterState::Condition;
    SystemPrinters system;
    QCOMPARE(system.printerFor(PrintTarget{}).state().condition, C::NoDefaultPrinter);
    QCOMPARE(ReportEngine(system).printerState(QStringLiteral("/nx7-none/Ticket.lbl")).condition,
             C::LayoutUnusable);
    QVERIFY(cups(QStringLiteral("lpadmin"), {QStringLiteral("-d"), name}));
    QCOMPARE(system.printerFor(PrintTarget{}).state().condition, C::Ready);

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
    SystemPrinters printers;
    TicketIssue issue(installation.stores(), state, shell, clock, waiter, printers);
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
    QVERIFY(cupsd.stop());
    QVERIFY(readiness(name).contains(QStringLiteral("non risponde")));
}

void TestPrintQueue::stateForTheScreen_data()
{
    using C = PrinterState::Condition;
    QTest::addColumn<int>("printerState");
    QTest::addColumn<QStringList>("reasons");
    QTest::addColumn<C>("condition");
    QTest::newRow("idle") << 3 << QStringList{"none"} << C::Ready;
    QTest::newRow("low, prints") << 4 << QStringList{"media-low-warning"} << C::PaperNearEnd;
    QTest::newRow("paper out") << 3 << QStringList{"media-empty-error"} << C::PaperOut;
    QTest::newRow("low and door open")
        << 3 << QStringList{"media-low-report", "door-open-report"} << C::CoverOpen;
    QTest::newRow("off line") << 3 << QStringList{"offline-report"} << C::Unreachable;
    QTest::newRow("stopped") << 5 << QStringList{"none"} << C::Failed;
    QTest::newRow("jam") << 3 << QStringList{"media-jam-error"} << C::Failed;
}

void TestPrintQueue::stateForTheScreen()
{
    QFETCH(int, printerState);
    QFETCH(QStringList, reasons);
    QFETCH(PrinterState::Condition, condition);
    const PrintQueueState queue{QStringLiteral("Biglietti"), printerState, true, reasons};
    QCOMPARE(PrintQueue::stateOf(queue).condition, condition);
}

QTEST_MAIN(TestPrintQueue)
#include "test_printqueue.moc"
