#pragma once

#include <QString>

#include <memory>
#include <optional>

namespace nx7 {

class CallLog;
class Clock;
struct SlotCalls;

// An expected wait in whole minutes: the range printed and said, and its middle.
struct WaitRange
{
    int lowMinutes = 0;
    int highMinutes = 0;
    qint64 middleSeconds = 0;
    friend bool operator==(const WaitRange &, const WaitRange &) = default;
};

// How long a new ticket will wait, from the pace at which the counters called the
// service's numbers lately. Never a guess: too few recent calls give no estimate.
class WaitEstimator
{
public:
    struct Rules
    {
        int windowMinutes = 60;     // the recent pace: intervals this recent
        double weightMinutes = 20;  // an interval's weight falls to 1/e in this time
        int minCalls = 3;           // fewer busy intervals (weighted) in it: no estimate
        int minWatchedMinutes = 10; // the slot watched at least this long today
        double spread = 1.0;        // the range's half-width, in standard deviations
        double ownTurn = 0.5;       // of an interval, the ticket's own call after those ahead
        int maxMinutes = 240;       // beyond this the pace says nothing useful
    };

    WaitEstimator(std::shared_ptr<CallLog> log, const Clock &clock, Rules rules);
    WaitEstimator(std::shared_ptr<CallLog> log, const Clock &clock);

    // A ticket of `slot` was issued now: until it is called the counters are busy, which
    // tells the intervals that measure their pace.
    void ticketIssued(int slot, qint32 number);

    // For a ticket of `slot` with `peopleAhead` tickets to be called before it.
    std::optional<WaitRange> estimate(int slot, qint32 peopleAhead) const;

    // The same from a slot's calls at `nowMs` (milliseconds since the epoch).
    static std::optional<WaitRange> estimate(const SlotCalls &calls, qint64 nowMs,
                                             qint32 peopleAhead, const Rules &rules);

private:
    std::shared_ptr<CallLog> m_log;
    const Clock &m_clock;
    Rules m_rules;
};

// The texts the customer reads and hears; empty when there is no estimate.
namespace WaitEstimateText {
// The report variable that holds the printed text.
inline const QString Variable = QStringLiteral("AttesaStimata");
QString printed(const std::optional<WaitRange> &wait); // "Attesa stimata: 10–15 minuti"
QString spoken(const std::optional<WaitRange> &wait);  // "Attesa stimata da 10 a 15 minuti."
} // namespace WaitEstimateText

} // namespace nx7
