#include "escposlink.h"

#include "printtarget.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace nx7 {

namespace {

Error linkError(const QString &text)
{
    return Error::make(ErrorNumber::PrinterError, text);
}

QString systemText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

std::optional<speed_t> speedOf(int baud)
{
    switch (baud) {
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    case 230400:
        return B230400;
    default:
        return std::nullopt;
    }
}

// Waits for `events` on `fd`; false on timeout. EINTR restarts with the time left.
bool waitFor(int fd, short events, int timeoutMs)
{
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        pollfd p{fd, events, 0};
        const int left = std::max(0, timeoutMs - int(waited.elapsed()));
        const int ready = ::poll(&p, 1, left);
        if (ready > 0)
            return true;
        if (ready == 0 || errno != EINTR)
            return false;
    }
}

// Waits like waitFor, but a long wait keeps the event loop's timers running: a ticket at
// 9600 baud takes most of a minute to go out, and the watchdog's pings must not stop
// while it does. Input stays queued, as during any print run.
constexpr int kLongWaitMs = 1000;

bool waitTurningTheLoop(int fd, short events, int timeoutMs)
{
    constexpr int kSliceMs = 100;
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        const int left = timeoutMs - int(waited.elapsed());
        if (left <= 0)
            return false;
        if (waitFor(fd, events, std::min(left, kSliceMs)))
            return true;
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents |
                                        QEventLoop::ExcludeSocketNotifiers);
    }
}

// A socket or a device, non-blocking.
class DescriptorLink final : public EscPosLink
{
public:
    explicit DescriptorLink(const EscPos::Settings &settings)
        : m_address(settings.address), m_baud(settings.baud)
    {
    }
    ~DescriptorLink() override
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    DescriptorLink(const DescriptorLink &) = delete;
    DescriptorLink &operator=(const DescriptorLink &) = delete;

    Status open(const EscPos::Settings &settings, int connectMs)
    {
        return settings.isNetwork() ? connectTcp(settings, connectMs) : openDevice(settings);
    }

    Status write(const QByteArray &bytes, int stallMs) override
    {
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t n =
                m_socket ? ::send(m_fd, bytes.constData() + done, size_t(bytes.size() - done),
                                  MSG_NOSIGNAL)
                         : ::write(m_fd, bytes.constData() + done, size_t(bytes.size() - done));
            if (n > 0) {
                done += n;
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                if (!waitTurningTheLoop(m_fd, POLLOUT, stallMs))
                    return linkError(QStringLiteral("%1 non accetta dati da %2 ms (%3 di %4 "
                                                    "byte inviati)")
                                         .arg(m_address)
                                         .arg(stallMs)
                                         .arg(done)
                                         .arg(bytes.size()));
                continue;
            }
            return linkError(QStringLiteral("scrittura su %1 non riuscita: %2")
                                 .arg(m_address, systemText(errno)));
        }
        return {};
    }

    // How long the line may still be carrying what was written: a serial port's buffers
    // (the driver's, an adapter's) hold several kB, seconds at 9600 baud. Nothing for a
    // socket or a USB printer, which take the bytes only as fast as they print them.
    int lineDelayMs() const override
    {
        constexpr qint64 kLineBufferBytes = 16384;
        return m_socket || !::isatty(m_fd) || m_baud <= 0
                   ? 0
                   : int(kLineBufferBytes * 10 * 1000 / m_baud); // 10 bits a byte
    }

    // Throws away whatever the printer sent unasked (late replies, automatic status), at
    // most kDrainBytes or kDrainMs: a line that never falls quiet must not hold the kiosk's
    // only thread.
    Drained drain() override
    {
        constexpr qint64 kDrainBytes = 4096;
        constexpr qint64 kDrainMs = 200;
        char buffer[256];
        qint64 thrown = 0;
        QElapsedTimer draining;
        draining.start();
        while (waitFor(m_fd, POLLIN, 0)) {
            if (thrown >= kDrainBytes || draining.elapsed() >= kDrainMs)
                return Drained::Flooding;
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN))
                return Drained::Closed;
            if (n < 0 && errno == EAGAIN)
                break;
            thrown += std::max<ssize_t>(n, 0);
        }
        return Drained::Quiet;
    }

    // One byte within `timeoutMs`; nullopt on timeout, and with `closed` set when the
    // connection ended or broke instead.
    std::optional<quint8> readByte(int timeoutMs, bool *closed) override
    {
        // Only the long wait after a cut (during a ticket, seconds on a slow serial line)
        // keeps timers running; the short questions of the idle poll run nothing inside.
        const auto wait = timeoutMs >= kLongWaitMs ? waitTurningTheLoop : waitFor;
        QElapsedTimer waited;
        waited.start();
        for (;;) {
            const int left = timeoutMs - int(waited.elapsed());
            if (left <= 0 || !wait(m_fd, POLLIN, left))
                return std::nullopt;
            quint8 byte = 0;
            const ssize_t n = ::read(m_fd, &byte, 1);
            if (n == 1)
                return byte;
            if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
                *closed = true;
                return std::nullopt;
            }
        }
    }

private:
    Status connectTcp(const EscPos::Settings &settings, int connectMs)
    {
        const auto [host, port] = *settings.hostAndPort();
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        // An address, never a name: a name server that does not answer would hold the
        // kiosk's screen for tens of seconds at every question.
        hints.ai_flags = AI_NUMERICSERV | AI_NUMERICHOST;
        addrinfo *found = nullptr;
        const QByteArray portText = QByteArray::number(port);
        if (const int rc =
                ::getaddrinfo(host.toUtf8().constData(), portText.constData(), &hints, &found);
            rc != 0)
            return linkError(
                QStringLiteral("%1 non è un indirizzo IP: in Ticket.lbl va l'indirizzo "
                               "fisso della stampante, non un nome")
                    .arg(host));
        QString failure;
        for (addrinfo *a = found; a && m_fd < 0; a = a->ai_next) {
            const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            if (fd < 0)
                continue;
            int error = 0;
            if (::connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
                error = errno;
                if (error == EINPROGRESS) {
                    error = ETIMEDOUT;
                    if (waitFor(fd, POLLOUT, connectMs)) {
                        socklen_t size = sizeof error;
                        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size);
                    }
                }
            }
            if (error != 0) {
                failure = systemText(error);
                ::close(fd);
                continue;
            }
            // Status requests are three bytes: never held back waiting for an ack.
            const int on = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            m_fd = fd;
            m_socket = true;
        }
        ::freeaddrinfo(found);
        if (m_fd < 0)
            return linkError(
                QStringLiteral("connessione a %1 non riuscita: %2").arg(m_address, failure));
        return {};
    }

    Status openDevice(const EscPos::Settings &settings)
    {
        const QByteArray path = settings.address.toLocal8Bit();
        m_fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (m_fd < 0)
            return linkError(QStringLiteral("il dispositivo %1 non si apre in lettura e "
                                            "scrittura: %2")
                                 .arg(m_address, systemText(errno)));
        if (!::isatty(m_fd))
            return {}; // a USB printer class device: nothing to set
        // A serial port: raw bytes both ways, no echo, the printer's speed.
        const auto speed = speedOf(settings.baud);
        termios mode{};
        if (!speed)
            return linkError(
                QStringLiteral("baud=%1 non è una velocità seriale ammessa").arg(settings.baud));
        if (::tcgetattr(m_fd, &mode) != 0)
            return linkError(QStringLiteral("la porta %1 non si configura: %2")
                                 .arg(m_address, systemText(errno)));
        ::cfmakeraw(&mode);
        mode.c_cflag |= CLOCAL | CREAD;
        ::cfsetispeed(&mode, *speed);
        ::cfsetospeed(&mode, *speed);
        if (::tcsetattr(m_fd, TCSANOW, &mode) != 0)
            return linkError(QStringLiteral("la porta %1 non si configura: %2")
                                 .arg(m_address, systemText(errno)));
        return {};
    }

    QString m_address;
    int m_baud;
    int m_fd = -1;
    bool m_socket = false;
};

} // namespace

Result<std::unique_ptr<EscPosLink>> openEscPosLink(const EscPos::Settings &settings, int connectMs)
{
    auto link = std::make_unique<DescriptorLink>(settings);
    if (Status opened = link->open(settings, connectMs); !opened)
        return opened.error();
    return std::unique_ptr<EscPosLink>(std::move(link));
}

} // namespace nx7
