#include "waitestimator.h"

#include "calllog.h"
#include "clock.h"

#include <algorithm>
#include <cmath>

namespace nx7 {

namespace {

constexpr double kMsPerMinute = 60000.0;

// The recent pace of one slot: the time per called number while someone was waiting,
// each interval weighted by its age.
struct Pace
{
    double minutesPerCall = 0;
    double effectiveCalls = 0; // how many equally weighted intervals the weights are worth
    double deviation = 0;      // of the intervals, minutes
    double minutesSinceLastCall = 0;
    bool busyLately = true; // someone was waiting when the last number was called
};

// When ticket `number` was waiting at the latest: its issue here, or that of a later
// ticket of this kiosk (another kiosk's ticket was issued before it). None when unknown.
std::optional<qint64> waitingSince(const QList<Call> &issued, qint32 number)
{
    const auto later =
        std::lower_bound(issued.begin(), issued.end(), number,
                         [](const Call &issue, qint32 wanted) { return issue.number < wanted; });
    if (later == issued.end())
        return std::nullopt;
    return later->atMs;
}

// A time between two calls while someone was waiting: all open counters were busy.
struct Interval
{
    qint64 endMs;
    double minutes;
};

QList<Interval> busyIntervals(const SlotCalls &calls, qint64 nowMs, bool &busyLately)
{
    QList<Interval> busy;
    busyLately = true;
    for (qsizetype i = 1; i < calls.calls.size(); ++i) {
        const Call &previous = calls.calls.at(i - 1);
        const Call &call = calls.calls.at(i);
        if (call.atMs > nowMs)
            break;
        // An interval in which nobody waited measures the customers, not the counters.
        const auto waiting = waitingSince(calls.issued, call.number);
        busyLately = !(waiting && *waiting > previous.atMs);
        if (!busyLately)
            continue;
        busy.append(Interval{call.atMs, (call.atMs - previous.atMs) / kMsPerMinute});
    }
    return busy;
}

// The mean of `intervals` ending after `fromMs`, each weighted by its age when `weightMinutes`
// is not 0.
Pace meanOf(const QList<Interval> &intervals, qint64 fromMs, qint64 nowMs, double weightMinutes)
{
    double weights = 0;
    double squares = 0;
    double weightedMinutes = 0;
    double weightedSquares = 0;
    for (const Interval &interval : intervals) {
        if (interval.endMs < fromMs)
            continue;
        const double weight =
            weightMinutes > 0 ? std::exp(-(nowMs - interval.endMs) / kMsPerMinute / weightMinutes)
                              : 1.0;
        weights += weight;
        squares += weight * weight;
        weightedMinutes += weight * interval.minutes;
        weightedSquares += weight * interval.minutes * interval.minutes;
    }
    if (weights <= 0)
        return {};
    const double mean = weightedMinutes / weights;
    const double variance = std::max(0.0, weightedSquares / weights - mean * mean);
    return Pace{mean, weights * weights / squares, std::sqrt(variance)};
}

std::optional<Pace> paceOf(const SlotCalls &calls, qint64 nowMs, const WaitEstimator::Rules &rules)
{
    if (!calls.seen || calls.calls.isEmpty() ||
        (nowMs - calls.sinceMs) < rules.minWatchedMinutes * kMsPerMinute)
        return std::nullopt;
    bool busyLately = true;
    const QList<Interval> busy = busyIntervals(calls, nowMs, busyLately);
    Pace recent = meanOf(busy, nowMs - qint64(rules.windowMinutes * kMsPerMinute), nowMs,
                         rules.weightMinutes);
    if (recent.effectiveCalls < rules.minCalls || recent.minutesPerCall <= 0)
        return std::nullopt;
    // The day's pace is the surer guide as long as the recent one does not tell it wrong:
    // two means differ by chance within twice their combined standard error.
    const Pace day = meanOf(busy, 0, nowMs, 0);
    const double error = std::hypot(recent.deviation / std::sqrt(recent.effectiveCalls),
                                    day.deviation / std::sqrt(day.effectiveCalls));
    const bool changed = std::abs(recent.minutesPerCall - day.minutesPerCall) > 2 * error;
    Pace chosen = changed ? recent : day;
    chosen.minutesSinceLastCall = (nowMs - calls.calls.constLast().atMs) / kMsPerMinute;
    chosen.busyLately = busyLately;
    return chosen;
}

} // namespace

WaitEstimator::WaitEstimator(std::shared_ptr<CallLog> log, const Clock &clock, Rules rules)
    : m_log(std::move(log)), m_clock(clock), m_rules(rules)
{
}

WaitEstimator::WaitEstimator(std::shared_ptr<CallLog> log, const Clock &clock)
    : WaitEstimator(std::move(log), clock, Rules{})
{
}

void WaitEstimator::ticketIssued(int slot, qint32 number)
{
    m_log->noteIssued(slot, number, m_clock.now());
}

std::optional<WaitRange> WaitEstimator::estimate(int slot, qint32 peopleAhead) const
{
    return estimate(m_log->slot(slot), m_clock.now().toMSecsSinceEpoch(), peopleAhead, m_rules);
}

std::optional<WaitRange> WaitEstimator::estimate(const SlotCalls &calls, qint64 nowMs,
                                                 qint32 peopleAhead, const Rules &rules)
{
    const auto pace = paceOf(calls, nowMs, rules);
    if (!pace)
        return std::nullopt;
    // Counters that have stopped calling (all closed, a pause) set no pace: a gap of
    // several usual intervals means the recent calls no longer tell the wait.
    const double usualInterval = pace->minutesPerCall;
    if (pace->minutesSinceLastCall > std::max(15.0, 4 * usualInterval))
        return std::nullopt;
    const double ahead = std::max(peopleAhead, 0);
    // The ticket is called after the people ahead, half an interval into its own turn.
    // With nobody ahead and nobody waiting at the last call, a counter is likely free.
    const double ownTurn = ahead == 0 && !pace->busyLately ? 0.0 : rules.ownTurn;
    const double middle = (ahead + ownTurn) * usualInterval;
    // The wait for k + 1 calls varies as 1/sqrt(k + 1); the pace itself as 1/sqrt(calls).
    const double relative = std::sqrt(1 / (ahead + 1) + 1 / pace->effectiveCalls);
    const double half = std::max(1.0, rules.spread * relative * middle);
    const int low = std::max(0, int(std::lround(middle - half)));
    const int high = std::max(low + 2, int(std::lround(middle + half)));
    if (high > rules.maxMinutes)
        return std::nullopt;
    return WaitRange{low, high, qint64(std::lround(middle * 60))};
}

namespace WaitEstimateText {

QString printed(const std::optional<WaitRange> &wait)
{
    if (!wait)
        return QString();
    return QStringLiteral("Attesa stimata: %1–%2 minuti")
        .arg(wait->lowMinutes)
        .arg(wait->highMinutes);
}

QString spoken(const std::optional<WaitRange> &wait)
{
    if (!wait)
        return QString();
    return QStringLiteral("Attesa stimata da %1 a %2 minuti.")
        .arg(wait->lowMinutes)
        .arg(wait->highMinutes);
}

} // namespace WaitEstimateText

} // namespace nx7
