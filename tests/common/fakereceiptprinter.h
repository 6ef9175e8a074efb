#pragma once

#include <QImage>
#include <QList>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace nx7::test {

// A thermal receipt printer that speaks ESC/POS, on a loopback TCP port and on a
// pseudo-terminal (a serial port for the kiosk), on a thread of its own so that the kiosk
// may wait for it on the test's thread. It answers DLE EOT n from the state the test sets
// and decodes ESC @, GS v 0 raster and the cut back into one image per ticket.
class FakeReceiptPrinter
{
public:
    // In the order of the reply table in the .cpp; Silent takes every byte, answers nothing;
    // Flooding answers nothing either and sends bytes without end on its network
    // connections (a noisy line).
    enum class State
    {
        Ready,
        PaperNearEnd,
        PaperOut,
        CoverOpen,
        Offline,
        CutterError,
        Silent,
        Flooding
    };

    FakeReceiptPrinter();
    ~FakeReceiptPrinter();

    bool ok() const { return m_thread.joinable(); }
    QString tcpAddress() const { return QStringLiteral("tcp://127.0.0.1:%1").arg(m_port); }
    QString serialDevice() const { return m_slaveName; } // empty without pseudo-terminals

    void setState(State state) { m_state = state; }
    // The state taken as soon as the next ticket has been cut.
    void setStateAfterNextCut(State state) { m_nextState = int(state); }
    // Closes the kiosk's connections, as a printer switched off and on.
    void dropConnections();
    // Resets every network connection once it has carried `bytes` (0: never), as a printer
    // that restarts in mid-ticket; a new connection is answered as before.
    void setDropAfterBytes(int bytes) { m_dropAfter = bytes; }

    // Every ticket cut so far, how ("partial", "full", "none") and when.
    QList<QImage> tickets() const { return locked(m_tickets); }
    QStringList cuts() const { return locked(m_cuts); }
    QList<std::chrono::steady_clock::time_point> cutTimes() const { return locked(m_cutTimes); }
    bool waitForTickets(int count, int timeoutMs) const;
    // Bytes that are no command this printer knows.
    int unknownBytes() const { return m_unknownBytes; }

private:
    struct Stream;
    template <typename T> T locked(const T &value) const
    {
        std::lock_guard lock(m_mutex);
        return value;
    }
    void run();
    QByteArray parse(Stream &stream); // returns the replies to send back
    void finishTicket(Stream &stream, const QString &cut);

    int m_listener = -1;
    quint16 m_port = 0;
    int m_master = -1;
    int m_slave = -1; // kept open: the terminal lives between the kiosk's opens
    QString m_slaveName;
    int m_wake[2] = {-1, -1};
    std::atomic<State> m_state{State::Ready};
    std::atomic<int> m_nextState{-1};
    std::atomic<int> m_unknownBytes{0};
    std::atomic<int> m_dropAfter{0};
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    QList<QImage> m_tickets;
    QStringList m_cuts;
    QList<std::chrono::steady_clock::time_point> m_cutTimes;
    std::thread m_thread;
};

} // namespace nx7::test
