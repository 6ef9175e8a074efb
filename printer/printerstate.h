#pragma once

#include <QMetaType>
#include <QObject>
#include <QString>

#include <functional>

class QTimer;

namespace nx7 {

// What the ticket printer can do now, as the kiosk screen and the status line show it.
struct PrinterState
{
    enum class Condition
    {
        Ready,
        PaperNearEnd, // prints; staff should change the roll soon
        PaperOut,
        CoverOpen,
        Unreachable, // no answer, connection refused, device missing or not writable
        Failed,      // off line, cutter or other error, or a reply that makes no sense
        // Not the printer's fault: staff must not go and look at a printer that is fine.
        LayoutUnusable,   // the ticket's layout file missing, unreadable or not usable
        NoDefaultPrinter, // the layout prints on the default queue and there is none
    };
    Condition condition = Condition::Ready;
    QString detail; // for the log: what the printer or the system said

    bool canPrint() const
    {
        return condition == Condition::Ready || condition == Condition::PaperNearEnd;
    }
    // The Italian text for staff: "Stampante pronta", "Stampante senza carta", ...
    QString text() const;

    // Two states are the same when their conditions are: the detail may change at
    // every question without anything new to tell.
    bool operator==(const PrinterState &other) const { return condition == other.condition; }
};

// Asks the printer's state every few seconds while the kiosk screen is idle, never while
// a ticket is issued, and tells when it changes (each change logged once).
class PrinterMonitor final : public QObject
{
    Q_OBJECT
public:
    using Query = std::function<PrinterState()>;
    using Busy = std::function<bool()>;

    static constexpr int kIntervalMs = 4000;

    explicit PrinterMonitor(Query query, QObject *parent = nullptr);

    // Polling runs between start() and stop(); start() asks at once. No question is asked
    // while `busy` says a ticket is being issued.
    void start(Busy busy);
    void stop();
    bool running() const;
    void setInterval(int milliseconds);

    // Asks now (unless busy) and returns the state.
    PrinterState poll();
    // A state learnt elsewhere (the check before a ticket, the question after its cut).
    void report(const PrinterState &state);
    const PrinterState &state() const { return m_state; }

Q_SIGNALS:
    // Emitted whenever the condition changes; state.text() is the Italian text.
    void printerStateChanged(const nx7::PrinterState &state);

private:
    Query m_query;
    Busy m_busy;
    QTimer *m_timer;
    PrinterState m_state;
    bool m_known = false;
};

} // namespace nx7

Q_DECLARE_METATYPE(nx7::PrinterState)
