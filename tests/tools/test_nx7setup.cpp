// nx7setup as a technician runs it, on a station whose server is SQLite or PostgreSQL: each
// setting read back as the kiosk reads it, and values the kiosk could not use refused
// with the value and its range named.
#include "database.h"
#include "screenrows.h"
#include "screensettings.h"
#include "serverbackend.h"
#include "stationsettings.h"
#include "stationstate.h"
#include "tables.h"
#include "voicesettings.h"

#include <QProcess>
#include <QTest>

using namespace nx7;
using namespace nx7::test;

namespace {

// What the kiosk makes of the settings: its title and title colour, resolution code, the
// names of its service buttons, its waiting message and its keypad's repeat delay.
QString kioskReading(const TempInstallation &site, const QString &what)
{
    auto server = site.stores().server(site.serverPath());
    if (!server)
        return QStringLiteral("unreadable");
    auto screen = ScreenRows::screenSettings(*server);
    auto settings = ScreenSettings::read(*screen);
    if (what == u"title")
        return settings->titleText + u' ' + settings->title.colour.name();
    if (what == u"resolution")
        return screen->value(Field::Resolution)->toString();
    if (what == u"repeat")
        return QString::number(VoiceSettings::load(site.stores())->repeatDelayMs);
    if (what == u"buttons") {
        QStringList names;
        const auto services = ScreenRows::activeServices(*server, kSlotCount);
        for (const auto &service : services->rows)
            names << service.name.toString();
        return names.join(u',');
    }
    auto wait = StationSettings::loadWait(site.stores());
    return QStringLiteral("%1 %2").arg(wait->enabled).arg(wait->seconds);
}

} // namespace

class TestNx7Setup : public BackendSuite
{
    Q_OBJECT
private Q_SLOTS:
    void settingReadAsTheKioskReadsIt_data();
    void settingReadAsTheKioskReadsIt();
};

void TestNx7Setup::settingReadAsTheKioskReadsIt_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("told");
    QTest::addColumn<QString>("reading");
    QTest::addColumn<QString>("kioskReads");
    const QString station = QStringLiteral("STATION");
    const auto row = [&](const char *name, QStringList arguments, int code, const char *told,
                         const char *reading, const char *reads) {
        QTest::newRow(name) << arguments << code << told << reading << reads;
    };
    row("title and colour",
        {"schermo", station, "titolo=Prenda il numero", "titolo-colore=#FF8000"}, 0,
        "2 valori impostati", "title", "Prenda il numero #ff8000");
    row("resolution by name", {"schermo", station, "risoluzione=800x600"}, 0, "800x600 (3)",
        "resolution", "3");
    row("font size 0 refused", {"schermo", station, "titolo=X", "titolo-dimensione=0"}, 2,
        "titolo-dimensione \"0\" non valido: un numero da 1 a 400.", "title",
        "Scegli il Servizio #000080");
    row("unknown field", {"schermo", station, "colore=1"}, 2, "\"colore=1\" non valido", "title",
        "Scegli il Servizio #000080");
    row("service renamed", {"servizi", station, "2", "--nome", "Anagrafe"}, 0,
        " 2  si              0  Anagrafe", "buttons", "Servizio 1,Anagrafe,Servizio 3");
    row("service off", {"servizi", station, "1", "--attivo", "no"}, 0, "Servizio 1 impostato",
        "buttons", "Servizio 2,Servizio 3");
    row("service 21 refused", {"servizi", station, "21", "--nome", "X"}, 2,
        "servizio 21 non valido: va da 1 a 20.", "buttons", "Servizio 1,Servizio 2,Servizio 3");
    row("waiting message", {"messaggio", station, "attivo=sì", "secondi=12"}, 0, "secondi", "wait",
        "1 12");
    row("seconds past the longest hold", {"messaggio", station, "secondi=61"}, 2,
        "secondi \"61\" non valido: un numero da 0 a 60.", "wait", "0 0");
    row("repeat delay", {"accessibilita", station, "--ripetizione", "1500"}, 0,
        "ripetizione 1500 ms", "repeat", "1500");
    row("station on a folder that is no server", {"postazione", station, "--server", "/tmp"}, 1,
        "/tmp non è una cartella server: manca FraseTTS.txt.", "buttons",
        "Servizio 1,Servizio 2,Servizio 3");
    row("missing layout as the kiosk tells it", {"anteprima", station, "--png", "t.png"}, 1,
        "Modello del biglietto mancante o illeggibile: il layout", "buttons",
        "Servizio 1,Servizio 2,Servizio 3");
}

void TestNx7Setup::settingReadAsTheKioskReadsIt()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, told);
    QFETCH(QString, reading);
    QFETCH(QString, kioskReads);
    Installation::ServerOptions options;
    options.activeServices = 3;
    auto site = ServerBackend::install(ServerBackend::current(), options);
    QVERIFY2(site->ok(), qPrintable(site->error()));
    arguments.replace(1, site->stationPath());

    QProcess tool;
    tool.start(QStringLiteral(NX7SETUP), arguments);
    QVERIFY(tool.waitForFinished(30000));
    const QString output =
        QString::fromUtf8(tool.readAllStandardOutput() + tool.readAllStandardError());
    QVERIFY2(output.contains(told), qPrintable(output));
    QCOMPARE(tool.exitCode(), exitCode);
    QVERIFY2(!output.contains(QStringLiteral("nx7.")), "no log line for the technician");
    QCOMPARE(kioskReading(*site, reading), kioskReads);
}

QTEST_GUILESS_MAIN(TestNx7Setup)
#include "test_nx7setup.moc"
