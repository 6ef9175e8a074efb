// The whole kiosk on a temporary installation: the start-up window, the kiosk screen, the
// ticket issue and the nightly unattended restart, wired as nx7totem wires them.
#include "assembledkiosk.h"
#include "database.h"
#include "imageticketprinter.h"
#include "timedwait.h"

#include <QFile>
#include <QPushButton>
#include <QTest>

using namespace nx7;

namespace {

class RecordingWaiter final : public Waiter
{
public:
    void wait(qint32 seconds) override { waits.append(seconds); }
    QList<qint32> waits;
};

QVariant scalar(const QString &dbPath, const QString &sql)
{
    auto db = Database::open(dbPath);
    auto rows = db->select(sql);
    return rows && !rows->isEmpty() ? rows->first().first() : QVariant();
}

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void ticketsThenNightlyRestart();
};

void TestEndToEnd::ticketsThenNightlyRestart()
{
    test::TempInstallation inst;
    QVERIFY2(inst.ok(), qPrintable(inst.error()));
    QVERIFY(QFile::copy(QStringLiteral(QT_TESTCASE_SOURCEDIR "/../report/Ticket.lbl"),
                        QStringLiteral("Ticket.lbl")));
    // A ticket of the day before is still waiting in the shared queue.
    {
        auto db = Database::open(inst.serverDatabase());
        QVERIFY(
            db->insert(QStringLiteral("Codafromtotem"),
                       {{QStringLiteral("ServizioID"), 2}, {QStringLiteral("NrDaChiamare"), 40}}));
    }

    test::TestClock clock(QDateTime(QDate(2026, 12, 8), QTime(9, 5, 0)));
    RecordingWaiter waiter;
    test::ImageTicketPrinter printer;
    test::AssembledKiosk assembled(inst, clock, waiter, printer);
    test::TestShell &shell = assembled.shell;
    const StationState &state = assembled.kiosk.state();
    LaMain &laMain = assembled.kiosk.startupWindow();
    QVERIFY(assembled.kiosk.start());

    // First screen: the attended initial start emptied the queue; two touches of slot 3.
    shell.onNextModal([&](QDialog &dialog) {
        auto *screen = qobject_cast<FrontEnd *>(&dialog);
        if (!screen)
            return int(QDialog::Rejected);
        screen->show();
        screen->Form_Activate();
        QTest::mouseClick(screen->bottone(3), Qt::LeftButton);
        clock.advanceSeconds(65);
        QTest::mouseClick(screen->bottone(3), Qt::LeftButton);
        clock.set(QDateTime(QDate(2026, 12, 9), QTime(3, 30, 59)));
        screen->Timer1_Timer();
        clock.advanceSeconds(1);
        screen->Timer1_Timer(); // 03:31:00: the screen closes itself
        return screen->result();
    });
    // Second screen, opened by the unattended restart: numbering starts again from the
    // initial values while the queue keeps the tickets of the evening.
    int secondScreenServices = -1;
    QString secondScreenStatus;
    shell.onNextModal([&](QDialog &dialog) {
        auto *screen = qobject_cast<FrontEnd *>(&dialog);
        if (!screen)
            return int(QDialog::Rejected);
        secondScreenServices = screen->activeServiceCount();
        secondScreenStatus = assembled.kiosk.service().statusLine();
        screen->show();
        screen->Form_Activate();
        QTest::mouseClick(screen->bottone(3), Qt::LeftButton);
        return int(QDialog::Rejected);
    });

    QTest::mouseClick(laMain.button(1), Qt::LeftButton); // C&onferma, initial numbering
    QTRY_COMPARE(shell.modalForms.size(), 2);
    QCOMPARE(shell.modalForms.at(0).objectName, QStringLiteral("FrontEnd"));
    QCOMPARE(secondScreenServices, 6);
    // The status line follows the screens: the restart's screen, then the start-up window.
    QVERIFY(secondScreenStatus.startsWith(QStringLiteral("Schermo del totem con 6 servizi;")));
    QVERIFY(
        assembled.kiosk.service().statusLine().startsWith(QStringLiteral("Finestra di avvio;")));
    QVERIFY(state.unattendedRestart);
    QVERIFY(!state.restartRequested);
    QVERIFY(!shell.programEnded());
    QVERIFY(shell.messages.isEmpty());

    // Queue: the evening's tickets 1 and 2, then ticket 1 of the new day, for service 3.
    auto db = Database::open(inst.serverDatabase());
    auto queue = db->select(QStringLiteral(
        "SELECT ServizioID, SErvizio, NrDaChiamare, Ora FROM Codafromtotem ORDER BY rowid"));
    QVERIFY(queue);
    QCOMPARE(queue->size(), 3);
    QCOMPARE(queue->at(0).at(2).toInt(), 1);
    QCOMPARE(queue->at(1).at(2).toInt(), 2);
    QCOMPARE(queue->at(2).at(2).toInt(), 1);
    QCOMPARE(queue->at(2).at(0).toInt(), 3);
    QCOMPARE(queue->at(2).at(1).toString(), QStringLiteral("Servizio 3 "));
    QCOMPARE(queue->at(1).at(3).toString(), QStringLiteral("09.06.05"));
    QCOMPARE(scalar(inst.localDatabase(), QStringLiteral("SELECT P3 FROM Numerazione")).toInt(), 2);
    QCOMPARE(scalar(inst.localDatabase(), QStringLiteral("SELECT QualeData FROM DatiDaStampare"))
                 .toString(),
             QStringLiteral("09/12/2026"));
    QCOMPARE(test::fileBytes(inst.numberingFile(3)), QByteArray("1\r\n"));
    QCOMPARE(printer.targets.size(), 3);
    QVERIFY(!printer.lastPages.isEmpty());
    QVERIFY(waiter.waits.isEmpty()); // the waiting message is off
}

QTEST_MAIN(TestEndToEnd)
#include "test_endtoend.moc"
