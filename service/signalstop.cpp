#include "signalstop.h"

#include <QLoggingCategory>
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace nx7 {

Q_DECLARE_LOGGING_CATEGORY(lcService)

namespace {

constexpr int kSignals[] = {SIGTERM, SIGHUP, SIGINT};

// The handler can only write to a descriptor; signals are process-wide, so is this one.
volatile std::sig_atomic_t g_writeFd = -1;

extern "C" void onStopSignal(int signal)
{
    const int savedErrno = errno;
    const char number = char(signal);
    if (g_writeFd >= 0) [[maybe_unused]]
        const auto written = ::write(g_writeFd, &number, 1);
    errno = savedErrno;
}

const char *signalName(int signal)
{
    switch (signal) {
    case SIGTERM:
        return "SIGTERM";
    case SIGHUP:
        return "SIGHUP";
    default:
        return "SIGINT";
    }
}

} // namespace

SignalStop::SignalStop(Busy ticketInProgress, Stop stop, int boundMs, QObject *parent)
    : QObject(parent), m_ticketInProgress(std::move(ticketInProgress)), m_stop(std::move(stop)),
      m_boundMs(boundMs)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, m_fds) != 0) {
        qCWarning(lcService) << "no clean stop on signals: socketpair failed";
        return;
    }
    g_writeFd = m_fds[1];
    m_notifier = new QSocketNotifier(m_fds[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SignalStop::signalled);
    m_poll.setInterval(50);
    connect(&m_poll, &QTimer::timeout, this, &SignalStop::stopWhenIdle);
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : kSignals)
        ::sigaction(signal, &action, nullptr);
}

SignalStop::~SignalStop()
{
    for (int signal : kSignals)
        std::signal(signal, SIG_DFL);
    g_writeFd = -1;
    for (int fd : m_fds)
        if (fd >= 0)
            ::close(fd);
}

void SignalStop::signalled()
{
    char number = 0;
    while (::read(m_fds[0], &number, 1) == 1) {
        if (m_stopping) { // asked again while the ticket is being finished: now
            qCWarning(lcService) << signalName(number) << "again: the kiosk stops at once";
            m_poll.stop();
            m_stop();
            return;
        }
        m_stopping = true;
        m_signalName = signalName(number);
        m_waiting.start();
        if (m_ticketInProgress && m_ticketInProgress())
            qCInfo(lcService) << m_signalName
                              << "received: the ticket being issued is finished first";
        stopWhenIdle();
    }
}

void SignalStop::stopWhenIdle()
{
    const bool busy = m_ticketInProgress && m_ticketInProgress();
    if (busy && m_waiting.elapsed() < m_boundMs) {
        if (!m_poll.isActive())
            m_poll.start();
        return;
    }
    m_poll.stop();
    if (busy)
        qCWarning(lcService) << "the ticket is still being issued after" << m_boundMs
                             << "ms: the kiosk stops anyway";
    qCInfo(lcService) << "stopped by" << m_signalName;
    m_stop();
}

} // namespace nx7
