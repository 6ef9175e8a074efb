#include "printerstate.h"

#include "printerlog.h"

#include <QTimer>

namespace nx7 {

QString PrinterState::text() const
{
    switch (condition) {
    case Condition::Ready:
        return QStringLiteral("Stampante pronta");
    case Condition::PaperNearEnd:
        return QStringLiteral("Carta in esaurimento");
    case Condition::PaperOut:
        return QStringLiteral("Stampante senza carta");
    case Condition::CoverOpen:
        return QStringLiteral("Sportello della stampante aperto");
    case Condition::Unreachable:
        return QStringLiteral("Stampante non raggiungibile");
    case Condition::LayoutUnusable:
        return QStringLiteral("Modello del biglietto mancante o illeggibile");
    case Condition::NoDefaultPrinter:
        return QStringLiteral("Nessuna stampante predefinita");
    case Condition::Failed:
        break;
    }
    return QStringLiteral("Stampante in errore");
}

PrinterMonitor::PrinterMonitor(Query query, QObject *parent)
    : QObject(parent), m_query(std::move(query)), m_timer(new QTimer(this))
{
    m_timer->setInterval(kIntervalMs);
    connect(m_timer, &QTimer::timeout, this, [this] { poll(); });
}

void PrinterMonitor::start(Busy busy)
{
    m_busy = std::move(busy);
    m_timer->start();
    poll();
}

void PrinterMonitor::stop()
{
    m_timer->stop();
}

bool PrinterMonitor::running() const
{
    return m_timer->isActive();
}

void PrinterMonitor::setInterval(int milliseconds)
{
    m_timer->setInterval(milliseconds);
}

PrinterState PrinterMonitor::poll()
{
    if (m_busy && m_busy())
        return m_state; // never in the middle of a ticket
    report(m_query());
    return m_state;
}

void PrinterMonitor::report(const PrinterState &state)
{
    const bool changed = !m_known || !(state == m_state);
    m_state = state;
    m_known = true;
    if (!changed)
        return;
    if (state.condition == PrinterState::Condition::Ready)
        qCInfo(lcPrinter).noquote() << "printer state:" << state.text();
    else
        qCWarning(lcPrinter).noquote()
            << "printer state:" << state.text()
            << (state.detail.isEmpty() ? QString() : QStringLiteral("(%1)").arg(state.detail));
    Q_EMIT printerStateChanged(state);
}

} // namespace nx7
