#include "kioskservice.h"

#include "frontend.h"
#include "printerstate.h"

namespace nx7 {

KioskService::KioskService()
{
    QObject::connect(&m_status, &KioskStatus::changed, &m_notifier, &ServiceNotifier::setStatus);
    m_notifier.setStatus(m_status.line());
}

void KioskService::startupWindowShown()
{
    if (m_liveScreens == 0)
        m_status.setScreen(KioskStatus::Screen::StartupWindow);
}

void KioskService::followKioskScreen(QDialog *screen)
{
    const auto *frontEnd = qobject_cast<const FrontEnd *>(screen);
    if (!frontEnd)
        return;
    ++m_liveScreens;
    m_status.setScreen(KioskStatus::Screen::KioskScreen, frontEnd->activeServiceCount());
    // Its load has just read the server database.
    m_status.setServerReachable(true);
    // The next screen of a nightly restart may be made before this one is gone.
    QObject::connect(screen, &QObject::destroyed, &m_status, [this] {
        if (--m_liveScreens == 0)
            m_status.setScreen(KioskStatus::Screen::StartupWindow);
    });
}

void KioskService::printerChecked(const QString &problem)
{
    m_status.setPrinterState(problem.isEmpty()
                                 ? QStringLiteral("Stampante pronta")
                                 : QStringLiteral("Stampante non disponibile (%1)").arg(problem));
}

void KioskService::followPrinter(PrinterMonitor &monitor)
{
    QObject::connect(&monitor, &PrinterMonitor::printerStateChanged, &m_status,
                     [this](const PrinterState &state) { m_status.setPrinterState(state.text()); });
}

void KioskService::serverAnswered(bool reached)
{
    m_status.setServerReachable(reached);
}

} // namespace nx7
