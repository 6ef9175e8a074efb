#pragma once

#include <QObject>
#include <QString>

#include <chrono>

class QTimer;

namespace nx7 {

// The kiosk's side of the service manager's notify protocol: readiness, the status line
// and the watchdog's pings. Started without NOTIFY_SOCKET (by hand, by the tests) it
// sends nothing and starts no timer.
//
// The pings come from a timer of the thread that makes the notifier, the GUI thread: they
// stop when its event loop stops turning, which is what the watchdog is there to see.
// Nested loops (modal forms, waits, print runs) deliver timers, so they keep pinging.
class ServiceNotifier : public QObject
{
    Q_OBJECT
public:
    explicit ServiceNotifier(QObject *parent = nullptr);

    // Whether a service manager listens.
    bool active() const { return m_active; }
    // Half the watchdog interval the manager asked for; zero when there is no watchdog
    // for this process.
    std::chrono::milliseconds pingInterval() const { return m_pingInterval; }

    // READY=1 with the current status, once; later calls do nothing.
    void notifyReady();
    // READY=1 as soon as the event loop (the main one or the first nested one) runs.
    void notifyReadyWhenRunning();
    // STATUS=..., sent only when the line changes.
    void setStatus(const QString &line);

private:
    void send(const QByteArray &message);
    void ping();

    bool m_active = false;
    bool m_ready = false;
    bool m_failureLogged = false;
    std::chrono::milliseconds m_pingInterval{0};
    QTimer *m_watchdog = nullptr;
    QString m_status;
};

} // namespace nx7
