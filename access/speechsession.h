#pragma once

#include "speechengine.h"

#include <QString>
#include <QStringList>

namespace nx7 {

// The keys of the keypad beside the screen, by meaning.
enum class AccessKey
{
    Next,
    Previous,
    Take,
    Help,
    VolumeUp,
    VolumeDown,
    Contrast
};

struct SpeechSettings
{
    bool enabled = true;
    int defaultVolumeStep = VolumeSteps::kDefault;
    int rate = 160; // words per minute
};

// The keypad customer's session: which service is selected, the volume, the high-contrast
// view, and what is said. It begins with the first key and ends by itself; a customer who
// only touches the screen never starts one and hears nothing. Times are milliseconds of a
// steady clock the caller owns.
class SpeechSession
{
public:
    static constexpr qint64 kIdleEndMs = 30000;
    static constexpr qint64 kAfterTicketEndMs = 10000;

    SpeechSession(SpeechEngine &engine, const SpeechSettings &settings);

    void setServices(const QStringList &names);
    // The screen refuses tickets for this reason; empty when it takes them again.
    void setOutOfService(const QString &reason, qint64 nowMs);

    // Returns the slot (1..n) to issue a ticket for, 0 when the key issues nothing.
    int key(AccessKey key, qint64 nowMs);
    // A touch on the screen cuts the current words off.
    void touch(qint64 nowMs);
    // `waitText`: the expected wait as said ("Attesa stimata da 10 a 15 minuti."), or empty.
    void ticketIssued(qint32 number, const QString &service, qint32 peopleAhead, qint64 nowMs,
                      const QString &waitText = {});
    // A message the screen shows a customer.
    void notice(const QString &text, qint64 nowMs);
    // Ends the session when its time is up; true when it ended now.
    bool tick(qint64 nowMs);

    bool active() const { return m_active; }
    int focus() const { return m_focus; } // slot 1..n, 0 for none
    int volumeStep() const { return m_volume; }
    bool highContrast() const { return m_highContrast; }
    QString lastUtterance() const { return m_last; }

    static QString instructions();
    static QString ticketText(qint32 number, const QString &service, qint32 peopleAhead,
                              const QString &waitText = {});

private:
    void begin(qint64 nowMs);
    void end();
    void say(const QString &text, bool remember = true);
    QString serviceText() const;
    void move(int delta);
    int take();

    SpeechEngine &m_engine;
    SpeechSettings m_settings;
    QStringList m_services;
    QString m_outOfService;
    bool m_active = false;
    int m_focus = 0;
    int m_volume;
    bool m_highContrast = false;
    QString m_last;
    qint64 m_lastKeyMs = 0;
    qint64 m_ticketSpokenMs = -1;
};

} // namespace nx7
