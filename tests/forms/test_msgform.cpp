#include "msgform.h"
#include "testshell.h"
#include "timedwait.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace nx7;

class TestMsgForm : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void designContent();
    void unsetLinesAreHidden();
    void longLinesWrapInsteadOfBeingClipped();
    void linesAreNeverReadAsMarkup();
    void bothButtonsClose_data();
    void bothButtonsClose();
    void showMessageFillsAFreshForm();
    void timedWaitZeroProcessesEventsOnce();
    void timedWaitKeepsTheEventLoopRunning();
};

void TestMsgForm::designContent()
{
    MsgForm form;
    QCOMPARE(form.windowTitle(), QStringLiteral(" "));
    QCOMPARE(form.heading(), QStringLiteral("Messaggio x te  da ORDINAFILA 3 PRO (Totem)"));
    QCOMPARE(form.line(0), QStringLiteral("Label2"));
    QCOMPARE(form.line(1), QString());
    QCOMPARE(form.button(0)->text(), QStringLiteral("C&hiudi"));
    QCOMPARE(form.button(1)->text(), QStringLiteral("&Conferma"));
}

void TestMsgForm::unsetLinesAreHidden()
{
    MsgForm form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QVERIFY(!form.lineLabel(0)->isVisible()); // the placeholder never shows

    MsgForm one;
    one.setLine(0, QStringLiteral("Selezionare un Percorso per gli archivi !"));
    one.show();
    QVERIFY(QTest::qWaitForWindowExposed(&one));
    QVERIFY(one.lineLabel(0)->isVisible());
    QCOMPARE(one.line(1), QString());
    QCOMPARE(one.line(2), QString());
}

void TestMsgForm::longLinesWrapInsteadOfBeingClipped()
{
    const QString longLine = QStringLiteral(
        "Impossibile scrivere il file /srv/condivisa/uffici/totem/NrAll/NrAllS17.txt: "
        "spazio esaurito sul dispositivo");
    MsgForm form;
    form.setLine(0, longLine);
    form.setLine(1, QStringLiteral("Controllare la connessione."));
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QLabel *label = form.lineLabel(0);
    const QFontMetrics metrics(label->font());
    QCOMPARE(form.width(), 520);
    QVERIFY(metrics.horizontalAdvance(longLine) > label->contentsRect().width()); // must wrap
    QVERIFY(label->heightForWidth(label->width()) > metrics.height());           // and does
    QVERIFY2(label->height() >= label->heightForWidth(label->width()),
             qPrintable(QStringLiteral("%1 < %2").arg(label->height()).arg(label->heightForWidth(label->width()))));
    QVERIFY(label->geometry().bottom() < form.button(0)->geometry().top());
}

void TestMsgForm::linesAreNeverReadAsMarkup()
{
    // As markup these would be two paragraphs with the tags hidden.
    const QString text = QStringLiteral("<p>/srv/a</p><p>b</p>");
    MsgForm form;
    form.setLine(0, text);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QLabel *label = form.lineLabel(0);
    const QFontMetrics metrics(label->font());
    QVERIFY(metrics.horizontalAdvance(text) < label->contentsRect().width());
    QVERIFY(label->heightForWidth(label->width()) < 2 * metrics.lineSpacing());
}

void TestMsgForm::bothButtonsClose_data()
{
    QTest::addColumn<int>("index");
    QTest::addRow("Chiudi") << 0;
    QTest::addRow("Conferma") << 1;
}

void TestMsgForm::bothButtonsClose()
{
    QFETCH(int, index);
    MsgForm form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QSignalSpy finished(&form, &QDialog::finished);
    QTest::mouseClick(form.button(index), Qt::LeftButton);
    QCOMPARE(finished.count(), 1);
    QVERIFY(!form.isVisible());
}

void TestMsgForm::showMessageFillsAFreshForm()
{
    test::TestShell shell;
    MsgForm::showMessage(shell, nullptr,
                         {QStringLiteral("Immagine di sfondo non trovata !"),
                          QStringLiteral("Controllare il percorso e che la cartella"),
                          QStringLiteral("di provenienza risulti condivisa")});
    MsgForm::showMessage(shell, nullptr, {QStringLiteral("Solo una riga")});
    QCOMPARE(shell.modalForms.size(), 2);
    QCOMPARE(shell.modalForms.at(0).lines.at(2), QStringLiteral("di provenienza risulti condivisa"));
    QCOMPARE(shell.modalForms.at(1).lines,
             (QStringList{QStringLiteral("Solo una riga"), QString(), QString()}));
}

void TestMsgForm::timedWaitZeroProcessesEventsOnce()
{
    bool ran = false;
    QTimer::singleShot(0, this, [&] { ran = true; });
    QElapsedTimer clock;
    clock.start();
    TimedWait(0);
    QVERIFY(ran);
    QVERIFY(clock.elapsed() < 500);
}

void TestMsgForm::timedWaitKeepsTheEventLoopRunning()
{
    QPushButton button(QStringLiteral("Prova"));
    button.show();
    QVERIFY(QTest::qWaitForWindowExposed(&button));
    QSignalSpy clicked(&button, &QPushButton::clicked);
    QTimer::singleShot(50, &button, [&] { button.click(); });
    QElapsedTimer clock;
    clock.start();
    waitMilliseconds(300);
    QVERIFY(clock.elapsed() >= 290);
    QCOMPARE(clicked.count(), 1);
}

QTEST_MAIN(TestMsgForm)
#include "test_msgform.moc"
