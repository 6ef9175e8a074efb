#pragma once

#include "waitestimator.h"

#include <QString>
#include <QVariant>

#include <array>
#include <optional>

class QWidget;

namespace nx7 {

class PrinterMonitor;

// The state of the kiosk screen that a ticket issue reads and writes; the screen owns it
// and discards it when it closes.
struct TicketContext
{
    std::array<qint32, 21> slotNextNumber{};  // slots 1..20
    std::array<QVariant, 21> slotServiceId{}; // "ID" of "Servizi" as read
    QString screenDateText;
    // The ticket in progress, left in place after the issue.
    QString issuedServiceName;
    QString issuedTime;
    qint32 issuedNumber = 0;
    qint32 peopleAhead = 0;
    std::optional<WaitRange> estimatedWait; // none when the pace is not known
};

// What a ticket issue needs of the kiosk screen.
class TicketScreen
{
public:
    virtual ~TicketScreen() = default;
    virtual TicketContext &ticketContext() = 0;
    virtual QString buttonCaption(int slot) const = 0;
    // Shown centred and painted before any database work starts.
    virtual void showWaitingPanel() = 0;
    virtual void hideWaitingPanel() = 0;
    // A few seconds of Italian text for the customer on the waiting panel, without a
    // button to press; the screen takes touches meanwhile.
    virtual void showNotice(const QString &text) = 0;
    virtual void setScreenEnabled(bool enabled) = 0;
    virtual QWidget *screenWindow() = 0;
    // The ticket in the context came out of the printer; called before the pause that
    // follows a ticket, so that the screen can tell the customer at once.
    virtual void ticketPrinted() {}
};

// Issues a ticket for a slot of a screen; one issue at a time.
class TicketIssuer
{
public:
    virtual ~TicketIssuer() = default;
    virtual void IssueTicket(TicketScreen &screen, int slot) = 0;
    virtual bool issuing() const = 0;
    // Whether the issue in progress only holds the screen after its ticket was printed.
    virtual bool holding() const { return false; }
    // Ends that hold now; nothing when there is none.
    virtual void endHold() {}
    // Watches the printer between tickets; null when there is nothing to watch.
    virtual PrinterMonitor *printerMonitor() { return nullptr; }
};

} // namespace nx7
