#pragma once

#include "errors.h"

#include <QString>

class QDialog;
class QWidget;

namespace nx7 {

// Everything of the desktop that a form would otherwise call directly: message boxes,
// modal forms, the folder browser and the end of the program. Tests replace it.
class Shell
{
public:
    enum class Icon { None, Information, Critical };

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

// The real desktop.
class DesktopShell final : public Shell
{
public:
    void messageBox(QWidget *parent, Icon icon, const QString &title,
                    const QString &text) override;
    int execModal(QDialog &dialog) override;
    QString browseFolder(QWidget *parent, const QString &title) override;
    void endProgram() override;
    bool programEnded() const override { return m_ended; }

private:
    bool m_ended = false;
};

// Shows a widget and makes it the active window, which a kiosk without a window
// manager does not do by itself (keyboard mnemonics and Escape need it).
void showAndActivate(QWidget &widget);

} // namespace nx7
