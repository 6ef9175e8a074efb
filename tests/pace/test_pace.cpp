#include "calllog.h"
#include "callwatcher.h"
#include "tempinstallation.h"
#include "textrecord.h"
#include "stationsettings.h"
#include "waitestimator.h"

#include <QTest>

using namespace nx7;

namespace {

const QDateTime kMorning(QDate(2026, 3, 10), QTime(9, 0));

qint64 atMinute(double minute)
{
    return kMorning.toMSecsSinceEpoch() + qint64(minute * 60000);
}

// Numbers 1, 2, ... called at `minutes`; each ticket issued at `issuedAt` of its own, or
// before the first call when the list is shorter (someone was waiting all along).
SlotCalls slotCalls(const QList<double> &minutes, const QList<double> &issuedAt = {})
{
    SlotCalls calls{true, atMinute(-30), qint32(minutes.size()) + 1, {}, {}};
    for (qsizetype i = 0; i < minutes.size(); ++i) {
        calls.calls.append(Call{qint32(i) + 1, atMinute(minutes.at(i))});
        calls.issued.append(Call{qint32(i) + 1, atMinute(issuedAt.value(i, -20))});
    }
    return calls;
}

QList<double> every(double step, double from, double to)
{
    QList<double> minutes;
    for (double minute = from; minute <= to; minute += step)
        minutes.append(minute);
    return minutes;
}

} // namespace

Q_DECLARE_METATYPE(nx7::SlotCalls)

class TestPace : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void estimates_data();
    void estimates();
    void callsWatchedInTheServerFolder();
};

void TestPace::estimates_data()
{
    QTest::addColumn<SlotCalls>("calls");
    QTest::addColumn<double>("now");
    QTest::addColumn<int>("ahead");
    QTest::addColumn<double>("fewest"); // the middle in minutes; below 0: no estimate
    QTest::addColumn<double>("most");

    QTest::newRow("no calls") << slotCalls({}) << 60.0 << 3 << -1.0 << -1.0;
    QTest::newRow("too few") << slotCalls({50, 52}) << 53.0 << 3 << -1.0 << -1.0;
    QTest::newRow("steady pace: 2 min a number")
        << slotCalls(every(2, 0, 60)) << 61.0 << 9 << 18.0 << 20.0;
    QTest::newRow("counters all stopped")
        << slotCalls(every(2, 0, 30)) << 60.0 << 3 << -1.0 << -1.0;
    // One of two counters closes at minute 60: a number every 4 minutes from then on.
    QTest::newRow("a counter closing")
        << slotCalls(every(2, 0, 60) + every(4, 64, 100)) << 101.0 << 9 << 30.0 << 40.0;
    // Intervals in which nobody waited say nothing of the counters.
    QTest::newRow("customers, not counters, set the calls")
        << slotCalls(every(10, 0, 60), every(10, -0.5, 60)) << 61.0 << 2 << -1.0 << -1.0;
    QTest::newRow("a counter free: nobody ahead, nobody waited lately")
        << slotCalls(every(2, 0, 40) + QList<double>{50, 55},
                     QList<double>(21, -20) + QList<double>{49, 54})
        << 56.0 << 0 << 0.0 << 0.0;
    QTest::newRow("range floor: one minute either side")
        << slotCalls(every(0.5, 0, 30)) << 30.5 << 0 << 0.2 << 0.3;
}

void TestPace::estimates()
{
    QFETCH(SlotCalls, calls);
    QFETCH(double, now);
    QFETCH(int, ahead);
    QFETCH(double, fewest);
    QFETCH(double, most);
    const auto wait = WaitEstimator::estimate(calls, atMinute(now), ahead, {});
    QCOMPARE(wait.has_value(), fewest >= 0);
    QCOMPARE(WaitEstimateText::printed(wait).isEmpty(), !wait);
    if (!wait)
        return;
    const double middle = wait->middleSeconds / 60.0;
    QVERIFY2(middle >= fewest && middle <= most, qPrintable(QString::number(middle)));
    QVERIFY(wait->lowMinutes <= middle + 0.5 && wait->highMinutes >= middle - 0.5);
    QVERIFY(wait->highMinutes - wait->lowMinutes >= 2);
    // The range widens as the wait grows uncertain, by 1/sqrt(k + 1) at least.
    QVERIFY(wait->highMinutes - wait->lowMinutes >= 2 * middle / std::sqrt(ahead + 1.0) - 1);
    const QString range = QStringLiteral("%1–%2").arg(wait->lowMinutes).arg(wait->highMinutes);
    QCOMPARE(WaitEstimateText::printed(wait),
             QStringLiteral("Attesa stimata: %1 minuti").arg(range));
    QCOMPARE(WaitEstimateText::spoken(wait), QStringLiteral("Attesa stimata da %1 a %2 minuti.")
                                                 .arg(wait->lowMinutes)
                                                 .arg(wait->highMinutes));
}

void TestPace::callsWatchedInTheServerFolder()
{
    test::TempInstallation station;
    QVERIFY(station.ok());
    const QString journal = station.stationPath() + QStringLiteral("/chiamate.json");
    auto log = std::make_shared<CallLog>(journal);
    QDateTime now = kMorning;
    const auto poll = [&](qint32 calling) {
        QVERIFY(TextRecord::writeInteger(station.numberingFile(1), calling));
        now = now.addSecs(60);
        CallWatcher::pollOnce(*log, station.serverPath(), 1, [&] { return now; });
    };
    poll(5);
    poll(8); // 5, 6 and 7 called within the last minute
    QCOMPARE(log->slot(1).calls.size(), 3);
    QCOMPARE(log->slot(1).calls.constLast().number, 7);

    // A kiosk restarted within the day finds them again; the next day does not.
    CallLog restarted(journal);
    restarted.restore(kMorning.date());
    QCOMPARE(restarted.slot(1).calls.size(), 3);
    QCOMPARE(restarted.slot(1).calling, 8);
    CallLog nextDay(journal);
    nextDay.restore(kMorning.date().addDays(1));
    QVERIFY(!nextDay.slot(1).seen);

    // Numbering started again: the slot's day starts afresh.
    poll(1);
    QVERIFY(log->slot(1).calls.isEmpty());

    // In the background: a service without its file is no trouble.
    CallWatcher watcher(log);
    watcher.start(station.serverPath(), 20, std::chrono::milliseconds(20));
    // Its clock is today's: the day begins at its first reading.
    QTRY_COMPARE(QDateTime::fromMSecsSinceEpoch(log->slot(1).sinceMs).date(), QDate::currentDate());
    QVERIFY(TextRecord::writeInteger(station.numberingFile(1), 4));
    QTRY_COMPARE(log->slot(1).calls.size(), 3);
    watcher.stop();
    QVERIFY(!watcher.running());

    // The station switches the estimate off and on; on by default.
    const auto enabled = [&] {
        const auto stored = WaitEstimateSetting::load(station.stores());
        return stored && *stored;
    };
    QVERIFY(enabled());
    QVERIFY(WaitEstimateSetting::save(station.stores(), false));
    QVERIFY(!enabled());
}

QTEST_GUILESS_MAIN(TestPace)
#include "test_pace.moc"
