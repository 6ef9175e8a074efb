#include "kioskstate.h"

namespace nx7 {

namespace {

using Condition = PrinterState::Condition;
using Refusal = KioskState::Refusal;

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

const QList<std::pair<Refusal, QString>> kRefusals{
    {Refusal::PrinterUnavailable, QStringLiteral("printer_unavailable")},
    {Refusal::NumberingFileUnavailable, QStringLiteral("numbering_file_unavailable")},
    {Refusal::ServerUnavailable, QStringLiteral("server_unavailable")},
    {Refusal::LocalDatabaseFailed, QStringLiteral("local_database_failed")},
};

const QList<std::pair<KioskState::Window, QString>> kWindows{
    {KioskState::Window::Starting, QStringLiteral("starting")},
    {KioskState::Window::StartupWindow, QStringLiteral("startup_window")},
    {KioskState::Window::KioskScreen, QStringLiteral("kiosk_screen")},
};

// One metric family: its help and type lines, then its samples; nothing when it has none.
class Family
{
public:
    Family(QByteArray &out, const char *name, const char *type, const char *help)
        : m_out(out), m_name(name), m_header(QByteArray("# HELP ") + name + ' ' + help +
                                             "\n# TYPE " + name + ' ' + type + '\n')
    {
    }

    // `labels` as written between the braces, already quoted.
    void sample(const QByteArray &labels, qint64 value)
    {
        m_out += m_header;
        m_header.clear();
        m_out += m_name;
        if (!labels.isEmpty())
            m_out += '{' + labels + '}';
        m_out += ' ' + QByteArray::number(value) + '\n';
    }

private:
    QByteArray &m_out;
    QByteArray m_name;
    QByteArray m_header;
};

// A label value as the text format quotes it.
QByteArray quoted(const QString &value)
{
    QByteArray text = value.toUtf8();
    text.replace('\\', "\\\\").replace('"', "\\\"").replace('\n', "\\n");
    return '"' + text + '"';
}

QByteArray label(const char *name, const QString &value)
{
    return name + ('=' + quoted(value));
}

QByteArray slotLabel(int slot)
{
    return label("slot", QString::number(slot));
}

QString windowText(KioskState::Window window, int buttons)
{
    switch (window) {
    case KioskState::Window::Starting:
        return QStringLiteral("Avvio in corso");
    case KioskState::Window::StartupWindow:
        return QStringLiteral("Finestra di avvio");
    case KioskState::Window::KioskScreen:
        break;
    }
    return buttons == 1 ? QStringLiteral("Schermo del totem con 1 servizio")
                        : QStringLiteral("Schermo del totem con %1 servizi").arg(buttons);
}

QString serverText(KioskState::Server server)
{
    switch (server) {
    case KioskState::Server::Unknown:
        break;
    case KioskState::Server::Reachable:
        return QStringLiteral("server raggiungibile");
    case KioskState::Server::Unreachable:
        return QStringLiteral("server NON raggiungibile");
    case KioskState::Server::Refused: // reached: the fault is the kiosk's rights, not the network
        return QStringLiteral("Permessi insufficienti sul server");
    }
    return QStringLiteral("server non verificato");
}

} // namespace

KioskState KioskState::startedAt(const QString &version, qint64 startSeconds)
{
    KioskState state;
    state.version = version;
    state.startSeconds = startSeconds;
    return state;
}

void KioskState::setWindow(Window shown, int buttons, int leftOut)
{
    window = shown;
    const bool screen = shown == Window::KioskScreen;
    serviceButtons = screen ? buttons : 0;
    servicesLeftOut = screen ? leftOut : 0;
}

void KioskState::setPrinter(const PrinterState &state)
{
    printerText = state.text();
    printer = state.condition;
}

void KioskState::ticketIssued(int slot, qint64 atSeconds)
{
    ++ticketsIssued;
    ++issuedPerSlot[slot];
    highestSlot = qMax(highestSlot, slot);
    lastTicketSeconds = atSeconds;
}

void KioskState::setEstimatedWait(int slot, std::optional<qint64> seconds)
{
    if (seconds)
        estimatedWaitSeconds.insert(slot, *seconds);
    else
        estimatedWaitSeconds.remove(slot);
}

void KioskState::ticketNotPrinted(int slot)
{
    ++notPrintedPerSlot[slot];
    highestSlot = qMax(highestSlot, slot);
}

void KioskState::ticketRefused(int slot, Refusal reason)
{
    ++refusedPerSlot[{slot, reason}];
    highestSlot = qMax(highestSlot, slot);
}

QString KioskState::statusLine() const
{
    // The printer's words are those staff read on the kiosk screen ("Stampante senza carta").
    const QString printerWords = printerText.isEmpty()
                                     ? QStringLiteral("stampante non verificata")
                                     : printerText.simplified(); // the line stays one line
    QStringList parts{windowText(window, serviceButtons), printerWords, serverText(server)};
    if (servicesLeftOut > 0) // the customers of the others find no button
        parts << QStringLiteral("servizi attivi: %1, lo schermo ne mostra al massimo %2")
                     .arg(serviceButtons + servicesLeftOut)
                     .arg(serviceButtons);
    if (!resumedDayStart.isEmpty()) // why nobody was asked at the start-up window
        parts << QStringLiteral("ripreso da solo dopo un arresto non richiesto, numerazione "
                                "del giorno avviata alle %1")
                     .arg(resumedDayStart);
    if (numberingShared)
        parts << QStringLiteral("numerazione condivisa tra i totem sul server");
    if (!voiceUsable) // said only when it matters: most kiosks never start a voice
        parts << QStringLiteral("voce del tastierino NON disponibile");
    return (parts << QStringLiteral("ticket emessi: %1").arg(ticketsIssued))
        .join(QStringLiteral("; "));
}

QByteArray KioskState::metricsText() const
{
    QByteArray out;
    Family(out, "nx7totem_build_info", "gauge", "The kiosk's version.")
        .sample(label("version", version), 1);
    Family(out, "nx7totem_start_time_seconds", "gauge",
           "When the kiosk started, in seconds since the epoch.")
        .sample({}, startSeconds);
    Family shown(out, "nx7totem_window_shown", "gauge", "The window on the kiosk's screen (1).");
    for (const auto &[each, name] : kWindows)
        shown.sample(label("window", name), each == window ? 1 : 0);
    Family(out, "nx7totem_active_services", "gauge", "Service buttons on the kiosk screen.")
        .sample({}, serviceButtons);
    Family(out, "nx7totem_services_without_button", "gauge",
           "Active services beyond what the kiosk screen's layouts hold.")
        .sample({}, servicesLeftOut);
    Family printerState(out, "nx7totem_printer_state", "gauge",
                        "The ticket printer's state as the kiosk screen last found it (1); all 0 "
                        "before the first question.");
    for (const auto &[condition, name] : kPrinterStates)
        printerState.sample(label("state", name), condition == printer ? 1 : 0);
    if (server != Server::Unknown) {
        // Reached but refused is still a reachable server.
        Family(out, "nx7totem_server_reachable", "gauge",
               "Whether the server answered the last ticket or screen load.")
            .sample({}, server != Server::Unreachable ? 1 : 0);
        Family(out, "nx7totem_server_permission_denied", "gauge",
               "Whether the server refused the kiosk's last statement for lack of rights.")
            .sample({}, server == Server::Refused ? 1 : 0);
        Family(out, "nx7totem_server_reconnections_total", "counter",
               "Connections to the server made again after one was lost.")
            .sample({}, qint64(serverReconnections));
    }

    // Every slot of the screen, and any slot that ever counted, from 0.
    const int slotCount = qMax(serviceButtons, highestSlot);
    Family issued(out, "nx7totem_tickets_issued_total", "counter",
                  "Tickets numbered and recorded in the shared queue, per slot.");
    Family notPrinted(out, "nx7totem_tickets_not_printed_total", "counter",
                      "Tickets recorded in the shared queue that did not come out, per slot.");
    Family refused(out, "nx7totem_tickets_refused_total", "counter",
                   "Touches that gave no ticket, per slot and reason.");
    for (int slot = 1; slot <= slotCount; ++slot) {
        issued.sample(slotLabel(slot), qint64(issuedPerSlot.value(slot)));
        notPrinted.sample(slotLabel(slot), qint64(notPrintedPerSlot.value(slot)));
        for (const auto &[reason, name] : kRefusals)
            refused.sample(slotLabel(slot) + ',' + label("reason", name),
                           qint64(refusedPerSlot.value({slot, reason})));
    }
    Family estimated(out, "nx7totem_estimated_wait_seconds", "gauge",
                     "The wait estimated for the last ticket of the slot; absent when none.");
    for (auto it = estimatedWaitSeconds.cbegin(); it != estimatedWaitSeconds.cend(); ++it)
        estimated.sample(slotLabel(it.key()), it.value());
    Family(out, "nx7totem_last_ticket_timestamp_seconds", "gauge",
           "When the last ticket was issued, in seconds since the epoch; 0 before the first.")
        .sample({}, lastTicketSeconds);
    return out;
}

} // namespace nx7
