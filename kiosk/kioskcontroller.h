#pragma once

#include "nightlyrestart.h"
#include "speechsession.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace nx7 {

class Clock;
class SpeechEngine;
class TicketIssuer;
class TicketScreen;
struct PrinterState;
struct StationState;
struct TicketContext;

// What the kiosk screen's rules ask of the screen that draws them.
class KioskView
{
public:
    virtual ~KioskView() = default;
    // Escape, or the nightly restart: the screen goes and the start-up window comes back.
    virtual void closeScreen() = 0;
    // The keypad customer's view: the frame round the selected slot (0: none) and the
    // high-contrast view.
    virtual void showAccess(int focusSlot, bool highContrast) = 0;
};

// Who follows the kiosk screens from outside: the service's state.
class KioskScreenObserver
{
public:
    virtual ~KioskScreenObserver() = default;
    // A screen loaded and about to be shown, with its service buttons and the active
    // services beyond what its layouts hold.
    virtual void kioskScreenLoaded(int serviceCount, int servicesLeftOut) = 0;
    // Whether the loaded screen's tickets take their numbers from the server's shared
    // numbering, told before it is loaded.
    virtual void numberingShared(bool shared) { Q_UNUSED(shared); }
    // That screen is gone.
    virtual void kioskScreenGone() = 0;
};

// The keypad beside the screen and its voice; without an engine the keypad is ignored.
struct KioskVoice
{
    SpeechEngine *engine = nullptr;
    SpeechSettings settings;
};

// The rules of the kiosk screen, without a widget: the road of a touch and of a keypad key
// (the bounce and out-of-service guards, the keypad selection and the voice), the
// one-second tick (the nightly restart, the end of the keypad session), and what a notice
// or a ticket says. It reports to the view, the voice and the observer it is given.
class KioskController
{
public:
    // Touches this soon after the screen is given back are taken for a bounce of the
    // touch that issued the ticket.
    static constexpr int kBounceMs = 400;

    KioskController(StationState &state, Clock &clock, TicketIssuer &issuer, TicketScreen &screen,
                    KioskView &view, const KioskVoice &voice,
                    KioskScreenObserver *observer = nullptr);
    ~KioskController();

    // The screen's services are loaded: slot n is item n - 1; `leftOut` more are active
    // than the screen lays out. The restart clock starts.
    void loaded(const QStringList &serviceNames, int leftOut = 0);

    // A touch on the button of a slot; true when a ticket issue ran. In a keypad session
    // the first touch only selects and says the service.
    bool touchSlot(int slot);
    // Any touch on the screen, on a button or beside them.
    void touchedScreen();
    // Escape first, then the keypad customer's keys; true when the key is one of theirs.
    bool key(int keyCode, KeyPress press = {});
    void keyReleased(int keyCode, qint64 sentMs);
    // Every second while the screen is up.
    void tick();
    void nightlyRestart();

    // The printer's state: out of service while it cannot print.
    void setPrinterState(const PrinterState &state);
    void noticeShown(const QString &text);
    void ticketPrinted(const TicketContext &ticket);
    // The screen is given back to customers after an issue.
    void screenGivenBack();

    bool outOfService() const { return m_outOfService; }
    int activeServiceCount() const { return int(m_services.size()); }
    SpeechSession *speech() const { return m_speech.get(); }

private:
    qint64 speechNow() const { return m_speechClock.elapsed(); }
    bool keypadKey(int keyCode, KeyPress press);
    bool bounced(int slot) const;
    bool issue(int slot);
    void followSpeech();

    StationState &m_state;
    Clock &m_clock;
    TicketIssuer &m_issuer;
    TicketScreen &m_screen;
    KioskView &m_view;
    KioskScreenObserver *m_observer;
    std::unique_ptr<SpeechSession> m_speech;
    QElapsedTimer m_speechClock;
    QStringList m_services;
    std::optional<NightlyRestartCheck> m_restartCheck;
    QDateTime m_givenBackAt; // when the screen was last given back after an issue
    bool m_outOfService = false;
    bool m_loaded = false;
};

} // namespace nx7
