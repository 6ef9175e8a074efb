#include "fakereceiptprinter.h"

#include <QPainter>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <map>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace nx7::test {

struct FakeReceiptPrinter::Stream
{
    QByteArray pending;
    QImage ticket; // rows so far of the ticket being printed
};

namespace {

int listenOnLoopback(quint16 *port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&address), size) != 0 ||
        ::listen(fd, 4) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size) != 0) {
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    *port = ntohs(address.sin_port);
    return fd;
}

// Appends rows of 1-bit raster (MSB first, 1 = black) to a ticket image.
QImage withRows(const QImage &ticket, int widthBytes, int rows, const char *data)
{
    const int width = widthBytes * 8;
    const int top = ticket.isNull() ? 0 : ticket.height();
    QImage grown(width, top + rows, QImage::Format_Grayscale8);
    grown.fill(Qt::white);
    if (!ticket.isNull()) {
        QPainter painter(&grown);
        painter.drawImage(0, 0, ticket);
    }
    for (int y = 0; y < rows; ++y) {
        uchar *line = grown.scanLine(top + y);
        for (int x = 0; x < width; ++x) {
            if (uchar(data[y * widthBytes + x / 8]) & (0x80 >> (x % 8)))
                line[x] = 0;
        }
    }
    return grown;
}

} // namespace

FakeReceiptPrinter::FakeReceiptPrinter()
{
    m_listener = listenOnLoopback(&m_port);
    if (m_listener < 0) {
        m_error = QStringLiteral("no loopback port");
        return;
    }
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) {
        m_error = QStringLiteral("no pseudo-terminal");
        return;
    }
    m_slaveName = QString::fromLocal8Bit(::ptsname(m_master));
    m_slave = ::open(::ptsname(m_master), O_RDWR | O_NOCTTY);
    termios mode{};
    ::tcgetattr(m_slave, &mode);
    ::cfmakeraw(&mode); // before the kiosk opens it: never echo the printer's replies
    ::tcsetattr(m_slave, TCSANOW, &mode);
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    if (::pipe2(m_wake, O_CLOEXEC) != 0) {
        m_error = QStringLiteral("no pipe");
        return;
    }
    m_thread = std::thread([this] { run(); });
}

FakeReceiptPrinter::~FakeReceiptPrinter()
{
    if (m_thread.joinable()) {
        const char stop = 1;
        [[maybe_unused]] const auto written = ::write(m_wake[1], &stop, 1);
        m_thread.join();
    }
    for (int fd : {m_listener, m_master, m_slave, m_wake[0], m_wake[1]}) {
        if (fd >= 0)
            ::close(fd);
    }
}

QString FakeReceiptPrinter::tcpAddress() const
{
    return QStringLiteral("tcp://127.0.0.1:%1").arg(m_port);
}

quint16 FakeReceiptPrinter::closedPort()
{
    quint16 port = 0;
    const int fd = listenOnLoopback(&port);
    ::close(fd);
    return port;
}

void FakeReceiptPrinter::dropConnections()
{
    const char drop = 2;
    [[maybe_unused]] const auto written = ::write(m_wake[1], &drop, 1);
    // Answered by the printer's thread; a loopback close is seen at once.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

void FakeReceiptPrinter::setStateAfterNextCut(State state)
{
    m_nextState = state;
    m_hasNextState = true;
}

QList<QImage> FakeReceiptPrinter::tickets() const
{
    std::lock_guard lock(m_mutex);
    return m_tickets;
}

QStringList FakeReceiptPrinter::cuts() const
{
    std::lock_guard lock(m_mutex);
    return m_cuts;
}

QList<std::chrono::steady_clock::time_point> FakeReceiptPrinter::cutTimes() const
{
    std::lock_guard lock(m_mutex);
    return m_cutTimes;
}

bool FakeReceiptPrinter::waitForTickets(int count, int timeoutMs) const
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return m_tickets.size() >= count; });
}

QByteArray FakeReceiptPrinter::reply(int n) const
{
    // Replies as the command reference gives them: fixed bits 0x12, then the flags.
    constexpr char kFixed = 0x12;
    const auto bytes = [&](char printer, char offline, char error, char paper) {
        const char all[] = {printer, offline, error, paper};
        return QByteArray(1, char(kFixed | all[n - 1]));
    };
    if (n < 1 || n > 4)
        return {};
    switch (m_state.load()) {
    case State::Ready:
        return bytes(0, 0, 0, 0);
    case State::PaperNearEnd:
        return bytes(0, 0, 0, 0x0c);
    case State::PaperOut:
        return bytes(0x08, 0x20, 0, 0x6c);
    case State::CoverOpen:
        return bytes(0x08, 0x04, 0, 0);
    case State::Offline:
        return bytes(0x08, 0, 0, 0);
    case State::CutterError:
        return bytes(0x08, 0x40, 0x08, 0);
    case State::Silent:
        break;
    }
    return {};
}

void FakeReceiptPrinter::finishTicket(Stream &stream, const QString &cut)
{
    {
        std::lock_guard lock(m_mutex);
        m_tickets.append(stream.ticket);
        m_cuts.append(cut);
        m_cutTimes.append(std::chrono::steady_clock::now());
    }
    stream.ticket = QImage();
    if (m_hasNextState.exchange(false))
        m_state = m_nextState.load();
    m_changed.notify_all();
}

QByteArray FakeReceiptPrinter::parse(Stream &stream)
{
    QByteArray answer;
    QByteArray &in = stream.pending;
    for (;;) {
        if (in.isEmpty())
            return answer;
        const auto at = [&](int i) { return uchar(in.at(i)); };
        const char first = in.at(0);
        qsizetype used = 0;
        if (first == 0x10) { // DLE EOT n
            if (in.size() < 3)
                return answer;
            if (at(1) == 0x04) {
                ++m_statusRequests;
                answer += reply(at(2));
                used = 3;
            }
        } else if (first == 0x1b) { // ESC @, ESC d n
            if (in.size() < 2 || (at(1) == 'd' && in.size() < 3))
                return answer;
            if (at(1) == '@') {
                stream.ticket = QImage();
                used = 2;
            } else if (at(1) == 'd') {
                finishTicket(stream, QStringLiteral("none"));
                used = 3;
            }
        } else if (first == 0x1d) { // GS v 0, GS V
            if (in.size() < 3)
                return answer;
            if (at(1) == 'v' && at(2) == '0') {
                if (in.size() < 8)
                    return answer;
                const int widthBytes = at(4) | (at(5) << 8);
                const int rows = at(6) | (at(7) << 8);
                if (in.size() < 8 + widthBytes * rows)
                    return answer;
                stream.ticket = withRows(stream.ticket, widthBytes, rows, in.constData() + 8);
                used = 8 + widthBytes * rows;
            } else if (at(1) == 'V') {
                const int m = at(2);
                const bool withFeed = m == 65 || m == 66;
                if (withFeed && in.size() < 4)
                    return answer;
                const bool full = m == 0 || m == 48 || m == 65;
                finishTicket(stream, full ? QStringLiteral("full") : QStringLiteral("partial"));
                used = withFeed ? 4 : 3;
            }
        }
        if (used == 0) {
            ++m_unknownBytes;
            used = 1;
        }
        in.remove(0, used);
    }
}

void FakeReceiptPrinter::run()
{
    std::map<int, Stream> streams; // by descriptor: the clients and the terminal
    streams[m_master];
    for (;;) {
        std::vector<pollfd> watched{{m_wake[0], POLLIN, 0}, {m_listener, POLLIN, 0}};
        for (const auto &entry : streams)
            watched.push_back({entry.first, POLLIN, 0});
        if (::poll(watched.data(), nfds_t(watched.size()), -1) < 0 && errno != EINTR)
            return;
        if (watched[0].revents) {
            char command = 0;
            if (::read(m_wake[0], &command, 1) != 1 || command != 2)
                return;
            for (auto it = streams.begin(); it != streams.end();) {
                if (it->first == m_master) {
                    ++it;
                    continue;
                }
                ::close(it->first);
                it = streams.erase(it);
            }
            continue;
        }
        if (watched[1].revents & POLLIN) {
            const int client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (client >= 0)
                streams[client];
        }
        for (size_t i = 2; i < watched.size(); ++i) {
            if (!(watched[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            const int fd = watched[i].fd;
            char buffer[65536];
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0 && fd != m_master) {
                ::close(fd);
                streams.erase(fd);
                continue;
            }
            if (n <= 0)
                continue;
            Stream &stream = streams[fd];
            stream.pending.append(buffer, n);
            const QByteArray answer = parse(stream);
            if (!answer.isEmpty()) [[maybe_unused]]
                const auto sent = ::write(fd, answer.constData(), answer.size());
        }
    }
}

} // namespace nx7::test
