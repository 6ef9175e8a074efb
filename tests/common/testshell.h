#pragma once

#include "clock.h"
#include "shell.h"

#include <QDialog>
#include <QList>
#include <QStringList>

#include <functional>

namespace nx7::test {

// A desktop that answers every dialog at once and remembers what was shown.
class TestShell final : public Shell
{
public:
    struct Message
    {
        Icon icon;
        QString title;
        QString text;
    };
    // What a modal form showed: its object name and, for MsgForm, its three lines.
    struct ModalForm
    {
        QString objectName;
        QStringList lines;
    };
    using ModalHandler = std::function<int(QDialog &)>;

    void messageBox(QWidget *, Icon icon, const QString &title, const QString &text) override;
    int execModal(QDialog &dialog) override;
    QString browseFolder(QWidget *, const QString &title) override;
    void endProgram() override { m_ended = true; }
    bool programEnded() const override { return m_ended; }

    // Handlers answer the next modal forms in turn; without one a form is rejected.
    void onNextModal(ModalHandler handler) { m_handlers.append(std::move(handler)); }

    QList<Message> messages;
    QList<ModalForm> modalForms;
    QStringList browserTitles;
    QString folderToChoose; // empty: the operator cancels the browser

private:
    QList<ModalHandler> m_handlers;
    bool m_ended = false;
};

// A clock that stands still until a test moves it.
class TestClock final : public Clock
{
public:
    explicit TestClock(QDateTime start = QDateTime(QDate(2026, 12, 8), QTime(10, 15, 30)))
        : m_now(std::move(start))
    {
    }
    QDateTime now() const override { return m_now; }
    void set(const QDateTime &now) { m_now = now; }
    void advanceSeconds(int seconds) { m_now = m_now.addSecs(seconds); }

private:
    QDateTime m_now;
};

} // namespace nx7::test
