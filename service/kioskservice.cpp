#include "kioskservice.h"

#include "clock.h"
#include "database.h"
#include "printerstate.h"

namespace nx7 {

namespace {

using Condition = PrinterState::Condition;

// Every state the printer can be in, as the metrics label it, in the order of Condition.
const QList<std::pair<Condition, QString>> kPrinterStates{
    {Condition::Ready, QStringLiteral("ready")},
    {Condition::PaperNearEnd, QStringLiteral("paper_near_end")},
    {Condition::PaperOut, QStringLiteral("paper_out")},
    {Condition::CoverOpen, QStringLiteral("cover_open")},
    {Condition::Unreachable, QStringLiteral("unreachable")},
    {Condition::Failed, QStringLiteral("error")},
    {Condition::LayoutUnusable, QStringLiteral("layout_unusable")},
    {Condition::NoDefaultPrinter, QStringLiteral("no_default_printer")},
};

const QList<std::pair<IssueObserver::Refusal, QString>> kRefusals{
    {IssueObserver::Refusal::PrinterUnavailable, QStringLiteral("printer_unavailable")},
    {IssueObserver::Refusal::NumberingFileUnavailable,
     QStringLiteral("numbering_file_unavailable")},
    {IssueObserver::Refusal::ServerUnavailable, QStringLiteral("server_unavailable")},
    {IssueObserver::Refusal::LocalDatabaseFailed, QStringLiteral("local_database_failed")},
};

const QStringList kWindows{QStringLiteral("starting"), QStringLiteral("startup_window"),
                           QStringLiteral("kiosk_screen")};

template <typename Key> QStringList names(const QList<std::pair<Key, QString>> &table)
{
    QStringList all;
    for (const auto &[key, name] : table)
        all.append(name);
    return all;
}

template <typename Key> QString nameOf(const QList<std::pair<Key, QString>> &table, Key key)
{
    for (const auto &[each, name] : table) {
        if (each == key)
            return name;
    }
    return QString();
}

} // namespace

KioskService::KioskService(Clock &clock, const QString &version)
    : m_clock(clock), m_metrics(qEnvironmentVariable(MetricsFileVariable),
                                {version, kWindows, names(kPrinterStates), names(kRefusals)},
                                clock.now().toSecsSinceEpoch())
{
    QObject::connect(&m_status, &KioskStatus::changed, &m_notifier, &ServiceNotifier::setStatus);
    m_notifier.setStatus(m_status.line());
}

void KioskService::setScreen(KioskStatus::Screen screen, int serviceCount)
{
    m_status.setScreen(screen, serviceCount);
    m_metrics.setWindow(kWindows.at(int(screen)), serviceCount);
}

void KioskService::setServer(KioskStatus::Server server)
{
    m_status.setServer(server);
    m_metrics.setServer(server != KioskStatus::Server::Unreachable,
                        server == KioskStatus::Server::Refused);
    m_metrics.setServerReconnections(Database::serverReconnections());
}

void KioskService::startupWindowShown()
{
    if (m_liveScreens == 0)
        setScreen(KioskStatus::Screen::StartupWindow);
}

void KioskService::kioskScreenLoaded(int serviceCount)
{
    ++m_liveScreens;
    setScreen(KioskStatus::Screen::KioskScreen, serviceCount);
    // Its load has just read the server database.
    setServer(KioskStatus::Server::Reachable);
}

void KioskService::kioskScreenGone()
{
    if (--m_liveScreens == 0)
        setScreen(KioskStatus::Screen::StartupWindow);
}

void KioskService::followPrinter(PrinterMonitor &monitor)
{
    QObject::connect(&monitor, &PrinterMonitor::printerStateChanged, &m_status,
                     [this](const PrinterState &state) {
                         m_status.setPrinterState(state.text());
                         m_metrics.setPrinterState(nameOf(kPrinterStates, state.condition));
                     });
}

void KioskService::serverAnswered(ServerAnswer answer)
{
    switch (answer) {
    case ServerAnswer::Reached:
        setServer(KioskStatus::Server::Reachable);
        break;
    case ServerAnswer::Unreachable:
        setServer(KioskStatus::Server::Unreachable);
        break;
    case ServerAnswer::Refused:
        setServer(KioskStatus::Server::Refused);
        break;
    }
}

void KioskService::ticketIssued(int slot)
{
    m_status.addTicketIssued();
    m_metrics.ticketIssued(slot, m_clock.now().toSecsSinceEpoch());
}

void KioskService::ticketRefused(int slot, Refusal reason)
{
    m_metrics.ticketRefused(slot, nameOf(kRefusals, reason));
}

} // namespace nx7
