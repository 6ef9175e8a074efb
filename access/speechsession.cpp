#include "speechsession.h"

#include "accesslog.h"

#include <algorithm>

namespace nx7 {

SpeechSession::SpeechSession(SpeechEngine &engine, const SpeechSettings &settings)
    : m_engine(engine), m_settings(settings),
      m_volume(std::clamp(settings.defaultVolumeStep, VolumeSteps::kMin, VolumeSteps::kMax))
{
    m_settings.defaultVolumeStep = m_volume;
}

void SpeechSession::setServices(const QStringList &names)
{
    m_services = names;
    if (m_focus > m_services.size())
        m_focus = 0;
}

QString SpeechSession::instructions()
{
    return QStringLiteral(
        "Per scegliere il servizio usi i tasti 8 e 2, oppure le frecce. Per prendere il numero "
        "prema 5 oppure Invio. Asterisco ripete l'aiuto, più e meno cambiano il volume, la "
        "barra attiva il contrasto elevato.");
}

QString SpeechSession::endingWarning()
{
    return QStringLiteral(
        "La sessione sta per terminare. Prema un tasto qualsiasi per continuare.");
}

QString SpeechSession::ticketText(qint32 number, const QString &service, qint32 peopleAhead,
                                  const QString &waitText)
{
    const QString ahead = peopleAhead <= 0 ? QStringLiteral("Nessuna persona prima di lei.")
                          : peopleAhead == 1
                              ? QStringLiteral("Una persona prima di lei.")
                              : QStringLiteral("%1 persone prima di lei.").arg(peopleAhead);
    // The expected wait, when there is one, follows the people ahead it comes from.
    const QString wait = waitText.isEmpty() ? QString() : waitText + u' ';
    return QStringLiteral("Il suo numero è %1, servizio %2. %3 %4Ritiri il biglietto dalla "
                          "fessura sotto lo schermo.")
        .arg(number)
        .arg(service.trimmed(), ahead, wait);
}

void SpeechSession::say(const QString &text, bool remember)
{
    if (remember)
        m_last = text;
    if (!m_settings.enabled)
        return;
    qCInfo(lcAccess).noquote() << QStringLiteral("spoken at volume %1: %2").arg(m_volume).arg(text);
    m_engine.speak(text, m_volume);
}

void SpeechSession::begin(qint64 nowMs)
{
    m_active = true;
    m_lastKeyMs = nowMs;
    m_ticketSpokenMs = -1;
    m_ticketWords.clear();
    m_warned = false;
    qCInfo(lcAccess) << "keypad session started";
    m_engine.beginSession();
    QString welcome = QStringLiteral("Benvenuto. ") + instructions() +
                      QStringLiteral(" Servizi disponibili: %1.").arg(m_services.size());
    if (!m_outOfService.isEmpty())
        welcome += QStringLiteral(" Servizio momentaneamente sospeso: %1.").arg(m_outOfService);
    say(welcome);
}

void SpeechSession::end()
{
    // The next customer finds the kiosk as an office expects it: quiet and plain.
    m_active = false;
    m_focus = 0;
    m_volume = m_settings.defaultVolumeStep;
    m_highContrast = false;
    m_ticketSpokenMs = -1;
    m_ticketWords.clear();
    m_warned = false;
    m_touchedSlot = 0;
    m_last.clear();
    qCInfo(lcAccess) << "keypad session ended";
}

QString SpeechSession::serviceText() const
{
    return QStringLiteral("%1, servizio %2 di %3")
        .arg(m_services.at(m_focus - 1).trimmed())
        .arg(m_focus)
        .arg(m_services.size());
}

QString SpeechSession::stateText() const
{
    return QStringLiteral("Volume %1 di %2. %3")
        .arg(m_volume)
        .arg(VolumeSteps::kMax)
        .arg(m_highContrast ? QStringLiteral("Contrasto elevato attivo.")
                            : QStringLiteral("Contrasto elevato non attivo."));
}

// The ticket first while the session lasts (what is printed can be heard again), then what
// can only be seen or guessed otherwise, then how to use the keys and the last words.
QString SpeechSession::helpText() const
{
    QStringList parts;
    if (!m_ticketWords.isEmpty())
        parts << m_ticketWords;
    parts << stateText() << instructions();
    if (!m_last.isEmpty() && m_last != m_ticketWords)
        parts << m_last;
    return parts.join(u' ');
}

void SpeechSession::changeVolume(int delta)
{
    m_volume = std::clamp(m_volume + delta, VolumeSteps::kMin, VolumeSteps::kMax);
    if (m_volume == VolumeSteps::kMax)
        say(QStringLiteral("Volume massimo"));
    else if (m_volume == VolumeSteps::kMin)
        say(QStringLiteral("Volume minimo"));
    else
        say(QStringLiteral("Volume %1 di %2").arg(m_volume).arg(VolumeSteps::kMax));
}

void SpeechSession::move(int delta)
{
    if (m_services.isEmpty()) {
        say(QStringLiteral("Nessun servizio disponibile."));
        return;
    }
    const int count = int(m_services.size());
    if (m_focus == 0)
        m_focus = delta > 0 ? 1 : count;
    else
        m_focus = (m_focus - 1 + delta + count) % count + 1;
    say(serviceText());
}

int SpeechSession::take()
{
    if (!m_outOfService.isEmpty()) {
        say(QStringLiteral("Servizio momentaneamente sospeso: %1.").arg(m_outOfService));
        return 0;
    }
    if (m_focus == 0) {
        say(QStringLiteral("Nessun servizio scelto. Usi i tasti 8 e 2 per sceglierlo."));
        return 0;
    }
    return m_focus;
}

// A held key's repeats, and a press of the same key within the station's repeat delay of
// the press before it (ignored or not, so that a tremor's run of presses counts once), do
// nothing at all: a leaning hand or a tremor takes one step and at most one ticket.
bool SpeechSession::ignoredPress(AccessKey key, qint64 nowMs, KeyPress press)
{
    const qint64 pressedMs = press.sentMs > 0 ? press.sentMs : nowMs;
    const bool sameKey = m_lastPress == key;
    const qint64 since = pressedMs - m_lastPressMs;
    // A finger cannot lift and press again within the same millisecond: a release and a
    // press sent together are a keyboard repeating a held key, whatever the toolkit saw.
    const bool repeat =
        press.autoRepeat || (sameKey && press.sentMs > 0 && press.sentMs == m_lastReleaseMs);
    const bool tooSoon = sameKey && since >= 0 && since < m_settings.repeatDelayMs;
    m_lastPress = key;
    m_lastPressMs = pressedMs;
    if (!repeat && !tooSoon) {
        m_ignoring = false;
        return false;
    }
    if (!m_ignoring) // once per run: a held key repeats 25 times a second
        qCInfo(lcAccess).noquote()
            << (repeat ? QStringLiteral("key held down: its repeats are ignored")
                       : QStringLiteral("same key again after %1 ms ignored (repeat delay %2 ms)")
                             .arg(since)
                             .arg(m_settings.repeatDelayMs));
    m_ignoring = true;
    return true;
}

void SpeechSession::keyReleased(AccessKey key, qint64 sentMs)
{
    if (m_lastPress == key)
        m_lastReleaseMs = sentMs;
}

int SpeechSession::key(AccessKey key, qint64 nowMs, KeyPress press)
{
    if (ignoredPress(key, nowMs, press))
        return 0;
    m_engine.stop(); // every key cuts the current words off
    if (!m_active) {
        begin(nowMs); // the first key only welcomes: it issues nothing
        return 0;
    }
    // Any key gives the full time again, also after the ticket: a customer still pressing
    // keys is not done.
    m_ticketSpokenMs = -1;
    keepAlive(nowMs);
    switch (key) {
    case AccessKey::Next:
        move(1);
        return 0;
    case AccessKey::Previous:
        move(-1);
        return 0;
    case AccessKey::Take:
        return take();
    case AccessKey::Help:
        say(helpText(), false);
        return 0;
    case AccessKey::VolumeUp:
        changeVolume(1);
        return 0;
    case AccessKey::VolumeDown:
        changeVolume(-1);
        return 0;
    case AccessKey::Contrast:
        m_highContrast = !m_highContrast;
        say(m_highContrast ? QStringLiteral("Contrasto elevato attivato")
                           : QStringLiteral("Contrasto elevato disattivato"));
        return 0;
    }
    return 0;
}

void SpeechSession::touch(qint64 nowMs)
{
    if (!m_active)
        return; // a touch-only customer hears nothing
    m_engine.stop();
    keepAlive(nowMs);
}

// A touch gives the idle time again; it does not undo the end after a ticket, which the
// next customer touching the screen is likely to meet.
void SpeechSession::keepAlive(qint64 nowMs)
{
    m_lastKeyMs = nowMs;
    if (m_ticketSpokenMs < 0)
        m_warned = false;
}

int SpeechSession::touchSlot(int slot, qint64 nowMs)
{
    if (!m_active || slot < 1 || slot > m_services.size())
        return 0;
    const bool confirms =
        m_touchedSlot == slot && m_focus == slot && nowMs - m_touchedMs <= kTouchConfirmMs;
    m_touchedSlot = 0;
    keepAlive(nowMs);
    if (confirms) {
        qCInfo(lcAccess) << "second touch on slot" << slot << "takes its ticket";
        return take();
    }
    // A hand feeling the screen for the buttons must not take a ticket by finding one.
    qCInfo(lcAccess) << "touch on slot" << slot << "selects it";
    m_engine.stop();
    m_focus = slot;
    m_touchedSlot = slot;
    m_touchedMs = nowMs;
    say(serviceText() +
        QStringLiteral(". Prema 5 per il numero, oppure tocchi di nuovo lo stesso pulsante"));
    return 0;
}

void SpeechSession::ticketIssued(qint32 number, const QString &service, qint32 peopleAhead,
                                 qint64 nowMs, const QString &waitText)
{
    if (!m_active)
        return;
    m_engine.stop();
    // The session ends kAfterTicketEndMs after the ticket unless a key comes: the warning
    // is due at once, so the ticket's own words carry it.
    m_ticketWords = ticketText(number, service, peopleAhead, waitText);
    say(m_ticketWords + u' ' + endingWarning(), false);
    m_last = m_ticketWords;
    m_ticketSpokenMs = nowMs;
    m_warned = true;
}

void SpeechSession::notice(const QString &text, qint64)
{
    if (!m_active)
        return;
    m_engine.stop();
    say(QString(text).replace(u'\n', u' ').simplified());
}

void SpeechSession::setOutOfService(const QString &reason, qint64)
{
    if (reason == m_outOfService)
        return;
    m_outOfService = reason;
    if (!m_active)
        return;
    m_engine.stop();
    say(reason.isEmpty() ? QStringLiteral("Il servizio è di nuovo disponibile.")
                         : QStringLiteral("Servizio momentaneamente sospeso: %1.").arg(reason));
}

bool SpeechSession::tick(qint64 nowMs)
{
    if (!m_active)
        return false;
    const qint64 endsAt = endsAtMs();
    if (nowMs >= endsAt) {
        end();
        return true;
    }
    if (!m_warned && nowMs >= endsAt - kWarningMs) {
        m_warned = true;
        m_engine.stop();
        say(endingWarning(), false);
    }
    return false;
}

qint64 SpeechSession::endsAtMs() const
{
    const qint64 idleEnd = m_lastKeyMs + kIdleEndMs;
    return m_ticketSpokenMs >= 0 ? std::min(idleEnd, m_ticketSpokenMs + kAfterTicketEndMs)
                                 : idleEnd;
}

} // namespace nx7
