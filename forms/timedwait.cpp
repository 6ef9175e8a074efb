#include "timedwait.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

namespace nx7 {

void TimedWait(qint32 seconds)
{
    waitMilliseconds(qint64(qMax(seconds, 0)) * 1000);
}

void waitMilliseconds(qint64 milliseconds)
{
    if (milliseconds <= 0) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        return;
    }
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(std::chrono::milliseconds(milliseconds));
    loop.exec(); // returns at once when the program is ending
}

void EventLoopWaiter::wait(qint32 seconds)
{
    if (seconds <= 0) {
        TimedWait(seconds);
        return;
    }
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(std::chrono::seconds(seconds));
    m_loop = &loop;
    loop.exec();
}

void EventLoopWaiter::interrupt()
{
    if (m_loop)
        m_loop->quit();
}

} // namespace nx7
