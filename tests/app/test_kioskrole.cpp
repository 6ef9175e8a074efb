// The kiosk logged in as the role nx7setup permessi-totem makes, over TLS verified against
// the installation's CA: the whole kiosk works, nothing else is possible, and every
// connection failure reaches the operator with its own reason.
#include "database.h"
#include "filenames.h"
#include "frontend.h"
#include "kioskrole.h"
#include "lamain.h"
#include "numberingjournal.h"
#include "numberingstart.h"
#include "postgresserver.h"
#include "previousinstance.h"
#include "tempinstallation.h"
#include "testshell.h"
#include "textrecord.h"
#include "ticketissue.h"
#include "ticketprinter.h"
#include "timedwait.h"

#include <QPushButton>
#include <QRadioButton>
#include <QTest>

using namespace nx7;

namespace {

class NoWait final : public Waiter
{
public:
    void wait(qint32) override {}
};

struct PowerCut
{
};

const QString kRole = QStringLiteral("totem");

// The tables as another tool makes them: lower-case names in a schema of their own, the
// queue's key from a sequence.
const QString kLowerCaseSchema = QStringLiteral(
    "CREATE SCHEMA sede;"
    "ALTER TABLE \"Servizi\" RENAME TO servizi; ALTER TABLE servizi RENAME \"Attesa\" TO attesa;"
    "ALTER TABLE \"configurazioneTotem\" RENAME TO configurazionetotem;"
    "ALTER TABLE \"Codafromtotem\" RENAME TO codafromtotem;"
    "ALTER TABLE codafromtotem ALTER \"ID\" DROP IDENTITY;"
    "CREATE SEQUENCE coda_id OWNED BY codafromtotem.\"ID\";"
    "ALTER TABLE codafromtotem ALTER \"ID\" SET DEFAULT nextval('coda_id');"
    "ALTER TABLE servizi SET SCHEMA sede; ALTER TABLE configurazionetotem SET SCHEMA sede;"
    "ALTER TABLE codafromtotem SET SCHEMA sede;");

} // namespace

class TestKioskRole : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void kioskRoleRunsTheWholeKioskOverVerifiedTls_data();
    void kioskRoleRunsTheWholeKioskOverVerifiedTls();
    void kioskRoleCanDoNothingElse_data();
    void kioskRoleCanDoNothingElse();
    void connectionFailuresAreNamed_data();
    void connectionFailuresAreNamed();
    void confermaTellsWhyAndChangesNothing_data();
    void confermaTellsWhyAndChangesNothing();

private:
    // A server folder made by the owner, the kiosk role granted, "NX7PRO.pg" naming the
    // role over TLS with the CA beside it; empty `schema` keeps nx7setup's quoted tables.
    std::unique_ptr<test::TempInstallation> install(const QString &schema = QString());
    QByteArray tables(); // the shared tables' rows, as the owner reads them

    test::PostgresServer m_pg;
    QString m_database;
};

void TestKioskRole::initTestCase()
{
    QVERIFY2(m_pg.ok(), qPrintable(m_pg.error()));
    QVERIFY2(m_pg.setTls(true), qPrintable(m_pg.error()));
    QVERIFY(
        !m_pg.psql(QStringLiteral("postgres"), QStringLiteral("CREATE ROLE totem LOGIN")).isNull());
}

std::unique_ptr<test::TempInstallation> TestKioskRole::install(const QString &schema)
{
    m_database = m_pg.createDatabase();
    QString owner = m_pg.connectionString(m_database);
    auto inst = std::make_unique<test::TempInstallation>(Installation::ServerOptions{}, owner);
    if (!inst->ok())
        return inst;
    QString setup = schema;
    if (!schema.isEmpty()) {
        owner += QStringLiteral(" options='-c search_path=sede'");
        setup += QStringLiteral("ALTER ROLE totem IN DATABASE %1 SET search_path = sede;")
                     .arg(m_database);
    }
    // What the README used to say: the kiosks' role may do anything to the tables.
    setup += schema.isEmpty() ? QStringLiteral("GRANT ALL ON \"Servizi\", \"Codafromtotem\", "
                                               "\"configurazioneTotem\" TO totem;")
                              : QStringLiteral("GRANT ALL ON ALL TABLES IN SCHEMA sede TO totem;");
    if (m_pg.psql(m_database, setup).isNull())
        qWarning() << m_pg.error();
    auto granted = KioskRole::grant(owner, kRole);
    auto again = KioskRole::grant(owner, kRole);
    if (!granted || !again || *granted != *again)
        qWarning() << "grant not repeatable:" << granted.error().description;
    else
        qInfo().noquote() << granted->join(u'\n');
    // The CA lies beside "NX7PRO.pg" and is named relative to it.
    const QDir server(inst->serverPath());
    server.mkpath(QStringLiteral("tls"));
    QFile::copy(m_pg.caCertificate(), server.filePath(QStringLiteral("tls/nx7-ca.crt")));
    const Status written = TextRecord::writeFileAtomically(
        server.filePath(FileName::ServerConnection),
        m_pg.tlsConnectionString(m_database, kRole, QStringLiteral("tls/nx7-ca.crt")).toUtf8());
    return written ? std::move(inst) : nullptr;
}

QByteArray TestKioskRole::tables()
{
    return m_pg.psql(m_database, QStringLiteral("SELECT * FROM \"Servizi\" ORDER BY 1;"
                                                "SELECT * FROM \"configurazioneTotem\";"
                                                "SELECT * FROM \"Codafromtotem\" ORDER BY 1;"));
}

void TestKioskRole::kioskRoleRunsTheWholeKioskOverVerifiedTls_data()
{
    QTest::addColumn<QString>("schema");
    QTest::newRow("nx7setup's quoted names") << QString();
    QTest::newRow("lower-case names, own schema, serial key") << kLowerCaseSchema;
}

void TestKioskRole::kioskRoleRunsTheWholeKioskOverVerifiedTls()
{
    QFETCH(QString, schema);
    auto inst = install(schema);
    QVERIFY(inst && inst->ok());
    const QString queue = schema.isEmpty() ? QStringLiteral("\"Codafromtotem\"")
                                           : QStringLiteral("sede.codafromtotem");
    // A ticket of the day before; the other tool's is a row a station wrote, some fields Null.
    QVERIFY(
        !m_pg.psql(m_database,
                   QStringLiteral("INSERT INTO %1 (\"ServizioID\", \"SErvizio\", \"Ora\", "
                                  "\"SeChiamato\", \"NrDaChiamare\") VALUES %2")
                       .arg(queue, schema.isEmpty()
                                       ? QStringLiteral("(2, 'Servizio 2 ', '18.59', false, 40)")
                                       : QStringLiteral("(NULL, NULL, '18.59', false, 40)")))
             .isNull());
    QVERIFY(QFile::copy(QStringLiteral(QT_TESTCASE_SOURCEDIR "/../ticket/Ticket.lbl"),
                        QStringLiteral("Ticket.lbl")));
    StationState state;
    state.serverPath = inst->serverPath();

    // A power cut before the commit, then one after it: the next start settles each.
    for (const auto stage :
         {NumberingStart::Stage::FileWritten, NumberingStart::Stage::Committed}) {
        QVERIFY(TextRecord::writeInteger(inst->numberingFile(1), 7));
        NumberingStart cut(state);
        cut.setStageHook([stage](NumberingStart::Stage reached) {
            if (reached == stage)
                throw PowerCut{};
        });
        QVERIFY_THROWS_EXCEPTION(PowerCut, cut.startInitial());
        auto recovered = NumberingJournal::recover();
        QVERIFY2(recovered && *recovered, qPrintable(recovered.error().description));
        const bool committed = stage == NumberingStart::Stage::Committed;
        QCOMPARE(test::fileBytes(inst->numberingFile(1)), committed ? "1\r\n" : "7\r\n");
        QCOMPARE(m_pg.psql(m_database, QStringLiteral("SELECT count(*) FROM %1").arg(queue)),
                 committed ? "0\n" : "1\n");
    }

    test::TestShell shell;
    test::TestClock clock(QDateTime(QDate(2026, 12, 8), QTime(9, 5, 0)));
    NoWait waiter;
    ImageTicketPrinter printer;
    QTemporaryDir lockDir;
    MachineInstanceLock instance(lockDir.filePath(QStringLiteral("nx7totem.lock")));
    TicketIssue issuer(state, shell, clock, waiter, printer);
    LaMain laMain(state, shell, instance, [&](QWidget *parent) {
        return FrontEnd::createLoaded(state, shell, clock, issuer, parent);
    });
    laMain.Form_Load();
    laMain.show();
    QVariantList session;
    const auto touchSlot3 = [&](bool nightly) {
        shell.onNextModal([&, nightly](QDialog &dialog) {
            auto *screen = qobject_cast<FrontEnd *>(&dialog);
            if (!screen)
                return int(QDialog::Rejected);
            screen->show();
            screen->Form_Activate();
            QTest::mouseClick(screen->bottone(3), Qt::LeftButton);
            auto db = Database::open(inst->serverDatabase(), Database::Sharing::Shared);
            auto row = db->select(QStringLiteral(
                "SELECT s.ssl, current_user FROM pg_stat_ssl s WHERE s.pid = pg_backend_pid()"));
            if (row && !row->isEmpty())
                session = row->first();
            if (!nightly)
                return int(QDialog::Rejected);
            clock.set(QDateTime(QDate(2026, 12, 9), QTime(3, 30, 59)));
            screen->Timer1_Timer();
            clock.advanceSeconds(1);
            screen->Timer1_Timer(); // 03:31:00: closes itself, asks for the unattended restart
            return screen->result();
        });
    };
    touchSlot3(true);  // attended initial start, a ticket, the nightly restart
    touchSlot3(false); // after the unattended restart, a ticket
    QTest::mouseClick(laMain.button(1), Qt::LeftButton);
    QTRY_COMPARE(shell.modalForms.size(), 2);
    touchSlot3(false); // the current numbering, a ticket
    laMain.radioButton(1)->setChecked(true);
    QTest::mouseClick(laMain.button(1), Qt::LeftButton);
    QCOMPARE(shell.modalForms.size(), 3);
    QVERIFY2(shell.messages.isEmpty(), qPrintable(shell.messages.value(0).text));
    QCOMPARE(session, (QVariantList{true, kRole}));
    QCOMPARE(m_pg.psql(m_database, QStringLiteral("SELECT \"NrDaChiamare\", \"SeChiamato\" FROM %1 "
                                                  "ORDER BY \"ID\"")
                                       .arg(queue)),
             QByteArray("1|f\n1|f\n2|f\n"));
    QCOMPARE(printer.targets.size(), 3);
}

void TestKioskRole::kioskRoleCanDoNothingElse_data()
{
    QTest::addColumn<QString>("sql");
    QTest::newRow("new table") << QStringLiteral("CREATE TABLE public.altra (x int)");
    QTest::newRow("drop the services") << QStringLiteral("DROP TABLE \"Servizi\"");
    QTest::newRow("new column") << QStringLiteral("ALTER TABLE \"Codafromtotem\" ADD x int");
    QTest::newRow("rename a service")
        << QStringLiteral("UPDATE \"Servizi\" SET \"Servizio\" = 'X'");
    QTest::newRow("switch a service off")
        << QStringLiteral("UPDATE \"Servizi\" SET \"ServizioAttivo\" = false");
    QTest::newRow("add a service")
        << QStringLiteral("INSERT INTO \"Servizi\" (\"ID\") VALUES (99)");
    QTest::newRow("remove services") << QStringLiteral("DELETE FROM \"Servizi\"");
    QTest::newRow("screen title") << QStringLiteral(
        "UPDATE \"configurazioneTotem\" SET \"TitoloTotem\" = 'X'");
    QTest::newRow("rewrite the queue")
        << QStringLiteral("UPDATE \"Codafromtotem\" SET \"NrDaChiamare\" = 0");
    QTest::newRow("mark a ticket called")
        << QStringLiteral("UPDATE \"Codafromtotem\" SET \"SeChiamato\" = true");
    QTest::newRow("truncate the queue") << QStringLiteral("TRUNCATE \"Codafromtotem\"");
    QTest::newRow("another table") << QStringLiteral("SELECT * FROM public.sportelli");
}

void TestKioskRole::kioskRoleCanDoNothingElse()
{
    QFETCH(QString, sql);
    auto inst = install();
    QVERIFY(inst && inst->ok());
    QVERIFY(!m_pg.psql(m_database, QStringLiteral("CREATE TABLE sportelli (n int);"
                                                  "INSERT INTO \"Codafromtotem\" "
                                                  "(\"NrDaChiamare\") VALUES (5)"))
                 .isNull());
    const QByteArray before = tables();
    auto db = Database::open(inst->serverDatabase(), Database::Sharing::Shared);
    QVERIFY2(db, qPrintable(db.error().description));
    QVERIFY(!db->exec(sql));
    QCOMPARE(tables(), before);
    QCOMPARE(m_pg.psql(m_database, QStringLiteral("SELECT count(*) FROM pg_tables WHERE "
                                                  "schemaname = 'public'")),
             QByteArray("4\n"));
}

void TestKioskRole::connectionFailuresAreNamed_data()
{
    QTest::addColumn<QString>("settings");
    QTest::addColumn<bool>("tls");
    QTest::addColumn<QString>("reason");
    const QString verified =
        QStringLiteral("host=localhost hostaddr=127.0.0.1 sslmode=verify-full ");
    QTest::newRow("foreign CA") << verified + QStringLiteral("sslrootcert=@FOREIGN@") << true
                                << QStringLiteral("non è firmato dalla CA");
    QTest::newRow("certificate of another name")
        << QStringLiteral("host=nx7-altro hostaddr=127.0.0.1 sslmode=verify-full sslrootcert=@CA@")
        << true << QStringLiteral("non è intestato al nome");
    QTest::newRow("CA file missing") << verified + QStringLiteral("sslrootcert=/nessuna/ca.crt")
                                     << true << QStringLiteral("\"/nessuna/ca.crt\" mancante");
    QTest::newRow("server without TLS") << verified + QStringLiteral("sslrootcert=@CA@") << false
                                        << QStringLiteral("non accetta connessioni cifrate");
    QTest::newRow("refused login") << QStringLiteral("host=@SOCKET@ user=sconosciuto") << true
                                   << QStringLiteral("Accesso negato");
    QTest::newRow("missing database") << QStringLiteral("host=@SOCKET@ dbname=nessuno") << true
                                      << QStringLiteral("\"nessuno\" non esiste");
}

void TestKioskRole::connectionFailuresAreNamed()
{
    QFETCH(QString, settings);
    QFETCH(bool, tls);
    QFETCH(QString, reason);
    settings.replace(QStringLiteral("@FOREIGN@"), m_pg.foreignCaCertificate())
        .replace(QStringLiteral("@CA@"), m_pg.caCertificate())
        .replace(QStringLiteral("@SOCKET@"), m_pg.socketFolder());
    QVERIFY(m_pg.setTls(tls));
    auto db = Database::openPostgres(
        QStringLiteral("port=%1 dbname=postgres user=postgres %2").arg(m_pg.port()).arg(settings));
    QVERIFY(m_pg.setTls(true));
    QCOMPARE(db.errorNumber(), ErrorNumber::CannotOpenDatabase);
    QVERIFY2(db.error().description.contains(reason), qPrintable(db.error().description));
}

void TestKioskRole::confermaTellsWhyAndChangesNothing_data()
{
    QTest::addColumn<int>("choice");
    QTest::newRow("initial numbering") << 0;
    QTest::newRow("current numbering") << 1;
}

void TestKioskRole::confermaTellsWhyAndChangesNothing()
{
    QFETCH(int, choice);
    auto inst = install();
    QVERIFY(inst && inst->ok());
    // Someone put another CA's certificate in the server folder.
    const QString ca = QDir(inst->serverPath()).filePath(QStringLiteral("tls/nx7-ca.crt"));
    QVERIFY(QFile::remove(ca) && QFile::copy(m_pg.foreignCaCertificate(), ca));
    QVERIFY(!m_pg.psql(m_database, QStringLiteral("INSERT INTO \"Codafromtotem\" "
                                                  "(\"NrDaChiamare\") VALUES (5)"))
                 .isNull());
    QVERIFY(TextRecord::writeInteger(inst->numberingFile(2), 9));
    const QByteArray before = tables();
    StationState state;
    test::TestShell shell;
    QTemporaryDir lockDir;
    MachineInstanceLock instance(lockDir.filePath(QStringLiteral("nx7totem.lock")));
    bool screenMade = false;
    LaMain laMain(state, shell, instance, [&](QWidget *) {
        screenMade = true;
        return std::unique_ptr<QDialog>();
    });
    laMain.Form_Load();
    laMain.radioButton(choice)->setChecked(true);
    QTest::mouseClick(laMain.button(1), Qt::LeftButton);
    QCOMPARE(shell.messages.size(), 1);
    QVERIFY2(shell.messages.at(0).text.contains(QStringLiteral("non è firmato dalla CA")),
             qPrintable(shell.messages.at(0).text));
    QVERIFY(!screenMade);
    QVERIFY(!shell.programEnded());
    QCOMPARE(tables(), before);
    QCOMPARE(test::fileBytes(inst->numberingFile(2)), QByteArray("9\r\n"));
}

QTEST_MAIN(TestKioskRole)
#include "test_kioskrole.moc"
