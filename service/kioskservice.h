#pragma once

#include "kioskcontroller.h"
#include "kioskmetrics.h"
#include "kioskstatus.h"
#include "servicenotifier.h"
#include "ticketissue.h"

namespace nx7 {

class Clock;
class PrinterMonitor;

// The kiosk as a service of the system manager: readiness, the watchdog's pings, and the
// status line kept current from the screens and the tickets; and the same state in the
// metrics file for the site's monitoring. Does nothing visible when the program was not
// started by the manager and no metrics file is set.
class KioskService final : public IssueObserver, public KioskScreenObserver
{
public:
    // Where the metrics go, set by the package's unit; unset: no metrics are written.
    static constexpr const char *MetricsFileVariable = "NX7TOTEM_METRICS_FILE";

    // `version`: the program's, as the metrics carry it.
    KioskService(Clock &clock, const QString &version);

    KioskStatus &status() { return m_status; }
    const KioskMetrics &metrics() const { return m_metrics; }
    // READY=1 as soon as the first window's event loop runs (the start-up window, or the
    // server-path form or a message that comes before it).
    void notifyReadyWhenRunning() { m_notifier.notifyReadyWhenRunning(); }
    void startupWindowShown();
    // A kiosk screen loaded: the line names it until it is gone. The next screen of a
    // nightly restart may be loaded before this one is gone.
    void kioskScreenLoaded(int serviceCount) override;
    void numberingShared(bool shared) override { m_status.setNumberingShared(shared); }
    void kioskScreenGone() override;

    // The printer's state as the kiosk screen's poll finds it.
    void followPrinter(PrinterMonitor &monitor);

    void serverAnswered(ServerAnswer answer) override;
    void ticketIssued(int slot) override;
    void ticketNotPrinted(int slot) override { m_metrics.ticketNotPrinted(slot); }
    void ticketRefused(int slot, Refusal reason) override;

private:
    void setScreen(KioskStatus::Screen screen, int serviceCount = 0);
    void setServer(KioskStatus::Server server);

    Clock &m_clock;
    ServiceNotifier m_notifier;
    KioskStatus m_status;
    KioskMetrics m_metrics;
    int m_liveScreens = 0;
};

} // namespace nx7
