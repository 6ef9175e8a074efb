// The real desktop seam: the end of the program unwinds every modal loop and lets no new
// one start. Ending the program cannot be undone inside one process, so every check of
// the end lives in one test function of its own executable.
#include "msgform.h"
#include "shell.h"
#include "timedwait.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

using namespace nx7;

namespace {

// Ends the program when it is closed, as the start-up window does.
class MainWindow : public QWidget
{
public:
    explicit MainWindow(Shell &shell) : m_shell(shell) {}
    int closes = 0;

protected:
    void closeEvent(QCloseEvent *event) override
    {
        ++closes;
        if (!m_shell.programEnded())
            m_shell.endProgram();
        QWidget::closeEvent(event);
    }

private:
    Shell &m_shell;
};

} // namespace

class TestDesktopShell : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void endUnwindsEveryModalLoopAndOpensNoNewOne();
};

void TestDesktopShell::endUnwindsEveryModalLoopAndOpensNoNewOne()
{
    DesktopShell shell;
    MainWindow main(shell);
    main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&main));

    QDialog outer(&main);
    QDialog inner(&outer);
    QStringList steps;
    // The outer form opens the inner one, which shows a message box; the main window's
    // close box is used while the message box waits.
    QTimer::singleShot(0, &outer, [&] {
        QTimer::singleShot(0, &inner, [&] {
            QTimer::singleShot(0, &main, [&] { main.close(); });
            shell.messageBox(&inner, Shell::Icon::Critical, QStringLiteral("ATTENZIONE"),
                             QStringLiteral("Prova"));
            steps << QStringLiteral("message box returned");
        });
        shell.execModal(inner);
        steps << QStringLiteral("inner returned");
    });
    QElapsedTimer clock;
    clock.start();
    shell.execModal(outer);
    steps << QStringLiteral("outer returned");

    QCOMPARE(steps, (QStringList{QStringLiteral("message box returned"),
                                 QStringLiteral("inner returned"),
                                 QStringLiteral("outer returned")}));
    QVERIFY(clock.elapsed() < 5000);
    QVERIFY(shell.programEnded());
    QCOMPARE(main.closes, 1);
    QVERIFY(!main.isVisible() && !outer.isVisible() && !inner.isVisible());

    // After the end nothing waits for the operator any more.
    clock.restart();
    MsgForm late;
    QCOMPARE(shell.execModal(late), int(QDialog::Rejected));
    QVERIFY(!late.isVisible());
    shell.messageBox(nullptr, Shell::Icon::Information, QStringLiteral("NX7Totem-Messaggio"),
                     QStringLiteral("Prova"));
    QCOMPARE(shell.browseFolder(nullptr, QStringLiteral("Selezionare la cartella")), QString());
    TimedWait(5);
    QVERIFY(clock.elapsed() < 2000);
    const auto windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows)
        QVERIFY2(!window->isVisible(), qPrintable(window->metaObject()->className()));

    // The run-time error report after the end still ends quietly.
    shell.reportRuntimeError(nullptr, Error::make(ErrorNumber::ItemNotFound));
    QVERIFY(clock.elapsed() < 2000);
}

QTEST_MAIN(TestDesktopShell)
#include "test_desktopshell.moc"
