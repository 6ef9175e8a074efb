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

int SpeechSession::key(AccessKey key, qint64 nowMs)
{
    m_engine.stop(); // every key cuts the current words off
    if (!m_active) {
        begin(nowMs); // the first key only welcomes: it issues nothing
        return 0;
    }
    m_lastKeyMs = nowMs;
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
        say(instructions() + u' ' + m_last, false);
        return 0;
    case AccessKey::VolumeUp:
    case AccessKey::VolumeDown:
        m_volume = std::clamp(m_volume + (key == AccessKey::VolumeUp ? 1 : -1), VolumeSteps::kMin,
                              VolumeSteps::kMax);
        say(QStringLiteral("Volume %1 di %2").arg(m_volume).arg(VolumeSteps::kMax));
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
    m_lastKeyMs = nowMs;
}

void SpeechSession::ticketIssued(qint32 number, const QString &service, qint32 peopleAhead,
                                 qint64 nowMs, const QString &waitText)
{
    if (!m_active)
        return;
    m_engine.stop();
    say(ticketText(number, service, peopleAhead, waitText));
    m_ticketSpokenMs = nowMs;
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
    const bool idle = nowMs - m_lastKeyMs >= kIdleEndMs;
    const bool served = m_ticketSpokenMs >= 0 && nowMs - m_ticketSpokenMs >= kAfterTicketEndMs;
    if (!idle && !served)
        return false;
    end();
    return true;
}

} // namespace nx7
