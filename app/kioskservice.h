#pragma once

#include "kioskstatus.h"
#include "servicenotifier.h"
#include "ticketissue.h"

class QDialog;

namespace nx7 {

class PrinterMonitor;

// The kiosk as a service of the system manager: readiness, the watchdog's pings, and the
// status line kept current from the screens and the tickets. Does nothing visible when
// the program was not started by the manager.
class KioskService final : public IssueObserver
{
public:
    KioskService();

    KioskStatus &status() { return m_status; }
    // READY=1 as soon as the first window's event loop runs (the start-up window, or the
    // server-path form or a message that comes before it).
    void notifyReadyWhenRunning() { m_notifier.notifyReadyWhenRunning(); }
    void startupWindowShown();
    // A kiosk screen just made by the factory (null when none is to be shown): the line
    // names it until it is gone.
    void followKioskScreen(QDialog *screen);

    // The printer's state as the kiosk screen's poll finds it.
    void followPrinter(PrinterMonitor &monitor);

    void printerChecked(const QString &problem) override;
    void serverAnswered(bool reached) override;
    void ticketIssued() override { m_status.addTicketIssued(); }

private:
    ServiceNotifier m_notifier;
    KioskStatus m_status;
    int m_liveScreens = 0;
};

} // namespace nx7
