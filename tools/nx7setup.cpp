// The site's tool: makes server and station folders, moves a server to PostgreSQL, gives a
// kiosk role its rights, sets a station's voice and shows its ticket before it is printed.
// Everything it tells the technician is in Italian.
#include "commandline.h"
#include "filenames.h"
#include "installation.h"
#include "kioskrole.h"
#include "sharednumbering.h"
#include "siteconfig.h"
#include "stationsettings.h"
#include "stores.h"
#include "textrecord.h"
#include "ticketpreview.h"
#include "voicesettings.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImageReader>
#include <QRegularExpression>
#include <QTextStream>

using namespace nx7;
using namespace nx7::Setup;

namespace {

const QStringList kResolutions{QStringLiteral("1280x1024"), QStringLiteral("1920x1080"),
                               QStringLiteral("1440x900"), QStringLiteral("800x600")};

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

int failed(const Error &error)
{
    err() << "Errore " << error.number << ": " << error.description << "\n";
    return error.number == ErrorNumber::Overflow ? 2 : 1;
}

QString native(const QString &path)
{
    return QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
}

// The owner's connection as the hint repeats it, a password in it hidden: the hint may be
// pasted into a ticket or a chat.
QString withoutPassword(QString connection)
{
    connection.replace(QRegularExpression(QStringLiteral("(password\\s*=\\s*)('[^']*'|\\S+)")),
                       QStringLiteral("\\1***"));
    connection.replace(QRegularExpression(QStringLiteral("(://[^:/@]*):[^@]*@")),
                       QStringLiteral("\\1:***@"));
    return connection;
}

void kioskRoleHint(const QString &connection)
{
    out() << "I totem non usino il proprietario del database: creare un ruolo con i soli\n"
             "permessi dei totem e indicarlo in NX7PRO.pg (user=totem), per esempio:\n"
             "  su postgres -c \"createuser --pwprompt totem\"\n"
             "  nx7setup permessi-totem totem --postgresql \""
          << withoutPassword(connection) << "\"\n";
}

Result<bool> yesNo(const QString &option, const QString &typed)
{
    const SiteConfig::Setting flag{option, {}, SiteConfig::Kind::YesNo, {}};
    auto parsed = SiteConfig::parse(flag, typed);
    if (!parsed)
        return parsed.error();
    return Value::isTrue(*parsed);
}

Result<Database> serverDatabase(const QString &folder);

// The installation's kiosks number together on the server, or each on its own.
int switchSharedNumbering(const QString &folder, bool on, int initialNumber)
{
    auto db = serverDatabase(folder);
    if (!db)
        return failed(db.error());
    if (Status switched = SharedNumbering::setOn(*db, on, initialNumber); !switched)
        return failed(switched.error());
    if (!on) {
        out() << "Numerazione condivisa spenta: ogni totem numera dai propri contatori.\n";
        return 0;
    }
    out() << "Numerazione condivisa accesa: i totem di " << native(folder)
          << " prendono i numeri dal server.\n"
             "Il primo numero di ogni servizio è nella tabella \"NumeriIniziali\" del server\n"
             "(predefinito "
          << initialNumber
          << "). Ridare i permessi al ruolo dei totem con\n"
             "nx7setup permessi-totem e riavviare i totem.\n";
    return 0;
}

int sharedNumbering(const Invocation &call)
{
    auto on = yesNo(QStringLiteral("numerazione-condivisa"), call.arguments.at(1));
    auto initial = call.number(QStringLiteral("numero-iniziale"), 0, 2147483646, 1);
    if (!on || !initial)
        return failed(!on ? on.error() : initial.error());
    return switchSharedNumbering(call.arguments.at(0), *on, *initial);
}

int createServer(const Invocation &call)
{
    Installation::ServerOptions options;
    auto services = call.number(QStringLiteral("servizi"), 0, 20, options.activeServices);
    auto resolution = call.number(QStringLiteral("risoluzione"), 0, 3, options.resolutionCode);
    if (!services || !resolution)
        return failed(!services ? services.error() : resolution.error());
    options.activeServices = *services;
    options.resolutionCode = *resolution;
    const QString folder = call.arguments.at(0);
    const QString connection = call.value(QStringLiteral("postgresql"));
    bool shared = false;
    if (call.has(QStringLiteral("numerazione-condivisa"))) {
        auto on = yesNo(QStringLiteral("--numerazione-condivisa"),
                        call.value(QStringLiteral("numerazione-condivisa")));
        if (!on)
            return failed(on.error());
        shared = *on;
        // Refused before anything is made, as the database file could never take it.
        if (shared && !call.has(QStringLiteral("postgresql")))
            return failed(
                Error::make(ErrorNumber::DatabaseOperationFailed, SharedNumbering::NeedsPostgres));
    }
    const Status made = call.has(QStringLiteral("postgresql"))
                            ? Installation::createPostgresServer(folder, connection, options)
                            : Installation::createServer(folder, options);
    if (!made)
        return failed(made.error());
    out() << "Cartella server creata in " << native(folder) << ": 20 servizi, i primi "
          << options.activeServices << " attivi, schermo "
          << kResolutions.at(options.resolutionCode)
          << (connection.isEmpty() ? QStringLiteral(", database NX7PRO.mdb.\n")
                                   : QStringLiteral(", database su PostgreSQL.\n"));
    if (!connection.isEmpty())
        kioskRoleHint(connection);
    return shared ? switchSharedNumbering(folder, true, options.initialNumber) : 0;
}

int moveToPostgres(const Invocation &call)
{
    const QString connection = call.value(QStringLiteral("postgresql"));
    if (Status moved = Installation::moveToPostgres(call.arguments.at(0), connection); !moved)
        return failed(moved.error());
    out() << "Database di " << native(call.arguments.at(0))
          << " copiato su PostgreSQL: da ora tutte le postazioni lo usano (NX7PRO.pg).\n";
    kioskRoleHint(connection);
    return 0;
}

int grantKioskRole(const Invocation &call)
{
    const QString role = call.arguments.at(0);
    auto granted = KioskRole::grant(call.value(QStringLiteral("postgresql")), role);
    if (!granted)
        return failed(granted.error());
    out() << "Permessi del ruolo \"" << role << "\" (tutti gli altri tolti):\n";
    for (const QString &line : std::as_const(*granted))
        out() << "  " << line << "\n";
    return 0;
}

// A new station, or an existing one pointed at another server folder.
int station(const Invocation &call)
{
    const QString folder = call.arguments.at(0);
    const QString server = call.value(QStringLiteral("server"));
    Status isServer = Installation::checkServerFolder(server);
    if (!isServer && !call.has(QStringLiteral("server-assente")))
        return failed(isServer.error());
    if (!isServer)
        out() << "Attenzione: " << isServer.error().description
              << " Il totem chiederà la cartella server sullo schermo finché non sarà pronta.\n";
    const QString pathFile = FilePath::resolve(folder, FileName::ServerPathFile);
    if (!QFileInfo::exists(pathFile)) {
        if (Status made = Installation::createStation(folder, server); !made)
            return failed(made.error());
        out() << "Postazione creata in " << native(folder) << ", server " << native(server)
              << ".\n";
        return 0;
    }
    const auto previous = TextRecord::readFirstField(pathFile);
    if (Status pointed = Installation::pointStation(folder, server); !pointed)
        return failed(pointed.error());
    out() << "La postazione " << native(folder) << " ora usa il server " << native(server);
    if (previous)
        out() << " (prima " << QDir::toNativeSeparators(*previous) << ")";
    out() << ": vale dal prossimo avvio del totem.\n";
    return 0;
}

// The voice options given over the station's current settings.
Result<VoiceSettings::Values> voiceOptions(const Invocation &call, VoiceSettings::Values values)
{
    auto volume = call.number(QStringLiteral("volume"), VoiceSettings::kMinVolume,
                              VoiceSettings::kMaxVolume, values.volumeStep);
    auto rate = call.number(QStringLiteral("velocita"), VoiceSettings::kMinRate,
                            VoiceSettings::kMaxRate, values.rate);
    auto repeatDelay = call.number(QStringLiteral("ripetizione"), VoiceSettings::kMinRepeatDelay,
                                   VoiceSettings::kMaxRepeatDelay, values.repeatDelayMs);
    for (const auto *number : {&volume, &rate, &repeatDelay})
        if (!*number)
            return number->error();
    values.volumeStep = *volume;
    values.rate = *rate;
    values.repeatDelayMs = *repeatDelay;
    if (call.has(QStringLiteral("voce"))) {
        const SiteConfig::Setting voice{QStringLiteral("--voce"), {}, SiteConfig::Kind::YesNo, {}};
        auto answer = SiteConfig::parse(voice, call.value(QStringLiteral("voce")));
        if (!answer)
            return answer.error();
        values.enabled = answer->toInt() != 0;
    }
    return values;
}

int setVoice(const Invocation &call)
{
    const Stores stores(call.arguments.at(0));
    auto current = VoiceSettings::load(stores);
    if (!current)
        return failed(current.error());
    auto wanted = voiceOptions(call, *current);
    if (!wanted)
        return failed(wanted.error());
    if (Status saved = VoiceSettings::save(stores, *wanted); !saved)
        return failed(saved.error());
    out() << "Voce " << (wanted->enabled ? "attiva" : "spenta") << ", volume " << wanted->volumeStep
          << " di " << VoiceSettings::kMaxVolume << ", velocità " << wanted->rate
          << " parole al minuto, ripetizione " << wanted->repeatDelayMs
          << " ms (dal prossimo avvio del totem).\n";
    return 0;
}

// nx7setup attesa STATION --stima si|no: the expected wait on the station's tickets.
int setWaitEstimate(const Invocation &call)
{
    const SiteConfig::Setting estimate{QStringLiteral("--stima"), {}, SiteConfig::Kind::YesNo, {}};
    auto answer = SiteConfig::parse(estimate, call.value(QStringLiteral("stima")));
    if (!answer)
        return failed(answer.error());
    const bool enabled = answer->toInt() != 0;
    if (Status saved = WaitEstimateSetting::save(Stores(call.arguments.at(0)), enabled); !saved)
        return failed(saved.error());
    out() << (enabled ? "Attesa stimata stampata e annunciata" : "Attesa stimata spenta")
          << " (dal prossimo avvio del totem).\n";
    return 0;
}

// The server database of a server folder, or of the server a station folder names.
Result<Database> serverDatabase(const QString &folder)
{
    const QString pathFile = FilePath::resolve(folder, FileName::ServerPathFile);
    QString server = folder;
    if (Installation::checkServerFolder(folder).errorNumber() != 0 && QFileInfo::exists(pathFile)) {
        auto named = TextRecord::readFirstField(pathFile);
        if (!named)
            return named.error();
        server = *named;
    }
    if (Status isServer = Installation::checkServerFolder(server); !isServer)
        return isServer.error();
    return Stores(folder).server(server);
}

void listSettings(const SiteConfig::Values &values)
{
    for (const auto &[setting, value] : values)
        out() << "  " << setting.key.leftJustified(22)
              << SiteConfig::shown(setting, value).leftJustified(20) << " " << setting.meaning
              << "\n";
}

// "campo=valore" words as the values to store; the first that cannot be used is the error.
Result<SiteConfig::Values> assignments(const QList<SiteConfig::Setting> &settings,
                                       const QStringList &words)
{
    SiteConfig::Values values;
    for (const QString &word : words) {
        const qsizetype equals = word.indexOf(u'=');
        const auto setting = SiteConfig::find(settings, word.left(equals));
        if (equals < 0 || !setting) {
            QStringList keys;
            for (const SiteConfig::Setting &known : settings)
                keys << known.key;
            return Error::make(ErrorNumber::Overflow,
                               QStringLiteral("\"%1\" non valido: si scrive CAMPO=VALORE, con "
                                              "CAMPO tra %2.")
                                   .arg(word, keys.join(QStringLiteral(", "))));
        }
        auto value = SiteConfig::parse(*setting, word.mid(equals + 1));
        if (!value)
            return value.error();
        values.append({*setting, *value});
    }
    return values;
}

using ReadValues = std::function<Result<SiteConfig::Values>(Database &)>;
using WriteValues = std::function<Status(Database &, const SiteConfig::Values &)>;

// Lists the settings, or sets those given and lists them as they now are.
int settingsCommand(Result<Database> db, const QList<SiteConfig::Setting> &settings,
                    const QStringList &words, const ReadValues &read, const WriteValues &write,
                    const char *whenRead)
{
    if (!db)
        return failed(db.error());
    auto wanted = assignments(settings, words);
    if (!wanted)
        return failed(wanted.error());
    if (!wanted->isEmpty()) {
        if (Status written = write(*db, *wanted); !written)
            return failed(written.error());
        out() << wanted->size() << (wanted->size() == 1 ? " valore impostato" : " valori impostati")
              << " (" << whenRead << "):\n";
    }
    auto now = read(*db);
    if (!now)
        return failed(now.error());
    listSettings(*now);
    return 0;
}

// A background the kiosk could not load shows "Immagine di sfondo non trovata !" on its
// screen: said now, though the picture may be there for the kiosks and not for this machine.
void warnAboutBackground(const QStringList &words)
{
    for (const QString &word : words) {
        if (!word.startsWith(QStringLiteral("sfondo=")) || word.size() == 7)
            continue;
        const QString path = word.mid(7);
        if (QDir::isRelativePath(path))
            out() << "Attenzione: " << path
                  << " è un percorso relativo: ogni totem lo cerca nella propria cartella.\n";
        else if (QImageReader(path).size().isEmpty())
            out() << "Attenzione: " << path
                  << " non è un'immagine leggibile da qui: il totem che non la trova mostra "
                     "\"Immagine di sfondo non trovata !\".\n";
    }
}

int screen(const Invocation &call)
{
    warnAboutBackground(call.arguments.mid(1));
    return settingsCommand(serverDatabase(call.arguments.at(0)), SiteConfig::screenSettings(),
                           call.arguments.mid(1), SiteConfig::readScreen, SiteConfig::writeScreen,
                           "dal prossimo caricamento dello schermo del totem");
}

int waitMessage(const Invocation &call)
{
    return settingsCommand(Stores(call.arguments.at(0)).local(), SiteConfig::stationSettings(),
                           call.arguments.mid(1), SiteConfig::readStation, SiteConfig::writeStation,
                           "dal prossimo avvio del totem");
}

int listServices(Database &db)
{
    auto services = SiteConfig::services(db);
    if (!services)
        return failed(services.error());
    out() << "  N.  attivo  in attesa  nome\n";
    for (const SiteConfig::Service &service : std::as_const(*services))
        out() << "  " << QString::number(service.id).rightJustified(2) << "  "
              << (service.active ? "si    " : "no    ") << "  "
              << QString::number(service.waiting).rightJustified(9) << "  " << service.name << "\n";
    return 0;
}

int services(const Invocation &call)
{
    auto db = serverDatabase(call.arguments.at(0));
    if (!db)
        return failed(db.error());
    if (call.arguments.size() == 1 && !call.has(QStringLiteral("nome")) &&
        !call.has(QStringLiteral("attivo")))
        return listServices(*db);
    if (call.arguments.size() != 2)
        return failed(Error::make(ErrorNumber::Overflow,
                                  QStringLiteral("indicare un servizio (da 1 a %1) per --nome e "
                                                 "--attivo.")
                                      .arg(SiteConfig::kServiceCount)));
    bool ok = false;
    const int id = call.arguments.at(1).toInt(&ok);
    if (!ok)
        return failed(Error::make(ErrorNumber::Overflow,
                                  QStringLiteral("servizio \"%1\" non valido: va da 1 a %2.")
                                      .arg(call.arguments.at(1))
                                      .arg(SiteConfig::kServiceCount)));
    std::optional<QString> name;
    std::optional<bool> active;
    if (call.has(QStringLiteral("nome")))
        name = call.value(QStringLiteral("nome"));
    if (call.has(QStringLiteral("attivo"))) {
        const SiteConfig::Setting flag{QStringLiteral("--attivo"), {}, SiteConfig::Kind::YesNo, {}};
        auto parsed = SiteConfig::parse(flag, call.value(QStringLiteral("attivo")));
        if (!parsed)
            return failed(parsed.error());
        active = parsed->toInt() != 0;
    }
    if (Status set = SiteConfig::setService(*db, id, name, active); !set)
        return failed(set.error());
    out() << "Servizio " << id
          << " impostato (dal prossimo caricamento dello schermo del totem):\n";
    return listServices(*db);
}

// The first service on the station's screen, so that the preview shows a name of the site's
// own length; a station whose server cannot be read yet gets a long one.
QString sampleServiceName(const QString &station)
{
    if (auto db = serverDatabase(station)) {
        if (auto services = SiteConfig::services(*db)) {
            for (const SiteConfig::Service &service : std::as_const(*services)) {
                if (service.active)
                    return service.name;
            }
        }
    }
    return QStringLiteral("Anagrafe e Stato Civile");
}

int preview(const Invocation &call)
{
    const Stores stores(call.arguments.at(0));
    const QString layout = stores.stationFile(FileName::TicketLayout);
    const QString png = call.value(QStringLiteral("png"));
    auto rendered = TicketPreview::render(
        layout, TicketPreview::sampleTicket(sampleServiceName(call.arguments.at(0)),
                                            QDateTime::currentDateTime()));
    if (!rendered)
        return failed(rendered.error());
    if (!rendered->image.save(png, "PNG"))
        return failed(Error::make(ErrorNumber::PathFileAccess,
                                  QStringLiteral("Impossibile scrivere %1.").arg(native(png))));
    out() << "Anteprima di " << native(layout) << " in " << native(png) << " ("
          << rendered->image.width() << "x" << rendered->image.height() << " punti).\n"
          << "Uscita del totem: " << rendered->output << ".\n";
    return 0;
}

QList<Command> commands()
{
    const QString connectionHelp = QStringLiteral(
        "CONNESSIONE è una stringa di connessione libpq (\"host=... dbname=... user=...\" o\n"
        "\"postgresql://...\").");
    return {
        {QStringLiteral("server"),
         QStringLiteral("CARTELLA [--servizi N] [--risoluzione R] [--postgresql CONNESSIONE]"),
         QStringLiteral("crea una cartella server"),
         QStringLiteral(
             "Crea la cartella server CARTELLA: il database con 20 servizi, FraseTTS.txt e\n"
             "i 20 file di numerazione in NrAll.\n"
             "  --servizi N       servizi attivi, da 0 a 20 (predefinito 6)\n"
             "  --risoluzione R   schermo del totem: 0=1280x1024, 1=1920x1080,\n"
             "                    2=1440x900, 3=800x600 (predefinito 0)\n"
             "  --postgresql C    il database del server è quel database PostgreSQL\n"
             "  --numerazione-condivisa si|no\n"
             "                    i totem numerano insieme sul server (solo PostgreSQL)\n") +
             connectionHelp,
         {QStringLiteral("servizi"), QStringLiteral("risoluzione"), QStringLiteral("postgresql"),
          QStringLiteral("numerazione-condivisa")},
         {},
         1,
         {QStringLiteral("la CARTELLA da creare")},
         createServer},
        {QStringLiteral("postazione"),
         QStringLiteral("CARTELLA --server CARTELLA_SERVER [--server-assente]"),
         QStringLiteral("crea una postazione o la collega a un altro server"),
         QStringLiteral(
             "Crea la cartella di postazione CARTELLA (TotemNX7PRO.mdb e percorsiT.txt) che\n"
             "usa la cartella server indicata. Se la postazione esiste già, la collega\n"
             "a quel server senza toccare i suoi contatori. La cartella server deve\n"
             "contenere FraseTTS.txt e il database (NX7PRO.mdb o NX7PRO.pg).\n"
             "  --server-assente  crea la postazione anche se la cartella server non è\n"
             "                    ancora pronta: il totem la chiederà sullo schermo"),
         {QStringLiteral("server")},
         {QStringLiteral("server-assente")},
         1,
         {QStringLiteral("la CARTELLA della postazione")},
         station},
        {QStringLiteral("migra"),
         QStringLiteral("CARTELLA_SERVER --postgresql CONNESSIONE"),
         QStringLiteral("sposta il database di un server su PostgreSQL"),
         QStringLiteral("Copia ogni tabella di NX7PRO.mdb della cartella server nel database\n"
                        "PostgreSQL e scrive NX7PRO.pg: da quel momento ogni postazione usa\n"
                        "PostgreSQL. Il file NX7PRO.mdb resta com'era.\n") +
             connectionHelp,
         {QStringLiteral("postgresql")},
         {},
         1,
         {QStringLiteral("la CARTELLA_SERVER")},
         moveToPostgres},
        {QStringLiteral("numerazione-condivisa"),
         QStringLiteral("CARTELLA_SERVER si|no [--numero-iniziale N]"),
         QStringLiteral("i totem del server numerano insieme o ognuno da sé"),
         QStringLiteral(
             "Con si, ogni servizio ha una sola numerazione per tutti i totem dell'impianto:\n"
             "i numeri li dà il server PostgreSQL, un contatore per servizio e giorno. Con no\n"
             "ogni totem riprende dai propri contatori. Non disponibile con NX7PRO.mdb.\n"
             "  --numero-iniziale N  primo numero del giorno dei servizi che non ne hanno\n"
             "                       uno (predefinito 1)"),
         {QStringLiteral("numero-iniziale")},
         {},
         2,
         {QStringLiteral("la CARTELLA_SERVER"), QStringLiteral("si o no")},
         sharedNumbering},
        {QStringLiteral("permessi-totem"),
         QStringLiteral("RUOLO --postgresql CONNESSIONE"),
         QStringLiteral("dà a un ruolo PostgreSQL i soli permessi dei totem"),
         QStringLiteral(
             "Dà al ruolo RUOLO (già creato, per esempio con createuser) i soli permessi\n"
             "che servono ai totem e toglie tutti gli altri. CONNESSIONE è quella del\n"
             "proprietario delle tabelle.\n") +
             connectionHelp,
         {QStringLiteral("postgresql")},
         {},
         1,
         {QStringLiteral("il RUOLO")},
         grantKioskRole},
        {QStringLiteral("accessibilita"),
         QStringLiteral("CARTELLA [--voce si|no] [--volume N] [--velocita N] [--ripetizione MS]"),
         QStringLiteral("imposta la voce del tastierino di una postazione"),
         QStringLiteral("Imposta la voce del tastierino della postazione CARTELLA; le opzioni non\n"
                        "indicate restano come sono.\n"
                        "  --voce si|no    voce accesa o spenta\n"
                        "  --volume N      volume di partenza, da 1 a 8 (predefinito 6)\n"
                        "  --velocita N    parole al minuto, da 80 a 450 (predefinito 160)\n"
                        "  --ripetizione MS  millisecondi in cui una seconda pressione dello\n"
                        "                  stesso tasto è ignorata, da 0 a 2000 (predefinito 400)"),
         {QStringLiteral("voce"), QStringLiteral("volume"), QStringLiteral("velocita"),
          QStringLiteral("ripetizione")},
         {},
         1,
         {QStringLiteral("la CARTELLA della postazione")},
         setVoice},
        {QStringLiteral("attesa"),
         QStringLiteral("CARTELLA --stima si|no"),
         QStringLiteral("accende o spegne l'attesa stimata sul biglietto di una postazione"),
         QStringLiteral("Stampa e annuncia, o no, l'attesa stimata (\"Attesa stimata: 10–15\n"
                        "minuti\") sui biglietti della postazione CARTELLA, imparata dal ritmo\n"
                        "con cui gli sportelli chiamano i numeri. Accesa se mai impostata."),
         {QStringLiteral("stima")},
         {},
         1,
         {QStringLiteral("la CARTELLA della postazione")},
         setWaitEstimate},
        {QStringLiteral("servizi"),
         QStringLiteral("CARTELLA [N [--nome TESTO] [--attivo si|no]]"),
         QStringLiteral("elenca i servizi, o rinomina e accende o spegne il servizio N"),
         QStringLiteral(
             "Senza N elenca i 20 servizi del server (numero, attivo, persone in attesa,\n"
             "nome). Con N (da 1 a 20) imposta quel servizio:\n"
             "  --nome TESTO     il nome sul pulsante e sul biglietto\n"
             "  --attivo si|no   il pulsante c'è o no; i servizi attivi prendono i\n"
             "                   pulsanti in ordine di numero\n"
             "CARTELLA è la cartella server, o una postazione (vale il suo server)."),
         {QStringLiteral("nome"), QStringLiteral("attivo")},
         {},
         1,
         {QStringLiteral("la CARTELLA server o di postazione")},
         services,
         true},
        {QStringLiteral("schermo"),
         QStringLiteral("CARTELLA [CAMPO=VALORE ...]"),
         QStringLiteral("mostra o imposta titolo, risoluzione, sfondo e caratteri dello schermo"),
         QStringLiteral(
             "Senza CAMPO=VALORE elenca le impostazioni dello schermo del server; con,\n"
             "le controlla come le legge il totem, le imposta e le elenca.\n"
             "  risoluzione=1280x1024|1920x1080|1440x900|800x600 (o 0-3)\n"
             "  titolo=TESTO  sfondo=FILE  titolo-visibile=si|no  data-visibile=si|no\n"
             "  titolo-, data-, pulsanti- seguiti da font=NOME, grassetto=si|no,\n"
             "  corsivo=si|no, dimensione=1-400, colore=#RRGGBB\n"
             "Esempio: nx7setup schermo /srv/nx7totem/server \"titolo=Scegli il servizio\"\n"
             "CARTELLA è la cartella server, o una postazione (vale il suo server)."),
         {},
         {},
         1,
         {QStringLiteral("la CARTELLA server o di postazione")},
         screen,
         true},
        {QStringLiteral("messaggio"),
         QStringLiteral("CARTELLA [attivo=si|no] [secondi=N]"),
         QStringLiteral("mostra o imposta la pausa dopo ogni biglietto di una postazione"),
         QStringLiteral(
             "Senza valori mostra il messaggio di attesa della postazione CARTELLA: con\n"
             "attivo=si lo schermo resta fermo secondi=N secondi (da 0 a 60) dopo\n"
             "ogni biglietto. Vale dal prossimo avvio della numerazione."),
         {},
         {},
         1,
         {QStringLiteral("la CARTELLA della postazione")},
         waitMessage,
         true},
        {QStringLiteral("anteprima"),
         QStringLiteral("CARTELLA --png FILE"),
         QStringLiteral("mostra il biglietto della postazione com'è stampato"),
         QStringLiteral(
             "Disegna in FILE (PNG) il biglietto del layout Ticket.lbl della postazione\n"
             "CARTELLA con valori di esempio, esattamente come lo riceve la sua uscita:\n"
             "i punti in bianco e nero di una stampante di ricevute, la pagina per il\n"
             "servizio di stampa o il file PDF. Dice anche quale uscita userebbe il totem."),
         {QStringLiteral("png")},
         {},
         1,
         {QStringLiteral("la CARTELLA della postazione")},
         preview},
    };
}

// Options every subcommand needs, with the subcommand's usage when one is missing.
QString missingRequiredOption(const Command &command, const Invocation &call)
{
    const QRegularExpression required(QStringLiteral("(?:^| )--([a-z-]+) [A-Z_]+"));
    for (auto match = required.globalMatch(command.arguments); match.hasNext();) {
        const QString option = match.next().captured(1);
        if (!command.arguments.contains(QStringLiteral("[--%1").arg(option)) && !call.has(option))
            return QStringLiteral("manca --%1.").arg(option);
    }
    return {};
}

// Library log lines are for the kiosk's journal, in English: the technician reads only what
// this tool prints, and every failure comes back to it as an error value.
void quietLibraryLog(QtMsgType, const QMessageLogContext &, const QString &) {}

} // namespace

int main(int argc, char *argv[])
{
    qInstallMessageHandler(quietLibraryLog);
    // The preview draws text: fonts without a screen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QStringList words = app.arguments().mid(1);
    const QList<Command> all = commands();
    const auto isHelp = [](const QString &word) {
        return word == QStringLiteral("--help") || word == QStringLiteral("-h");
    };
    if (words.isEmpty() || isHelp(words.first())) {
        (words.isEmpty() ? err() : out()) << toolHelp(all);
        return words.isEmpty() ? 2 : 0;
    }
    if (words.first() == QStringLiteral("--version")) {
        out() << "nx7setup " << NX7_VERSION << "\n";
        return 0;
    }
    const QString name = words.takeFirst();
    const auto command =
        std::find_if(all.begin(), all.end(), [&](const Command &c) { return c.name == name; });
    if (command == all.end()) {
        err() << "nx7setup: comando sconosciuto \"" << name << "\".\nComandi: ";
        for (const Command &c : all)
            err() << c.name << (&c == &all.last() ? "\n" : ", ");
        err() << "Per l'aiuto: nx7setup --help\n";
        return 2;
    }
    if (std::any_of(words.begin(), words.end(), isHelp)) {
        out() << commandHelp(*command);
        return 0;
    }
    auto parsed = parseArguments(*command, words);
    if (const auto *usage = std::get_if<UsageError>(&parsed)) {
        err() << usageErrorText(*command, usage->text);
        return 2;
    }
    const Invocation &call = std::get<Invocation>(parsed);
    if (const QString missing = missingRequiredOption(*command, call); !missing.isEmpty()) {
        err() << usageErrorText(*command, missing);
        return 2;
    }
    return command->run(call);
}
