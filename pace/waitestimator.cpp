#include "waitestimator.h"

#include "calllog.h"
#include "clock.h"

#include <algorithm>
#include <cmath>

namespace nx7 {

namespace {

constexpr double kMsPerMinute = 60000.0;

// The recent pace of one slot: calls per minute, each call weighted by its age.
struct Pace
{
    double perMinute = 0;
    double effectiveCalls = 0; // how many equally weighted calls the weights are worth
    double minutesSinceLastCall = 0;
};

std::optional<Pace> paceOf(const SlotCalls &calls, qint64 nowMs, const WaitEstimator::Rules &rules)
{
    if (!calls.seen || (nowMs - calls.sinceMs) < rules.minWatchedMinutes * kMsPerMinute)
        return std::nullopt;
    const qint64 windowStart =
        std::max(nowMs - qint64(rules.windowMinutes * kMsPerMinute), calls.sinceMs);
    double weights = 0;
    double squares = 0;
    int counted = 0;
    for (const Call &call : calls.calls) {
        if (call.atMs < windowStart || call.atMs > nowMs)
            continue;
        const double weight = std::exp(-(nowMs - call.atMs) / kMsPerMinute / rules.weightMinutes);
        weights += weight;
        squares += weight * weight;
        ++counted;
    }
    if (counted < rules.minCalls)
        return std::nullopt;
    // The weights a steady pace of one call a minute would have gathered over the window:
    // the rate is unbiased whatever the window's length.
    const double span = (nowMs - windowStart) / kMsPerMinute;
    const double perMinute =
        weights / (rules.weightMinutes * (1 - std::exp(-span / rules.weightMinutes)));
    return Pace{perMinute, weights * weights / squares,
                (nowMs - calls.calls.constLast().atMs) / kMsPerMinute};
}

} // namespace

WaitEstimator::WaitEstimator(std::shared_ptr<const CallLog> log, const Clock &clock, Rules rules)
    : m_log(std::move(log)), m_clock(clock), m_rules(rules)
{
}

WaitEstimator::WaitEstimator(std::shared_ptr<const CallLog> log, const Clock &clock)
    : WaitEstimator(std::move(log), clock, Rules{})
{
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
    const double usualInterval = 1.0 / pace->perMinute;
    if (pace->minutesSinceLastCall > std::max(15.0, 4 * usualInterval))
        return std::nullopt;
    const double ahead = std::max(peopleAhead, 0);
    // The ticket is called after the people ahead, half an interval into its own turn.
    const double middle = (ahead + 0.5) * usualInterval;
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
