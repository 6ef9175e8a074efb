#pragma once

#include "calllog.h"
#include "callwatcher.h"
#include "frontend.h"
#include "kioskservice.h"
#include "lamain.h"
#include "speechsession.h"
#include "stationstate.h"
#include "stores.h"
#include "ticketissue.h"
#include "waitestimator.h"

#include <functional>
#include <memory>

namespace nx7 {

class Clock;
class PreviousInstance;
class Printers;
class Shell;
class SpeechEngine;
class Waiter;

// What the kiosk meets outside itself: the desktop, the clock, the printers, the other
// copies of the program and the keypad's voice. The program gives the real ones, a test
// its doubles.
struct KioskDevices
{
    Shell &shell;
    Clock &clock;
    Waiter &waiter;
    Printers &printers;
    PreviousInstance &instance;
    // The keypad's voice, made once the station's voice settings are read; none: the
    // keypad is ignored.
    std::function<SpeechEngine *(const SpeechSettings &)> makeVoice;
};

// The kiosk put together in one place: the stores of the station folder, the station's
// state, the ticket issue, the service's state, the start-up window and the kiosk screens
// it opens, each screen made with its voice and its observer.
class KioskAssembly
{
public:
    KioskAssembly(const QString &stationFolder, const KioskDevices &devices,
                  const QString &version);

    const Stores &stores() const { return m_stores; }
    StationState &state() { return m_state; }
    TicketIssue &issuer() { return m_issuer; }
    KioskService &service() { return m_service; }
    LaMain &startupWindow() { return *m_laMain; }

    // A kiosk screen as the start-up window opens it: loaded, or null when none is shown.
    std::unique_ptr<FrontEnd> makeKioskScreen(QWidget *parent = nullptr);

    // Loads and shows the start-up window; false when its load ended the program.
    bool start();

private:
    Stores m_stores;
    StationState m_state;
    KioskDevices m_devices;
    // The counters' pace, learnt from the numbering files, for the wait on each ticket.
    std::shared_ptr<CallLog> m_calls;
    CallWatcher m_callWatcher;
    WaitEstimator m_waitEstimator;
    bool m_estimating = true; // the station's setting
    TicketIssue m_issuer;
    KioskService m_service;
    SpeechSettings m_speech;
    SpeechEngine *m_voice = nullptr;
    std::unique_ptr<LaMain> m_laMain;
};

// The kiosk with the real desktop, printers and voice, in the current directory, the
// station folder; returns the program's exit code.
int runKiosk(QApplication &app);

} // namespace nx7
