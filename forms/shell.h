#pragma once

#include "errors.h"

#include <QPointer>
#include <QString>
#include <QWidget>

class QDialog;

namespace nx7 {

// Everything of the desktop that a form would otherwise call directly: message boxes,
// modal forms, the folder browser and the end of the program. Tests replace it.
class Shell
{
public:
    enum class Icon
    {
        None,
        Information,
        Critical
    };

    virtual ~Shell() = default;

    // A system message box with one OK button.
    virtual void messageBox(QWidget *parent, Icon icon, const QString &title,
                            const QString &text) = 0;
    // Shows a form modally and returns when it closes (QDialog::exec's result).
    virtual int execModal(QDialog &dialog) = 0;
    // The folder browser; an empty text when the operator cancels.
    virtual QString browseFolder(QWidget *parent, const QString &title) = 0;
    // Ends the program: every modal loop unwinds and no new one starts.
    virtual void endProgram() = 0;
    virtual bool programEnded() const = 0;

    // The run-time error report of an error no handler selects, then the end.
    void reportRuntimeError(QWidget *parent, const Error &error);
    // Title of the program's own message boxes and run-time error reports.
    static QString applicationTitle();
};

// The real desktop. Without a window manager nothing gives the keyboard focus back when
// a box or form closes, and nothing presses a focused button on Return: it does both.
class DesktopShell final : public Shell
{
public:
    DesktopShell();
    ~DesktopShell() override;
    DesktopShell(const DesktopShell &) = delete;
    DesktopShell &operator=(const DesktopShell &) = delete;

    void messageBox(QWidget *parent, Icon icon, const QString &title, const QString &text) override;
    int execModal(QDialog &dialog) override;
    QString browseFolder(QWidget *parent, const QString &title) override;
    void endProgram() override;
    bool programEnded() const override { return m_ended; }

private:
    void giveFocusBack(const QPointer<QWidget> &window) const;

    bool m_ended = false;
    QObject *m_returnPresses = nullptr;
};

// Loads Qt's own Italian texts (buttons and labels of the standard dialogs); false when
// the translation files are not installed.
bool installItalianQtTranslations();

// Shows a widget and makes it the active window, which a kiosk without a window
// manager does not do by itself (keyboard mnemonics and Escape need it).
void showAndActivate(QWidget &widget);

} // namespace nx7
