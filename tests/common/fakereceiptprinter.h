#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace nx7::test {

// A thermal receipt printer that speaks ESC/POS, on a loopback TCP port and on a
// pseudo-terminal (a serial port for the kiosk). It answers DLE EOT n from the state the
// test sets, and decodes ESC @, GS v 0 raster and the cut back into one image per ticket.
// It runs on a thread of its own, so that the kiosk may wait for it on the test's thread.
class FakeReceiptPrinter
{
public:
    enum class State
    {
        Ready,
        PaperNearEnd,
        PaperOut,
        CoverOpen,
        Offline,
        CutterError,
        Silent, // takes every byte, answers nothing
    };

    FakeReceiptPrinter();
    ~FakeReceiptPrinter();
    FakeReceiptPrinter(const FakeReceiptPrinter &) = delete;
    FakeReceiptPrinter &operator=(const FakeReceiptPrinter &) = delete;

    bool ok() const { return m_error.isEmpty(); }
    QString error() const { return m_error; }
    QString tcpAddress() const; // tcp://127.0.0.1:PORT
    QString serialDevice() const { return m_slaveName; }

    void setState(State state) { m_state = state; }
    // Closes the connections of the kiosk, as a printer that was switched off and on.
    void dropConnections();
    // The state to take as soon as the next ticket has been cut.
    void setStateAfterNextCut(State state);

    // Every ticket cut so far, and how it was cut ("partial", "full", "none").
    QList<QImage> tickets() const;
    QStringList cuts() const;
    // When each cut arrived, on the steady clock.
    QList<std::chrono::steady_clock::time_point> cutTimes() const;
    int statusRequests() const { return m_statusRequests; }
    // Bytes that are no command this printer knows.
    int unknownBytes() const { return m_unknownBytes; }
    bool waitForTickets(int count, int timeoutMs) const;

    // A loopback port on which nothing listens.
    static quint16 closedPort();

private:
    struct Stream; // the parser of one connection
    void run();
    // Takes what it can from the stream's bytes; the reply to send back, if any.
    QByteArray parse(Stream &stream);
    void finishTicket(Stream &stream, const QString &cut);
    QByteArray reply(int n) const;

    QString m_error;
    int m_listener = -1;
    quint16 m_port = 0;
    int m_master = -1;
    int m_slave = -1; // kept open so that the terminal lives between the kiosk's opens
    QString m_slaveName;
    int m_wake[2] = {-1, -1};
    std::atomic<State> m_state{State::Ready};
    std::atomic<bool> m_hasNextState{false};
    std::atomic<State> m_nextState{State::Ready};
    std::atomic<int> m_statusRequests{0};
    std::atomic<int> m_unknownBytes{0};
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    QList<QImage> m_tickets;
    QStringList m_cuts;
    QList<std::chrono::steady_clock::time_point> m_cutTimes;
    std::thread m_thread;
};

} // namespace nx7::test
