#include "shell.h"

#include "formslog.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTranslator>
#include <QTreeView>

namespace nx7 {

QString Shell::applicationTitle()
{
    return QStringLiteral("NX7Totem");
}

void Shell::reportRuntimeError(QWidget *parent, const Error &error)
{
    qCCritical(lcForms).noquote() << "run-time error" << error.number << ":" << error.description;
    messageBox(
        parent, Icon::Critical, applicationTitle(),
        QStringLiteral("Errore di run-time '%1':\n\n%2").arg(error.number).arg(error.description));
    endProgram();
}

namespace {

// The columns of the folder browser's detail view: name, size, type, date.
constexpr int SizeColumn = 1;
constexpr int TypeColumn = 2;

// Return on a focused push button presses it, as on the old stations, whether or not
// the button is a dialog's default one.
class ReturnPressesFocusedButton : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter)
            return false;
        auto *button = qobject_cast<QPushButton *>(watched);
        if (!button || !button->hasFocus() || !button->isEnabled())
            return false;
        button->click();
        return true;
    }
};

// The window that had the focus before a box or form, to give it back afterwards.
QPointer<QWidget> windowUnderneath(QWidget *parent)
{
    if (QWidget *active = QApplication::activeWindow())
        return active;
    return parent ? parent->window() : nullptr;
}

} // namespace

DesktopShell::DesktopShell()
{
    if (qApp) {
        m_returnPresses = new ReturnPressesFocusedButton(qApp);
        qApp->installEventFilter(m_returnPresses);
    }
}

DesktopShell::~DesktopShell()
{
    delete m_returnPresses;
}

void DesktopShell::giveFocusBack(const QPointer<QWidget> &window) const
{
    // Without a window manager the focus falls to the root window when a box closes.
    if (!m_ended && window && window->isVisible())
        showAndActivate(*window);
}

void DesktopShell::messageBox(QWidget *parent, Icon icon, const QString &title, const QString &text)
{
    if (m_ended)
        return;
    const QMessageBox::Icon shown = icon == Icon::Critical      ? QMessageBox::Critical
                                    : icon == Icon::Information ? QMessageBox::Information
                                                                : QMessageBox::NoIcon;
    const QPointer<QWidget> underneath = windowUnderneath(parent);
    QMessageBox box(shown, title, text, QMessageBox::Ok, parent);
    box.show();
    box.activateWindow();
    box.exec();
    giveFocusBack(underneath);
}

int DesktopShell::execModal(QDialog &dialog)
{
    if (m_ended)
        return QDialog::Rejected;
    const QPointer<QWidget> underneath = windowUnderneath(dialog.parentWidget());
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.show();
    dialog.activateWindow();
    const int result = dialog.exec();
    giveFocusBack(underneath);
    return result;
}

QString DesktopShell::browseFolder(QWidget *parent, const QString &title)
{
    if (m_ended)
        return {};
    // From the top of the file system, as the stations' browser starts at the desktop;
    // folders only.
    const QPointer<QWidget> underneath = windowUnderneath(parent);
    QFileDialog dialog(parent, title, QDir::rootPath());
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOptions(QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    // Where only folders are listed, size and type tell nothing; and Qt's Italian
    // translation leaves a folder's type in English ("Folder"). Without them the date
    // is not cut short.
    if (auto *details = dialog.findChild<QTreeView *>(QStringLiteral("treeView"))) {
        details->hideColumn(SizeColumn);
        details->hideColumn(TypeColumn);
    }
    const bool chose = dialog.exec() == QDialog::Accepted;
    giveFocusBack(underneath);
    return chose ? dialog.selectedFiles().value(0) : QString();
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

bool installItalianQtTranslations()
{
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    auto *translator = new QTranslator(qApp);
    if (!translator->load(QLocale(QLocale::Italian, QLocale::Italy), QStringLiteral("qtbase"),
                          QStringLiteral("_"), folder)) {
        qCWarning(lcForms).noquote() << "Qt's Italian texts not found in" << folder;
        delete translator;
        return false;
    }
    QCoreApplication::installTranslator(translator);
    return true;
}

void showAndActivate(QWidget &widget)
{
    widget.show();
    widget.raise();
    widget.activateWindow();
}

} // namespace nx7
