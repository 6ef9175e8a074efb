// Why the PostgreSQL server refused a connection or a statement, in the error numbers the
// handlers select on and in Italian words that send a technician to the right place.
#include "postgresparts.h"

#include "filenames.h"
#include "storefailure.h"
#include "storelog.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlError>

#include <chrono>
#include <memory>
#include <vector>

#include <libpq-fe.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>

namespace nx7::postgres {

using namespace detail;

namespace {

// How far a connection attempt made with libpq itself got, and why it stopped: the
// reasons are decided on these, never on the words of libpq's message, which carries the
// host, database and user names as written in the connection file.
struct Attempt
{
    bool connected = false;
    bool refusedBeforeNetwork = false;         // libpq refused the settings, or no host resolved
    ConnStatusType stoppedIn = CONNECTION_BAD; // the step during which the attempt ended
    QString sqlState;                          // of the server's refusal, if it refused
    QString serverRoutine;                     // the server function that refused
    bool needsPassword = false;                // asked for a password and none was given
    QString message;                           // for the log only
};

// Every host of the settings can be tried: a name resolves, a socket folder holds the
// server's socket (a numeric address needs nothing).
bool hostsExist(const Settings &settings)
{
    if (has(settings, QStringLiteral("hostaddr")))
        return true;
    QString port = valueOf(settings, QStringLiteral("port"));
    if (port.isEmpty())
        port = QStringLiteral("5432");
    const QStringList hosts = valueOf(settings, QStringLiteral("host")).split(u',');
    for (const QString &host : hosts) {
        if (host.isEmpty() || host.startsWith(u'@'))
            continue;
        if (host.startsWith(u'/')) {
            if (!QFileInfo::exists(host + QStringLiteral("/.s.PGSQL.") + port))
                return false;
            continue;
        }
        addrinfo hints{};
        hints.ai_socktype = SOCK_STREAM;
        addrinfo *found = nullptr;
        if (::getaddrinfo(host.toUtf8().constData(), nullptr, &hints, &found) != 0)
            return false;
        ::freeaddrinfo(found);
    }
    return true;
}

// The server's fields in libpq's verbose form of its refusal: "<severity>:  <SQLSTATE>:
// ..." right after libpq's "failed: ", and "LOCATION:  <routine>, <file>:<line>".
void readServerFields(Attempt &attempt)
{
    static const QRegularExpression state(QStringLiteral("failed: [^\\s:]+:  ([0-9A-Z]{5}): "));
    static const QRegularExpression routine(QStringLiteral("\\nLOCATION:  (\\w+), "));
    QRegularExpressionMatch last;
    for (auto it = state.globalMatch(attempt.message); it.hasNext();)
        last = it.next();
    if (!last.hasMatch())
        return;
    attempt.sqlState = last.captured(1);
    attempt.serverRoutine = routine.match(attempt.message, last.capturedEnd()).captured(1);
}

Attempt attemptConnection(const Settings &all)
{
    Attempt attempt;
    QList<QByteArray> keys, values;
    for (const auto &[key, value] : all) {
        keys.append(key.toUtf8());
        values.append(value.toUtf8());
    }
    std::vector<const char *> keyPointers, valuePointers;
    for (qsizetype i = 0; i < keys.size(); ++i) {
        keyPointers.push_back(keys.at(i).constData());
        valuePointers.push_back(values.at(i).constData());
    }
    keyPointers.push_back(nullptr);
    valuePointers.push_back(nullptr);
    const std::unique_ptr<PGconn, decltype(&PQfinish)> conn(
        PQconnectStartParams(keyPointers.data(), valuePointers.data(), 0), &PQfinish);
    if (!conn || PQstatus(conn.get()) == CONNECTION_BAD) {
        attempt.message = conn ? QString::fromUtf8(PQerrorMessage(conn.get())) : QString();
        attempt.refusedBeforeNetwork = true;
        return attempt;
    }
    PQsetErrorVerbosity(conn.get(), PQERRORS_VERBOSE);
    // The asynchronous steps do not keep connect_timeout themselves.
    bool numeric = false;
    const int seconds = valueOf(all, QStringLiteral("connect_timeout")).toInt(&numeric);
    QDeadlineTimer deadline(std::chrono::seconds(numeric && seconds > 0 ? seconds : 60));
    PostgresPollingStatusType step = PGRES_POLLING_WRITING;
    while (step != PGRES_POLLING_OK && step != PGRES_POLLING_FAILED) {
        attempt.stoppedIn = PQstatus(conn.get());
        pollfd wait{PQsocket(conn.get()), short(step == PGRES_POLLING_READING ? POLLIN : POLLOUT),
                    0};
        const int ready = ::poll(&wait, 1, int(std::max<qint64>(0, deadline.remainingTime())));
        if (ready == 0) {
            attempt.message = QStringLiteral("timed out");
            return attempt;
        }
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            break;
        step = PQconnectPoll(conn.get());
    }
    attempt.connected = step == PGRES_POLLING_OK;
    attempt.needsPassword = !attempt.connected && PQconnectionNeedsPassword(conn.get()) != 0;
    attempt.message = QString::fromUtf8(PQerrorMessage(conn.get()));
    readServerFields(attempt);
    return attempt;
}

Settings withSetting(Settings settings, const QString &key, const QString &value)
{
    settings.append({key, value}); // the last one counts
    return settings;
}

bool passedTls(const Attempt &attempt)
{
    return attempt.connected || !attempt.sqlState.isEmpty() ||
           (attempt.stoppedIn != CONNECTION_SSL_STARTUP && attempt.stoppedIn != CONNECTION_BAD);
}

// libpq's reason for a failed connection, turned into what the handlers select on: each
// cause its own Italian reason, so that a technician is sent to the right place.
Error connectionRefused(const Attempt &attempt, const Settings &settings, const Settings &all)
{
    qCWarning(lcStore).noquote() << "PostgreSQL server" << target(settings)
                                 << "not connected:" << attempt.message.trimmed();
    const auto refused = [](const QString &text) {
        return Error::make(ErrorNumber::CannotOpenDatabase, text);
    };
    const QString where = target(settings);
    const QString file = FileName::ServerConnection;
    const QString &state = attempt.sqlState;
    const auto unreachable = [&] {
        return Error::make(ErrorNumber::NotValidPath,
                           QStringLiteral("Il server del database %1 non è raggiungibile. "
                                          "Verificare che il server sia acceso e raggiungibile "
                                          "dalla rete.")
                               .arg(where));
    };
    const Error accessDenied = refused(QStringLiteral("Accesso negato al database %1: controllare "
                                                      "utente e password in %2 o nel file "
                                                      ".pgpass.")
                                           .arg(where, file));
    const QString user = valueOf(settings, QStringLiteral("user"));
    // Refused by libpq itself, before any SQLSTATE: the server asked for a password.
    if (attempt.needsPassword)
        return refused(QStringLiteral("Il server %1 chiede la password dell'utente \"%2\" e "
                                      "nessuna è stata data: scriverla nel file .pgpass "
                                      "dell'utente che avvia il programma.")
                           .arg(where, user));
    // The server answered and refused, with its SQLSTATE.
    if (state == QStringLiteral("28000") && attempt.serverRoutine == "ClientAuthentication")
        return refused(QStringLiteral("Il server %1 non ammette questa postazione con questo "
                                      "utente: controllare pg_hba.conf sul server e sslmode in "
                                      "%2.")
                           .arg(where, file));
    if (state == QStringLiteral("28P01"))
        return refused(QStringLiteral("Accesso negato al database %1: password errata per "
                                      "l'utente \"%2\" (controllare %3 o il file .pgpass).")
                           .arg(where, user, file));
    if (state == QStringLiteral("28000") && attempt.serverRoutine == "InitializeSessionUserId")
        return refused(QStringLiteral("Accesso negato al database %1: l'utente \"%2\" non "
                                      "esiste sul server (controllare user in %3).")
                           .arg(where, user, file));
    if (state.startsWith(QStringLiteral("28")))
        return accessDenied;
    if (state == QStringLiteral("3D000"))
        return refused(QStringLiteral("Il database \"%1\" non esiste sul server %2.")
                           .arg(valueOf(settings, QStringLiteral("dbname")), where));
    if (state == QStringLiteral("42501"))
        return refused(QStringLiteral("L'utente \"%1\" non ha il permesso di collegarsi al "
                                      "database %2.")
                           .arg(valueOf(settings, QStringLiteral("user")), where));
    if (state == QStringLiteral("42704") || state == QStringLiteral("22023") ||
        state == QStringLiteral("42601") || state == QStringLiteral("08P01"))
        return badConnectionString(QStringLiteral("parametro non riconosciuto dal server"));
    if (!state.isEmpty())
        return unreachable();
    // No answer from a server: how far the attempt got decides.
    if (attempt.refusedBeforeNetwork)
        return hostsExist(settings)
                   ? badConnectionString(QStringLiteral("parametro non riconosciuto dal server"))
                   : unreachable();
    if (attempt.stoppedIn != CONNECTION_SSL_STARTUP)
        return unreachable();
    // Stopped in the TLS handshake.
    const QString mode = valueOf(settings, QStringLiteral("sslmode"));
    const bool verifies = mode.startsWith(QStringLiteral("verify-"));
    QString ca = valueOf(settings, QStringLiteral("sslrootcert"));
    if (ca.isEmpty())
        ca = QDir::homePath() + QStringLiteral("/.postgresql/root.crt"); // libpq's default
    const QString crl = valueOf(settings, QStringLiteral("sslcrl"));
    if (verifies && (!QFileInfo(ca).isReadable() || !QFileInfo(ca).isFile() ||
                     (!crl.isEmpty() && !QFileInfo(crl).isReadable()))) {
        QString shown = valueOf(settings, QStringLiteral("sslrootcert"));
        if (shown.isEmpty())
            shown = QStringLiteral("~/.postgresql/root.crt");
        return refused(QStringLiteral("Certificato della CA \"%1\" mancante o illeggibile su "
                                      "questa postazione: controllare sslrootcert in %2.")
                           .arg(shown, file));
    }
    // Tried again without checking the certificate, then without checking its name.
    // With a CA file at hand libpq checks the certificate even for "require": none is named.
    const Settings unchecked =
        withSetting(withSetting(all, QStringLiteral("sslmode"), QStringLiteral("require")),
                    QStringLiteral("sslrootcert"), QStringLiteral("/dev/null/nx7-no-ca"));
    if (!passedTls(attemptConnection(unchecked)))
        return refused(QStringLiteral("Il server %1 non accetta connessioni cifrate (TLS), "
                                      "richieste da sslmode in %2.")
                           .arg(where, file));
    if (mode == QStringLiteral("verify-full") &&
        passedTls(attemptConnection(
            withSetting(all, QStringLiteral("sslmode"), QStringLiteral("verify-ca")))))
        return refused(QStringLiteral("Il certificato del server %1 non è intestato al nome "
                                      "indicato in %2 (host): connessione rifiutata.")
                           .arg(where, file));
    if (verifies)
        return refused(QStringLiteral("Certificato del server %1 non verificato: non è firmato "
                                      "dalla CA indicata in %2 (sslrootcert). Connessione "
                                      "rifiutata.")
                           .arg(where, file));
    return refused(QStringLiteral("Connessione cifrata (TLS) con il server %1 non riuscita: "
                                  "controllare sslmode in %2.")
                       .arg(where, file));
}

// libpq translates its messages into the station's language (LC_MESSAGES): while a

} // namespace

namespace detail {

std::optional<Error> refusalOfLibpq(const Settings &settings, const Settings &all)
{
    const Attempt attempt = attemptConnection(all);
    if (attempt.connected)
        return std::nullopt;
    return connectionRefused(attempt, settings, all);
}

Error refusalOfDriver(const QString &message, const Settings &settings, const Settings &all)
{
    Attempt lost;
    lost.message = message;
    return connectionRefused(lost, settings, all);
}

EnglishMessages::EnglishMessages()
{
    locale_t base = ::duplocale(LC_GLOBAL_LOCALE);
    if (!base)
        return;
    m_english = ::newlocale(LC_MESSAGES_MASK, "C", base);
    if (!m_english) {
        ::freelocale(base);
        return;
    }
    m_previous = ::uselocale(m_english);
}

EnglishMessages::~EnglishMessages()
{
    if (!m_english)
        return;
    ::uselocale(m_previous);
    ::freelocale(m_english);
}

} // namespace detail

Error Lease::failure(const QSqlError &error, const QString &what)
{
    const QString state = error.nativeErrorCode();
    qCWarning(lcStore).noquote() << "PostgreSQL" << (state.isEmpty() ? QStringLiteral("-") : state)
                                 << what << ":" << error.text().trimmed();
    // Class 08 is a connection failure, 57P01..57P03 a server going down; a client-side
    // failure with no state at all is a connection that is gone. A write refused as read-only
    // (25006) is a connection to a server that became a standby after a switchover: made
    // again, it finds the primary that target_session_attrs=read-write asks for.
    const bool lost = !m_session->isOpen() || state.startsWith(QStringLiteral("08")) ||
                      state == QStringLiteral("57P01") || state == QStringLiteral("57P02") ||
                      state == QStringLiteral("57P03") || state == QStringLiteral("25006") ||
                      state.isEmpty();
    if (lost) {
        m_session->broken = true;
        m_session->inTransaction = false;
        return Error::make(ErrorNumber::NotValidPath,
                           state == QStringLiteral("25006")
                               ? QStringLiteral("Il database del server accetta solo letture "
                                                "(un server di riserva, o in sola lettura): "
                                                "niente è stato scritto.")
                               : QStringLiteral("Connessione al server del database interrotta: "
                                                "il server non è raggiungibile."));
    }
    // Busy rather than broken, with the numbers the SQLite file gives for the same failures,
    // so that a ticket is abandoned and the kiosk goes on instead of ending.
    if (state == QStringLiteral("57014"))
        return Error::make(ErrorNumber::DatabaseLocked,
                           QStringLiteral("Il server del database non ha completato l'operazione "
                                          "nel tempo concesso (statement_timeout): server "
                                          "sovraccarico o bloccato."));
    if (state == QStringLiteral("55P03") || state == QStringLiteral("40P01") ||
        state == QStringLiteral("40001"))
        return Error::make(ErrorNumber::DatabaseLocked,
                           QStringLiteral("Impossibile aggiornare: il database è bloccato da "
                                          "un'altra postazione."));
    if (state == QStringLiteral("53100"))
        return Error::make(ErrorNumber::DiskFull,
                           QStringLiteral("Spazio su disco insufficiente sul server."));
    if (state.startsWith(QStringLiteral("53")) || state.startsWith(QStringLiteral("58")))
        return Error::make(ErrorNumber::DiskOrNetworkError,
                           QStringLiteral("Errore del disco o della rete sul server."));
    if (state == QStringLiteral("42P01")) {
        forgetTables();
        return Error::make(ErrorNumber::TableNotFound,
                           QStringLiteral("Impossibile trovare la tabella: %1").arg(what));
    }
    if (state == QStringLiteral("42703")) {
        forgetTables();
        return Error::make(ErrorNumber::ItemNotFound);
    }
    if (state == QStringLiteral("42501"))
        return Error::make(ErrorNumber::NoPermission,
                           QStringLiteral("Permesso negato dal database del server: l'utente di "
                                          "%1 non ha i diritti del totem (nx7setup "
                                          "permessi-totem).")
                               .arg(FileName::ServerConnection));
    if (state == QStringLiteral("22P02"))
        return Error::make(ErrorNumber::TypeMismatch);
    if (state == QStringLiteral("22003"))
        return Error::make(ErrorNumber::Overflow);
    return Error::make(
        ErrorNumber::DatabaseOperationFailed,
        QStringLiteral("Operazione sul database non riuscita (codice %1).").arg(state));
}

} // namespace nx7::postgres
