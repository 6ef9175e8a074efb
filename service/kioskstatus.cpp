#include "kioskstatus.h"

#include <QStringList>

namespace nx7 {

KioskStatus::KioskStatus(QObject *parent) : QObject(parent), m_line(line()) {}

void KioskStatus::setScreen(Screen screen, int serviceCount)
{
    m_screen = screen;
    m_serviceCount = screen == Screen::KioskScreen ? serviceCount : 0;
    update();
}

void KioskStatus::setPrinterState(const QString &text)
{
    m_printer = text.simplified(); // the line stays one line
    update();
}

void KioskStatus::setNumberingShared(bool shared)
{
    m_numberingShared = shared;
    update();
}

void KioskStatus::setServerReachable(bool reachable)
{
    setServer(reachable ? Server::Reachable : Server::Unreachable);
}

void KioskStatus::setServer(Server server)
{
    m_server = server;
    update();
}

void KioskStatus::setVoiceUsable(bool usable)
{
    m_voiceUsable = usable;
    update();
}

void KioskStatus::setResumedWithoutOperator(const QString &dayStarted)
{
    m_resumedDayStart = dayStarted;
    update();
}

void KioskStatus::setTicketsIssued(int count)
{
    m_tickets = count;
    update();
}

QString KioskStatus::line() const
{
    QString screen;
    switch (m_screen) {
    case Screen::Starting:
        screen = QStringLiteral("Avvio in corso");
        break;
    case Screen::StartupWindow:
        screen = QStringLiteral("Finestra di avvio");
        break;
    case Screen::KioskScreen:
        screen = m_serviceCount == 1
                     ? QStringLiteral("Schermo del totem con 1 servizio")
                     : QStringLiteral("Schermo del totem con %1 servizi").arg(m_serviceCount);
        break;
    }
    QString server;
    switch (m_server) {
    case Server::Unknown:
        server = QStringLiteral("server non verificato");
        break;
    case Server::Reachable:
        server = QStringLiteral("server raggiungibile");
        break;
    case Server::Unreachable:
        server = QStringLiteral("server NON raggiungibile");
        break;
    case Server::Refused: // reached: the fault is the kiosk's rights, not the network
        server = QStringLiteral("Permessi insufficienti sul server");
        break;
    }
    // The printer's words are those staff read on the kiosk screen ("Stampante senza carta").
    const QString printer =
        m_printer.isEmpty() ? QStringLiteral("stampante non verificata") : m_printer;
    QStringList parts{screen, printer, server};
    if (!m_resumedDayStart.isEmpty()) // why nobody was asked at the start-up window
        parts << QStringLiteral("ripreso da solo dopo un arresto non richiesto, numerazione "
                                "del giorno avviata alle %1")
                     .arg(m_resumedDayStart);
    if (m_numberingShared)
        parts << QStringLiteral("numerazione condivisa tra i totem sul server");
    if (!m_voiceUsable) // said only when it matters: most kiosks never start a voice
        parts << QStringLiteral("voce del tastierino NON disponibile");
    return (parts << QStringLiteral("ticket emessi: %1").arg(m_tickets)).join(QStringLiteral("; "));
}

void KioskStatus::update()
{
    QString now = line();
    if (now == m_line)
        return;
    m_line = std::move(now);
    emit changed(m_line);
}

} // namespace nx7
