#pragma once

#include <QEventLoop>
#include <QPointer>
#include <QtGlobal>

namespace nx7 {

// Waits whole seconds while the event loop keeps running (painting, clicks, timers).
// 0 or less returns after one pass of event processing.
void TimedWait(qint32 seconds);
// The same wait in milliseconds.
void waitMilliseconds(qint64 milliseconds);

// The wait as a collaborator, so that callers can be tested without waiting.
class Waiter
{
public:
    virtual ~Waiter() = default;
    virtual void wait(qint32 seconds) = 0;
    // Ends the wait in progress at once, if there is one (the nightly restart ends a
    // post-ticket hold).
    virtual void interrupt() {}
};

class EventLoopWaiter final : public Waiter
{
public:
    void wait(qint32 seconds) override;
    void interrupt() override;

private:
    QPointer<QEventLoop> m_loop;
};

} // namespace nx7
