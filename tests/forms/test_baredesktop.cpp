// The real desktop on a real X server without a window manager, as a kiosk runs: each
// kind of box and form is shown over the start-up window and the screen is read back
// from the X server. Each must be painted, its texts where its labels are, and the
// focus must come back to the window underneath when it closes.
#include "clock.h"
#include "imporete.h"
#include "lamain.h"
#include "msgform.h"
#include "previousinstance.h"
#include "shell.h"
#include "xvfbserver.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QWindow>

using namespace nx7;
using namespace nx7::test;

namespace {

XvfbServer *g_server = nullptr;

struct NoOtherCopy final : PreviousInstance
{
    bool anotherCopyRunning() override { return false; }
};

QString xFocus()
{
    return QString::fromLatin1(
               g_server->run(QStringLiteral("xdotool"), {QStringLiteral("getwindowfocus")}))
        .trimmed();
}

double darkShare(const QImage &screen, const QRect &area)
{
    int dark = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            dark += qGray(screen.pixel(x, y)) < 110 ? 1 : 0;
    return double(dark) / qMax(1, area.width() * area.height());
}

// The texts of the cells a person sees in the top rows of a view.
QStringList visibleCells(const QTreeView &view)
{
    // Folders are read in the background.
    if (!QTest::qWaitFor([&] { return view.model()->rowCount(view.rootIndex()) > 0; }, 5000))
        return {};
    QStringList cells;
    for (int row = 0; row < view.model()->rowCount(view.rootIndex()); ++row)
        for (int column = 0; column < view.model()->columnCount(view.rootIndex()); ++column)
            if (!view.isColumnHidden(column))
                cells << view.model()->index(row, column, view.rootIndex()).data().toString();
    return cells;
}

QStringList g_problems; // texts that did not show on the screen, checked after each test

// Runs `open`, which shows a modal window and returns when it closes. Once the window is
// painted, reads the screen: every visible label and button must show dark strokes on a
// light ground (an unpainted black window is all dark, a blank one has none). Then
// `close` closes it. Returns every text of the window.
QStringList showAndCheck(const QString &name, const std::function<void()> &open,
                         const std::function<void(QWidget &)> &close)
{
    QStringList texts;
    bool seen = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget *modal = QApplication::activeModalWidget();
        if (seen || !modal || !modal->windowHandle()->isExposed())
            return;
        seen = true;
        // A loaded machine may flush late: read the screen again before calling a text
        // unreadable. A window that stays black or blank fails all the same.
        for (int attempt = 0; attempt < 8; ++attempt) {
            QTest::qWait(400); // painted and flushed
            const QImage screen = g_server->grab();
            if (const QString folder = qEnvironmentVariable("NX7_SCREENSHOTS"); !folder.isEmpty())
                screen.save(folder + u'/' + name + QStringLiteral(".png"));
            texts.clear();
            QStringList unreadable;
            QList<std::pair<QWidget *, QString>> parts;
            for (auto *label : modal->findChildren<QLabel *>())
                parts.append({label, label->text()});
            for (auto *button : modal->findChildren<QAbstractButton *>())
                parts.append({button, button->text()});
            for (const auto &[part, text] : parts) {
                texts << text;
                if (!part->isVisible() || text.trimmed().isEmpty())
                    continue;
                const double share =
                    screen.isNull()
                        ? 0
                        : darkShare(screen, QRect(part->mapToGlobal(QPoint()), part->size()));
                if (share < 0.01 || share > 0.6)
                    unreadable << name + QStringLiteral(": ") + text;
            }
            if (unreadable.isEmpty() || attempt == 7) {
                g_problems << unreadable;
                break;
            }
        }
        close(*modal);
    });
    poll.start(50);
    open();
    if (!seen)
        g_problems << name + QStringLiteral(": never shown");
    return texts;
}

const auto closeWindow = [](QWidget &w) { w.close(); };

} // namespace

class TestBareDesktop : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup() { QVERIFY2(g_problems.isEmpty(), qPrintable(g_problems.join(u'|'))); }
    void boxesArePaintedAndGiveTheFocusBack();
    void formsArePaintedAndReturnPressesTheFocusedButton();
    void runtimeErrorReportIsPainted(); // last: it ends the program

private:
    QTemporaryDir m_station;
    DesktopShell m_shell;
    NoOtherCopy m_instance;
    SystemClock m_clock;
    StationState m_state;
    std::unique_ptr<LaMain> m_main;
};

void TestBareDesktop::init()
{
    QDir::setCurrent(m_station.path());
    m_main = std::make_unique<LaMain>(Stores(m_station.path()), m_state, m_shell, m_instance,
                                      m_clock, FrontEndFactory{});
    showAndActivate(*m_main);
    QTRY_COMPARE(QApplication::activeWindow(), m_main.get());
}

void TestBareDesktop::boxesArePaintedAndGiveTheFocusBack()
{
    // The narrow ones lie wholly over the start-up window.
    const QList<std::pair<Shell::Icon, QString>> boxes{
        {Shell::Icon::Critical,
         QStringLiteral("Le scelte non sono state memorizzate.\nDisco pieno.")},
        {Shell::Icon::None, QStringLiteral("Nessun dato da stampare")},
        {Shell::Icon::Information, QStringLiteral("Percorso Server non impostato !")}};
    for (const auto &[icon, text] : boxes) {
        showAndCheck(
            QStringLiteral("box-%1").arg(int(icon)),
            [&, icon = icon, text = text] {
                m_shell.messageBox(m_main.get(), icon, QStringLiteral("ATTENZIONE"), text);
            },
            closeWindow);
        // Alt+M, Alt+O and Alt+H reach the start-up window again at once.
        QTRY_COMPARE(xFocus(), QString::number(m_main->winId()));
    }
    // The folder browser: Italian, from the top of the file system.
    QString folder;
    QStringList shownCells;
    const QStringList browser = showAndCheck(
        QStringLiteral("browser"),
        [&] { m_shell.browseFolder(m_main.get(), QStringLiteral("Selezionare la cartella")); },
        [&](QWidget &w) {
            folder = qobject_cast<QFileDialog *>(&w)->directory().absolutePath();
            shownCells = visibleCells(*w.findChild<QTreeView *>(QStringLiteral("treeView")));
            w.close();
        });
    QCOMPARE(folder, QStringLiteral("/"));
    QVERIFY(shownCells.contains(QStringLiteral("tmp")));
    QVERIFY(!shownCells.contains(QStringLiteral("Folder"))); // Qt leaves it untranslated
    for (const QString &english :
         {QStringLiteral("Look in:"), QStringLiteral("&Choose"), QStringLiteral("Cancel")})
        QVERIFY2(!browser.contains(english), qPrintable(english));
    QVERIFY(browser.contains(QStringLiteral("Annulla")));
    QTRY_COMPARE(xFocus(), QString::number(m_main->winId()));
}

void TestBareDesktop::formsArePaintedAndReturnPressesTheFocusedButton()
{
    bool closedByReturn = false;
    showAndCheck(
        QStringLiteral("msgform"),
        [&] {
            MsgForm::showMessage(m_shell, m_main.get(),
                                 {QStringLiteral("Connessione al Server non presente !")});
        },
        [&](QWidget &form) { // Return, as an X key event, on the focused "C&hiudi"
            form.findChild<QAbstractButton *>(QStringLiteral("PB1_0"))->setFocus();
            g_server->run(QStringLiteral("xdotool"),
                          {QStringLiteral("key"), QStringLiteral("Return")});
            closedByReturn = QTest::qWaitFor([&] { return !form.isVisible(); }, 3000);
            form.close();
        });
    QVERIFY(closedByReturn);
    QVERIFY(!m_shell.programEnded());
    QTRY_COMPARE(xFocus(), QString::number(m_main->winId()));

    // A long server path is shown whole, wrapped.
    QString path = QStringLiteral("/srv");
    while (path.size() < 120)
        path += QStringLiteral("/sede_centrale_uffici");
    QFile file(QStringLiteral("percorsiT.txt"));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write('"' + path.toUtf8() + "\"\r\n") > 0);
    file.close();
    int lines = 0;
    showAndCheck(
        QStringLiteral("imporete"), [&] { ImpoRete::showSetup(m_shell, m_main.get()); },
        [&](QWidget &form) {
            auto *label = form.findChild<QLabel *>(QStringLiteral("txtshortcutdir"));
            lines = label->heightForWidth(label->width()) / label->fontMetrics().lineSpacing();
            form.close();
        });
    QVERIFY(lines >= 2);
}

void TestBareDesktop::runtimeErrorReportIsPainted()
{
    const QStringList report = showAndCheck(
        QStringLiteral("runtime-error"),
        [&] {
            m_shell.reportRuntimeError(m_main.get(), Error::make(ErrorNumber::InvalidUseOfNull));
        },
        closeWindow);
    QVERIFY(
        report.contains(QStringLiteral("Errore di run-time '94':\n\nUtilizzo non valido di Null")));
}

int main(int argc, char *argv[])
{
    // Qt keeps the folder browser's columns in the user's settings: start from none, as
    // a new kiosk box does.
    QTemporaryDir settings;
    qputenv("XDG_CONFIG_HOME", settings.path().toLocal8Bit());
    // The X server first: the application connects to it when it is made.
    XvfbServer server(QStringLiteral("1024x768x24"));
    if (!server.ok())
        qFatal("%s", qPrintable(server.error()));
    g_server = &server;
    qputenv("DISPLAY", server.display().toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    if (!installItalianQtTranslations())
        qFatal("Qt's Italian translations are not installed");
    TestBareDesktop test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_baredesktop.moc"
