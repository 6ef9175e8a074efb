// The server database on PostgreSQL: what differs from the SQLite file and what must
// not (the tests shared by both backends are in test_database).
#include "database.h"
#include "filenames.h"
#include "installation.h"
#include "serverbackend.h"
#include "storefailure.h"
#include "tempinstallation.h"
#include "textrecord.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace nx7;
using test::PostgresServer;

class TestPostgres : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void connectionFailuresHaveTheirNumbers();
    void reasonsIgnoreTheNamesInLibpqsMessage_data();
    void reasonsIgnoreTheNamesInLibpqsMessage();
    void statementFaultsAreNamed_data();
    void statementFaultsAreNamed();
    void connectionFileIsFoundWhateverItsCase();
    void databaseMadeByAnotherToolWithLowerCaseNamesAndNumberYesNo();
    void rowChangedByAStationMeanwhileIsNotOverwritten();
    void rowLockedByAStationGivesUpAfterTheBusyTimeout();
    void connectionIsKeptAndMadeAgainAfterAFailure();
    void transactionLeftOpenIsRolledBack();
    void setupRefusesADatabaseThatHoldsTheTables();
    void sqliteInstallationMovesWithRowsAndOrder();

private:
    PostgresServer &pg() { return *test::ServerBackend::postgres(); }
    QString newDatabase()
    {
        const QString name = pg().createDatabase();
        return name.isEmpty() ? QString() : pg().connectionString(name);
    }
};

namespace {

// The role "nx7segreto" (password "segreta") must give its password over TCP: a first
// line of its own in the server's pg_hba.conf, written and read by the server itself.
bool requirePassword(PostgresServer &pg)
{
    const QString hba = QString::fromUtf8(pg.psql("postgres", "SHOW hba_file")).trimmed();
    QStringList lines{QStringLiteral("host all nx7segreto all scram-sha-256")};
    lines +=
        QString::fromUtf8(pg.psql("postgres", QStringLiteral("SELECT pg_read_file('%1')").arg(hba)))
            .replace(u'\t', u' ')
            .split(u'\n');
    for (QString &line : lines)
        line = u'\'' + line.replace(u'\'', QStringLiteral("''")) + u'\'';
    pg.psql("postgres", QStringLiteral("CREATE ROLE nx7segreto LOGIN PASSWORD 'segreta'"));
    pg.psql("postgres", QStringLiteral("COPY (SELECT l FROM unnest(ARRAY[%1]) WITH ORDINALITY AS "
                                       "t(l, n) ORDER BY n) TO '%2'")
                            .arg(lines.join(u','), hba));
    return pg.psql("postgres", QStringLiteral("SELECT pg_reload_conf()")).trimmed() == "t";
}

} // namespace

void TestPostgres::initTestCase()
{
    QString error;
    QVERIFY2(test::ServerBackend::start(&error), qPrintable(error));
    QVERIFY2(requirePassword(pg()), qPrintable(pg().error()));
}

void TestPostgres::cleanupTestCase()
{
    test::ServerBackend::stop();
}

void TestPostgres::connectionFailuresHaveTheirNumbers()
{
    // Nobody listens on that port: as a server folder that is gone, and quickly.
    QElapsedTimer clock;
    clock.start();
    auto down =
        Database::openPostgres(QStringLiteral("host=127.0.0.1 port=%1 dbname=x user=postgres")
                                   .arg(pg().port() == 1 ? 2 : 1));
    QCOMPARE(down.errorNumber(), ErrorNumber::NotValidPath);
    QVERIFY(down.error().description.contains(QStringLiteral("non è raggiungibile")));
    QVERIFY(clock.elapsed() < 4000);

    auto missing = Database::openPostgres(pg().connectionString(QStringLiteral("nessuno")));
    QCOMPARE(missing.errorNumber(), ErrorNumber::CannotOpenDatabase);
    QVERIFY2(missing.error().description.contains(QStringLiteral("\"nessuno\" non esiste")),
             qPrintable(missing.error().description));
    auto login = Database::openPostgres(pg().connectionString(QStringLiteral("postgres")) +
                                        QStringLiteral(" user=sconosciuto"));
    QCOMPARE(login.errorNumber(), ErrorNumber::CannotOpenDatabase);
    QVERIFY2(login.error().description.contains(QStringLiteral("Accesso negato")),
             qPrintable(login.error().description));
    for (const QString &bad :
         {QStringLiteral("host"), QStringLiteral("dbname='aperto"), QStringLiteral("")})
        QCOMPARE(Database::openPostgres(bad).errorNumber(), ErrorNumber::CannotOpenDatabase);

    // The URI form and quoted values reach the same server.
    auto uri = Database::openPostgres(
        QStringLiteral("postgresql://postgres@127.0.0.1:%1/postgres?connect_timeout=2")
            .arg(pg().port()));
    QVERIFY2(uri, qPrintable(uri.error().description));
    auto quoted =
        Database::openPostgres(QStringLiteral("host = '%1' port=%2 dbname='postgres' user=postgres")
                                   .arg(pg().socketFolder())
                                   .arg(pg().port()));
    QVERIFY2(quoted, qPrintable(quoted.error().description));
}

void TestPostgres::reasonsIgnoreTheNamesInLibpqsMessage_data()
{
    // Appended to a connection to the test server ("*" in front: in place of it).
    QTest::addColumn<QString>("settings");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("reason");
    const int unreachable = ErrorNumber::NotValidPath;
    const int refused = ErrorNumber::CannotOpenDatabase;
    QTest::newRow("host that does not resolve") << "*host=nx7-nessuno.invalid dbname=nx7 user=totem"
                                                << unreachable << "non è raggiungibile";
    QTest::newRow("database named like a refusal")
        << "dbname='no pg_hba.conf entry invalid'" << refused << "non esiste sul server";
    QTest::newRow("role named like a certificate failure")
        << "user='certificate verify failed invalid'" << refused << "non esiste sul server";
    const QString needsPassword = u'*' + pg().connectionString(QStringLiteral("postgres"), true) +
                                  QStringLiteral(" user=nx7segreto");
    QTest::newRow("password not given") << needsPassword << refused << "chiede la password";
    QTest::newRow("wrong password")
        << needsPassword + QStringLiteral(" password=sbagliata") << refused << "password errata";
    QTest::newRow("option the server does not know")
        << "options='-c nessuna=1'" << refused << "parametro non riconosciuto";
    QTest::newRow("value libpq refuses")
        << "sslmode=sempre" << refused << "parametro non riconosciuto";
}

void TestPostgres::reasonsIgnoreTheNamesInLibpqsMessage()
{
    QFETCH(QString, settings);
    QFETCH(int, number);
    QFETCH(QString, reason);
    const QString connection =
        settings.startsWith(u'*')
            ? settings.mid(1)
            : pg().connectionString(QStringLiteral("postgres")) + u' ' + settings;
    auto opened = Database::openPostgres(connection);
    QVERIFY(!opened);
    QCOMPARE(opened.errorNumber(), number);
    QVERIFY2(opened.error().description.contains(reason), qPrintable(opened.error().description));
}

void TestPostgres::statementFaultsAreNamed_data()
{
    QTest::addColumn<QString>("setting");
    QTest::addColumn<QString>("statement");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("reason");
    QTest::newRow("statement timed out")
        << "statement_timeout=200"
        << "SELECT pg_sleep(2)" << ErrorNumber::DatabaseLocked << "nel tempo concesso";
    QTest::newRow("read-only database")
        << "default_transaction_read_only=on"
        << "CREATE TABLE t (x integer)" << ErrorNumber::NotValidPath << "accetta solo letture";
}

void TestPostgres::statementFaultsAreNamed()
{
    QFETCH(QString, setting);
    QFETCH(QString, statement);
    QFETCH(int, number);
    QFETCH(QString, reason);
    auto db =
        Database::openPostgres(newDatabase() + QStringLiteral(" options='-c %1'").arg(setting));
    QVERIFY2(db, qPrintable(db.error().description));
    const Status done = db->exec(statement);
    QCOMPARE(done.errorNumber(), number);
    QVERIFY2(done.error().description.contains(reason), qPrintable(done.error().description));
}

void TestPostgres::connectionFileIsFoundWhateverItsCase()
{
    const QString connection = newDatabase();
    QVERIFY(!connection.isEmpty());
    QTemporaryDir folder;
    QVERIFY(Installation::createPostgresServer(folder.path(), connection));
    QVERIFY(QFile::rename(folder.filePath(QStringLiteral("NX7PRO.pg")),
                          folder.filePath(QStringLiteral("nx7pro.PG"))));
    QVERIFY(
        TextRecord::writeFileAtomically(folder.filePath(QStringLiteral("nx7pro.PG")),
                                        "# server of the offices\n" + connection.toUtf8() + "\n"));
    auto db = Database::open(FilePath::server(folder.path(), FileName::ServerDatabase),
                             Database::Sharing::Shared);
    QVERIFY2(db, qPrintable(db.error().description));
    QVERIFY(db->isPostgres());
    QCOMPARE(RecordSet::openTable(*db, QStringLiteral("Servizi"))->recordCount(), 20);
    // Without the file the folder's own SQLite file counts again (here: none).
    QVERIFY(QFile::remove(folder.filePath(QStringLiteral("nx7pro.PG"))));
    QCOMPARE(Database::open(folder.filePath(QStringLiteral("NX7PRO.mdb"))).errorNumber(),
             ErrorNumber::DatabaseFileNotFound);
}

void TestPostgres::databaseMadeByAnotherToolWithLowerCaseNamesAndNumberYesNo()
{
    const QString name = pg().createDatabase();
    QVERIFY(!pg().psql(name,
                       QStringLiteral(
                           "CREATE TABLE servizi (id int PRIMARY KEY, servizio text, "
                           "servizioattivo int, attesa int);"
                           "INSERT INTO servizi VALUES (3, 'Tre', 1, 0), (1, 'Uno', -1, 0), (2, "
                           "'Due', 0, 0);"
                           "CREATE TABLE codafromtotem (servizioid int, servizio text, ora text, "
                           "sechiamato smallint, nrdachiamare int);"
                           "CREATE TABLE configurazionetotem (risoluzionetotem int, fontbold int);"
                           "INSERT INTO configurazionetotem VALUES (0, -1);"))
                 .isNull());
    auto db = Database::openPostgres(pg().connectionString(name));
    QVERIFY(db);
    // Table order is the key's order; the Yes/No filter reads -1 and 1 as Yes.
    auto services = RecordSet::openTable(*db, QStringLiteral("Servizi"));
    QVERIFY(services);
    QStringList active;
    for (; !services->eof(); services->moveNext()) {
        if (Value::isTrue(*services->value(QStringLiteral("ServizioAttivo"))))
            active.append(services->value(QStringLiteral("Servizio"))->toString());
    }
    QCOMPARE(active, (QStringList{QStringLiteral("Uno"), QStringLiteral("Tre")}));
    // Yes/No written as the kiosk writes it lands as -1 / 0 in a number column.
    QVERIFY(db->insert(QStringLiteral("Codafromtotem"),
                       {{QStringLiteral("SErvizio"), QStringLiteral("Uno ")},
                        {QStringLiteral("SeChiamato"), false}}));
    QVERIFY(*services->findFirst(QStringLiteral("ID"), 2));
    QVERIFY(services->edit());
    QVERIFY(services->setValue(QStringLiteral("ServizioAttivo"), true));
    QVERIFY(services->update());
    QCOMPARE(pg().psql(name, QStringLiteral("SELECT sechiamato FROM codafromtotem; SELECT "
                                            "servizioattivo FROM servizi WHERE id = 2")),
             QByteArray("0\n-1\n"));
    // A table without a key is edited by the row's position, more than once.
    auto config = RecordSet::openTable(*db, QStringLiteral("configurazioneTotem"));
    for (int code : {2, 3}) {
        QVERIFY(config->edit());
        QVERIFY(config->setValue(QStringLiteral("RisoluzioneTotem"), code));
        QVERIFY2(config->update(), "a second edit of the same row must find it again");
    }
    QCOMPARE(pg().psql(name, QStringLiteral(
                                 "SELECT risoluzionetotem, fontbold FROM configurazionetotem")),
             QByteArray("3|-1\n"));
}

void TestPostgres::rowChangedByAStationMeanwhileIsNotOverwritten()
{
    const QString name = pg().createDatabase();
    QVERIFY(
        !pg().psql(name, QStringLiteral("CREATE TABLE \"configurazioneTotem\" (\"TitoloTotem\" "
                                        "text, \"RisoluzioneTotem\" int);"
                                        "INSERT INTO \"configurazioneTotem\" VALUES ('Kiosk', 0);"))
             .isNull());
    auto db = Database::openPostgres(pg().connectionString(name));
    auto config = RecordSet::openTable(*db, QStringLiteral("configurazioneTotem"));
    QVERIFY(config);
    QVERIFY(
        !pg().psql(name, QStringLiteral(
                             "UPDATE \"configurazioneTotem\" SET \"TitoloTotem\" = 'Sportello'"))
             .isNull());
    QVERIFY(config->edit());
    QVERIFY(config->setValue(QStringLiteral("RisoluzioneTotem"), 1));
    const Status saved = config->update();
    QCOMPARE(saved.errorNumber(), ErrorNumber::DatabaseOperationFailed);
    QVERIFY(saved.error().description.contains(QStringLiteral("un'altra postazione")));
    QCOMPARE(pg().psql(name, QStringLiteral("SELECT * FROM \"configurazioneTotem\"")),
             QByteArray("Sportello|0\n"));
}

void TestPostgres::rowLockedByAStationGivesUpAfterTheBusyTimeout()
{
    const QString connection = newDatabase();
    QTemporaryDir folder;
    QVERIFY(Installation::createPostgresServer(folder.path(), connection));
    // A station holds the row of service 1 in an open transaction for longer than the wait.
    QProcess station;
    station.start(QStringLiteral("psql"),
                  {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-d"), connection,
                   QStringLiteral("-c"),
                   QStringLiteral("BEGIN; UPDATE \"Servizi\" SET \"Attesa\" = 9 WHERE \"ID\" = 1; "
                                  "SELECT pg_sleep(9); COMMIT;")});
    QVERIFY(station.waitForStarted());
    auto db = Database::openPostgres(connection);
    QTRY_VERIFY_WITH_TIMEOUT(
        !db->select(QStringLiteral("SELECT 1 FROM pg_locks l JOIN pg_class c ON c.oid = l.relation "
                                   "WHERE c.relname = 'Servizi' AND l.mode = 'RowExclusiveLock' "
                                   "AND l.pid <> pg_backend_pid()"))
             ->isEmpty(),
        5000);
    auto services = RecordSet::openTable(*db, QStringLiteral("Servizi"));
    QVERIFY(services->edit());
    QVERIFY(services->setValue(QStringLiteral("Attesa"), 3));
    QElapsedTimer clock;
    clock.start();
    const Status saved = services->update();
    const qint64 waited = clock.elapsed();
    // The number the SQLite file gives for a lock: busy, so a ticket is abandoned, not fatal.
    QCOMPARE(saved.errorNumber(), ErrorNumber::DatabaseLocked);
    QCOMPARE(storeFailureOf(saved.errorNumber()), StoreFailure::Unavailable);
    QVERIFY2(saved.error().description.contains(QStringLiteral("bloccato da un'altra postazione")),
             qPrintable(saved.error().description));
    QVERIFY2(waited >= 4500 && waited < 8000, qPrintable(QString::number(waited)));
    // The same connection goes on working once the station lets go.
    QVERIFY(station.waitForFinished(15000));
    services = RecordSet::openTable(*db, QStringLiteral("Servizi"));
    QCOMPARE(services->value(QStringLiteral("Attesa"))->toInt(), 9);
}

void TestPostgres::connectionIsKeptAndMadeAgainAfterAFailure()
{
    const QString connection = newDatabase();
    QTemporaryDir folder;
    QVERIFY(Installation::createPostgresServer(folder.path(), connection));
    const QString path = folder.filePath(QStringLiteral("NX7PRO.mdb"));
    const auto backend = [&] {
        auto db = Database::open(path, Database::Sharing::Shared);
        auto pid = db ? db->select(QStringLiteral("SELECT pg_backend_pid()"))
                      : Result<QList<QVariantList>>(db.error());
        return pid ? pid->first().first().toInt() : -1;
    };
    const int first = backend();
    QVERIFY(first > 0);
    QCOMPARE(backend(), first); // kept between opens, as between tickets

    // The connection is cut (a server restart, a network fault): the statement that meets
    // it fails as an unreachable server, and the next open connects again.
    QVERIFY(!pg().psql(QStringLiteral("postgres"),
                       QStringLiteral("SELECT pg_terminate_backend(%1)").arg(first))
                 .isNull());
    {
        auto db = Database::open(path, Database::Sharing::Shared);
        QVERIFY(db);
        const auto lost = RecordSet::openTable(*db, QStringLiteral("Servizi"));
        QCOMPARE(lost.errorNumber(), ErrorNumber::NotValidPath);
    }
    const int second = backend();
    QVERIFY(second > 0 && second != first);

    // The server goes down: the kept connection's next statement says so, and so does
    // every open until it is back.
    QVERIFY(pg().stop());
    {
        auto db = Database::open(path, Database::Sharing::Shared);
        QVERIFY(db);
        QCOMPARE(db->insert(QStringLiteral("Codafromtotem"), {{QStringLiteral("NrDaChiamare"), 1}})
                     .errorNumber(),
                 ErrorNumber::NotValidPath);
    }
    QCOMPARE(Database::open(path, Database::Sharing::Shared).errorNumber(),
             ErrorNumber::NotValidPath);
    QVERIFY(pg().start());
    QVERIFY(backend() > 0);
}

void TestPostgres::transactionLeftOpenIsRolledBack()
{
    const QString connection = newDatabase();
    QTemporaryDir folder;
    QVERIFY(Installation::createPostgresServer(folder.path(), connection));
    {
        auto db = Database::openPostgres(connection);
        QVERIFY(db->beginTransaction());
        QVERIFY(db->deleteAllRows(QStringLiteral("Servizi")));
    } // a caller that returns early without rollback
    auto db = Database::openPostgres(connection);
    QCOMPARE(RecordSet::openTable(*db, QStringLiteral("Servizi"))->recordCount(), 20);
    QCOMPARE(db->select(QStringLiteral("SELECT now() = statement_timestamp()"))
                 ->first()
                 .first()
                 .toBool(),
             true); // not inside the old transaction
}

void TestPostgres::setupRefusesADatabaseThatHoldsTheTables()
{
    const QString name = pg().createDatabase();
    QVERIFY(
        !pg().psql(name,
                   QStringLiteral(
                       "CREATE TABLE codafromtotem (x int); INSERT INTO codafromtotem VALUES (7)"))
             .isNull());
    QTemporaryDir folder;
    const Status made =
        Installation::createPostgresServer(folder.path(), pg().connectionString(name));
    QVERIFY(!made);
    QVERIFY(made.error().description.contains(QStringLiteral("Codafromtotem")));
    QVERIFY(!QFile::exists(folder.filePath(QStringLiteral("NX7PRO.pg"))));
    QCOMPARE(pg().psql(name, QStringLiteral("SELECT x FROM codafromtotem")), QByteArray("7\n"));
}

void TestPostgres::sqliteInstallationMovesWithRowsAndOrder()
{
    test::TempInstallation inst;
    QVERIFY(inst.ok());
    {
        auto db = Database::open(inst.serverDatabase());
        // Rows out of value order, an extra column another station added, Yes/No as -1.
        QVERIFY(db->exec(
            QStringLiteral("ALTER TABLE \"Codafromtotem\" ADD COLUMN \"Sportello\" TEXT")));
        for (int number : {12, 3, 7})
            QVERIFY(db->insert(QStringLiteral("Codafromtotem"),
                               {{QStringLiteral("ServizioID"), 2},
                                {QStringLiteral("SErvizio"), QStringLiteral("Servizio 2 ")},
                                {QStringLiteral("Ora"), QStringLiteral("09.00.00")},
                                {QStringLiteral("SeChiamato"), number == 3 ? -1 : 0},
                                {QStringLiteral("NrDaChiamare"), number},
                                {QStringLiteral("Sportello"), QStringLiteral("B")}}));
        QVERIFY(db->exec(QStringLiteral(
            "UPDATE \"Servizi\" SET \"Attesa\" = 5, \"Servizio\" = 'Anagrafe' WHERE \"ID\" = 4")));
    }
    const QString connection = newDatabase();
    const Status moved = Installation::moveToPostgres(inst.serverPath(), connection);
    QVERIFY2(moved, qPrintable(moved.error().description));
    auto db = Database::open(inst.serverDatabase(), Database::Sharing::Shared);
    QVERIFY(db->isPostgres());
    auto queue = RecordSet::openTable(*db, QStringLiteral("Codafromtotem"));
    QList<int> numbers;
    QList<bool> called;
    for (; !queue->eof(); queue->moveNext()) {
        numbers.append(queue->value(QStringLiteral("NrDaChiamare"))->toInt());
        called.append(Value::isTrue(*queue->value(QStringLiteral("SeChiamato"))));
        QCOMPARE(queue->value(QStringLiteral("Sportello"))->toString(), QStringLiteral("B"));
    }
    QCOMPARE(numbers, (QList<int>{12, 3, 7}));
    QCOMPARE(called, (QList<bool>{false, true, false}));
    auto services = RecordSet::openTable(*db, QStringLiteral("Servizi"));
    QCOMPARE(services->recordCount(), 20);
    QVERIFY(*services->findFirst(QStringLiteral("ID"), 4));
    QCOMPARE(services->value(QStringLiteral("Servizio"))->toString(), QStringLiteral("Anagrafe"));
    QCOMPARE(services->value(QStringLiteral("Attesa"))->toInt(), 5);
    QCOMPARE(RecordSet::openTable(*db, QStringLiteral("configurazioneTotem"))->recordCount(), 1);
    // New tickets go after the moved ones.
    QVERIFY(db->insert(QStringLiteral("Codafromtotem"), {{QStringLiteral("NrDaChiamare"), 1}}));
    queue = RecordSet::openTable(*db, QStringLiteral("Codafromtotem"));
    for (int i = 0; i < 3; ++i)
        queue->moveNext();
    QCOMPARE(queue->value(QStringLiteral("NrDaChiamare"))->toInt(), 1);

    // Never twice: the folder is tied, and a database holding the tables is not replaced.
    QVERIFY(!Installation::moveToPostgres(inst.serverPath(), connection));
    QVERIFY(QFile::remove(QDir(inst.serverPath()).filePath(QStringLiteral("NX7PRO.pg"))));
    const Status again = Installation::moveToPostgres(inst.serverPath(), connection);
    QVERIFY(again.error().description.contains(QStringLiteral("contiene già")));
    QVERIFY(!QFile::exists(QDir(inst.serverPath()).filePath(QStringLiteral("NX7PRO.pg"))));
}

QTEST_GUILESS_MAIN(TestPostgres)
#include "test_postgres.moc"
