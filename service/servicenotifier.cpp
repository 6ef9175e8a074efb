#include "servicenotifier.h"

#include <QLoggingCategory>
#include <QTimer>

#include <systemd/sd-daemon.h>

#include <cstring>

namespace nx7 {

Q_LOGGING_CATEGORY(lcService, "nx7.service")

ServiceNotifier::ServiceNotifier(QObject *parent)
    : QObject(parent), m_active(!qEnvironmentVariableIsEmpty("NOTIFY_SOCKET"))
{
    if (!m_active)
        return;
    // WATCHDOG_USEC set, and WATCHDOG_PID unset or this process: the watchdog is ours.
    uint64_t usec = 0;
    const int enabled = sd_watchdog_enabled(0, &usec);
    if (enabled < 0)
        qCWarning(lcService) << "watchdog settings unreadable:" << std::strerror(-enabled);
    if (enabled <= 0 || usec == 0)
        return;
    m_pingInterval =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::microseconds(usec) / 2);
    if (m_pingInterval.count() == 0)
        m_pingInterval = std::chrono::milliseconds(1);
    m_watchdog = new QTimer(this);
    m_watchdog->setTimerType(Qt::PreciseTimer);
    m_watchdog->setInterval(m_pingInterval);
    connect(m_watchdog, &QTimer::timeout, this, &ServiceNotifier::ping);
    m_watchdog->start();
    qCInfo(lcService) << "watchdog of the service manager: ping every" << m_pingInterval.count()
                      << "ms";
}

void ServiceNotifier::notifyReady()
{
    if (m_ready)
        return;
    m_ready = true;
    QByteArray message("READY=1");
    if (!m_status.isEmpty())
        message += "\nSTATUS=" + m_status.toUtf8();
    send(message);
}

void ServiceNotifier::notifyReadyWhenRunning()
{
    if (m_active)
        QTimer::singleShot(0, this, &ServiceNotifier::notifyReady);
}

void ServiceNotifier::setStatus(const QString &line)
{
    if (line == m_status)
        return;
    m_status = line;
    send("STATUS=" + line.toUtf8());
}

void ServiceNotifier::ping()
{
    send("WATCHDOG=1");
}

void ServiceNotifier::send(const QByteArray &message)
{
    if (!m_active)
        return;
    const int sent = sd_notify(0, message.constData());
    if (sent > 0) {
        m_failureLogged = false;
        return;
    }
    // Once per run of failures: a manager that went away must not fill the log.
    if (!m_failureLogged)
        qCWarning(lcService).noquote() << "message to the service manager not sent:"
                                       << (sent < 0 ? QString::fromLocal8Bit(std::strerror(-sent))
                                                    : QStringLiteral("no socket"));
    m_failureLogged = true;
}

} // namespace nx7
