// Creates a new station folder or a new server folder for the kiosk.
#include "installation.h"
#include "kioskrole.h"
#include "stores.h"
#include "voicesettings.h"
#include "waitestimatesetting.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRegularExpression>
#include <QTextStream>

using namespace nx7;

namespace {

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

// The voice options given on the command line over the station's current settings.
Result<VoiceSettings::Values> voiceOptions(const QCommandLineParser &parser,
                                           VoiceSettings::Values values,
                                           const QCommandLineOption &volume,
                                           const QCommandLineOption &rate,
                                           const QCommandLineOption &voice)
{
    const auto number = [&](const QCommandLineOption &option, int &into) {
        if (!parser.isSet(option))
            return true;
        bool ok = false;
        into = parser.value(option).toInt(&ok);
        return ok;
    };
    if (!number(volume, values.volumeStep) || !number(rate, values.rate))
        return Error::make(ErrorNumber::Overflow,
                           QStringLiteral("--volume e --velocita vogliono un numero."));
    if (parser.isSet(voice)) {
        const QString answer = parser.value(voice).toLower();
        if (answer != QStringLiteral("si") && answer != QStringLiteral("no"))
            return Error::make(ErrorNumber::Overflow, QStringLiteral("--voce vuole si o no."));
        values.enabled = answer == QStringLiteral("si");
    }
    if (Status valid = VoiceSettings::check(values); !valid)
        return valid.error();
    return values;
}

int setVoice(const QCommandLineParser &parser, const QString &station,
             const QCommandLineOption &volume, const QCommandLineOption &rate,
             const QCommandLineOption &voice)
{
    QTextStream err(stderr);
    const Stores stores(station);
    auto current = VoiceSettings::load(stores);
    auto wanted = current ? voiceOptions(parser, *current, volume, rate, voice)
                          : Result<VoiceSettings::Values>(current.error());
    Status saved = wanted ? VoiceSettings::save(stores, *wanted) : Status(wanted.error());
    if (!saved) {
        err << "Errore " << saved.errorNumber() << ": " << saved.error().description << "\n";
        return saved.errorNumber() == ErrorNumber::Overflow ? 2 : 1;
    }
    QTextStream(stdout) << "Voce " << (wanted->enabled ? "attiva" : "spenta") << ", volume "
                        << wanted->volumeStep << " di " << VoiceSettings::kMaxVolume
                        << ", velocita' " << wanted->rate
                        << " parole al minuto (al prossimo avvio del totem).\n";
    return 0;
}

// nx7setup attesa STATION --stima si|no: the wait estimate on the station's tickets.
int setWaitEstimate(const QCommandLineParser &parser, const QString &station,
                    const QCommandLineOption &estimate)
{
    QTextStream err(stderr);
    const QString answer = parser.value(estimate).toLower();
    if (answer != QStringLiteral("si") && answer != QStringLiteral("no")) {
        err << "--stima vuole si o no.\n";
        return 2;
    }
    const bool enabled = answer == QStringLiteral("si");
    if (Status saved = WaitEstimateSetting::save(Stores(station), enabled); !saved) {
        err << "Errore " << saved.errorNumber() << ": " << saved.error().description << "\n";
        return 1;
    }
    QTextStream(stdout) << (enabled ? "Attesa stimata stampata e annunciata"
                                    : "Attesa stimata spenta")
                        << " (al prossimo avvio del totem).\n";
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("nx7setup"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Crea una nuova cartella di postazione o una nuova cartella server del totem.\n"
        "  nx7setup server CARTELLA [--servizi N] [--risoluzione R] [--postgresql CONNESSIONE]\n"
        "  nx7setup postazione CARTELLA --server CARTELLA_SERVER\n"
        "  nx7setup migra CARTELLA_SERVER --postgresql CONNESSIONE\n"
        "  nx7setup permessi-totem --postgresql CONNESSIONE RUOLO\n"
        "  nx7setup accessibilita CARTELLA [--voce si|no] [--volume N] [--velocita N]\n"
        "  nx7setup attesa CARTELLA --stima si|no\n"
        "CONNESSIONE e' una stringa di connessione libpq (\"host=... dbname=... user=...\"\n"
        "o \"postgresql://...\"): il database del server diventa quel database PostgreSQL.\n"
        "migra copia il NX7PRO.mdb della cartella nel database PostgreSQL.\n"
        "permessi-totem da' al ruolo RUOLO (gia' creato, per esempio con createuser) i soli\n"
        "permessi che servono ai totem; CONNESSIONE e' quella del proprietario delle tabelle.\n"
        "accessibilita imposta la voce del tastierino della postazione CARTELLA; le opzioni\n"
        "non indicate restano come sono.\n"
        "attesa accende o spegne l'attesa stimata sul biglietto e nella voce della postazione\n"
        "CARTELLA (accesa se mai impostata)."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("tipo"), QStringLiteral("server o postazione"));
    parser.addPositionalArgument(QStringLiteral("cartella"), QStringLiteral("cartella da creare"));
    const QCommandLineOption server(QStringLiteral("server"),
                                    QStringLiteral("Cartella server della postazione."),
                                    QStringLiteral("cartella"));
    const QCommandLineOption services(QStringLiteral("servizi"),
                                      QStringLiteral("Servizi attivi (0-20, predefinito 6)."),
                                      QStringLiteral("n"), QStringLiteral("6"));
    const QCommandLineOption resolution(
        QStringLiteral("risoluzione"),
        QStringLiteral("0=1280x1024, 1=1920x1080, 2=1440x900, 3=800x600 (predefinito 0)."),
        QStringLiteral("codice"), QStringLiteral("0"));
    const QCommandLineOption postgresql(
        QStringLiteral("postgresql"),
        QStringLiteral("Database del server su PostgreSQL (stringa di connessione libpq)."),
        QStringLiteral("connessione"));
    const QCommandLineOption voice(QStringLiteral("voce"),
                                   QStringLiteral("Voce del tastierino: si o no (predefinito si)."),
                                   QStringLiteral("si|no"));
    const QCommandLineOption volume(
        QStringLiteral("volume"),
        QStringLiteral("Volume di partenza della voce, da 1 a 8 (predefinito 6)."),
        QStringLiteral("n"));
    const QCommandLineOption rate(
        QStringLiteral("velocita"),
        QStringLiteral("Parole al minuto della voce, da 80 a 450 (predefinito 160)."),
        QStringLiteral("n"));
    const QCommandLineOption estimate(
        QStringLiteral("stima"),
        QStringLiteral("Attesa stimata sul biglietto: si o no (predefinito si)."),
        QStringLiteral("si|no"), QStringLiteral("si"));
    parser.addOptions({server, services, resolution, postgresql, voice, volume, rate, estimate});
    parser.process(app);

    QTextStream err(stderr);
    const QStringList args = parser.positionalArguments();
    if (args.size() != 2) {
        err << parser.helpText();
        return 2;
    }
    if (args.at(0) == QStringLiteral("accessibilita"))
        return setVoice(parser, args.at(1), volume, rate, voice);
    if (args.at(0) == QStringLiteral("attesa"))
        return setWaitEstimate(parser, args.at(1), estimate);
    QTextStream out(stdout);
    Status status;
    if (args.at(0) == QStringLiteral("permessi-totem")) {
        if (!parser.isSet(postgresql)) {
            err << "Indicare il database PostgreSQL con --postgresql.\n";
            return 2;
        }
        auto granted = KioskRole::grant(parser.value(postgresql), args.at(1));
        if (!granted) {
            err << "Errore " << granted.errorNumber() << ": " << granted.error().description
                << "\n";
            return 1;
        }
        out << "Permessi del ruolo \"" << args.at(1) << "\" (tutti gli altri tolti):\n";
        for (const QString &line : std::as_const(*granted))
            out << "  " << line << "\n";
        return 0;
    }
    if (args.at(0) == QStringLiteral("server")) {
        Installation::ServerOptions options;
        bool ok1 = false;
        bool ok2 = false;
        options.activeServices = parser.value(services).toInt(&ok1);
        options.resolutionCode = parser.value(resolution).toInt(&ok2);
        if (!ok1 || !ok2 || options.activeServices < 0 || options.activeServices > 20 ||
            options.resolutionCode < 0 || options.resolutionCode > 3) {
            err << "Valori non validi per --servizi o --risoluzione.\n";
            return 2;
        }
        status =
            parser.isSet(postgresql)
                ? Installation::createPostgresServer(args.at(1), parser.value(postgresql), options)
                : Installation::createServer(args.at(1), options);
    } else if (args.at(0) == QStringLiteral("migra")) {
        if (!parser.isSet(postgresql)) {
            err << "Indicare il database PostgreSQL con --postgresql.\n";
            return 2;
        }
        status = Installation::moveToPostgres(args.at(1), parser.value(postgresql));
    } else if (args.at(0) == QStringLiteral("postazione")) {
        if (!parser.isSet(server)) {
            err << "Indicare la cartella server con --server.\n";
            return 2;
        }
        status = Installation::createStation(args.at(1), parser.value(server));
    } else {
        err << parser.helpText();
        return 2;
    }
    if (!status) {
        err << "Errore " << status.errorNumber() << ": " << status.error().description << "\n";
        return 1;
    }
    if (args.at(0) != QStringLiteral("postazione") && parser.isSet(postgresql))
        out << "Database pronto. I totem non usino il proprietario: creare un ruolo con i soli\n"
               "permessi dei totem e indicarlo in NX7PRO.pg (user=totem), per esempio:\n"
               "  sudo -u postgres createuser --pwprompt totem\n"
               "  nx7setup permessi-totem --postgresql \""
            << withoutPassword(parser.value(postgresql)) << "\" totem\n";
    return 0;
}
