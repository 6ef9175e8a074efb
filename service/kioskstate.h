#pragma once

#include "printerstate.h"
#include "ticketissue.h"

#include <QByteArray>
#include <QMap>
#include <QString>

#include <optional>

namespace nx7 {

// What the kiosk is doing, held once and read two ways: the one Italian line that tells a
// technician (shown by `systemctl status`) and the metrics file for the site's monitoring
// (the Prometheus text format). No timestamps beyond the start and the last ticket, no
// ticket numbers, no customer data: slots, reasons and states are the only labels, and
// every label value a state may take is written, 0 or 1, so that an alert sees a state
// that was never entered as 0 rather than as missing.
struct KioskState
{
    enum class Window
    {
        Starting,
        StartupWindow,
        KioskScreen
    };

    enum class Server
    {
        Unknown,
        Reachable,
        Unreachable,
        Refused // it answered, but refused the kiosk's statement for lack of rights
    };

    using Refusal = IssueObserver::Refusal;

    QString version;
    qint64 startSeconds = 0; // when the kiosk started, in seconds since the epoch
    Window window = Window::Starting;
    int serviceButtons = 0;  // on the kiosk screen
    int servicesLeftOut = 0; // active services beyond what the screen's layouts hold
    QString printerText;     // as staff read it on the kiosk screen; empty until asked
    std::optional<PrinterState::Condition> printer;
    Server server = Server::Unknown;
    quint64 serverReconnections = 0;
    bool voiceUsable = true;
    bool numberingShared = false; // the server numbers the tickets of every kiosk
    QString resumedDayStart; // "HH:mm": the day resumed by itself after a stop nobody asked for
    int ticketsIssued = 0;
    qint64 lastTicketSeconds = 0;
    int highestSlot = 0;
    QMap<int, quint64> issuedPerSlot;
    QMap<int, quint64> notPrintedPerSlot;
    QMap<std::pair<int, Refusal>, quint64> refusedPerSlot;
    // The middle of the wait printed on each slot's last ticket; a slot whose last ticket
    // carried none is absent.
    QMap<int, qint64> estimatedWaitSeconds;

    static KioskState startedAt(const QString &version, qint64 startSeconds);

    void setWindow(Window shown, int buttons = 0, int leftOut = 0);
    void setPrinter(const PrinterState &state);
    void ticketIssued(int slot, qint64 atSeconds);
    void ticketNotPrinted(int slot);
    void ticketRefused(int slot, Refusal reason);
    void setEstimatedWait(int slot, std::optional<qint64> seconds);

    QString statusLine() const;
    QByteArray metricsText() const;
};

} // namespace nx7
