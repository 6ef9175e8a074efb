#pragma once

#include "errors.h"
#include "reportengine.h"
#include "ticketprintjob.h"
#include "ticketscreen.h"

#include <QVariant>

#include <chrono>

namespace nx7 {

class Clock;
class Shell;
class TicketPrinter;
class Waiter;
struct StationState;

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

    TicketIssue(StationState &state, Shell &shell, Clock &clock, Waiter &waiter,
                TicketPrinter &printer);

    void IssueTicket(TicketScreen &screen, int slot) override;
    bool issuing() const override { return m_issuing; }

    void setLockRetry(LockRetry retry) { m_lockRetry = retry; }
    const ReportEngine &reportEngine() const { return m_engine; }

private:
    enum class Outcome
    {
        Issued,
        Abandoned
    };

    Result<Outcome> issue(TicketScreen &screen, int slot);
    Status advanceLocalCounter(int slot, qint32 nextNumber);
    // The calling number of the slot, waiting a bounded time for a locked file.
    Result<double> readCallingNumber(int slot);
    Status updateWaitingCount(const QVariant &serviceId, qint32 peopleAhead);
    Status appendQueueRow(const TicketContext &ticket, const QVariant &serviceId);

    StationState &m_state;
    Shell &m_shell;
    Clock &m_clock;
    Waiter &m_waiter;
    ReportEngine m_engine;
    TicketPrintJob m_printJob;
    LockRetry m_lockRetry;
    bool m_issuing = false;
};

} // namespace nx7
