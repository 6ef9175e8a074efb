#include "kioskservice.h"

#include "clock.h"
#include "database.h"
#include "printerstate.h"

namespace nx7 {

KioskService::KioskService(Clock &clock, const QString &version)
    : m_clock(clock), m_state(KioskState::startedAt(version, clock.now().toSecsSinceEpoch())),
      m_metrics(qEnvironmentVariable(MetricsFileVariable), [this] { return m_state.metricsText(); })
{
    m_notifier.setStatus(m_state.statusLine());
}

void KioskService::changed()
{
    m_notifier.setStatus(m_state.statusLine()); // sent only when the line changed
    m_metrics.changed();
}

void KioskService::setServer(KioskState::Server server)
{
    m_state.server = server;
    m_state.serverReconnections = Database::serverReconnections();
    changed();
}

void KioskService::startupWindowShown()
{
    if (m_liveScreens > 0)
        return;
    m_state.setWindow(KioskState::Window::StartupWindow);
    changed();
}

void KioskService::kioskScreenLoaded(int serviceCount, int servicesLeftOut)
{
    ++m_liveScreens;
    m_state.setWindow(KioskState::Window::KioskScreen, serviceCount, servicesLeftOut);
    // Its load has just read the server database.
    setServer(KioskState::Server::Reachable);
}

void KioskService::kioskScreenGone()
{
    if (--m_liveScreens == 0)
        startupWindowShown();
}

void KioskService::followPrinter(PrinterMonitor &monitor)
{
    QObject::connect(&monitor, &PrinterMonitor::printerStateChanged, &m_metrics,
                     [this](const PrinterState &state) {
                         m_state.setPrinter(state);
                         changed();
                     });
}

void KioskService::setVoiceUsable(bool usable)
{
    m_state.voiceUsable = usable;
    changed();
}

void KioskService::setResumedWithoutOperator(const QString &dayStarted)
{
    m_state.resumedDayStart = dayStarted;
    changed();
}

void KioskService::serverAnswered(ServerAnswer answer)
{
    switch (answer) {
    case ServerAnswer::Reached:
        setServer(KioskState::Server::Reachable);
        break;
    case ServerAnswer::Unreachable:
        setServer(KioskState::Server::Unreachable);
        break;
    case ServerAnswer::Refused:
        setServer(KioskState::Server::Refused);
        break;
    }
}

void KioskService::ticketIssued(int slot)
{
    m_state.ticketIssued(slot, m_clock.now().toSecsSinceEpoch());
    changed();
}

void KioskService::numberingShared(bool shared)
{
    m_state.numberingShared = shared;
    changed();
}

void KioskService::waitEstimated(int slot, const std::optional<WaitRange> &wait)
{
    m_state.setEstimatedWait(slot, wait ? std::optional(wait->middleSeconds) : std::nullopt);
    changed();
}

void KioskService::ticketNotPrinted(int slot)
{
    m_state.ticketNotPrinted(slot);
    changed();
}

void KioskService::ticketRefused(int slot, Refusal reason)
{
    m_state.ticketRefused(slot, reason);
    changed();
}

} // namespace nx7
