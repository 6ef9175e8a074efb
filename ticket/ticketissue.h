#pragma once

#include "database.h"
#include "errors.h"
#include "printerstate.h"
#include "reportengine.h"
#include "stores.h"
#include "ticketprintjob.h"
#include "ticketscreen.h"

#include <QVariant>

#include <chrono>

namespace nx7 {

class Clock;
class Shell;
class Printers;
class Waiter;
class WaitEstimator;
struct StationState;

// Told what the touches come to (the kiosk's status line for the service manager and the
// metrics for the site's monitoring). Every call does nothing unless overridden.
class IssueObserver
{
public:
    // How the server database or folder answered.
    enum class ServerAnswer
    {
        Reached,     // a busy server or a numbering file locked by a station did answer
        Unreachable, // no answer, or a failure that says nothing about the server's rights
        Refused,     // it answered but refused the kiosk's statement for lack of rights
    };
    // Why a touch gave no ticket.
    enum class Refusal
    {
        PrinterUnavailable,       // refused before a number was used
        NumberingFileUnavailable, // locked too long, missing, or its folder out of reach
        ServerUnavailable,        // the server database busy or out of reach
        LocalDatabaseFailed,      // the station's own database could not be written
    };

    virtual ~IssueObserver() = default;
    virtual void serverAnswered(ServerAnswer answer) { Q_UNUSED(answer); }
    // A ticket was numbered and recorded in the shared queue (printed or not).
    virtual void ticketIssued(int slot) { Q_UNUSED(slot); }
    // The wait estimated for the ticket being issued; none when the pace is not known.
    virtual void waitEstimated(int slot, const std::optional<WaitRange> &wait)
    {
        Q_UNUSED(slot);
        Q_UNUSED(wait);
    }
    // A ticket recorded in the shared queue did not come out of the printer.
    virtual void ticketNotPrinted(int slot) { Q_UNUSED(slot); }
    virtual void ticketRefused(int slot, Refusal reason)
    {
        Q_UNUSED(slot);
        Q_UNUSED(reason);
    }
};

// The issue of a ticket for a touched service button: numbering, the shared queue on the
// server, the print row and the printed ticket.
class TicketIssue final : public TicketIssuer
{
public:
    // How long a numbering file locked by a counter station is waited for.
    struct LockRetry
    {
        std::chrono::milliseconds pause{50};
        std::chrono::milliseconds limit{3000};
    };

    // `waitEstimator`, when given, puts the expected wait on each ticket.
    TicketIssue(const Stores &stores, StationState &state, Shell &shell, Clock &clock,
                Waiter &waiter, Printers &printers, WaitEstimator *waitEstimator = nullptr);

    void IssueTicket(TicketScreen &screen, int slot) override;
    bool issuing() const override { return m_issuing; }
    bool holding() const override { return m_holding; }
    void endHold() override;
    // Asks the printer of "Ticket.lbl" every few seconds while the kiosk screen is idle.
    PrinterMonitor *printerMonitor() override { return &m_monitor; }

    // What the customer reads on the waiting panel when a ticket cannot be given.
    static inline const QString BusyNotice =
        QStringLiteral("Sistema momentaneamente occupato:\n"
                       "ticket non emesso, riprovare tra poco.");
    static inline const QString PrinterNotice =
        QStringLiteral("Stampante non disponibile:\nrivolgersi allo sportello.");
    static inline const QString NotPrintedNotice =
        QStringLiteral("Ticket non stampato:\nrivolgersi allo sportello.");
    static inline const QString OutOfOrderNotice =
        QStringLiteral("Ticket non emesso:\nrivolgersi allo sportello.");

    void setLockRetry(LockRetry retry) { m_lockRetry = retry; }
    // Null: nobody is told.
    void setObserver(IssueObserver *observer) { m_observer = observer ? observer : &m_noObserver; }
    const ReportEngine &reportEngine() const { return m_engine; }

private:
    struct Outcome
    {
        bool issued = false;
        QString notice; // for the customer, empty when the ticket came out
    };

    Result<Outcome> issue(TicketScreen &screen, int slot);
    // The number and the server writes: from the station's counters, or from the server's.
    Result<Outcome> numberLocally(TicketContext &ticket, int slot);
    Result<Outcome> numberOnServer(TicketContext &ticket, int slot);
    void estimateWait(TicketContext &ticket, int slot);
    // Whether the installation shares its numbering, asked of the server until it answers.
    Result<bool> sharedNumbering();
    // The print row and the ticket of a number recorded in the queue.
    Result<Outcome> print(TicketScreen &screen, const TicketContext &ticket, int slot);
    // A failure of a store step: a busy or unreachable store abandons the ticket (logged
    // with the number skipped), a broken one is returned for the run-time error report.
    Result<Outcome> abandon(const Error &error, int slot, const QString &numberFate,
                            const QString &step, IssueObserver::Refusal reason);
    Outcome refuse(int slot, IssueObserver::Refusal reason, const QString &notice);
    // The calling number of the slot, waiting a bounded time for a locked file.
    Result<double> readCallingNumber(int slot);
    // "Attesa" and the queue row of one ticket on the server.
    Status recordOnServer(const TicketContext &ticket, const QVariant &serviceId);
    void hold(qint32 seconds);

    Stores m_stores;
    StationState &m_state;
    Shell &m_shell;
    Clock &m_clock;
    Waiter &m_waiter;
    ReportEngine m_engine;
    TicketPrintJob m_printJob;
    PrinterMonitor m_monitor;
    LockRetry m_lockRetry;
    IssueObserver m_noObserver;
    IssueObserver *m_observer = &m_noObserver;
    bool m_issuing = false;
    bool m_holding = false;
    WaitEstimator *m_waitEstimator = nullptr;
};

} // namespace nx7
