// The kiosk logged in as the role "nx7setup permessi-totem" makes, over TLS verified against
// the installation's CA: the whole kiosk works, nothing else is possible, and a connection
// that fails reaches the operator with its own reason.
#include "database.h"
#include "frontend.h"
#include "imageticketprinter.h"
#include "kioskrole.h"
#include "lamain.h"
#include "numberingjournal.h"
#include "numberingstart.h"
#include "postgresserver.h"
#include "previousinstance.h"
#include "sharednumbering.h"
#include "tempinstallation.h"
#include "testshell.h"
#include "textrecord.h"
#include "ticketissue.h"
#include "timedwait.h"

#include <QPushButton>
#include <QRadioButton>
#include <QTest>

using namespace nx7;

class TestKioskRole : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(m_pg.setTls(true), qPrintable(m_pg.error()));
        QVERIFY(!m_pg.psql(QStringLiteral("postgres"), QStringLiteral("CREATE ROLE totem LOGIN"))
                     .isNull());
    }
    void kioskRoleRunsTheKioskAndNothingElse_data();
    void kioskRoleRunsTheKioskAndNothingElse();
    void connectionFailuresAreNamed_data();
    void connectionFailuresAreNamed();

private:
    // A server folder made by the owner, the role "totem" granted (after the owner had
    // given it everything), "NX7PRO.pg" naming it over TLS with `ca` beside it.
    std::unique_ptr<test::TempInstallation> install(const QString &ca, const QString &schema = {},
                                                    bool shared = false);
    QByteArray psql(const QString &sql) { return m_pg.psql(m_database, sql); }

    test::PostgresServer m_pg;
    QString m_database;
};

std::unique_ptr<test::TempInstallation> TestKioskRole::install(const QString &ca,
                                                               const QString &schema, bool shared)
{
    m_database = m_pg.createDatabase();
    const QString owner =
        m_pg.connectionString(m_database) + " options='-c search_path=sede,public'";
    auto inst = std::make_unique<test::TempInstallation>(Installation::ServerOptions{}, owner);
    if (auto db = Database::openPostgres(owner);
        !db || (shared && !SharedNumbering::setOn(*db, true)))
        return nullptr;
    psql("GRANT ALL ON ALL TABLES IN SCHEMA public TO totem;" + schema);
    auto granted = KioskRole::grant(owner, QStringLiteral("totem"));
    if (!granted || *granted != *KioskRole::grant(owner, QStringLiteral("totem")))
        return nullptr; // refused, or not the same when run again
    QDir(inst->serverPath()).mkpath(QStringLiteral("tls"));
    QFile::copy(m_pg.tlsFile(ca), inst->serverPath() + "/tls/ca.crt");
    // The CA is named relative to the server folder; the kiosk runs in the station folder.
    const Status written = TextRecord::writeFileAtomically(
        inst->serverPath() + "/NX7PRO.pg",
        QStringLiteral("host=localhost hostaddr=127.0.0.1 port=%1 dbname=%2 user=totem "
                       "sslmode=verify-full sslrootcert=tls/ca.crt")
            .arg(QString::number(m_pg.port()), m_database)
            .toUtf8());
    return written && inst->ok() ? std::move(inst) : nullptr;
}

void TestKioskRole::kioskRoleRunsTheKioskAndNothingElse_data()
{
    QTest::addColumn<QString>("schema");
    QTest::addColumn<QStringList>("tables"); // services, screen configuration, queue
    QTest::addColumn<bool>("shared");        // the numbering shared by the kiosks
    const QStringList quoted{"\"Servizi\"", "\"configurazioneTotem\"", "\"Codafromtotem\""};
    QTest::newRow("nx7setup's quoted names") << QString() << quoted << false;
    QTest::newRow("shared numbering") << QString() << quoted << true;
    // Another tool's tables: lower-case names in a schema of their own, a serial column.
    QTest::newRow("lower-case names, own schema")
        << QStringLiteral(
               "ALTER TABLE \"Servizi\" RENAME TO servizi; ALTER TABLE servizi RENAME \"Attesa\" "
               "TO attesa; ALTER TABLE \"configurazioneTotem\" RENAME TO configurazionetotem; "
               "ALTER TABLE \"Codafromtotem\" RENAME TO codafromtotem; ALTER TABLE codafromtotem "
               "ADD n serial; ALTER SCHEMA public RENAME TO sede; CREATE SCHEMA public; ALTER ROLE "
               "totem SET search_path = sede;")
        << QStringList{"sede.servizi", "sede.configurazionetotem", "sede.codafromtotem"} << false;
}

void TestKioskRole::kioskRoleRunsTheKioskAndNothingElse()
{
    QFETCH(QString, schema);
    QFETCH(QStringList, tables);
    QFETCH(bool, shared);
    const QString queue = tables.at(2);
    auto inst = install(QStringLiteral("ca.crt"), schema, shared);
    QVERIFY(inst);
    // A ticket of the day before, some fields Null as a station may leave them.
    psql("INSERT INTO " + queue + " (\"Ora\", \"NrDaChiamare\") VALUES ('18.59', 40)");
    QVERIFY(QFile::copy(QT_TESTCASE_SOURCEDIR "/../report/Ticket.lbl", "Ticket.lbl"));
    StationState state;
    state.serverPath = inst->serverPath();

    // A power cut before the commit, then one after it: the next start settles each.
    for (const auto stage :
         {NumberingStart::Stage::FileWritten, NumberingStart::Stage::Committed}) {
        QVERIFY(TextRecord::writeInteger(inst->numberingFile(1), 7));
        NumberingStart cut(inst->stores(), state);
        cut.setStageHook([stage](NumberingStart::Stage reached) {
            if (reached == stage)
                throw stage; // a power cut
        });
        QVERIFY_THROWS_EXCEPTION(NumberingStart::Stage, cut.startInitial());
        auto recovered = NumberingJournal::recover(inst->stores());
        QVERIFY2(recovered && *recovered, qPrintable(recovered.error().description));
        const bool committed = stage == NumberingStart::Stage::Committed;
        QCOMPARE(test::fileBytes(inst->numberingFile(1)), committed ? "1\r\n" : "7\r\n");
        QCOMPARE(psql("SELECT count(*) FROM " + queue), committed ? "0\n" : "1\n");
    }

    // The attended start, a ticket on the kiosk screen, the nightly restart, the current one.
    QVERIFY(NumberingStart(inst->stores(), state).startInitial().started());
    QCOMPARE(state.numbering == StationState::Numbering::Shared, shared);
    test::TestShell shell;
    test::TestClock clock;
    EventLoopWaiter waiter;
    test::ImageTicketPrinter printer;
    TicketIssue issuer(inst->stores(), state, shell, clock, waiter, printer);
    auto screen =
        FrontEnd::createLoaded({inst->stores(), state, shell, clock, issuer, {}, nullptr}, nullptr);
    QVERIFY(screen);
    screen->show();
    QTest::mouseClick(screen->bottone(3), Qt::LeftButton);
    state.unattendedRestart = true;
    QVERIFY(NumberingStart(inst->stores(), state).startInitial().started());
    QVERIFY(NumberingStart(inst->stores(), state).loadCurrent().started());
    QVERIFY(shell.messages.isEmpty());
    QCOMPARE(printer.targets.size(), 1);
    QCOMPARE(psql("SELECT \"NrDaChiamare\" FROM " + queue), "1\n");
    auto db = Database::open(inst->serverDatabase(), Database::Sharing::Shared);
    QCOMPARE(db->select("SELECT ssl, current_user FROM pg_stat_ssl WHERE pid = pg_backend_pid()")
                 ->value(0),
             (QVariantList{true, QStringLiteral("totem")}));

    // Anything else through the kiosk's connection is refused, and changes nothing.
    psql("CREATE TABLE public.sportelli (n int)");
    QString snapshot = "SELECT count(*) FROM pg_tables";
    for (const QString &table : tables)
        snapshot += ", (SELECT string_agg(t::text, ',' ORDER BY t::text) FROM " + table + " t)";
    const QByteArray before = psql(snapshot);
    for (QString sql :
         {"CREATE TABLE public.altra (x int)", "DROP TABLE %1", "ALTER TABLE %3 ADD x int",
          "UPDATE %1 SET \"Servizio\" = 'X'", "UPDATE %1 SET \"ServizioAttivo\" = false",
          "DELETE FROM %1", "INSERT INTO %1 (\"ID\") VALUES (99)",
          "UPDATE %2 SET \"TitoloTotem\" = 'X'", "UPDATE %3 SET \"SeChiamato\" = true",
          "UPDATE %3 SET \"NrDaChiamare\" = 0", "TRUNCATE %3", "SELECT * FROM public.sportelli"}) {
        for (int i = 0; i < 3; ++i)
            sql.replace(u'%' + QString::number(i + 1), tables.at(i));
        const Status refused = db->exec(sql);
        QVERIFY2(refused.error().description.contains("permessi-totem"), qPrintable(sql));
        // A refusal, told apart from a server out of reach.
        QCOMPARE(refused.errorNumber(), ErrorNumber::NoPermission);
    }
    QCOMPARE(psql(snapshot), before);
}

void TestKioskRole::connectionFailuresAreNamed_data()
{
    QTest::addColumn<QString>("ca");
    QTest::addColumn<bool>("tls");
    QTest::addColumn<int>("choice"); // C&onferma with initial or current numbering
    QTest::addColumn<QString>("reason");
    QTest::newRow("foreign CA") << "foreign.crt" << true << 0 << "non è firmato dalla CA";
    QTest::newRow("CA file missing") << "nessuna.crt" << true << 0 << "/tls/ca.crt\" mancante";
    QTest::newRow("server without TLS") << "ca.crt" << false << 1 << "non accetta connessioni";
}

void TestKioskRole::connectionFailuresAreNamed()
{
    QFETCH(QString, ca);
    QFETCH(bool, tls);
    QFETCH(int, choice);
    QFETCH(QString, reason);
    auto inst = install(ca);
    QVERIFY(inst);
    psql("INSERT INTO \"Codafromtotem\" (\"NrDaChiamare\") VALUES (5)");
    QVERIFY(TextRecord::writeInteger(inst->numberingFile(2), 9));
    const QByteArray before = psql("SELECT * FROM \"Servizi\", \"Codafromtotem\"");
    StationState state;
    test::TestShell shell;
    MachineInstanceLock instance(inst->stationPath() + "/nx7totem.lock");
    SystemClock clock;
    LaMain laMain(inst->stores(), state, shell, instance, clock,
                  [](QWidget *) { return std::unique_ptr<QDialog>(); });
    laMain.Form_Load();
    laMain.radioButton(choice)->setChecked(true);
    QVERIFY(m_pg.setTls(tls));
    QTest::mouseClick(laMain.button(1), Qt::LeftButton);
    QVERIFY(m_pg.setTls(true));
    QCOMPARE(shell.messages.size(), 1);
    QVERIFY2(shell.messages.at(0).text.contains(reason), qPrintable(shell.messages.at(0).text));
    QCOMPARE(shell.modalForms.size(), 0);
    QVERIFY(!shell.programEnded());
    QCOMPARE(psql("SELECT * FROM \"Servizi\", \"Codafromtotem\""), before);
    QCOMPARE(test::fileBytes(inst->numberingFile(2)), QByteArray("9\r\n"));
}

QTEST_MAIN(TestKioskRole)
#include "test_kioskrole.moc"
