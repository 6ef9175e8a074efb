#pragma once

#include "kioskcontroller.h"
#include "kioskmetrics.h"
#include "kioskstate.h"
#include "servicenotifier.h"
#include "ticketissue.h"

namespace nx7 {

class Clock;
class PrinterMonitor;

// The kiosk as a service of the system manager: readiness, the watchdog's pings, and the
// kiosk's state kept current from the screens and the tickets, told as the status line and
// written as the metrics file for the site's monitoring. Does nothing visible when the
// program was not started by the manager and no metrics file is set.
class KioskService final : public IssueObserver, public KioskScreenObserver
{
public:
    // Where the metrics go, set by the package's unit; unset: no metrics are written.
    static constexpr const char *MetricsFileVariable = "NX7TOTEM_METRICS_FILE";

    // `version`: the program's, as the metrics carry it.
    KioskService(Clock &clock, const QString &version);

    const KioskState &state() const { return m_state; }
    QString statusLine() const { return m_state.statusLine(); }
    // READY=1 as soon as the first window's event loop runs (the start-up window, or the
    // server-path form or a message that comes before it).
    void notifyReadyWhenRunning() { m_notifier.notifyReadyWhenRunning(); }
    void startupWindowShown();
    // A kiosk screen loaded: the line names it until it is gone. The next screen of a
    // nightly restart may be loaded before this one is gone.
    void kioskScreenLoaded(int serviceCount, int servicesLeftOut) override;
    void numberingShared(bool shared) override;
    void kioskScreenGone() override;

    // The printer's state as the kiosk screen's poll finds it.
    void followPrinter(PrinterMonitor &monitor);
    // The keypad's voice cannot be heard (no sound device, or one that failed).
    void setVoiceUsable(bool usable);
    // The kiosk went back to serving by itself after a stop nobody asked for (a crash, the
    // watchdog, a power cut), on a day whose numbering started at `dayStarted` ("HH:mm").
    void setResumedWithoutOperator(const QString &dayStarted);

    void serverAnswered(ServerAnswer answer) override;
    void ticketIssued(int slot) override;
    void ticketNotPrinted(int slot) override;
    void ticketRefused(int slot, Refusal reason) override;
    void waitEstimated(int slot, const std::optional<WaitRange> &wait) override;

private:
    void setServer(KioskState::Server server);
    // Both renderings follow every change.
    void changed();

    Clock &m_clock;
    ServiceNotifier m_notifier;
    KioskState m_state;
    KioskMetrics m_metrics; // after the state it reads
    int m_liveScreens = 0;
};

} // namespace nx7
