#include "kioskmetrics.h"

#include <QDir>
#include <QLoggingCategory>
#include <QSaveFile>
#include <QTimer>

namespace nx7 {

Q_DECLARE_LOGGING_CATEGORY(lcService)

namespace {

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

} // namespace

KioskMetrics::KioskMetrics(QString path, Labels labels, qint64 startSeconds, QObject *parent)
    : QObject(parent), m_path(std::move(path)), m_labels(std::move(labels)),
      m_startSeconds(startSeconds)
{
    if (!m_labels.windows.isEmpty())
        m_window = m_labels.windows.constFirst();
    if (m_path.isEmpty()) {
        qCInfo(lcService) << "no metrics file for the site's monitoring";
        return;
    }
    qCInfo(lcService).noquote() << "metrics for the site's monitoring in"
                                << QDir::toNativeSeparators(m_path);
    // The file's age is the kiosk's pulse: it is renewed even when nothing changes.
    m_refresh = new QTimer(this);
    m_refresh->setInterval(kRefreshMs);
    connect(m_refresh, &QTimer::timeout, this, [this] { write(); });
    m_refresh->start();
    write();
}

void KioskMetrics::setWindow(const QString &window, int activeServices)
{
    m_window = window;
    m_activeServices = activeServices;
    changed();
}

void KioskMetrics::setPrinterState(const QString &state)
{
    m_printerState = state;
    changed();
}

void KioskMetrics::setServer(bool reachable, bool refused)
{
    m_serverReachable = reachable;
    m_serverRefused = refused;
    changed();
}

void KioskMetrics::setServerReconnections(quint64 count)
{
    m_serverReconnections = count;
    changed();
}

void KioskMetrics::ticketIssued(int slot, qint64 atSeconds)
{
    ++m_issued[slot];
    m_highestSlot = qMax(m_highestSlot, slot);
    m_lastTicketSeconds = atSeconds;
    changed();
}

void KioskMetrics::ticketNotPrinted(int slot)
{
    ++m_notPrinted[slot];
    m_highestSlot = qMax(m_highestSlot, slot);
    changed();
}

void KioskMetrics::ticketRefused(int slot, const QString &reason)
{
    ++m_refused[{slot, reason}];
    m_highestSlot = qMax(m_highestSlot, slot);
    changed();
}

void KioskMetrics::changed()
{
    if (!m_path.isEmpty() && text() != m_written)
        write();
}

void KioskMetrics::setEstimatedWait(int slot, std::optional<qint64> seconds)
{
    if (seconds)
        m_estimatedWait.insert(slot, *seconds);
    else
        m_estimatedWait.remove(slot);
    changed();
}

QByteArray KioskMetrics::text() const
{
    QByteArray out;
    Family(out, "nx7totem_build_info", "gauge", "The kiosk's version.")
        .sample(label("version", m_labels.version), 1);
    Family(out, "nx7totem_start_time_seconds", "gauge",
           "When the kiosk started, in seconds since the epoch.")
        .sample({}, m_startSeconds);
    Family window(out, "nx7totem_window_shown", "gauge", "The window on the kiosk's screen (1).");
    for (const QString &name : m_labels.windows)
        window.sample(label("window", name), name == m_window ? 1 : 0);
    Family(out, "nx7totem_active_services", "gauge", "Service buttons on the kiosk screen.")
        .sample({}, m_activeServices);
    Family printer(out, "nx7totem_printer_state", "gauge",
                   "The ticket printer's state as the kiosk screen last found it (1); all 0 "
                   "before the first question.");
    for (const QString &name : m_labels.printerStates)
        printer.sample(label("state", name), name == m_printerState ? 1 : 0);
    if (m_serverReachable) {
        Family(out, "nx7totem_server_reachable", "gauge",
               "Whether the server answered the last ticket or screen load.")
            .sample({}, *m_serverReachable ? 1 : 0);
        Family(out, "nx7totem_server_permission_denied", "gauge",
               "Whether the server refused the kiosk's last statement for lack of rights.")
            .sample({}, m_serverRefused ? 1 : 0);
        Family(out, "nx7totem_server_reconnections_total", "counter",
               "Connections to the server made again after one was lost.")
            .sample({}, qint64(m_serverReconnections));
    }

    // Every slot of the screen, and any slot that ever counted, from 0.
    const int slotCount = qMax(m_activeServices, m_highestSlot);
    Family issued(out, "nx7totem_tickets_issued_total", "counter",
                  "Tickets numbered and recorded in the shared queue, per slot.");
    Family notPrinted(out, "nx7totem_tickets_not_printed_total", "counter",
                      "Tickets recorded in the shared queue that did not come out, per slot.");
    Family refused(out, "nx7totem_tickets_refused_total", "counter",
                   "Touches that gave no ticket, per slot and reason.");
    for (int slot = 1; slot <= slotCount; ++slot) {
        issued.sample(slotLabel(slot), qint64(m_issued.value(slot)));
        notPrinted.sample(slotLabel(slot), qint64(m_notPrinted.value(slot)));
        for (const QString &reason : m_labels.refusalReasons)
            refused.sample(slotLabel(slot) + ',' + label("reason", reason),
                           qint64(m_refused.value({slot, reason})));
    }
    Family estimated(out, "nx7totem_estimated_wait_seconds", "gauge",
                     "The wait estimated for the last ticket of the slot; absent when none.");
    for (auto it = m_estimatedWait.cbegin(); it != m_estimatedWait.cend(); ++it)
        estimated.sample(slotLabel(it.key()), it.value());
    Family(out, "nx7totem_last_ticket_timestamp_seconds", "gauge",
           "When the last ticket was issued, in seconds since the epoch; 0 before the first.")
        .sample({}, m_lastTicketSeconds);
    return out;
}

bool KioskMetrics::write()
{
    if (m_path.isEmpty())
        return false;
    const QByteArray now = text();
    // A reader sees the old file or the new one, never a part: QSaveFile writes a
    // temporary file beside it and renames it over the old one.
    QSaveFile file(m_path);
    const bool written =
        file.open(QIODevice::WriteOnly) && file.write(now) == now.size() && file.commit();
    if (!written) {
        if (!m_failing)
            qCWarning(lcService).noquote()
                << "metrics not written to" << QDir::toNativeSeparators(m_path) << ":"
                << file.errorString() << "(tried again at every change and every"
                << kRefreshMs / 1000 << "s)";
        m_failing = true;
        return false;
    }
    if (m_failing)
        qCInfo(lcService).noquote()
            << "metrics written again to" << QDir::toNativeSeparators(m_path);
    m_failing = false;
    m_written = now;
    return true;
}

} // namespace nx7
