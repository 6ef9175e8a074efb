#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>

class QSocketNotifier;

namespace nx7 {

// Stops the kiosk cleanly when the system manager stops or restarts it (SIGTERM), and on
// SIGHUP and SIGINT: the ticket being issued is finished first, for at most a bound, then
// the program ends from its event loop, so that the voice's thread is joined and no file
// or print is left half-done. A second signal while waiting ends at once.
class SignalStop final : public QObject
{
    Q_OBJECT
public:
    using Busy = std::function<bool()>;
    using Stop = std::function<void()>;
    // Longer than a ticket's print, well inside the manager's stop timeout (90 s).
    static constexpr int kTicketBoundMs = 15000;

    // `ticketInProgress` tells whether a ticket is being issued; `stop` ends the program.
    SignalStop(Busy ticketInProgress, Stop stop, int boundMs = kTicketBoundMs,
               QObject *parent = nullptr);
    ~SignalStop() override;
    SignalStop(const SignalStop &) = delete;
    SignalStop &operator=(const SignalStop &) = delete;

private:
    void signalled();
    void stopWhenIdle();

    Busy m_ticketInProgress;
    Stop m_stop;
    int m_boundMs;
    int m_fds[2] = {-1, -1};
    QSocketNotifier *m_notifier = nullptr;
    QTimer m_poll;
    QElapsedTimer m_waiting;
    const char *m_signalName = "";
    bool m_stopping = false;
};

} // namespace nx7
