#include "kioskcontroller.h"

#include "clock.h"
#include "keypadkeys.h"
#include "kiosklog.h"
#include "printerstate.h"
#include "stationstate.h"
#include "ticketscreen.h"
#include "waitestimator.h"

#include <QCoreApplication>

namespace nx7 {

KioskController::KioskController(StationState &state, Clock &clock, TicketIssuer &issuer,
                                 TicketScreen &screen, KioskView &view, const KioskVoice &voice,
                                 KioskScreenObserver *observer)
    : m_state(state), m_clock(clock), m_issuer(issuer), m_screen(screen), m_view(view),
      m_observer(observer)
{
    if (voice.engine)
        m_speech = std::make_unique<SpeechSession>(*voice.engine, voice.settings);
    m_speechClock.start();
}

KioskController::~KioskController()
{
    if (m_loaded && m_observer)
        m_observer->kioskScreenGone();
}

void KioskController::loaded(const QStringList &serviceNames, int leftOut)
{
    m_services = serviceNames;
    if (m_speech)
        m_speech->setServices(serviceNames);
    m_restartCheck.emplace(m_clock.now());
    m_loaded = true;
    if (m_observer) {
        m_observer->numberingShared(m_state.numbering == StationState::Numbering::Shared);
        m_observer->kioskScreenLoaded(activeServiceCount(), leftOut);
    }
}

bool KioskController::touchSlot(int slot)
{
    if (slot < 1 || slot > activeServiceCount() || bounced(slot))
        return false;
    if (m_speech && m_speech->active()) {
        const int confirmed = m_speech->touchSlot(slot, speechNow());
        followSpeech();
        if (confirmed == 0)
            return false;
        qCInfo(lcKiosk) << "touch on slot" << slot << "confirmed in the keypad session";
        return issue(confirmed);
    }
    qCInfo(lcKiosk) << "touch on slot" << slot << "issues at once";
    return issue(slot);
}

bool KioskController::bounced(int slot) const
{
    if (!m_givenBackAt.isValid())
        return false;
    const qint64 since = m_givenBackAt.msecsTo(m_clock.now());
    if (since < 0 || since >= kBounceMs)
        return false;
    qCInfo(lcKiosk) << "ticket for slot" << slot << "asked" << since
                    << "ms after the screen came back ignored as a bounce";
    return true;
}

// The ticket of a slot, by a touch or a key, unless the printer cannot print.
bool KioskController::issue(int slot)
{
    if (m_outOfService) {
        qCInfo(lcKiosk) << "ticket for slot" << slot << "refused: the printer cannot print";
        return false;
    }
    m_issuer.IssueTicket(m_screen, slot);
    return true;
}

void KioskController::touchedScreen()
{
    // Any touch, on a button or beside them, cuts the keypad customer's words off.
    if (m_speech)
        m_speech->touch(speechNow());
}

bool KioskController::key(int keyCode, KeyPress press)
{
    if (keyCode == Qt::Key_Escape) {
        qCInfo(lcKiosk) << "kiosk screen closed with Escape";
        m_view.closeScreen();
        return true;
    }
    return keypadKey(keyCode, press);
}

bool KioskController::keypadKey(int keyCode, KeyPress press)
{
    if (!m_speech)
        return false;
    const auto key = accessKeyFor(keyCode);
    if (!key)
        return false;
    const int slot = m_speech->key(*key, speechNow(), press);
    followSpeech();
    if (slot > 0 && !bounced(slot))
        issue(slot); // the guards of a touch: the bounce and the printer
    return true;
}

void KioskController::keyReleased(int keyCode, qint64 sentMs)
{
    if (const auto key = accessKeyFor(keyCode); key && m_speech)
        m_speech->keyReleased(*key, sentMs);
}

void KioskController::followSpeech()
{
    if (m_speech)
        m_view.showAccess(m_speech->focus(), m_speech->highContrast());
}

void KioskController::tick()
{
    if (m_speech && m_speech->tick(speechNow()))
        followSpeech();
    if (!m_restartCheck)
        return;
    if (m_restartCheck->tick(m_clock.now(), m_issuer.issuing()))
        nightlyRestart();
    else if (m_restartCheck->pending() && m_issuer.holding())
        m_issuer.endHold(); // the restart waits for a ticket, not for a hold after it
}

void KioskController::nightlyRestart()
{
    qCInfo(lcKiosk) << "nightly restart at" << m_clock.now().toString(Qt::ISODate);
    m_state.restartRequested = true;
    m_state.unattendedRestart = true;
    m_view.closeScreen();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

void KioskController::setPrinterState(const PrinterState &state)
{
    m_outOfService = !state.canPrint();
    // The paper running low is for staff: only a refusal is spoken.
    if (m_speech)
        m_speech->setOutOfService(m_outOfService ? state.text() : QString(), speechNow());
}

void KioskController::noticeShown(const QString &text)
{
    qCInfo(lcKiosk).noquote() << "notice shown:" << QString(text).replace(u'\n', u' ');
    if (m_speech)
        m_speech->notice(text, speechNow());
}

void KioskController::ticketPrinted(const TicketContext &ticket)
{
    // Spoken while the waiting message holds the screen, not after it.
    if (m_speech)
        m_speech->ticketIssued(ticket.issuedNumber, ticket.issuedServiceName, ticket.peopleAhead,
                               speechNow(), WaitEstimateText::spoken(ticket.estimatedWait));
}

void KioskController::screenGivenBack()
{
    m_givenBackAt = m_clock.now();
}

} // namespace nx7
