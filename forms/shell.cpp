#include "shell.h"

#include "formslog.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>

namespace nx7 {

QString Shell::applicationTitle()
{
    return QStringLiteral("NX7Totem");
}

void Shell::reportRuntimeError(QWidget *parent, const Error &error)
{
    qCCritical(lcForms).noquote() << "run-time error" << error.number << ":" << error.description;
    messageBox(parent, Icon::Critical, applicationTitle(),
               QStringLiteral("Errore di run-time '%1':\n\n%2").arg(error.number).arg(error.description));
    endProgram();
}

void DesktopShell::messageBox(QWidget *parent, Icon icon, const QString &title,
                              const QString &text)
{
    if (m_ended)
        return;
    const QMessageBox::Icon shown = icon == Icon::Critical      ? QMessageBox::Critical
                                    : icon == Icon::Information ? QMessageBox::Information
                                                                : QMessageBox::NoIcon;
    QMessageBox box(shown,
                    title, text, QMessageBox::Ok, parent);
    box.show();
    box.activateWindow();
    box.exec();
}

int DesktopShell::execModal(QDialog &dialog)
{
    if (m_ended)
        return QDialog::Rejected;
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.show();
    dialog.activateWindow();
    return dialog.exec();
}

QString DesktopShell::browseFolder(QWidget *parent, const QString &title)
{
    if (m_ended)
        return {};
    return QFileDialog::getExistingDirectory(parent, title, QString(),
                                             QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
}

void DesktopShell::endProgram()
{
    qCInfo(lcForms) << "program ends";
    m_ended = true;
    // Leaves every running event loop, nested modal ones included.
    QCoreApplication::exit(0);
    // A close handler may delete another window: hold them by guarded pointers.
    QList<QPointer<QWidget>> windows;
    for (QWidget *window : QApplication::topLevelWidgets())
        windows.append(window);
    for (const QPointer<QWidget> &window : windows) {
        if (window)
            window->close();
    }
}

void showAndActivate(QWidget &widget)
{
    widget.show();
    widget.raise();
    widget.activateWindow();
}

} // namespace nx7
