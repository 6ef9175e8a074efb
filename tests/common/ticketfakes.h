#pragma once

#include "ticketissue.h"
#include "ticketscreen.h"
#include "timedwait.h"

#include <QList>
#include <QLoggingCategory>
#include <QStringList>

#include <functional>

namespace nx7::test {

// The kiosk screen as the ticket issue sees it, recording what was done to it.
class FakeTicketScreen final : public TicketScreen
{
public:
    TicketContext context;
    std::array<QString, 21> captions;
    QStringList events;
    QStringList notices; // what the customer was told on the waiting panel

    TicketContext &ticketContext() override { return context; }
    QString buttonCaption(int slot) const override { return captions.at(slot); }
    void showWaitingPanel() override { events << QStringLiteral("show"); }
    void hideWaitingPanel() override { events << QStringLiteral("hide"); }
    void showNotice(const QString &text) override { notices << text; }
    void setScreenEnabled(bool enabled) override
    {
        events << (enabled ? QStringLiteral("enable") : QStringLiteral("disable"));
    }
    QWidget *screenWindow() override { return nullptr; }
};

// Records the seconds it was asked to wait and returns at once.
class FakeWaiter final : public Waiter
{
public:
    QList<qint32> waits;
    std::function<void()> during;

    void wait(qint32 seconds) override
    {
        waits.append(seconds);
        if (during)
            during();
    }
    void interrupt() override { ++interrupts; }
    int interrupts = 0;
};

// Collects the messages of some logging categories while it lives.
class LogCapture
{
public:
    explicit LogCapture(QList<QByteArray> categories = {"nx7.ticket"})
    {
        s_categories = std::move(categories);
        s_lines.clear();
        m_previous = qInstallMessageHandler(&LogCapture::handle);
    }
    ~LogCapture() { qInstallMessageHandler(m_previous); }
    static QString text() { return s_lines.join(u'\n'); }

private:
    static void handle(QtMsgType, const QMessageLogContext &context, const QString &message)
    {
        if (context.category && s_categories.contains(QByteArray(context.category)))
            s_lines.append(message);
    }
    static inline QList<QByteArray> s_categories;
    static inline QStringList s_lines;
    QtMessageHandler m_previous = nullptr;
};

// What the issue told its observer, one line per call: "issued 3", "refused 4 1",
// "not printed 1", "server 0" (the numbers of the enumerations).
class RecordingObserver final : public IssueObserver
{
public:
    void serverAnswered(ServerAnswer answer) override
    {
        calls << QStringLiteral("server %1").arg(int(answer));
    }
    void ticketIssued(int slot) override { calls << QStringLiteral("issued %1").arg(slot); }
    void ticketNotPrinted(int slot) override
    {
        calls << QStringLiteral("not printed %1").arg(slot);
    }
    void ticketRefused(int slot, Refusal reason) override
    {
        calls << QStringLiteral("refused %1 %2").arg(slot).arg(int(reason));
    }

    QStringList calls;
};

} // namespace nx7::test
