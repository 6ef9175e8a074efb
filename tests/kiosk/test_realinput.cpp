// Touches sent as real X events (xdotool) to the kiosk screen on a private X server while
// a ticket issue is held up by a counter station's lock on the shared database.
#include "database.h"
#include "filenames.h"
#include "frontend.h"
#include "installation.h"
#include "stationstate.h"
#include "tempinstallation.h"
#include "testshell.h"
#include "ticketissue.h"
#include "ticketprinter.h"
#include "timedwait.h"
#include "xvfbserver.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <memory>

using namespace nx7;
using namespace nx7::test;

namespace {

XvfbServer *g_display = nullptr;

Installation::ServerOptions sixServices()
{
    Installation::ServerOptions options;
    options.activeServices = 6;
    options.resolutionCode = 0; // 1280 x 1024, the size of the X screen
    return options;
}

// A kiosk screen with the real ticket issue, shown on the private X server.
struct RealKiosk
{
    RealKiosk() : installation(sixServices()), issue(state, shell, clock, waiter, printer)
    {
        state.serverPath = installation.serverPath();
        for (int n = 1; n <= kSlotCount; ++n)
            state.serviceCounters[n] = 1;
        QFile::copy(QStringLiteral(QT_TESTCASE_SOURCEDIR "/../ticket/Ticket.lbl"),
                    FileName::TicketLayout);
        screen = std::make_unique<FrontEnd>(state, shell, clock, issue);
    }

    int queueLength()
    {
        auto db = Database::open(installation.serverDatabase());
        auto rows = db ? db->select(QStringLiteral("SELECT COUNT(*) FROM Codafromtotem"))
                       : Result<QList<QVariantList>>(db.error());
        return rows ? rows->value(0).value(0).toInt() : -1;
    }

    // Where xdotool touches button n, in screen coordinates.
    QPoint centreOf(int n) const
    {
        QPushButton *button = screen->bottone(n);
        return button->mapToGlobal(button->rect().center());
    }

    TempInstallation installation;
    StationState state;
    TestShell shell;
    SystemClock clock; // the bounce is real time here
    EventLoopWaiter waiter;
    ImageTicketPrinter printer;
    TicketIssue issue;
    std::unique_ptr<FrontEnd> screen;
};

// A counter station holding the shared database for a while, by the sqlite3 tool.
bool holdServerDatabase(QProcess &station, const QString &path, double seconds)
{
    station.setProcessChannelMode(QProcess::MergedChannels);
    station.start(QStringLiteral("sqlite3"), {path});
    if (!station.waitForStarted(5000))
        return false;
    station.write(QStringLiteral("BEGIN EXCLUSIVE;\n.shell echo locked\n.shell sleep %1\n"
                                 "COMMIT;\n.quit\n")
                      .arg(seconds)
                      .toUtf8());
    station.closeWriteChannel();
    return station.waitForReadyRead(5000) && station.readAll().contains("locked");
}

} // namespace

class TestRealInput : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void touchesDuringASlowIssueGiveOneTicket();
    void bounceAfterTheScreenComesBackGivesNoTicket();
};

void TestRealInput::touchesDuringASlowIssueGiveOneTicket()
{
    RealKiosk kiosk;
    QVERIFY2(kiosk.installation.ok(), qPrintable(kiosk.installation.error()));
    QVERIFY(kiosk.screen->Form_Load());
    kiosk.screen->show();
    QVERIFY(QTest::qWaitForWindowExposed(kiosk.screen.get()));
    const QPoint at = kiosk.centreOf(2);

    QProcess station;
    QVERIFY(holdServerDatabase(station, kiosk.installation.serverDatabase(), 1.5));
    // One touch starts the issue; a double tap and three more touches follow while the
    // issue waits for the station, as impatient customers do.
    QProcess customer;
    customer.setProcessEnvironment(g_display->environment());
    customer.start(QStringLiteral("sh"),
                   {QStringLiteral("-c"),
                    QStringLiteral("xdotool mousemove %1 %2 click 1 && sleep 0.3 && "
                                   "xdotool click --repeat 2 --delay 5 1 && sleep 0.2 && "
                                   "xdotool click --repeat 3 --delay 80 1")
                        .arg(at.x())
                        .arg(at.y())});
    QVERIFY(customer.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(customer.state() == QProcess::NotRunning, 10000);
    QCOMPARE(customer.exitCode(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(station.state() == QProcess::NotRunning, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!kiosk.issue.issuing(), 10000);
    QTest::qWait(800); // anything still queued would be acted on now

    QCOMPARE(kiosk.queueLength(), 1);
    QCOMPARE(kiosk.printer.targets.size(), 1);
    QCOMPARE(kiosk.screen->ticketContext().slotNextNumber[2], 2);
    QVERIFY(kiosk.screen->isEnabled());
    QVERIFY(!kiosk.shell.programEnded());
}

void TestRealInput::bounceAfterTheScreenComesBackGivesNoTicket()
{
    RealKiosk kiosk;
    QVERIFY2(kiosk.installation.ok(), qPrintable(kiosk.installation.error()));
    QVERIFY(kiosk.screen->Form_Load());
    kiosk.screen->show();
    QVERIFY(QTest::qWaitForWindowExposed(kiosk.screen.get()));
    const QPoint at = kiosk.centreOf(4);
    g_display->run(QStringLiteral("xdotool"),
                   {QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y())});

    // The moment the issue gives the screen back, the touch screen bounces.
    QProcess station;
    QVERIFY(holdServerDatabase(station, kiosk.installation.serverDatabase(), 0.5));
    bool wasIssuing = false;
    bool bounced = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (kiosk.issue.issuing()) {
            wasIssuing = true;
        } else if (wasIssuing && !bounced) {
            bounced = true;
            g_display->run(QStringLiteral("xdotool"),
                           {QStringLiteral("click"), QStringLiteral("1")});
        }
    });
    watch.start(2);
    g_display->run(QStringLiteral("xdotool"), {QStringLiteral("click"), QStringLiteral("1")});
    QTRY_VERIFY_WITH_TIMEOUT(bounced, 10000);
    watch.stop();
    QTest::qWait(600);
    QCOMPARE(kiosk.queueLength(), 1);

    // A real second touch later on is a new customer.
    g_display->run(QStringLiteral("xdotool"), {QStringLiteral("click"), QStringLiteral("1")});
    QTRY_COMPARE_WITH_TIMEOUT(kiosk.queueLength(), 2, 5000);
    QCOMPARE(kiosk.screen->ticketContext().slotNextNumber[4], 3);
}

int main(int argc, char **argv)
{
    // The kiosk runs on a private X server with no window manager, as a kiosk box does.
    XvfbServer display;
    if (!display.ok()) {
        std::fprintf(stderr, "no X server: %s\n", qPrintable(display.error()));
        return 1;
    }
    g_display = &display;
    qputenv("DISPLAY", display.display().toUtf8());
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    TestRealInput test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_realinput.moc"
