#include "numberingjournal.h"
#include "numberingstart.h"
#include "serverbackend.h"
#include "stationdata.h"
#include "stationfixture.h"
#include "textrecord.h"
#include "waitsettings.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

using namespace nx7;
using namespace nx7::test;

class TestNumberingStart : public test::BackendSuite
{
    Q_OBJECT
public:
    TestNumberingStart()
        : BackendSuite({"currentNumberingNamesAnEmptyField",
                        "secondsAreParsedWithinTheSixteenBitField",
                        "upgradeCompletesATableThatHoldsOneField"})
    {
    }

private Q_SLOTS:
    void attendedInitialResetsByPositionOnlyTheFirstTwenty();
    void fileFailureHalfWayPutsEverythingBack();
    void powerCutAtEachStageIsSettledAtTheNextStart_data();
    void powerCutAtEachStageIsSettledAtTheNextStart();
    void serverFolderLostHalfWayIsNotCalledUnchanged();
    void missingServerPiecesAreNamed_data();
    void missingServerPiecesAreNamed();
    void kioskNeedsAreCheckedBeforeTheQueueIsTouched_data();
    void kioskNeedsAreCheckedBeforeTheQueueIsTouched();
    void currentNumberingNamesAnEmptyField();
    void secondsAreParsedWithinTheSixteenBitField();
    void upgradeCompletesATableThatHoldsOneField();
};

void TestNumberingStart::attendedInitialResetsByPositionOnlyTheFirstTwenty()
{
    StationFixture fixture;
    TempInstallation &station = fixture.installation;
    // Keys out of order and two rows beyond the twentieth: position decides, not ID.
    QVERIFY(run(station.serverDatabase(),
                QStringLiteral("UPDATE \"Servizi\" SET \"ID\" = 200 - \"ID\"")));
    for (int id : {7, 3})
        QVERIFY(
            run(station.serverDatabase(),
                QStringLiteral("INSERT INTO \"Servizi\" (\"ID\", \"Servizio\", \"ServizioAttivo\", "
                               "\"Attesa\") VALUES (?, 'Extra', FALSE, 9)"),
                {id}));
    QVERIFY(fillQueueAndWaiting(station));
    QVERIFY(setInitialNumbers(station));

    StationState &state = fixture.state;
    NumberingStart start(station.stores(), state);
    QVERIFY(start.startInitial().started());
    QCOMPARE(start.servicesReset(), 20);
    QCOMPARE(waitingCounts(station), QList<int>(20, 0) + QList<int>({4, 4}));
    QCOMPARE(queueLength(station), 0);
    QCOMPARE(state.serviceCounters[20], 120);
}

void TestNumberingStart::powerCutAtEachStageIsSettledAtTheNextStart_data()
{
    using Stage = NumberingStart::Stage;
    QTest::addColumn<int>("stage");
    QTest::addColumn<int>("times");
    QTest::addColumn<bool>("committed");
    QTest::addRow("journal written") << int(Stage::JournalWritten) << 1 << false;
    QTest::addRow("queue emptied") << int(Stage::QueueEmptied) << 1 << false;
    QTest::addRow("waiting counts reset") << int(Stage::WaitingReset) << 1 << false;
    QTest::addRow("first file written") << int(Stage::FileWritten) << 1 << false;
    QTest::addRow("eight files written") << int(Stage::FileWritten) << 8 << false;
    QTest::addRow("all files written") << int(Stage::FileWritten) << 20 << false;
    QTest::addRow("committed, journal left") << int(Stage::Committed) << 1 << true;
}

void TestNumberingStart::powerCutAtEachStageIsSettledAtTheNextStart()
{
    QFETCH(int, stage);
    QFETCH(int, times);
    QFETCH(bool, committed);
    StationFixture fixture;
    TempInstallation &station = fixture.installation;
    QVERIFY(fillQueueAndWaiting(station));
    // The ticket that tells the outcome has an empty field, which the journal keeps as null.
    QVERIFY(run(station.serverDatabase(),
                QStringLiteral("UPDATE \"Codafromtotem\" SET \"Ora\" = NULL")));
    QVERIFY(setInitialNumbers(station));
    for (int slot = 1; slot <= 20; ++slot)
        QVERIFY(TextRecord::writeInteger(station.numberingFile(slot), 500 + slot));
    QVERIFY(QFile::remove(station.numberingFile(9))); // absent before

    QProcess kiosk;
    kiosk.setWorkingDirectory(station.stationPath());
    kiosk.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    kiosk.start(QStringLiteral(NX7_CRASH_HELPER), {QString::number(stage), QString::number(times)});
    QVERIFY(kiosk.waitForFinished(20000));
    QCOMPARE(kiosk.exitStatus(), QProcess::CrashExit); // really cut off there
    const QString journal = QDir(station.stationPath()).filePath(NumberingJournal::fileName());
    QVERIFY(QFile::exists(journal));

    // The next start, before anything else.
    const auto recovered = NumberingJournal::recover(station.stores());
    QVERIFY(recovered);
    QVERIFY(*recovered);
    QVERIFY(!QFile::exists(journal));

    // The files agree with what the server kept, and the next start works.
    QCOMPARE(queueLength(station), committed ? 0 : 3);
    QCOMPARE(waitingCounts(station), QList<int>(20, committed ? 0 : 4));
    for (int slot = 1; slot <= 20; ++slot) {
        const QString file = station.numberingFile(slot);
        if (slot == 9 && !committed) {
            QVERIFY(!QFile::exists(file));
            continue;
        }
        QCOMPARE(*TextRecord::readFirstField(file),
                 QString::number(committed ? 100 + slot : 500 + slot));
    }
    StationState &state = fixture.state;
    QVERIFY(NumberingStart(station.stores(), state).startInitial().started());
    QCOMPARE(queueLength(station), 0);
}

void TestNumberingStart::fileFailureHalfWayPutsEverythingBack()
{
    StationFixture fixture;
    TempInstallation &station = fixture.installation;
    QVERIFY(fillQueueAndWaiting(station));
    QVERIFY(setInitialNumbers(station));
    QVERIFY(TextRecord::writeInteger(station.numberingFile(2), 57));
    QVERIFY(QFile::remove(station.numberingFile(3))); // absent before: absent after
    QList<QByteArray> before;
    for (int slot = 1; slot <= 20; ++slot)
        before.append(fileBytes(station.numberingFile(slot)));

    StationState &state = fixture.state;
    state.serviceCounters.fill(5);
    int writes = 0;
    NumberingStart start(station.stores(), state, [&](const QString &path, qint32 value) -> Status {
        if (++writes == 7)
            return Error::make(ErrorNumber::PermissionDenied);
        return TextRecord::writeInteger(path, value);
    });
    const auto outcome = start.startInitial();
    QCOMPARE(outcome.kind, NumberingStart::Outcome::Kind::Failed);
    QVERIFY(outcome.message.value(1).contains(QStringLiteral("NrAllS7.txt")));
    QCOMPARE(outcome.message.value(2), QStringLiteral("Nessuna modifica eseguita."));

    for (int slot = 1; slot <= 20; ++slot)
        QCOMPARE(fileBytes(station.numberingFile(slot)), before.at(slot - 1));
    QVERIFY(!QFile::exists(station.numberingFile(3)));
    QCOMPARE(queueLength(station), 3);
    QCOMPARE(waitingCounts(station), QList<int>(20, 4));
    QCOMPARE(state.serviceCounters[1], 5);
}

void TestNumberingStart::serverFolderLostHalfWayIsNotCalledUnchanged()
{
    StationFixture fixture;
    TempInstallation &station = fixture.installation;
    QVERIFY(fillQueueAndWaiting(station));
    QVERIFY(setInitialNumbers(station));
    const QString numbering = QDir(station.serverPath()).filePath(QStringLiteral("NrAll"));

    StationState &state = fixture.state;
    int writes = 0;
    // The share drops while the seventh file is written: the six written cannot be put back.
    NumberingStart start(station.stores(), state, [&](const QString &path, qint32 value) -> Status {
        if (++writes < 7)
            return TextRecord::writeInteger(path, value);
        QDir().rename(numbering, numbering + QStringLiteral("-perso"));
        return Error::make(ErrorNumber::PathNotFound);
    });
    const auto outcome = start.startInitial();
    QCOMPARE(outcome.kind, NumberingStart::Outcome::Kind::Failed);
    QCOMPARE(outcome.message.size(), 3);
    QVERIFY2(!outcome.message.at(2).contains(QStringLiteral("Nessuna modifica")),
             qPrintable(outcome.message.join(u'|')));
    QVERIFY(outcome.message.at(2).contains(QStringLiteral("6 file")));
    QCOMPARE(queueLength(station), 3); // the database part was still rolled back
    QCOMPARE(waitingCounts(station), QList<int>(20, 4));
}

void TestNumberingStart::kioskNeedsAreCheckedBeforeTheQueueIsTouched_data()
{
    QTest::addColumn<bool>("local");
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("named");
    QTest::addRow("no local Numerazione") << true << "DROP TABLE Numerazione"
                                          << "\"Numerazione\"";
    QTest::addRow("active service without a name")
        << false << "UPDATE \"Servizi\" SET \"Servizio\" = NULL WHERE \"ID\" = 2"
        << "ID 2";
    QTest::addRow("no button font size")
        << false << "UPDATE \"configurazioneTotem\" SET \"FontSize\" = NULL"
        << "\"FontSize\"";
    QTest::addRow("title colour not a number")
        << false << "UPDATE \"configurazioneTotem\" SET \"FontForecolorTitolo\" = 'rosso'"
        << "\"FontForecolorTitolo\"";
    QTest::addRow("no date visibility field")
        << false << "ALTER TABLE \"configurazioneTotem\" DROP COLUMN \"DataVisibile\""
        << "\"DataVisibile\"";
    QTest::addRow("no screen configuration") << false << "DELETE FROM \"configurazioneTotem\""
                                             << "\"configurazioneTotem\"";
    QTest::addRow("read-only local database")
        << true << test::kRefuseLocalWrites << "non scrivibile";
}

void TestNumberingStart::kioskNeedsAreCheckedBeforeTheQueueIsTouched()
{
    QFETCH(bool, local);
    QFETCH(QString, sql);
    QFETCH(QString, named);
    StationFixture fixture;
    TempInstallation &station = fixture.installation;
    QVERIFY(fillQueueAndWaiting(station));
    QVERIFY(run(station.serverDatabase(),
                QStringLiteral("UPDATE \"Servizi\" SET \"ServizioAttivo\" = TRUE")));
    QVERIFY(run(local ? station.localDatabase() : station.serverDatabase(), sql));
    QVERIFY(TextRecord::writeInteger(station.numberingFile(1), 57));

    StationState &state = fixture.state;
    const auto outcome = NumberingStart(station.stores(), state).startInitial();
    QCOMPARE(outcome.kind, NumberingStart::Outcome::Kind::Failed);
    QVERIFY2(outcome.message.value(1).contains(named), qPrintable(outcome.message.join(u'|')));
    QCOMPARE(outcome.message.value(2), QStringLiteral("Nessuna modifica eseguita."));
    QCOMPARE(queueLength(station), 3);
    QCOMPARE(waitingCounts(station), QList<int>(20, 4));
    QCOMPARE(fileBytes(station.numberingFile(1)), QByteArray("57\r\n"));
    QVERIFY(!QFile::exists(NumberingJournal::fileName()));
}

void TestNumberingStart::missingServerPiecesAreNamed_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("named");
    QTest::newRow("no Servizi") << "DROP TABLE \"Servizi\""
                                << "\"Servizi\"";
    QTest::newRow("no Attesa") << "ALTER TABLE \"Servizi\" DROP COLUMN \"Attesa\""
                               << "\"Attesa\"";
    QTest::newRow("no queue") << "DROP TABLE \"Codafromtotem\""
                              << "\"Codafromtotem\"";
    QTest::newRow("no NrAll") << ""
                              << "\"NrAll\"";
}

void TestNumberingStart::missingServerPiecesAreNamed()
{
    QFETCH(QString, sql);
    QFETCH(QString, named);
    StationFixture fixture;
    TempInstallation &station = fixture.installation;
    QVERIFY(fillQueueAndWaiting(station));
    if (sql.isEmpty())
        QVERIFY(
            QDir(QDir(station.serverPath()).filePath(QStringLiteral("NrAll"))).removeRecursively());
    else
        QVERIFY(run(station.serverDatabase(), sql));
    if (!sql.isEmpty())
        QVERIFY(TextRecord::writeInteger(station.numberingFile(1), 57));

    StationState &state = fixture.state;
    const auto outcome = NumberingStart(station.stores(), state).startInitial();
    QCOMPARE(outcome.kind, NumberingStart::Outcome::Kind::Failed);
    QVERIFY2(outcome.message.value(1).contains(named), qPrintable(outcome.message.join(u'|')));
    if (named != QStringLiteral("\"Codafromtotem\""))
        QCOMPARE(queueLength(station), 3); // the delete was rolled back
    if (!sql.isEmpty())
        QCOMPARE(fileBytes(station.numberingFile(1)), QByteArray("57\r\n"));
}

void TestNumberingStart::currentNumberingNamesAnEmptyField()
{
    TempInstallation station;
    QVERIFY(station.ok());
    QVERIFY(run(station.localDatabase(), QStringLiteral("UPDATE Numerazione SET P7 = NULL")));
    StationState state;
    const auto outcome = NumberingStart(station.stores(), state).loadCurrent();
    QCOMPARE(outcome.kind, NumberingStart::Outcome::Kind::Failed);
    QVERIFY(outcome.message.value(1).contains(QStringLiteral("\"P7\"")));
    QVERIFY(outcome.message.value(1).contains(QStringLiteral("vuoto")));
}

void TestNumberingStart::secondsAreParsedWithinTheSixteenBitField()
{
    QCOMPARE(*WaitSettings::parseSeconds(QString()), 0);
    QCOMPARE(*WaitSettings::parseSeconds(QStringLiteral("00005")), 5);
    QCOMPARE(*WaitSettings::parseSeconds(QStringLiteral("60")), 60);
    QCOMPARE(WaitSettings::parseSeconds(QStringLiteral("61")).errorNumber(), ErrorNumber::Overflow);
    QCOMPARE(WaitSettings::parseSeconds(QStringLiteral("32767")).errorNumber(),
             ErrorNumber::Overflow);
    QCOMPARE(WaitSettings::clampedSeconds(-5), 0); // as an older kiosk may have stored
    QCOMPARE(WaitSettings::parseSeconds(QStringLiteral("99999999999999999999")).errorNumber(),
             ErrorNumber::Overflow);
}

void TestNumberingStart::upgradeCompletesATableThatHoldsOneField()
{
    TempInstallation station;
    QVERIFY(station.ok());
    QVERIFY(run(station.localDatabase(), QStringLiteral("DROP TABLE ConfigurazioneTotem")));
    QVERIFY(run(station.localDatabase(),
                QStringLiteral("CREATE TABLE ConfigurazioneTotem (AttesaSecondi SMALLINT)")));
    QVERIFY(WaitSettings::UpgradeSettingsTable(station.stores()));
    QVERIFY(WaitSettings::UpgradeSettingsTable(station.stores())); // nothing left to add
    auto db = Database::open(station.localDatabase());
    QVERIFY(db);
    const auto columns = db->columns(QStringLiteral("ConfigurazioneTotem"));
    QVERIFY(columns);
    QCOMPARE(columns->size(), 2);
    QCOMPARE(columns->at(1), std::make_pair(QStringLiteral("AttesaSN"), QStringLiteral("BOOLEAN")));
}

QTEST_GUILESS_MAIN(TestNumberingStart)
#include "test_numberingstart.moc"
