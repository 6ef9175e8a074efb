#pragma once

#include "speechengine.h"

#include <QString>
#include <QStringList>

#include <optional>

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

// How a key came: as the keyboard's repeat of a key held down, and when the keyboard sent it
// (milliseconds of the device's own clock; 0 when unknown, and then the session's time
// counts). Keys queued while the screen was busy are told apart by when they were pressed.
struct KeyPress
{
    bool autoRepeat = false;
    qint64 sentMs = 0;
};

struct SpeechSettings
{
    bool enabled = true;
    int defaultVolumeStep = VolumeSteps::kDefault;
    int rate = 160; // words per minute
    // A second press of the same key this soon after the first is ignored: a tremor or a
    // bounce is not a second choice.
    int repeatDelayMs = 400;
};

// The keypad customer's session: which service is selected, the volume, the high-contrast
// view, and what is said. It begins with the first key and ends by itself; a customer who
// only touches the screen never starts one and hears nothing. In a session a touch on a
// service button only selects and says it; a second touch on it, or 5, takes the ticket.
// Times are milliseconds of a steady clock the caller owns.
class SpeechSession
{
public:
    static constexpr qint64 kIdleEndMs = 30000;
    static constexpr qint64 kAfterTicketEndMs = 10000;
    // The customer is told this long before the session ends that a key keeps it.
    static constexpr qint64 kWarningMs = 10000;
    // A second touch on the same button within this time takes its ticket.
    static constexpr qint64 kTouchConfirmMs = 5000;

    SpeechSession(SpeechEngine &engine, const SpeechSettings &settings);

    void setServices(const QStringList &names);
    // The screen refuses tickets for this reason; empty when it takes them again.
    void setOutOfService(const QString &reason, qint64 nowMs);

    // Returns the slot (1..n) to issue a ticket for, 0 when the key issues nothing. The
    // keyboard's own repeats of a held key do nothing: one press, one action.
    int key(AccessKey key, qint64 nowMs, KeyPress press = {});
    // A key let go, at the time the keyboard sent it (0: unknown).
    void keyReleased(AccessKey key, qint64 sentMs);
    // A touch on the screen cuts the current words off.
    void touch(qint64 nowMs);
    // A touch on the button of a slot during a session: the slot to issue a ticket for when
    // it confirms the touch before it, else 0 (the slot is selected and said).
    int touchSlot(int slot, qint64 nowMs);
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
    static QString endingWarning();
    static QString ticketText(qint32 number, const QString &service, qint32 peopleAhead,
                              const QString &waitText = {});

private:
    void begin(qint64 nowMs);
    void end();
    void say(const QString &text, bool remember = true);
    QString serviceText() const;
    QString stateText() const;
    QString helpText() const;
    void move(int delta);
    void changeVolume(int delta);
    int take();
    bool ignoredPress(AccessKey key, qint64 nowMs, KeyPress press);
    qint64 endsAtMs() const;
    void keepAlive(qint64 nowMs);

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
    QString m_ticketWords; // the session's ticket, for help to say again
    bool m_warned = false; // the end was announced since the last key
    std::optional<AccessKey> m_lastPress;
    qint64 m_lastPressMs = 0;
    qint64 m_lastReleaseMs = -1; // when the last pressed key was let go
    bool m_ignoring = false;     // presses of one key ignored in a run
    int m_touchedSlot = 0;       // the slot a touch selected, waiting for its confirmation
    qint64 m_touchedMs = 0;
};

} // namespace nx7
