#include "fakereceiptprinter.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <map>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace nx7::test {

struct FakeReceiptPrinter::Stream
{
    QByteArray pending;
    QByteArray raster; // the GS v 0 rows so far of the ticket being printed
    int widthBytes = 0;
    qint64 received = 0;
};

namespace {

// The flags of the replies to DLE EOT 1..4 for each State, as printer makers' command
// references give them; every reply also carries the fixed bits 0x12.
constexpr quint8 kReplies[][4] = {
    {0, 0, 0, 0},       {0, 0, 0, 0x0c}, {0x08, 0x20, 0, 0x6c},
    {0x08, 0x04, 0, 0}, {0x08, 0, 0, 0}, {0x08, 0x40, 0x08, 0},
};

} // namespace

FakeReceiptPrinter::FakeReceiptPrinter()
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::bind(m_listener, reinterpret_cast<sockaddr *>(&address), size) != 0 ||
        ::listen(m_listener, 4) != 0 ||
        ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &size) != 0 ||
        ::pipe2(m_wake, O_CLOEXEC) != 0)
        return;
    m_port = ntohs(address.sin_port);
    // The serial side, when the system gives a pseudo-terminal (a container may not).
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (m_master >= 0 && ::grantpt(m_master) == 0 && ::unlockpt(m_master) == 0) {
        m_slaveName = QString::fromLocal8Bit(::ptsname(m_master));
        m_slave = ::open(::ptsname(m_master), O_RDWR | O_NOCTTY);
        termios mode{};
        ::tcgetattr(m_slave, &mode);
        ::cfmakeraw(&mode); // before the kiosk opens it: the replies are never echoed back
        ::tcsetattr(m_slave, TCSANOW, &mode);
    }
    m_thread = std::thread([this] { run(); });
}

FakeReceiptPrinter::~FakeReceiptPrinter()
{
    if (m_thread.joinable()) {
        [[maybe_unused]] const auto written = ::write(m_wake[1], "q", 1);
        m_thread.join();
    }
    for (int fd : {m_listener, m_master, m_slave, m_wake[0], m_wake[1]})
        ::close(fd);
}

void FakeReceiptPrinter::dropConnections()
{
    [[maybe_unused]] const auto written = ::write(m_wake[1], "d", 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(50)); // a loopback close is quick
}

bool FakeReceiptPrinter::waitForTickets(int count, int timeoutMs) const
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return m_tickets.size() >= count; });
}

void FakeReceiptPrinter::finishTicket(Stream &stream, const QString &cut)
{
    // Raster rows are 1 bit a dot, first bit leftmost, 1 = black: Qt's Mono with that table.
    QImage rows(reinterpret_cast<const uchar *>(stream.raster.constData()), stream.widthBytes * 8,
                stream.widthBytes ? int(stream.raster.size() / stream.widthBytes) : 0,
                stream.widthBytes, QImage::Format_Mono);
    rows.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
    {
        std::lock_guard lock(m_mutex);
        m_tickets.append(rows.convertToFormat(QImage::Format_Grayscale8));
        m_cuts.append(cut);
        m_cutTimes.append(std::chrono::steady_clock::now());
    }
    stream.raster.clear();
    if (const int next = m_nextState.exchange(-1); next >= 0)
        m_state = State(next);
    m_changed.notify_all();
}

QByteArray FakeReceiptPrinter::parse(Stream &stream)
{
    QByteArray replies;
    QByteArray &in = stream.pending;
    const auto at = [&](int i) { return i < in.size() ? uchar(in.at(i)) : 0; };
    while (!in.isEmpty()) {
        const auto command = [&](char a, char b) { return at(0) == a && at(1) == b; };
        qsizetype used = 1;
        const qsizetype rasterSize = 8 + (at(4) | at(5) << 8) * (at(6) | at(7) << 8);
        if (command(0x10, 0x04) || command(0x1b, 'd') || command(0x1d, 'V')) {
            used = at(2) == 65 || at(2) == 66 ? 4 : 3; // GS V 65/66 n: feed, then cut
            if (in.size() < used)
                return replies;
            const int n = at(2);
            if (at(0) == 0x10 && n >= 1 && n <= 4 && m_state < State::Silent)
                replies += char(0x12 | kReplies[int(m_state.load())][n - 1]);
            else if (at(0) != 0x10)
                finishTicket(stream, at(0) == 0x1b                  ? QStringLiteral("none")
                                     : n == 0 || n == 48 || n == 65 ? QStringLiteral("full")
                                                                    : QStringLiteral("partial"));
        } else if (command(0x1b, '@')) {
            stream.raster.clear();
            used = 2;
        } else if (command(0x1d, 'v') && at(2) == '0') {
            if (in.size() < 8 || in.size() < rasterSize)
                return replies;
            stream.widthBytes = at(4) | at(5) << 8;
            stream.raster.append(in.constData() + 8, rasterSize - 8);
            used = rasterSize;
        } else if (in.size() < 3 && (at(0) == 0x10 || at(0) == 0x1b || at(0) == 0x1d)) {
            return replies; // the rest of the command is still on its way
        } else {
            ++m_unknownBytes;
        }
        in.remove(0, used);
    }
    return replies;
}

namespace {

// Closed with a reset, as a printer that restarts: the kiosk's next read fails at once.
void resetConnection(int fd)
{
    const linger abort{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    ::close(fd);
}

// Writes what it can; a connection the kiosk closed meanwhile is no signal to this thread.
void sendTo(int fd, const QByteArray &bytes)
{
    if (::send(fd, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL) < 0 && errno == ENOTSOCK)
        [[maybe_unused]]
        const auto written = ::write(fd, bytes.constData(), size_t(bytes.size()));
}

} // namespace

void FakeReceiptPrinter::run()
{
    std::map<int, Stream> streams{{m_master, {}}}; // by descriptor: the terminal, the clients
    const QByteArray noise(4096, '\0');
    for (;;) {
        const bool flooding = m_state == State::Flooding;
        std::vector<pollfd> watched{{m_wake[0], POLLIN, 0}, {m_listener, POLLIN, 0}};
        for (const auto &entry : streams)
            watched.push_back({entry.first,
                               short(POLLIN | (flooding && entry.first != m_master ? POLLOUT : 0)),
                               0});
        ::poll(watched.data(), nfds_t(watched.size()), -1);
        char command = 0;
        if (watched[0].revents && (::read(m_wake[0], &command, 1) != 1 || command != 'd'))
            return;
        if (command == 'd') {
            for (auto it = streams.begin(); it != streams.end();)
                it =
                    it->first == m_master ? std::next(it) : (::close(it->first), streams.erase(it));
            continue;
        }
        const int client = watched[1].revents ? ::accept4(m_listener, nullptr, nullptr,
                                                          SOCK_CLOEXEC | SOCK_NONBLOCK)
                                              : -1;
        if (client >= 0)
            streams[client];
        for (size_t i = 2; i < watched.size(); ++i) {
            const int fd = watched[i].fd;
            const short events = watched[i].revents;
            if (events & POLLOUT)
                sendTo(fd, noise);
            if (!(events & (POLLIN | POLLHUP | POLLERR)))
                continue;
            char buffer[65536];
            ssize_t n = ::read(fd, buffer, sizeof buffer);
            const int dropAfter = m_dropAfter;
            Stream &stream = streams[fd];
            const bool drop =
                fd != m_master && dropAfter > 0 && n > 0 && stream.received + n >= dropAfter;
            if (drop)
                n = ssize_t(dropAfter - stream.received); // what came in before the reset
            if (n <= 0 && fd != m_master) {
                ::close(fd); // the kiosk closed its connection, or it broke
                streams.erase(fd);
            } else if (n > 0) {
                stream.received += n;
                stream.pending.append(buffer, n);
                const QByteArray replies = parse(stream);
                if (drop) {
                    resetConnection(fd);
                    streams.erase(fd);
                    continue;
                }
                sendTo(fd, replies);
            }
        }
    }
}

} // namespace nx7::test
