// Touches sent as real X events (xdotool) to the kiosk screen on a private X server while
// a ticket issue is held up by a counter station's lock on the shared database.
#include "accessview.h"
#include "assembledkiosk.h"
#include "database.h"
#include "fakereceiptprinter.h"
#include "fakespeechengine.h"
#include "filenames.h"
#include "frontend.h"
#include "imageticketprinter.h"
#include "shell.h"
#include "speechsession.h"
#include "stationdata.h"
#include "systemprinters.h"
#include "tempinstallation.h"
#include "testshell.h"
#include "ticketissue.h"
#include "timedwait.h"
#include "xvfbserver.h"

#include <QApplication>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace nx7;

static test::XvfbServer *g_display = nullptr;

class TestRealInput : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void touchesDuringASlowIssueAndABounceGiveOneTicket();
    void printerStateComesAndGoesOnTheScreen();
    void keypadAloneTakesOneTicketOfTheSelectedService();
};

void TestRealInput::touchesDuringASlowIssueAndABounceGiveOneTicket()
{
    test::TempInstallation installation; // six services at 1280 x 1024, the X screen's size
    QVERIFY2(installation.ok(), qPrintable(installation.error()));
    SystemClock clock; // the bounce is real time here
    EventLoopWaiter waiter;
    test::ImageTicketPrinter printer;
    test::AssembledKiosk assembled(installation, clock, waiter, printer);
    TicketIssue &issue = assembled.kiosk.issuer();
    const StationState &state = assembled.kiosk.state();
    QVERIFY(QFile::copy(QStringLiteral(QT_TESTCASE_SOURCEDIR "/../report/Ticket.lbl"),
                        QStringLiteral("Ticket.lbl")));
    auto kioskScreen = assembled.kiosk.makeKioskScreen();
    QVERIFY(kioskScreen);
    FrontEnd &screen = *kioskScreen;
    screen.show();
    QVERIFY(QTest::qWaitForWindowExposed(&screen));
    const QPoint at = screen.bottone(2)->mapToGlobal(screen.bottone(2)->rect().center());
    const auto queueLength = [&] { return test::queueLength(installation); };

    // A counter station holds the shared database for 1.5 s.
    QProcess station;
    station.start(QStringLiteral("sqlite3"), {installation.serverDatabase()});
    station.write("BEGIN EXCLUSIVE;\n.shell echo locked\n.shell sleep 1.5\nCOMMIT;\n");
    QVERIFY(station.waitForReadyRead(5000));
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
    // The moment the issue gives the screen back, the touch screen bounces.
    bool wasIssuing = false;
    bool bounced = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        wasIssuing = wasIssuing || issue.issuing();
        if (wasIssuing && !issue.issuing() && !bounced &&
            customer.state() == QProcess::NotRunning) {
            bounced = true;
            g_display->run(QStringLiteral("xdotool"),
                           {QStringLiteral("click"), QStringLiteral("1")});
        }
    });
    watch.start(2);
    QTRY_VERIFY_WITH_TIMEOUT(bounced, 10000);
    QTest::qWait(800); // anything still queued would be acted on now
    QCOMPARE(queueLength(), 1);
    QCOMPARE(printer.targets.size(), 1);
    QCOMPARE(screen.ticketContext().slotNextNumber[2], state.serviceCounters[2] + 1);

    // A real touch later on is a new customer.
    g_display->run(QStringLiteral("xdotool"), {QStringLiteral("click"), QStringLiteral("1")});
    QTRY_COMPARE_WITH_TIMEOUT(queueLength(), 2, 5000);
    station.kill();
    station.waitForFinished();
}

// The kiosk screen as the X server shows it while a receipt printer runs out of paper, is
// given a roll again and then runs low, with nobody at the kiosk.
void TestRealInput::printerStateComesAndGoesOnTheScreen()
{
    test::FakeReceiptPrinter receiptPrinter;
    receiptPrinter.setState(test::FakeReceiptPrinter::State::PaperOut);
    test::TempInstallation installation;
    QFile layout(FileName::TicketLayout);
    QVERIFY(layout.open(QIODevice::WriteOnly));
    layout.write("output escpos " + receiptPrinter.tcpAddress().toUtf8() + "\ntext | {ID}\n");
    layout.close();
    SystemClock clock;
    EventLoopWaiter waiter;
    SystemPrinters printers;
    test::AssembledKiosk assembled(installation, clock, waiter, printers);
    // A title too large for the screen, over the buttons: the touches stay theirs.
    QVERIFY(test::run(installation.serverDatabase(),
                      QStringLiteral("UPDATE \"configurazioneTotem\" SET \"FontSizeTitolo\" = "
                                     "600, \"TitoloTotem\" = 'Sì'")));
    auto kioskScreen = assembled.kiosk.makeKioskScreen();
    QVERIFY(kioskScreen);
    FrontEnd &screen = *kioskScreen;
    screen.show();
    QVERIFY(QTest::qWaitForWindowExposed(&screen));
    const auto shows = [&](const QPoint &at, const QColor &colour) {
        const QColor seen = g_display->grab().pixelColor(screen.mapToGlobal(at));
        return std::abs(seen.red() - colour.red()) + std::abs(seen.green() - colour.green()) +
                   std::abs(seen.blue() - colour.blue()) <
               60;
    };
    const QPoint middle = screen.rect().center();

    // Out of service at once: the buttons take no touch.
    QTRY_VERIFY_WITH_TIMEOUT(shows(middle, QColor(160, 0, 0)), 5000);
    QVERIFY(!screen.bottone(1)->isEnabled());

    // A new roll running low: the banner goes by itself within 10 s, the notice comes, and
    // a touch prints (the event loop runs meanwhile: the touch is an X event).
    receiptPrinter.setState(test::FakeReceiptPrinter::State::PaperNearEnd);
    QTRY_VERIFY_WITH_TIMEOUT(!shows(middle, QColor(160, 0, 0)), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(shows(screen.paperNotice()->geometry().center(), QColor(255, 200, 0)),
                             2000);
    const QRect underTitle = screen.titoloTXT()->geometry() & screen.bottone(1)->geometry();
    QVERIFY(!underTitle.isEmpty());
    const QPoint button = screen.mapToGlobal(underTitle.center());
    g_display->run(QStringLiteral("xdotool"), {"mousemove", QString::number(button.x()),
                                               QString::number(button.y()), "click", "1"});
    QTRY_COMPARE_WITH_TIMEOUT(receiptPrinter.tickets().size(), 1, 5000);
}

// A customer who cannot see the screen: keypad keys as the X server sends them select a
// service under a thick frame, take one ticket for it, and switch the high-contrast view,
// whose colours are measured on the X server's own picture.
void TestRealInput::keypadAloneTakesOneTicketOfTheSelectedService()
{
    test::TempInstallation installation;
    QVERIFY2(installation.ok(), qPrintable(installation.error()));
    SystemClock clock;
    EventLoopWaiter waiter;
    test::ImageTicketPrinter printer;
    test::AssembledKiosk assembled(installation, clock, waiter, printer);
    TicketIssue &issue = assembled.kiosk.issuer();
    StationState &state = assembled.kiosk.state();
    const test::FakeSpeechEngine &voice = assembled.voice;
    QFile::remove(QStringLiteral("Ticket.lbl")); // the printer test leaves one of its own
    QVERIFY(QFile::copy(QStringLiteral(QT_TESTCASE_SOURCEDIR "/../report/Ticket.lbl"),
                        QStringLiteral("Ticket.lbl")));
    auto kioskScreen = assembled.kiosk.makeKioskScreen();
    QVERIFY(kioskScreen);
    FrontEnd &screen = *kioskScreen;
    // The kiosk's own rule that Return presses the focused button, in force as in the kiosk.
    const DesktopShell desktop;
    screen.show();
    QVERIFY(QTest::qWaitForWindowExposed(&screen));
    QTRY_VERIFY(screen.isActiveWindow());
    const auto keys = [&](const QString &names) {
        // Slower than the station's repeat delay, which ignores the same key pressed faster.
        QStringList args{QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("450")};
        g_display->run(QStringLiteral("xdotool"), args + names.split(u' '));
    };

    // Welcome, then down three services and up one: the second.
    keys(QStringLiteral("KP_2 KP_2 KP_2 Down KP_8"));
    QTRY_COMPARE_WITH_TIMEOUT(voice.spoken.size(), 5, 5000);
    QVERIFY(voice.spoken.first().startsWith(QStringLiteral("Benvenuto.")));
    QCOMPARE(voice.last(), screen.serviceNames().at(1) + QStringLiteral(", servizio 2 di 6"));
    QCOMPARE(screen.accessView()->focusFrame()->geometry(), screen.bottone(2)->geometry());
    QVERIFY(screen.accessView()->focusFrame()->isVisible());
    const qint32 before2 = screen.ticketContext().slotNextNumber[2];
    const qint32 before1 = screen.ticketContext().slotNextNumber[1];

    // The ticket is said while the waiting message still holds the screen.
    state.waitMessageEnabled = true;
    state.waitSeconds = 1;
    bool saidDuringHold = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        saidDuringHold |= issue.holding() && voice.last().startsWith(QStringLiteral("Il suo"));
    });
    watch.start(20);
    keys(QStringLiteral("KP_Enter"));
    QTRY_VERIFY_WITH_TIMEOUT(voice.last().startsWith(QStringLiteral("Il suo numero è")), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(screen.isEnabled() && !issue.holding(), 5000);
    QVERIFY(saidDuringHold);
    watch.stop();
    QTest::qWait(300);
    QCOMPARE(test::queueLength(installation), 1);
    QCOMPARE(printer.targets.size(), 1);
    QCOMPARE(screen.ticketContext().slotNextNumber[2], before2 + 1);
    QCOMPARE(screen.ticketContext().slotNextNumber[1], before1);
    QVERIFY(voice.last().contains(
        QStringLiteral("servizio %1.").arg(screen.serviceNames().at(1).trimmed())));

    // A touch beside the buttons cuts the words off.
    const QPoint beside = screen.mapToGlobal(QPoint(4, screen.height() - 4));
    g_display->run(QStringLiteral("xdotool"), {"mousemove", QString::number(beside.x()),
                                               QString::number(beside.y()), "click", "1"});
    QTRY_COMPARE_WITH_TIMEOUT(voice.calls.last(), QStringLiteral("stop"), 5000);

    // The high-contrast view: every button and the title read at 7:1 or better; the title
    // grows without reaching the date or the buttons.
    const QFont plainTitle = screen.findChild<QLabel *>(QStringLiteral("TitoloTXT"))->font();
    const QLabel *panel = screen.findChild<QLabel *>(QStringLiteral("PannelloAttesaStampa"));
    const QFont plainPanel = panel->font();
    keys(QStringLiteral("KP_Divide"));
    QTRY_COMPARE_WITH_TIMEOUT(voice.last(), QStringLiteral("Contrasto elevato attivato"), 5000);
    QTest::qWait(300);
    const QImage seen = g_display->grab();
    if (const QString dir = qEnvironmentVariable("NX7_SCREENS_DIR"); !dir.isEmpty())
        seen.save(dir + QStringLiteral("/kiosk-contrast.png"));
    for (int n = 1; n <= screen.activeServiceCount(); ++n) {
        const QRect inner =
            QRect(screen.bottone(n)->mapToGlobal(QPoint(0, 0)), screen.bottone(n)->size())
                .adjusted(16, 16, -16, -16);
        const QColor back = seen.pixelColor(inner.left() + 2, inner.center().y());
        double best = 1;
        for (int y = inner.top(); y <= inner.bottom(); y += 2)
            for (int x = inner.left(); x <= inner.right(); x += 2)
                best = std::max(best, AccessView::contrastRatio(back, seen.pixelColor(x, y)));
        QVERIFY2(
            best >= 7.0,
            qPrintable(QStringLiteral("button %1: %2 on %3").arg(n).arg(best).arg(back.name())));
        QVERIFY2(AccessView::contrastRatio(back, AccessView::buttonColour()) < 1.1,
                 qPrintable(back.name()));
    }
    QCOMPARE(seen.pixelColor(screen.mapToGlobal(QPoint(2, screen.height() - 2))),
             AccessView::screenColour());
    QCOMPARE(screen.bottone(2)->geometry(), screen.accessView()->focusFrame()->geometry());
    const QLabel *title = screen.findChild<QLabel *>(QStringLiteral("TitoloTXT"));
    QVERIFY(QFontInfo(title->font()).pixelSize() > QFontInfo(plainTitle).pixelSize());
    for (const QWidget *other :
         {static_cast<const QWidget *>(screen.bottone(1)),
          static_cast<const QWidget *>(screen.findChild<QLabel *>(QStringLiteral("Label1")))})
        QVERIFY(!title->geometry().intersects(other->geometry()));
    // The waiting panel grows too, its caption still on one line within the screen.
    QVERIFY(QFontInfo(panel->font()).pixelSize() > QFontInfo(plainPanel).pixelSize());
    QVERIFY(panel->width() < screen.width());
    QVERIFY(QFontMetrics(panel->font()).horizontalAdvance(panel->text()) < panel->width());

    // Still in the session (a key came after the ticket): a hand feeling the screen selects
    // and hears a button; the same button touched again takes its ticket.
    const QPoint fourth = screen.bottone(4)->mapToGlobal(screen.bottone(4)->rect().center());
    g_display->run(QStringLiteral("xdotool"), {"mousemove", QString::number(fourth.x()),
                                               QString::number(fourth.y()), "click", "1"});
    QTRY_VERIFY_WITH_TIMEOUT(voice.last().endsWith(QStringLiteral("servizio 4 di 6. Prema 5 per "
                                                                  "il numero, oppure tocchi di "
                                                                  "nuovo lo stesso pulsante")),
                             5000);
    QCOMPARE(screen.accessView()->focusFrame()->geometry(), screen.bottone(4)->geometry());
    QCOMPARE(test::queueLength(installation), 1);
    g_display->run(QStringLiteral("xdotool"), {"click", "1"});
    QTRY_VERIFY_WITH_TIMEOUT(voice.last().startsWith(QStringLiteral("Il suo numero è")), 5000);
    QCOMPARE(test::queueLength(installation), 2);
}

int main(int argc, char **argv)
{
    // The kiosk runs on a private X server with no window manager, as a kiosk box does.
    test::XvfbServer display;
    if (!display.ok())
        qFatal("no X server: %s", qPrintable(display.error()));
    g_display = &display;
    qputenv("DISPLAY", display.display().toUtf8());
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    TestRealInput test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_realinput.moc"
