#include "database.h"
#include "filesizelimit.h"
#include "installation.h"
#include "numberingstore.h"
#include "serverbackend.h"
#include "stationdata.h"
#include "stationsettings.h"
#include "tempinstallation.h"
#include "ticketstore.h"
#include "voicesettings.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QTemporaryDir>
#include <QTest>

using namespace nx7;

Q_LOGGING_CATEGORY(lcTest, "nx7.test")
using nx7::test::ServerBackend::install;

class TestDatabase : public test::BackendSuite
{
    Q_OBJECT
public:
    TestDatabase()
        : BackendSuite({"missingFileAndFolderHaveTheirNumbers",
                        "refusesAccessFilesAndWritesNothing", "refusesFilesThatAreNoDatabase",
                        "valueRules", "namesThatAreSpecialInUrisOpen",
                        "sharedDatabaseUsesTheRollbackJournal", "recordSetsOutliveTheirDatabase",
                        "stationStoresAnAbsoluteServerPath", "unreadableFileIsNotAMissingTable",
                        "fullDiskIsToldInItalian", "voiceSettingsStayWithTheStation",
                        "waitSettingsStayWithTheStation"})
    {
    }

private Q_SLOTS:
    void missingFileAndFolderHaveTheirNumbers();
    void refusesAccessFilesAndWritesNothing();
    void refusesFilesThatAreNoDatabase();
    void fullDiskIsToldInItalian();
    void tableOrderEditAndAdd();
    void missingColumnIs3265AndTableNamesIgnoreCase();
    void findFirstBindsTheValue();
    void valueRules_data();
    void valueRules();
    void installationMatchesTheContract();
    void namesThatAreSpecialInUrisOpen();
    void sharedDatabaseUsesTheRollbackJournal();
    void movingDropsAnUnsavedEdit();
    void countMatchingTreatsNullAsAValue_data();
    void countMatchingTreatsNullAsAValue();
    void recordSetsOutliveTheirDatabase();
    void stationStoresAnAbsoluteServerPath();
    void unreadableFileIsNotAMissingTable();
    void voiceSettingsStayWithTheStation();
    void waitSettingsStayWithTheStation();
    void ticketWritesServiceByKeyAndQueueTogether();
    void numberingStartResetsServicesByPosition();
};

void TestDatabase::missingFileAndFolderHaveTheirNumbers()
{
    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("NX7PRO.mdb"));
    QCOMPARE(Database::open(missing).errorNumber(), ErrorNumber::DatabaseFileNotFound);
    QVERIFY(!QFile::exists(missing)); // opening never creates the file
    QCOMPARE(Database::open(dir.filePath(QStringLiteral("gone/NX7PRO.mdb"))).errorNumber(),
             ErrorNumber::NotValidPath);
}

void TestDatabase::refusesAccessFilesAndWritesNothing()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("TotemNX7PRO.mdb"));
    QByteArray jet("\x00\x01\x00\x00Standard Jet DB\x00", 20);
    jet.append(QByteArray(2048, '\x11'));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(jet);
    file.close();
    const auto db = Database::open(path);
    QCOMPARE(db.errorNumber(), ErrorNumber::UnrecognizedDatabaseFormat);
    QVERIFY(db.error().description.contains(QStringLiteral("Access")));
    QVERIFY(db.error().description.contains(QStringLiteral("TotemNX7PRO.mdb")));
    QCOMPARE(test::fileBytes(path), jet);
}

void TestDatabase::refusesFilesThatAreNoDatabase()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("NX7PRO.mdb"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(4096, 'x'));
    file.close();
    QCOMPARE(Database::open(path).errorNumber(), ErrorNumber::UnrecognizedDatabaseFormat);
}

void TestDatabase::tableOrderEditAndAdd()
{
    auto installed = install();
    test::TempInstallation &inst = *installed;
    QVERIFY2(inst.ok(), qPrintable(inst.error()));
    auto db = Database::open(inst.serverDatabase(), Database::Sharing::Shared);
    QVERIFY(db);
    // Table order is the order of the rows, not of any value in them.
    QVERIFY(db->insert(QStringLiteral("configurazioneTotem"),
                       {{QStringLiteral("RisoluzioneTotem"), 9}}));
    auto config = RecordSet::openTable(*db, QStringLiteral("configurazioneTotem"));
    QCOMPARE(config->recordCount(), 2);
    QCOMPARE(config->value(QStringLiteral("RisoluzioneTotem"))->toInt(), 0);
    auto set = RecordSet::openTable(*db, QStringLiteral("servizi"));
    QVERIFY(set);
    QCOMPARE(set->recordCount(), 20);
    QCOMPARE(set->value(QStringLiteral("ID"))->toInt(), 1);
    set->moveNext();
    QVERIFY(set->edit());
    QVERIFY(set->setValue(QStringLiteral("Attesa"), 7));
    QVERIFY(set->update());

    auto queue = RecordSet::openTable(*db, QStringLiteral("Codafromtotem"));
    QVERIFY(queue);
    QVERIFY(queue->eof());
    QCOMPARE(queue->value(QStringLiteral("Ora")).errorNumber(), ErrorNumber::NoCurrentRecord);
    QVERIFY(queue->addNew());
    QVERIFY(queue->setValue(QStringLiteral("SErvizio"), QStringLiteral("Anagrafe ")));
    QVERIFY(queue->setValue(QStringLiteral("NrDaChiamare"), 5));
    QVERIFY(queue->update());

    auto again = RecordSet::openTable(*db, QStringLiteral("Servizi"), QStringLiteral("ID"), 2);
    QCOMPARE(again->value(QStringLiteral("Attesa"))->toInt(), 7);
    auto rows = db->select(QStringLiteral(
        "SELECT \"SErvizio\", \"NrDaChiamare\", \"SeChiamato\" FROM \"Codafromtotem\""));
    QCOMPARE(rows->size(), 1);
    QCOMPARE(rows->first().at(0).toString(), QStringLiteral("Anagrafe "));
    QCOMPARE(rows->first().at(1).toInt(), 5);
    QVERIFY(rows->first().at(2).isNull()); // no other column is set
}

void TestDatabase::missingColumnIs3265AndTableNamesIgnoreCase()
{
    auto inst = install();
    auto local = Database::open(inst->localDatabase());
    QVERIFY(local);
    auto set = RecordSet::openTable(*local, QStringLiteral("Configurazionetotem"));
    QVERIFY(set);
    QCOMPARE(set->value(QStringLiteral("Nessuno")).errorNumber(), ErrorNumber::ItemNotFound);
    QVERIFY(set->value(QStringLiteral("attesasn")));
    QCOMPARE(RecordSet::openTable(*local, QStringLiteral("Manca")).errorNumber(),
             ErrorNumber::TableNotFound);

    auto db = Database::open(inst->serverDatabase(), Database::Sharing::Shared);
    QVERIFY2(db, qPrintable(db.error().description));
    QCOMPARE(db->isPostgres(), inst->isPostgres());
    QCOMPARE(RecordSet::openTable(*db, QStringLiteral("Manca")).errorNumber(),
             ErrorNumber::TableNotFound);
    QCOMPARE(db->insert(QStringLiteral("Manca"), {{QStringLiteral("A"), 1}}).errorNumber(),
             ErrorNumber::TableNotFound);
    QCOMPARE(
        db->insert(QStringLiteral("CodaFromTOtem"), {{QStringLiteral("Nessuno"), 1}}).errorNumber(),
        ErrorNumber::ItemNotFound);
    // Another spelling of the table and its fields reaches the same columns.
    QVERIFY(db->insert(QStringLiteral("CodaFromTOtem"),
                       {{QStringLiteral("servizio"), QStringLiteral("Anagrafe ")},
                        {QStringLiteral("nrdachiamare"), 3}}));
    auto queue = RecordSet::openTable(*db, QStringLiteral("codafromtotem"));
    QVERIFY(queue);
    QCOMPARE(queue->value(QStringLiteral("SErvizio"))->toString(), QStringLiteral("Anagrafe "));
    QVERIFY(queue->hasField(QStringLiteral("SErvizio")));
}

void TestDatabase::findFirstBindsTheValue()
{
    auto installed = install();
    test::TempInstallation &inst = *installed;
    auto db = Database::open(inst.serverDatabase());
    auto set = RecordSet::openTable(*db, QStringLiteral("Servizi"));
    QVERIFY(*set->findFirst(QStringLiteral("ID"), 12));
    QCOMPARE(set->value(QStringLiteral("Servizio"))->toString(), QStringLiteral("Servizio 12"));
    QVERIFY(!*set->findFirst(QStringLiteral("ID"), QStringLiteral("1 OR 1=1")));
    QVERIFY(set->eof());
    QCOMPARE(set->edit().errorNumber(), ErrorNumber::NoCurrentRecord);
}

void TestDatabase::valueRules_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<bool>("isTrue");
    QTest::addColumn<int>("int32");
    QTest::addColumn<int>("error");
    QTest::addRow("minus one is true") << QVariant(qlonglong(-1)) << true << -1 << 0;
    QTest::addRow("zero is false") << QVariant(0) << false << 0 << 0;
    QTest::addRow("null") << QVariant() << false << 0 << ErrorNumber::InvalidUseOfNull;
    QTest::addRow("text is false") << QVariant(QStringLiteral("12")) << false << 12 << 0;
    QTest::addRow("half to even down") << QVariant(2.5) << true << 2 << 0;
    QTest::addRow("half to even up") << QVariant(3.5) << true << 4 << 0;
    QTest::addRow("overflow") << QVariant(qlonglong(2147483648LL)) << true << 0
                              << ErrorNumber::Overflow;
    QTest::addRow("not a number") << QVariant(QStringLiteral("abc")) << false << 0
                                  << ErrorNumber::TypeMismatch;
}

void TestDatabase::valueRules()
{
    QFETCH(QVariant, value);
    QFETCH(bool, isTrue);
    QFETCH(int, int32);
    QFETCH(int, error);
    QCOMPARE(Value::isTrue(value), isTrue);
    const auto converted = Value::toInt32(value);
    QCOMPARE(converted.errorNumber(), error);
    if (converted)
        QCOMPARE(*converted, int32);
}

void TestDatabase::installationMatchesTheContract()
{
    auto installed = install();
    test::TempInstallation &inst = *installed;
    QVERIFY2(inst.ok(), qPrintable(inst.error()));
    auto local = Database::open(inst.localDatabase());
    auto columns = local->columns(QStringLiteral("ConfigurazioneTotem"));
    QCOMPARE(columns->at(0), (std::pair{QStringLiteral("AttesaSN"), QStringLiteral("BOOLEAN")}));
    QCOMPARE(columns->at(1),
             (std::pair{QStringLiteral("AttesaSecondi"), QStringLiteral("SMALLINT")}));
    for (const QString &table :
         {QStringLiteral("Numerazione"), QStringLiteral("NumerazioneIniziale"),
          QStringLiteral("DatiDaStampare"), QStringLiteral("ConfigurazioneTotem")}) {
        auto set = RecordSet::openTable(*local, table);
        QVERIFY2(set && set->recordCount() == 1, qPrintable(table));
    }
    auto server = Database::open(inst.serverDatabase());
    auto config = RecordSet::openTable(*server, QStringLiteral("configurazioneTotem"));
    QCOMPARE(config->fieldCount(), 20);
    QVERIFY(config->hasField(QStringLiteral("FontBoldTItolo")));
    QVERIFY(config->hasField(QStringLiteral("Fontitalic")));
    // Working defaults, the same on both backends.
    QVERIFY(Value::isTrue(*config->value(QStringLiteral("FontBoldTItolo"))));
    QVERIFY(!Value::isTrue(*config->value(QStringLiteral("Fontitalic"))));
    QCOMPARE(config->value(QStringLiteral("FontSizeTitolo"))->toInt(), 36);
    QCOMPARE(config->value(QStringLiteral("TitoloTotem"))->toString(),
             QStringLiteral("Scegli il Servizio"));
    auto services = RecordSet::openTable(*server, QStringLiteral("Servizi"));
    QCOMPARE(services->recordCount(), 20);
    int active = 0;
    for (; !services->eof(); services->moveNext())
        active += Value::isTrue(services->value(2)) ? 1 : 0;
    QCOMPARE(active, 6);
    for (int slot = 1; slot <= 20; ++slot)
        QCOMPARE(test::fileBytes(inst.numberingFile(slot)), QByteArray("1\r\n"));
    QVERIFY(QFile::exists(QDir(inst.serverPath()).filePath(QStringLiteral("FraseTTS.txt"))));
}

void TestDatabase::namesThatAreSpecialInUrisOpen()
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("uffici #2 ?50%"));
    QVERIFY(QDir().mkpath(folder));
    const QString path = QDir(folder).filePath(QStringLiteral("TotemNX7PRO.mdb"));
    QCOMPARE(Database::open(path).errorNumber(), ErrorNumber::DatabaseFileNotFound);
    QVERIFY(!QFile::exists(path));
    QVERIFY(Installation::createDatabase(path, QStringLiteral("local")));
    auto db = Database::open(path);
    QVERIFY2(db, qPrintable(db.error().description));
    QVERIFY(RecordSet::openTable(*db, QStringLiteral("Numerazione")));
    QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{QStringLiteral("TotemNX7PRO.mdb")});
}

void TestDatabase::sharedDatabaseUsesTheRollbackJournal()
{
    test::TempInstallation inst;
    QVERIFY2(inst.ok(), qPrintable(inst.error()));
    const auto journalMode = [](Database &db) {
        auto rows = db.select(QStringLiteral("PRAGMA journal_mode"));
        return rows && !rows->isEmpty() ? rows->first().first().toString() : QString();
    };
    {
        // Another tool left the shared file in write-ahead-log mode.
        auto db = Database::open(inst.serverDatabase());
        QVERIFY(db->exec(QStringLiteral("PRAGMA journal_mode=WAL")));
        QCOMPARE(journalMode(*db), QStringLiteral("wal"));
    }
    auto shared = Database::open(inst.serverDatabase(), Database::Sharing::Shared);
    QVERIFY(shared);
    QCOMPARE(journalMode(*shared), QStringLiteral("delete"));
    QVERIFY(shared->insert(QStringLiteral("Codafromtotem"), {{QStringLiteral("NrDaChiamare"), 1}}));
    QVERIFY(!QFile::exists(inst.serverDatabase() + QStringLiteral("-wal")));
}

void TestDatabase::movingDropsAnUnsavedEdit()
{
    auto installed = install();
    test::TempInstallation &inst = *installed;
    auto db = Database::open(inst.serverDatabase());
    auto set = RecordSet::openTable(*db, QStringLiteral("Servizi"));
    QVERIFY(set->edit());
    QVERIFY(set->setValue(QStringLiteral("Attesa"), 99));
    set->moveNext();
    QCOMPARE(set->value(QStringLiteral("ID"))->toInt(), 2);
    QCOMPARE(set->value(QStringLiteral("Attesa"))->toInt(), 0);
    QVERIFY(!set->update()); // nothing being edited any more
    QVERIFY(set->edit());
    QVERIFY(set->setValue(QStringLiteral("Attesa"), 98));
    QVERIFY(*set->findFirst(QStringLiteral("ID"), 5));
    QVERIFY(!set->update());
    auto rows =
        db->select(QStringLiteral("SELECT count(*) FROM \"Servizi\" WHERE \"Attesa\" <> 0"));
    QCOMPARE(rows->first().first().toInt(), 0);
}

// How the numbering journal finds a queued ticket again after a power cut: every column
// compared, a Null matching only a Null, the table named in another capitalisation.
void TestDatabase::countMatchingTreatsNullAsAValue_data()
{
    QTest::addColumn<QVariant>("time");
    QTest::addColumn<int>("number");
    QTest::addColumn<int>("count");
    QTest::addRow("Null matches the Null row") << QVariant() << 7 << 1;
    QTest::addRow("Null does not match a value") << QVariant() << 8 << 0;
    QTest::addRow("value matches its row") << QVariant(QStringLiteral("09.00.00")) << 8 << 1;
    QTest::addRow("value does not match the Null row")
        << QVariant(QStringLiteral("09.00.00")) << 7 << 0;
}

void TestDatabase::countMatchingTreatsNullAsAValue()
{
    QFETCH(QVariant, time);
    QFETCH(int, number);
    QFETCH(int, count);
    auto installed = install();
    QVERIFY2(installed->ok(), qPrintable(installed->error()));
    auto db = Database::open(installed->serverDatabase());
    QVERIFY(db);
    for (const auto &[ora, nr] : {std::pair{QVariant(), 7}, std::pair{QVariant("09.00.00"), 8}})
        QVERIFY(db->insert(QStringLiteral("Codafromtotem"),
                           {{QStringLiteral("ServizioID"), 1},
                            {QStringLiteral("SErvizio"), QStringLiteral("Anagrafe ")},
                            {QStringLiteral("Ora"), ora},
                            {QStringLiteral("NrDaChiamare"), nr}}));
    const auto found = db->countMatching(QStringLiteral("CodaFromTOtem"),
                                         {{QStringLiteral("servizioid"), 1},
                                          {QStringLiteral("SErvizio"), QStringLiteral("Anagrafe ")},
                                          {QStringLiteral("Ora"), time},
                                          {QStringLiteral("NrDaChiamare"), number}});
    QVERIFY2(found, qPrintable(found.error().description));
    QCOMPARE(*found, count);
}

void TestDatabase::recordSetsOutliveTheirDatabase()
{
    QTest::failOnWarning(QRegularExpression(QStringLiteral("still in use|duplicate connection")));
    test::TempInstallation inst;
    const QStringList before = QSqlDatabase::connectionNames();
    std::optional<RecordSet> set;
    {
        auto db = Database::open(inst.localDatabase());
        QVERIFY(db);
        auto opened = RecordSet::openTable(*db, QStringLiteral("Numerazione"));
        QVERIFY(opened);
        set = std::move(*opened);
    }
    QCOMPARE(QSqlDatabase::connectionNames().size(), before.size() + 1);
    QVERIFY(set->edit());
    QVERIFY(set->setValue(QStringLiteral("P3"), 12));
    QVERIFY(set->update());
    set.reset();
    QCOMPARE(QSqlDatabase::connectionNames(), before);
    auto again = Database::open(inst.localDatabase());
    QCOMPARE(again->select(QStringLiteral("SELECT P3 FROM Numerazione"))->first().first().toInt(),
             12);
}

void TestDatabase::stationStoresAnAbsoluteServerPath()
{
    QTemporaryDir dir;
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir.path());
    const Status made = Installation::createStation(QStringLiteral("postazione"),
                                                    QStringLiteral("../condivisa/server"));
    QDir::setCurrent(previous);
    QVERIFY(made);
    QCOMPARE(test::fileBytes(dir.filePath(QStringLiteral("postazione/percorsiT.txt"))),
             '"' + QDir::cleanPath(dir.path() + QStringLiteral("/../condivisa/server")).toUtf8() +
                 "\"\r\n");
}

void TestDatabase::unreadableFileIsNotAMissingTable()
{
    test::TempInstallation inst;
    auto db = Database::open(inst.serverDatabase(), Database::Sharing::Shared);
    QVERIFY(db);
    // The file goes bad under an open database (a share replaced, a disk fault).
    QFile file(inst.serverDatabase());
    QVERIFY(file.open(QIODevice::ReadWrite));
    file.write(QByteArray(100, 'x'));
    file.close();
    const auto set = RecordSet::openTable(*db, QStringLiteral("Servizi"));
    QVERIFY(!set);
    QVERIFY2(set.errorNumber() != ErrorNumber::TableNotFound, qPrintable(set.error().description));
}

void TestDatabase::voiceSettingsStayWithTheStation()
{
    test::TempInstallation inst;
    const Stores stores = inst.stores();
    const auto columnCount = [&] {
        auto db = stores.local();
        return db ? int(db->columns(QStringLiteral("ConfigurazioneTotem"))->size()) : -1;
    };
    const int before = columnCount();
    // A station made before the voice existed speaks with the defaults.
    QCOMPARE(*VoiceSettings::load(stores), VoiceSettings::Values{});
    // Out of range: refused before anything is added to the table.
    QCOMPARE(VoiceSettings::save(stores, {true, 9, 160}).errorNumber(), ErrorNumber::Overflow);
    QCOMPARE(VoiceSettings::save(stores, {true, 6, 79}).errorNumber(), ErrorNumber::Overflow);
    QCOMPARE(VoiceSettings::save(stores, {true, 6, 160, 2001}).errorNumber(),
             ErrorNumber::Overflow);
    QCOMPARE(columnCount(), before);

    const VoiceSettings::Values chosen{false, 3, 200, 1500};
    QVERIFY(VoiceSettings::save(stores, chosen));
    QCOMPARE(columnCount(), before + 4);
    QCOMPARE(*VoiceSettings::load(stores), chosen);
    QVERIFY(VoiceSettings::save(stores, {true, 8, 450})); // fields added once only
    QCOMPARE(columnCount(), before + 4);

    // A value a technician typed into the table by hand that the voice cannot use.
    auto db = stores.local();
    QVERIFY(db->exec(QStringLiteral("UPDATE ConfigurazioneTotem SET VoceVolume = 99, "
                                    "VoceVelocita = NULL, VoceRipetizione = 2500")));
    QCOMPARE(*VoiceSettings::load(stores), (VoiceSettings::Values{true, 6, 160}));
}

void TestDatabase::waitSettingsStayWithTheStation()
{
    test::TempInstallation inst;
    const Stores stores = inst.stores();
    QVERIFY(StationSettings::saveWait(stores, {true, 12}));
    // Stored as the stations' older databases hold Yes/No.
    QCOMPARE(test::scalar(inst.localDatabase(), QStringLiteral("SELECT AttesaSN FROM "
                                                               "ConfigurazioneTotem"))
                 .toInt(),
             -1);
    QVERIFY(test::run(inst.localDatabase(),
                      QStringLiteral("UPDATE ConfigurazioneTotem SET AttesaSecondi = NULL")));
    auto wait = StationSettings::loadWait(stores);
    QVERIFY(wait && wait->enabled && wait->seconds == 0);

    QVERIFY(test::run(inst.localDatabase(), QStringLiteral("DELETE FROM ConfigurazioneTotem")));
    QCOMPARE(StationSettings::saveWait(stores, {false, 1}).error().description,
             QStringLiteral("La tabella \"ConfigurazioneTotem\" del database locale è vuota."));
}

void TestDatabase::ticketWritesServiceByKeyAndQueueTogether()
{
    auto inst = install();
    const Stores stores = inst->stores();
    QVERIFY(TicketStore::advanceCounter(stores, 20, 42));
    QCOMPARE(test::scalar(inst->localDatabase(), QStringLiteral("SELECT P20 FROM Numerazione")),
             QVariant(42));
    QVERIFY(*TicketStore::writePrintRow(stores, {QStringLiteral("Servizio 2 "),
                                                 QStringLiteral("09/12/2026"), 3,
                                                 QStringLiteral("10.15"), 7}));
    auto printed = TicketStore::printRows(stores);
    QVERIFY(printed && printed->recordCount() == 1);
    QCOMPARE(printed->value(QStringLiteral("NumeroDaStampare"))->toInt(), 7);

    auto server = stores.server(inst->serverPath());
    QVERIFY(server);
    QList<int> waiting = test::waitingCounts(*inst);
    QCOMPARE(*TicketStore::setWaitingCount(*server, 999, 5, lcTest), false); // no other row touched
    QCOMPARE(test::waitingCounts(*inst), waiting);

    const TicketStore::QueuedTicket ticket{2, QStringLiteral("Servizio 2 "),
                                           QStringLiteral("10.15.30"), 7};
    QVERIFY(TicketStore::recordOnServer(stores, inst->serverPath(), ticket, 4, lcTest));
    waiting[1] = 4;
    QCOMPARE(test::waitingCounts(*inst), waiting);
    auto queued = TicketStore::queuedTickets(*server);
    QVERIFY(queued && queued->size() == 1);
    QCOMPARE(queued->first().serviceId.toInt(), 2);
    QCOMPARE(queued->first().serviceName, ticket.serviceName);
    QCOMPARE(queued->first().time, ticket.time);
    QCOMPARE(queued->first().number, 7);
    QVERIFY(!queued->first().called);
}

void TestDatabase::numberingStartResetsServicesByPosition()
{
    auto inst = install();
    QVERIFY(test::fillQueueAndWaiting(*inst));
    auto local = inst->stores().local();
    auto counters = NumberingStore::readCounterRow(*local, QStringLiteral("NumerazioneIniziale"));
    QVERIFY(counters && counters->hasRow && counters->values.size() == 20);
    auto server = inst->stores().server(inst->serverPath());
    QString missing;
    auto first = NumberingStore::firstQueuedTicket(*server, missing);
    QVERIFY(first && first->size() == 4);
    QCOMPARE(first->at(1).toString(), QStringLiteral("Anagrafe "));

    NumberingStore::WaitingReset done;
    QVERIFY(NumberingStore::resetWaitingCounts(*server, 2, true, done));
    QCOMPARE(done.rows, 20);
    QCOMPARE(done.reset, 2);
    QCOMPARE(test::waitingCounts(*inst).mid(0, 3), (QList<int>{0, 0, 4}));
    QVERIFY(NumberingStore::emptyQueue(*server));
    QVERIFY(NumberingStore::firstQueuedTicket(*server, missing)->isEmpty());
}

QTEST_GUILESS_MAIN(TestDatabase)
void TestDatabase::fullDiskIsToldInItalian()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("full.db"));
    QFile(path).open(QIODevice::WriteOnly); // an empty file is an empty database
    auto db = Database::open(path);
    QVERIFY(db && db->exec(QStringLiteral("CREATE TABLE t (x TEXT)")));
    Status status;
    {
        test::FileSizeLimit fullDisk(QFileInfo(path).size());
        status = db->exec(QStringLiteral("INSERT INTO t VALUES (?)"), {QString(100000, u'x')});
    }
    // The operator's words; the engine's English ("disk I/O error") stays in the log.
    QCOMPARE(status.error().description,
             QStringLiteral(
                 "Operazione sul database non riuscita: errore di lettura o scrittura del disco"));
}

#include "test_database.moc"
