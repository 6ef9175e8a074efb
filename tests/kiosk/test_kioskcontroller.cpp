// The kiosk screen's rules without a screen: touches, keypad keys, the tick and what the
// keypad customer hears, driven step by step on a test clock.
#include "fakespeechengine.h"
#include "kioskcontroller.h"
#include "printerstate.h"
#include "stationstate.h"
#include "testshell.h"
#include "ticketfakes.h"

#include <QTest>

using namespace nx7;

namespace {

class RecordingIssuer final : public TicketIssuer
{
public:
    void IssueTicket(TicketScreen &, int slot) override { issued.append(slot); }
    bool issuing() const override { return busy; }
    bool holding() const override { return busy && held; }
    void endHold() override { ++holdsEnded; }

    QList<int> issued;
    bool busy = false;
    bool held = false;
    int holdsEnded = 0;
};

class RecordingView final : public KioskView, public KioskScreenObserver
{
public:
    void closeScreen() override { ++closed; }
    void showAccess(int focusSlot, bool highContrast) override
    {
        focus = focusSlot;
        contrast = highContrast;
    }
    void kioskScreenLoaded(int n, int) override { events << QStringLiteral("loaded %1").arg(n); }
    void kioskScreenGone() override { events << QStringLiteral("gone"); }

    int closed = 0;
    int focus = 0;
    bool contrast = false;
    QStringList events;
};

// A screen of six services loaded at `start`.
struct Road
{
    explicit Road(const QDateTime &start = QDateTime(QDate(2026, 12, 8), QTime(10, 0)),
                  bool withVoice = true)
        : clock(start), controller(state, clock, issuer, screen, view,
                                   {withVoice ? &voice : nullptr, {true, 6, 160, 0}}, &view)
    {
        controller.loaded({"A", "B", "C", "D", "E", "F"});
    }

    // "t3": a touch on slot 3; "k<name>": a key (the first key of a session only greets),
    // "r<name>": the keyboard's repeat of that key held down; "out" /
    // "in": the printer stops and prints again; "back": the screen is given back after an issue;
    // "+N": N ms pass.
    void run(const QString &steps)
    {
        for (const QString &step : steps.split(u' ', Qt::SkipEmptyParts)) {
            if (step.startsWith(u't'))
                controller.touchSlot(step.mid(1).toInt());
            else if (step.startsWith(u'k') || step.startsWith(u'r'))
                controller.key(QKeySequence(step.mid(1))[0].key(), {step.startsWith(u'r')});
            else if (step == QLatin1String("out"))
                controller.setPrinterState({PrinterState::Condition::PaperOut, {}});
            else if (step == QLatin1String("in"))
                controller.setPrinterState({PrinterState::Condition::Ready, {}});
            else if (step == QLatin1String("back"))
                controller.screenGivenBack();
            else if (step.startsWith(u'+'))
                clock.set(clock.now().addMSecs(step.mid(1).toInt()));
        }
    }

    StationState state;
    test::TestClock clock;
    RecordingIssuer issuer;
    test::FakeTicketScreen screen;
    RecordingView view;
    test::FakeSpeechEngine voice;
    KioskController controller;
};

QDateTime at(int day, const QString &time)
{
    return QDateTime(QDate(2026, 12, day), QTime::fromString(time, QStringLiteral("hh:mm:ss")));
}

} // namespace

class TestKioskController : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void touchesAndKeys_data();
    void touchesAndKeys();
    void nightlyRestart_data();
    void nightlyRestart();
    void theKeypadCustomerHearsTheScreen();
};

void TestKioskController::touchesAndKeys_data()
{
    QTest::addColumn<bool>("withVoice");
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QList<int>>("issued");
    QTest::addColumn<int>("closed");
    QTest::addColumn<int>("focus");
    QTest::addRow("touches") << true << "t3 t6" << QList<int>{3, 6} << 0 << 0;
    QTest::addRow("no such slot") << true << "t0 t7 t21" << QList<int>{} << 0 << 0;
    QTest::addRow("out of service") << true << "out t2 in t2" << QList<int>{2} << 0 << 0;
    QTest::addRow("bounce") << true << "back +399 t2 +1 t2" << QList<int>{2} << 0 << 0;
    QTest::addRow("keypad") << true << "k2 k2 k2 kDown k8 kEnter" << QList<int>{2} << 0 << 2;
    QTest::addRow("keypad out of service") << true << "out k2 k2 k5" << QList<int>{} << 0 << 1;
    QTest::addRow("keypad bounce") << true << "k2 k2 back k5 +400 k5" << QList<int>{1} << 0 << 1;
    QTest::addRow("keypad held") << true << "k2 k2 r2 r2 k5 r5 r5" << QList<int>{1} << 0 << 1;
    QTest::addRow("touch in a session selects, again takes")
        << true << "k2 t3 t4 t4 out t5 t5" << QList<int>{4} << 0 << 5;
    QTest::addRow("touch in a session, then 5") << true << "k2 t3 k5" << QList<int>{3} << 0 << 3;
    QTest::addRow("escape") << true << "k2 kEscape" << QList<int>{} << 1 << 0;
    QTest::addRow("other keys") << true << "kA kTab kSpace kF5" << QList<int>{} << 0 << 0;
    QTest::addRow("no voice") << false << "k2 k5 kEnter kEscape t4" << QList<int>{4} << 1 << 0;
}

void TestKioskController::touchesAndKeys()
{
    QFETCH(bool, withVoice);
    QFETCH(QString, steps);
    Road road(QDateTime(QDate(2026, 12, 8), QTime(10, 0)), withVoice);
    road.state.unattendedRestart = true; // from an earlier night: Escape leaves it alone
    road.run(steps);
    QTEST(road.issuer.issued, "issued");
    QTEST(road.view.closed, "closed");
    QTEST(road.view.focus, "focus");
    QVERIFY(!road.state.restartRequested);
    QVERIFY(road.state.unattendedRestart);
}

void TestKioskController::nightlyRestart_data()
{
    // Ticks as "day hh:mm:ss", with "*" while a ticket is issued and "h" while one only
    // holds the screen after its print.
    QTest::addColumn<QDateTime>("loaded");
    QTest::addColumn<QStringList>("ticks");
    QTest::addColumn<int>("restartsAt"); // the tick that restarts; -1: none
    QTest::addColumn<int>("holdsEnded");
    QTest::addRow("at the second")
        << at(8, "03:30:00") << QStringList{"8 03:30:59", "8 03:31:00"} << 1 << 0;
    QTest::addRow("fresh screen within the second")
        << at(8, "03:31:00") << QStringList{"8 03:31:01", "8 03:31:02", "9 03:31:00"} << 2 << 0;
    QTest::addRow("catches up, once a day")
        << at(8, "02:00:00") << QStringList{"8 03:30:58", "8 03:31:07", "8 03:30:00", "8 03:31:00"}
        << 1 << 0;
    QTest::addRow("within the minute") << at(8, "03:30:59") << QStringList{"8 03:31:59"} << 0 << 0;
    QTest::addRow("after the minute") << at(8, "03:30:59") << QStringList{"8 03:32:01"} << -1 << 0;
    QTest::addRow("clock lands hours past")
        << at(8, "22:00:00") << QStringList{"8 23:59:59", "9 07:45:00", "10 03:31:00"} << 2 << 0;
    QTest::addRow("clock stepped by a day")
        << at(8, "07:33:59") << QStringList{"9 07:34:00", "9 07:34:01", "10 03:31:00"} << 2 << 0;
    QTest::addRow("waits for the issue")
        << at(8, "03:30:00") << QStringList{"8 03:31:00*", "8 03:31:01*", "8 03:31:02"} << 2 << 0;
    QTest::addRow("ends a hold") << at(8, "03:30:59") << QStringList{"8 03:31:00h", "8 03:31:01"}
                                 << 1 << 1;
}

void TestKioskController::nightlyRestart()
{
    QFETCH(QDateTime, loaded);
    QFETCH(QStringList, ticks);
    QFETCH(int, restartsAt);
    Road road(loaded);
    for (int i = 0; i < ticks.size(); ++i) {
        QString tick = ticks.at(i);
        road.issuer.held = tick.endsWith(u'h');
        road.issuer.busy = road.issuer.held || tick.endsWith(u'*');
        tick.remove(u'*').remove(u'h');
        road.clock.set(at(tick.section(u' ', 0, 0).toInt(), tick.section(u' ', 1)));
        road.controller.tick();
        const bool restarted = i >= restartsAt && restartsAt >= 0;
        QCOMPARE(road.state.restartRequested, restarted);
        QCOMPARE(road.state.unattendedRestart, restarted);
        QCOMPARE(road.view.closed, restarted ? 1 : 0);
    }
    QTEST(road.issuer.holdsEnded, "holdsEnded");
}

void TestKioskController::theKeypadCustomerHearsTheScreen()
{
    Road road;
    QCOMPARE(road.view.events, QStringList{"loaded 6"});
    road.controller.noticeShown(QStringLiteral("Nessuno\nlo sente"));
    QVERIFY(road.voice.spoken.isEmpty()); // a customer who only touches hears nothing

    road.run(QStringLiteral("k2 k2 k/"));
    QVERIFY(road.view.contrast);
    road.controller.noticeShown(QStringLiteral("Stampante\nsenza carta"));
    QCOMPARE(road.voice.last(), QStringLiteral("Stampante senza carta"));
    road.screen.context.issuedNumber = 7;
    road.screen.context.issuedServiceName = QStringLiteral("B ");
    road.screen.context.peopleAhead = 2;
    road.controller.ticketPrinted(road.screen.context);
    QVERIFY(road.voice.last().startsWith(SpeechSession::ticketText(7, QStringLiteral("B "), 2)));
    road.controller.touchedScreen();
    QCOMPARE(road.voice.calls.last(), QStringLiteral("stop"));
    road.controller.setPrinterState({PrinterState::Condition::CoverOpen, {}});
    QVERIFY(road.voice.last().startsWith(QStringLiteral("Servizio momentaneamente sospeso")));
}

QTEST_GUILESS_MAIN(TestKioskController)
#include "test_kioskcontroller.moc"
