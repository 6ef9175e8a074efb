// The real desktop on a real X server without a window manager, as a kiosk runs: every
// kind of box and form is shown over the start-up window, the screen is read back from
// the X server, and each window must be painted, with its text where its labels are.
// The keyboard focus must come back to the window underneath when a box closes.
#include "imporete.h"
#include "lamain.h"
#include "msgform.h"
#include "previousinstance.h"
#include "shell.h"
#include "xvfbserver.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <functional>

using namespace nx7;
using namespace nx7::test;

namespace {

XvfbServer *g_server = nullptr;

class NoOtherCopy final : public PreviousInstance
{
public:
    bool anotherCopyRunning() override { return false; }
};

// What was on the screen while a modal window was open.
struct Shot
{
    QImage screen;
    QRect window;
    QList<std::pair<QString, QRect>> texts; // each visible label or button, global rect
    QStringList captions;                   // every text of the window, hidden ones too
    QString folder;                         // the folder browser's starting folder
};

bool isDark(QRgb pixel)
{
    return qGray(pixel) < 110;
}

int distinctColours(const QImage &image, const QRect &area)
{
    QSet<QRgb> colours;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            colours.insert(image.pixel(x, y));
    return int(colours.size());
}

// Share of dark pixels in an area: text is some, never none and never all.
double darkShare(const QImage &image, const QRect &area)
{
    int dark = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            dark += isDark(image.pixel(x, y)) ? 1 : 0;
    return area.isEmpty() ? 0.0 : double(dark) / (area.width() * area.height());
}

QString xFocus()
{
    return QString::fromLatin1(
               g_server->run(QStringLiteral("xdotool"), {QStringLiteral("getwindowfocus")}))
        .trimmed();
}

// Runs `open` (which shows a modal window and returns when it closes); while the window
// is up, waits for it to be painted, reads the screen and closes the window by `close`.
Shot showAndGrab(
    const std::function<void()> &open,
    const std::function<void(QWidget &)> &close = [](QWidget &w) { w.close(); },
    const QString &screenshotName = {})
{
    Shot shot;
    QTimer poll;
    bool grabbed = false;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget *modal = QApplication::activeModalWidget();
        if (grabbed || !modal || !modal->windowHandle() || !modal->windowHandle()->isExposed())
            return;
        grabbed = true;
        QTest::qWait(400); // painted and flushed
        shot.screen = g_server->grab();
        shot.window = modal->geometry();
        for (auto *label : modal->findChildren<QLabel *>()) {
            shot.captions << label->text();
            if (label->isVisible() && !label->text().trimmed().isEmpty())
                shot.texts.append(
                    {label->text(), QRect(label->mapToGlobal(QPoint(0, 0)), label->size())});
        }
        for (auto *button : modal->findChildren<QAbstractButton *>()) {
            shot.captions << button->text();
            if (button->isVisible() && !button->text().isEmpty())
                shot.texts.append(
                    {button->text(), QRect(button->mapToGlobal(QPoint(0, 0)), button->size())});
        }
        if (auto *browser = qobject_cast<QFileDialog *>(modal))
            shot.folder = browser->directory().absolutePath();
        const QString folder = qEnvironmentVariable("NX7_SCREENSHOTS");
        if (!folder.isEmpty() && !screenshotName.isEmpty())
            g_server->saveScreenshot(
                QDir(folder).filePath(screenshotName + QStringLiteral(".png")));
        close(*modal);
    });
    poll.start(50);
    open();
    return shot;
}

// The window is painted (not one flat colour) and each text shows as dark strokes on a
// light ground inside the label or button that holds it.
void verifyPainted(const Shot &shot)
{
    QVERIFY2(!shot.screen.isNull(), "no screen read from the X server");
    QVERIFY(!shot.window.isEmpty());
    QVERIFY2(distinctColours(shot.screen, shot.window) > 20,
             qPrintable(QStringLiteral("window at %1,%2 %3x%4 is flat")
                            .arg(shot.window.x())
                            .arg(shot.window.y())
                            .arg(shot.window.width())
                            .arg(shot.window.height())));
    QVERIFY(!shot.texts.isEmpty());
    for (const auto &[text, area] : shot.texts) {
        const double share = darkShare(shot.screen, area);
        QVERIFY2(
            share > 0.01 && share < 0.6,
            qPrintable(QStringLiteral("text \"%1\": %2 of its area dark").arg(text).arg(share)));
    }
}

} // namespace

class TestBareDesktop : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void messageBoxesArePaintedAndGiveTheFocusBack();
    void messageFormIsPaintedAndReturnPressesItsFocusedButton();
    void serverPathFormShowsALongPathWhole();
    void folderBrowserIsItalianAndStartsAtTheTop();
    void runtimeErrorReportIsPainted(); // last: it ends the program

private:
    std::unique_ptr<QTemporaryDir> m_station;
    QString m_previousDir;
    DesktopShell m_shell;
    NoOtherCopy m_instance;
    StationState m_state;
    std::unique_ptr<LaMain> m_main;
};

void TestBareDesktop::init()
{
    m_station = std::make_unique<QTemporaryDir>();
    m_previousDir = QDir::currentPath();
    QDir::setCurrent(m_station->path());
    m_main = std::make_unique<LaMain>(m_state, m_shell, m_instance, FrontEndFactory{});
    showAndActivate(*m_main);
    QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
    QTRY_COMPARE(QApplication::activeWindow(), m_main.get());
}

void TestBareDesktop::cleanup()
{
    m_main.reset();
    QDir::setCurrent(m_previousDir);
}

void TestBareDesktop::messageBoxesArePaintedAndGiveTheFocusBack()
{
    const QString mainWindow = QString::number(m_main->winId());
    // The narrow ones lie wholly over the start-up window.
    const QList<std::tuple<Shell::Icon, QString, QString>> boxes{
        {Shell::Icon::Critical, QStringLiteral("ATTENZIONE"),
         QStringLiteral("Le scelte non sono state memorizzate.\nDisco pieno.")},
        {Shell::Icon::None, Shell::applicationTitle(), QStringLiteral("Nessun dato da stampare")},
        {Shell::Icon::Information, QStringLiteral("NX7Totem-Messaggio"),
         QStringLiteral("Percorso Server non impostato o Server non raggiungibile !")},
    };
    int n = 0;
    for (const auto &[icon, title, text] : boxes) {
        const Shot shot =
            showAndGrab([&, icon = icon, title = title,
                         text = text] { m_shell.messageBox(m_main.get(), icon, title, text); },
                        [](QWidget &w) { w.close(); }, QStringLiteral("box-%1").arg(++n));
        verifyPainted(shot);
        QVERIFY(shot.captions.contains(text));
        // Alt+M, Alt+O and Alt+H reach the start-up window again at once.
        QTRY_COMPARE(QApplication::activeWindow(), m_main.get());
        QTRY_COMPARE(xFocus(), mainWindow);
    }
}

void TestBareDesktop::messageFormIsPaintedAndReturnPressesItsFocusedButton()
{
    const QString mainWindow = QString::number(m_main->winId());
    const Shot shot = showAndGrab(
        [&] {
            MsgForm::showMessage(m_shell, m_main.get(),
                                 {QStringLiteral("Connessione al Server non presente !"),
                                  QStringLiteral("Controllare la connessione.")});
        },
        [](QWidget &form) {
            // Return, as an X key event, on the focused "C&hiudi" closes the form.
            form.findChild<QAbstractButton *>(QStringLiteral("PB1_0"))->setFocus();
            QTest::qWait(100);
            g_server->run(QStringLiteral("xdotool"),
                          {QStringLiteral("key"), QStringLiteral("Return")});
            QTRY_VERIFY_WITH_TIMEOUT(!form.isVisible(), 3000);
        },
        QStringLiteral("msgform"));
    verifyPainted(shot);
    QVERIFY(!m_shell.programEnded());
    QTRY_COMPARE(xFocus(), mainWindow);
}

void TestBareDesktop::serverPathFormShowsALongPathWhole()
{
    QString path = QStringLiteral("/srv/archivi");
    while (path.size() < 120)
        path += QStringLiteral("/sede_centrale_uffici");
    QFile file(QStringLiteral("percorsiT.txt"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write('"' + path.toUtf8() + "\"\r\n");
    file.close();

    QRect pathArea;
    int lineHeight = 0;
    const Shot shot =
        showAndGrab([&] { ImpoRete::showSetup(m_shell, m_main.get()); },
                    [&](QWidget &form) {
                        auto *label = form.findChild<QLabel *>(QStringLiteral("txtshortcutdir"));
                        pathArea = label->contentsRect();
                        lineHeight = label->fontMetrics().lineSpacing();
                        form.close();
                    },
                    QStringLiteral("imporete"));
    verifyPainted(shot);
    // Wrapped on several lines inside the label, nothing cut at its right edge.
    QVERIFY(pathArea.height() >= 2 * lineHeight);
    QVERIFY(!m_shell.programEnded());
}

void TestBareDesktop::folderBrowserIsItalianAndStartsAtTheTop()
{
    const Shot shot = showAndGrab(
        [&] { m_shell.browseFolder(m_main.get(), QStringLiteral("Selezionare la cartella")); },
        [](QWidget &w) { qobject_cast<QDialog *>(&w)->reject(); }, QStringLiteral("browser"));
    verifyPainted(shot);
    QCOMPARE(shot.folder, QDir::rootPath());
    for (const QString &english :
         {QStringLiteral("Look in:"), QStringLiteral("Directory:"), QStringLiteral("&Choose"),
          QStringLiteral("Choose"), QStringLiteral("Cancel"), QStringLiteral("Files of type:")})
        QVERIFY2(!shot.captions.contains(english), qPrintable(english));
    QVERIFY(shot.captions.contains(QStringLiteral("Annulla")));
    QTRY_COMPARE(QApplication::activeWindow(), m_main.get());
}

void TestBareDesktop::runtimeErrorReportIsPainted()
{
    const Shot shot = showAndGrab(
        [&] {
            m_shell.reportRuntimeError(m_main.get(), Error::make(ErrorNumber::InvalidUseOfNull));
        },
        [](QWidget &w) { w.close(); }, QStringLiteral("runtime-error"));
    verifyPainted(shot);
    QVERIFY(shot.captions.contains(
        QStringLiteral("Errore di run-time '94':\n\nUtilizzo non valido di Null")));
    QVERIFY(m_shell.programEnded());
}

int main(int argc, char *argv[])
{
    // The X server first: the application connects to it when it is made.
    XvfbServer server(QStringLiteral("1024x768x24"));
    if (!server.ok()) {
        qCritical("%s", qPrintable(server.error()));
        return 1;
    }
    g_server = &server;
    qputenv("DISPLAY", server.display().toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "xcb");
    qunsetenv("WAYLAND_DISPLAY");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    if (!installItalianQtTranslations()) {
        qCritical("Qt's Italian translations are not installed");
        return 1;
    }
    TestBareDesktop test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_baredesktop.moc"
