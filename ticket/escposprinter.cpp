#include "escposprinter.h"

#include "ticketlog.h"
#include "ticketprinter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPainter>

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

} // namespace

// One open connection to the printer: a socket or a device, non-blocking, every wait
// bounded by a timeout.
class EscPosLink
{
public:
    explicit EscPosLink(QString address) : m_address(std::move(address)) {}
    ~EscPosLink()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    EscPosLink(const EscPosLink &) = delete;
    EscPosLink &operator=(const EscPosLink &) = delete;

    const QString &address() const { return m_address; }
    bool used() const { return m_used; }
    void markUsed() { m_used = true; }

    Status open(const EscPos::Settings &settings, int connectMs)
    {
        return settings.isNetwork() ? connectTcp(settings, connectMs) : openDevice(settings);
    }

    Status write(const QByteArray &bytes, int stallMs)
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
    int lineDelayMs(int baud) const
    {
        constexpr qint64 kLineBufferBytes = 16384;
        return m_socket || !::isatty(m_fd) || baud <= 0
                   ? 0
                   : int(kLineBufferBytes * 10 * 1000 / baud); // 10 bits a byte
    }

    enum class Drained
    {
        Quiet,   // nothing more is waiting
        Closed,  // the other end has closed the connection
        Flooding // it keeps sending: line noise, a device such as /dev/zero
    };

    // Throws away whatever the printer sent unasked (late replies, automatic status), at
    // most kDrainBytes or kDrainMs: a line that never falls quiet must not hold the kiosk's
    // only thread.
    Drained drain()
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
    std::optional<quint8> readByte(int timeoutMs, bool *closed)
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
    int m_fd = -1;
    bool m_socket = false;
    bool m_used = false;
};

EscPosPrinter::EscPosPrinter() = default;
EscPosPrinter::~EscPosPrinter() = default;

Result<EscPosLink *> EscPosPrinter::link(const EscPos::Settings &settings)
{
    if (m_link && m_link->address() == settings.address)
        return m_link.get();
    m_link.reset();
    auto fresh = std::make_unique<EscPosLink>(settings.address);
    if (Status opened = fresh->open(settings, m_timeouts.connectMs); !opened)
        return opened.error();
    m_link = std::move(fresh);
    return m_link.get();
}

std::optional<EscPos::StatusReplies> EscPosPrinter::exchange(EscPosLink &link, int replyMs,
                                                             QString *problem, bool *flooding)
{
    switch (link.drain()) {
    case EscPosLink::Drained::Closed:
        *problem = QStringLiteral("la stampante ha chiuso la connessione");
        return std::nullopt;
    case EscPosLink::Drained::Flooding:
        *flooding = true;
        *problem = QStringLiteral("la linea invia dati senza sosta (disturbi o dispositivo "
                                  "sbagliato)");
        return std::nullopt;
    case EscPosLink::Drained::Quiet:
        break;
    }
    std::array<quint8, 4> replies{};
    for (int n = 1; n <= 4; ++n) {
        if (Status sent = link.write(EscPos::statusRequest(n), replyMs); !sent) {
            *problem = sent.error().description;
            return std::nullopt;
        }
        bool closed = false;
        const auto reply = link.readByte(replyMs, &closed);
        if (!reply) {
            *problem = closed ? QStringLiteral("la stampante ha chiuso la connessione")
                              : QStringLiteral("nessuna risposta a DLE EOT %1 entro %2 ms")
                                    .arg(n)
                                    .arg(replyMs);
            return std::nullopt;
        }
        replies[size_t(n - 1)] = *reply;
    }
    return EscPos::StatusReplies{replies[0], replies[1], replies[2], replies[3]};
}

PrinterState EscPosPrinter::state(const EscPos::Settings &settings)
{
    // A connection kept from before may have died with the printer's restart: one more
    // try on a fresh one before the printer is called unreachable.
    for (int attempt = 0; attempt < 2; ++attempt) {
        auto open = link(settings);
        if (!open)
            return PrinterState{PrinterState::Condition::Unreachable, open.error().description};
        const bool wasUsed = (*open)->used();
        bool lost = false;
        const PrinterState now = askOn(**open, settings, m_timeouts.replyMs, &lost);
        if (!lost || !wasUsed)
            return now;
    }
    return PrinterState{PrinterState::Condition::Unreachable, settings.address};
}

PrinterState EscPosPrinter::askOn(EscPosLink &link, const EscPos::Settings &settings, int replyMs,
                                  bool *lost)
{
    QString problem;
    bool flooding = false;
    const auto replies = exchange(link, replyMs, &problem, &flooding);
    if (replies) {
        link.markUsed();
        return EscPos::decode(*replies);
    }
    // The link is closed at once: the next question starts on a fresh one.
    m_link.reset();
    *lost = !flooding;
    return PrinterState{flooding ? PrinterState::Condition::Failed
                                 : PrinterState::Condition::Unreachable,
                        QStringLiteral("%1: %2").arg(settings.address, problem)};
}

Status EscPosPrinter::send(const EscPos::Settings &settings, const QByteArray &bytes)
{
    auto open = link(settings);
    if (!open)
        return open.error();
    Status sent = (*open)->write(bytes, m_timeouts.stallMs);
    if (!sent) {
        m_link.reset();
        return Error::make(ErrorNumber::PrinterError,
                           QStringLiteral("connessione persa durante l'invio del ticket: %1")
                               .arg(sent.error().description));
    }
    (*open)->markUsed();
    return {};
}

Status EscPosPrinter::print(const EscPos::Settings &settings, const QSizeF &pageSizeMm,
                            int pageCount, const PagePainter &paintPage)
{
    m_lastBytes = 0;
    m_afterCut = PrinterState{};
    QElapsedTimer rendering;
    rendering.start();
    QByteArray bytes;
    for (int page = 0; page < pageCount; ++page) {
        QImage image = EscPos::blankPage(pageSizeMm, settings.dots);
        QPainter painter(&image);
        paintPage(painter, page);
        painter.end();
        bytes += EscPos::initialize() + EscPos::raster(image) + EscPos::feedAndCut(settings.cut);
    }
    m_lastRenderMs = double(rendering.nsecsElapsed()) / 1e6;
    if (Status sent = send(settings, bytes); !sent)
        return sent;
    m_lastBytes = bytes.size();
    // Asked on the connection that carried the ticket, never on a fresh one: a printer
    // that dropped it in mid-ticket answers "ready" to a new connection without having
    // cut anything.
    EscPosLink &carrier = *m_link;
    bool lost = false;
    m_afterCut =
        askOn(carrier, settings, m_timeouts.afterCutMs + carrier.lineDelayMs(settings.baud), &lost);
    if (lost)
        return Error::make(ErrorNumber::PrinterError,
                           QStringLiteral("connessione persa o muta dopo l'invio del ticket (%1 "
                                          "byte): %2")
                               .arg(bytes.size())
                               .arg(m_afterCut.detail));
    if (!m_afterCut.canPrint())
        return Error::make(ErrorNumber::PrinterError,
                           QStringLiteral("dopo il taglio la stampante riferisce: %1 (%2)")
                               .arg(m_afterCut.text(), m_afterCut.detail));
    return {};
}

} // namespace nx7
