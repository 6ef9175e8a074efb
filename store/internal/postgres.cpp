#include "postgres.h"

#include "database.h"
#include "filenames.h"
#include "storefailure.h"
#include "storelog.h"
#include "textrecord.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QUrl>
#include <QUrlQuery>

#include <algorithm>
#include <atomic>
#include <initializer_list>

#include <QDeadlineTimer>
#include <QRegularExpression>

#include <cerrno>
#include <chrono>
#include <clocale>
#include <memory>
#include <vector>

#include <libpq-fe.h>
#include <locale.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>

namespace nx7::postgres {

namespace {

// A server that does not answer is given up quickly, as a share that is gone.
constexpr int kConnectTimeoutSeconds = 3;
// In line with the SQLite busy timeout of the shared file: a row held by a station makes
// the kiosk wait that long and no longer; a statement never runs for more than twice that.
constexpr int kLockTimeoutMs = 5000;
constexpr int kStatementTimeoutMs = 10000;
// A kiosk stuck inside a transaction must not keep the stations' rows locked.
constexpr int kIdleInTransactionTimeoutMs = 30000;
// A connection idle longer than this is asked whether it still works before it is lent.
constexpr qint64 kCheckAfterIdleMs = 5000;
constexpr int kKeptPerDatabase = 4;
constexpr int kKeptInAll = 8;

QString quote(const QString &identifier)
{
    QString escaped = identifier;
    escaped.replace(u'"', QStringLiteral("\"\""));
    return u'"' + escaped + u'"';
}

Error badConnectionString(const QString &why)
{
    return Error::make(ErrorNumber::CannotOpenDatabase,
                       QStringLiteral("La stringa di connessione di %1 non è valida: %2.")
                           .arg(FileName::ServerConnection, why));
}

Result<Settings> parseUri(const QString &text)
{
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid())
        return badConnectionString(QStringLiteral("indirizzo postgresql:// non leggibile"));
    Settings settings;
    if (!url.host().isEmpty())
        settings.append({QStringLiteral("host"), url.host()});
    if (url.port() > 0)
        settings.append({QStringLiteral("port"), QString::number(url.port())});
    if (const QString db = url.path(QUrl::FullyDecoded).mid(1); !db.isEmpty())
        settings.append({QStringLiteral("dbname"), db});
    if (!url.userName().isEmpty())
        settings.append({QStringLiteral("user"), url.userName(QUrl::FullyDecoded)});
    if (!url.password().isEmpty())
        settings.append({QStringLiteral("password"), url.password(QUrl::FullyDecoded)});
    const auto items = QUrlQuery(url).queryItems(QUrl::FullyDecoded);
    for (const auto &item : items)
        settings.append(item);
    return settings;
}

// libpq's "keyword = value" form: values bare or in single quotes, backslash escapes.
Result<Settings> parseKeywords(const QString &text)
{
    Settings settings;
    qsizetype i = 0;
    const auto skipBlanks = [&] {
        while (i < text.size() && text.at(i).isSpace())
            ++i;
    };
    while (true) {
        skipBlanks();
        if (i >= text.size())
            return settings;
        QString key;
        while (i < text.size() && text.at(i) != u'=' && !text.at(i).isSpace())
            key += text.at(i++);
        skipBlanks();
        if (i >= text.size() || text.at(i) != u'=')
            return badConnectionString(QStringLiteral("manca \"=\" dopo \"%1\"").arg(key));
        ++i;
        skipBlanks();
        QString value;
        if (i < text.size() && text.at(i) == u'\'') {
            ++i;
            bool closed = false;
            while (i < text.size()) {
                const QChar c = text.at(i++);
                if (c == u'\\' && i < text.size()) {
                    value += text.at(i++);
                } else if (c == u'\'') {
                    closed = true;
                    break;
                } else {
                    value += c;
                }
            }
            if (!closed)
                return badConnectionString(QStringLiteral("apice non chiuso"));
        } else {
            while (i < text.size() && !text.at(i).isSpace()) {
                const QChar c = text.at(i++);
                if (c == u'\\' && i < text.size())
                    value += text.at(i++);
                else
                    value += c;
            }
        }
        settings.append({key, value});
    }
}

QString valueOf(const Settings &settings, const QString &key)
{
    QString found;
    for (const auto &[name, value] : settings) {
        if (name == key)
            found = value; // the last one counts, as in libpq
    }
    return found;
}

bool has(const Settings &settings, const QString &key)
{
    for (const auto &setting : settings) {
        if (setting.first == key)
            return true;
    }
    return false;
}

// Where the kiosk tried to go, for the messages: "host:port/dbname".
QString target(const Settings &settings)
{
    QString host = valueOf(settings, QStringLiteral("host"));
    if (host.isEmpty())
        host = valueOf(settings, QStringLiteral("hostaddr"));
    if (host.isEmpty())
        host = QStringLiteral("localhost");
    QString where = host;
    if (const QString port = valueOf(settings, QStringLiteral("port")); !port.isEmpty())
        where += u':' + port;
    if (const QString db = valueOf(settings, QStringLiteral("dbname")); !db.isEmpty())
        where += u'/' + db;
    return where;
}

QString connectionOption(const QString &key, const QString &value)
{
    QString escaped = value;
    escaped.replace(u'\\', QStringLiteral("\\\\"));
    escaped.replace(u'\'', QStringLiteral("\\'"));
    return QStringLiteral("%1='%2'").arg(key, escaped);
}

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

// The settings as the kiosk hands them to the server, defaults and timeouts included.
Settings effectiveSettings(const Settings &settings)
{
    Settings all;
    QString serverOptions = QStringLiteral("-c lock_timeout=%1 -c statement_timeout=%2 "
                                           "-c idle_in_transaction_session_timeout=%3")
                                .arg(kLockTimeoutMs)
                                .arg(kStatementTimeoutMs)
                                .arg(kIdleInTransactionTimeoutMs);
    if (!has(settings, QStringLiteral("connect_timeout")))
        all.append({QStringLiteral("connect_timeout"), QString::number(kConnectTimeoutSeconds)});
    if (!has(settings, QStringLiteral("application_name")))
        all.append({QStringLiteral("application_name"), QStringLiteral("nx7totem")});
    // A server that vanishes in the middle of a statement is noticed on TCP too.
    for (const auto &[key, value] :
         {std::pair{QStringLiteral("keepalives_idle"), QStringLiteral("10")},
          std::pair{QStringLiteral("keepalives_interval"), QStringLiteral("3")},
          std::pair{QStringLiteral("keepalives_count"), QStringLiteral("3")},
          std::pair{QStringLiteral("tcp_user_timeout"), QStringLiteral("10000")}}) {
        if (!has(settings, key))
            all.append({key, value});
    }
    for (const auto &[key, value] : settings) {
        if (key == QStringLiteral("options"))
            serverOptions += u' ' + value; // the installation's own settings come last and win
        else
            all.append({key, value});
    }
    all.append({QStringLiteral("options"), serverOptions});
    return all;
}

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
// connection is made this thread reads them in English, in which they are recognised.
class EnglishMessages
{
public:
    EnglishMessages()
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
    ~EnglishMessages()
    {
        if (!m_english)
            return;
        ::uselocale(m_previous);
        ::freelocale(m_english);
    }
    EnglishMessages(const EnglishMessages &) = delete;
    EnglishMessages &operator=(const EnglishMessages &) = delete;

private:
    locale_t m_english = nullptr;
    locale_t m_previous = nullptr;
};

// Settings naming a file on the station: a relative name is taken from the folder of
// "NX7PRO.pg", where one copy serves every station, not from each kiosk's own folder.
const QStringList &fileSettings()
{
    static const QStringList keys{QStringLiteral("sslrootcert"), QStringLiteral("sslcrl"),
                                  QStringLiteral("sslcrldir"),   QStringLiteral("sslcert"),
                                  QStringLiteral("sslkey"),      QStringLiteral("passfile")};
    return keys;
}

QString withFilesFrom(const QString &connectionString, const QString &folder)
{
    auto settings = parseConnectionString(connectionString);
    if (!settings)
        return connectionString; // refused, with its reason, when it is used
    bool changed = false;
    QStringList rebuilt;
    for (auto &[key, value] : *settings) {
        if (fileSettings().contains(key) && !value.isEmpty() && QDir::isRelativePath(value)) {
            value = QDir::cleanPath(QDir(folder).absoluteFilePath(value));
            changed = true;
        }
        rebuilt.append(connectionOption(key, value));
    }
    return changed ? rebuilt.join(u' ') : connectionString;
}

bool isInteger(const QString &text)
{
    bool ok = false;
    text.toInt(&ok);
    return ok;
}

QString nextSessionName()
{
    static std::atomic<int> counter{0};
    return QStringLiteral("nx7-pg-%1").arg(++counter);
}

} // namespace

struct Session
{
    QString name;
    QString connectionString;
    QElapsedTimer idle;
    bool broken = false;
    bool inTransaction = false;
    QHash<QString, Table> tables; // by lower-case name, for the length of one lease

    ~Session()
    {
        {
            QSqlDatabase db = QSqlDatabase::database(name, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
    }
    bool isOpen() const { return QSqlDatabase::database(name, false).isOpen(); }
};

namespace {

// Connections kept between tickets, per connection string and thread (a Qt connection
// belongs to the thread that made it). Emptied when the application object goes.
using Pool = QHash<QString, QList<std::shared_ptr<Session>>>;

Pool &pool()
{
    static Pool *kept = [] {
        auto *made = new Pool; // never destroyed after QtSql's own globals
        qAddPostRoutine([] { pool().clear(); });
        return made;
    }();
    return *kept;
}

QString poolKey(const QString &connectionString)
{
    return QString::number(quintptr(QThread::currentThread())) + u'|' + connectionString;
}

// Databases whose connection broke or stopped answering: the next connection made to one of
// them is a reconnection, counted for the site's monitoring.
QSet<QString> &lostConnections()
{
    static QSet<QString> lost;
    return lost;
}

std::atomic<quint64> &reconnectionCount()
{
    static std::atomic<quint64> count{0};
    return count;
}

bool stillAnswers(Session &session)
{
    QSqlQuery probe(QSqlDatabase::database(session.name, false));
    return probe.exec(QStringLiteral("SELECT 1")) && session.isOpen();
}

void configure(QSqlDatabase &db, const Settings &all)
{
    QStringList options;
    for (const auto &[key, value] : all) {
        if (key == QStringLiteral("host"))
            db.setHostName(value);
        else if (key == QStringLiteral("port") && isInteger(value))
            db.setPort(value.toInt());
        else if (key == QStringLiteral("dbname"))
            db.setDatabaseName(value);
        else if (key == QStringLiteral("user"))
            db.setUserName(value);
        else if (key == QStringLiteral("password"))
            db.setPassword(value);
        else
            options.append(connectionOption(key, value));
    }
    db.setConnectOptions(options.join(u';'));
}

Result<std::shared_ptr<Session>> connect(const QString &connectionString)
{
    auto settings = parseConnectionString(connectionString);
    if (!settings)
        return settings.error();
    for (const auto &[key, value] : *settings) {
        // Qt's driver separates its options with ";": only the fields it quotes itself
        // may hold one.
        const bool quotedByQt = key == QStringLiteral("host") || key == QStringLiteral("dbname") ||
                                key == QStringLiteral("user") || key == QStringLiteral("password");
        if (!quotedByQt && value.contains(u';'))
            return badConnectionString(QStringLiteral("\";\" nel valore di \"%1\"").arg(key));
    }
    auto session = std::make_shared<Session>();
    session->name = nextSessionName();
    session->connectionString = connectionString;
    std::optional<Error> refused;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), session->name);
        if (!db.isValid()) {
            refused = Error::make(ErrorNumber::CannotOpenDatabase,
                                  QStringLiteral("Il driver PostgreSQL di Qt (QPSQL) non è "
                                                 "installato su questa postazione."));
        } else {
            // libpq itself first, for the reason of a refusal; then Qt's driver.
            const Settings all = effectiveSettings(*settings);
            const EnglishMessages english;
            if (const Attempt attempt = attemptConnection(all); !attempt.connected) {
                refused = connectionRefused(attempt, *settings, all);
            } else {
                configure(db, all);
                if (!db.open()) {
                    Attempt lost;
                    lost.message = db.lastError().text();
                    refused = connectionRefused(lost, *settings, all);
                }
            }
        }
    }
    if (refused)
        return *refused;
    qCInfo(lcStore).noquote() << "connected to the PostgreSQL server" << target(*settings);
    return session;
}

// A station talks to one database; a tool or a test run that goes through many must not
// pile up idle server connections.
void dropOldestBeyond(int limit)
{
    qsizetype total = 0;
    for (const auto &kept : std::as_const(pool()))
        total += kept.size();
    while (total-- > limit) {
        QList<std::shared_ptr<Session>> *oldestList = nullptr;
        qsizetype oldestIndex = -1;
        for (auto &kept : pool()) {
            for (qsizetype i = 0; i < kept.size(); ++i) {
                if (!oldestList ||
                    kept.at(i)->idle.elapsed() > oldestList->at(oldestIndex)->idle.elapsed()) {
                    oldestList = &kept;
                    oldestIndex = i;
                }
            }
        }
        if (!oldestList)
            return;
        oldestList->removeAt(oldestIndex);
    }
}

void giveBack(std::shared_ptr<Session> session)
{
    // Tables are looked up again on the next lease: a station may change them meanwhile,
    // and a statement that fails on a stale name would spoil the whole transaction.
    session->tables.clear();
    if (session->inTransaction && !session->broken && session->isOpen()) {
        qCWarning(lcStore) << "a transaction was left open: rolled back";
        QSqlQuery rollback(QSqlDatabase::database(session->name, false));
        if (!rollback.exec(QStringLiteral("ROLLBACK")))
            session->broken = true;
        session->inTransaction = false;
    }
    if (session->broken || !session->isOpen()) {
        lostConnections().insert(poolKey(session->connectionString));
        return; // closed here; the next lease connects again
    }
    auto &kept = pool()[poolKey(session->connectionString)];
    if (kept.size() >= kKeptPerDatabase)
        return;
    session->idle.restart();
    kept.append(std::move(session));
    dropOldestBeyond(kKeptInAll);
}

} // namespace

Result<Settings> parseConnectionString(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return badConnectionString(QStringLiteral("il file è vuoto"));
    if (trimmed.startsWith(QStringLiteral("postgresql://")) ||
        trimmed.startsWith(QStringLiteral("postgres://")))
        return parseUri(trimmed);
    return parseKeywords(trimmed);
}

QString connectionFileFor(const QString &databasePath)
{
    const QFileInfo info(databasePath);
    if (info.fileName().compare(FileName::ServerDatabase, Qt::CaseInsensitive) != 0)
        return {};
    const QString folder = info.path();
    if (!QFileInfo(folder).isDir())
        return {};
    const QString file = FilePath::resolve(folder, FileName::ServerConnection);
    return QFileInfo(file).isFile() ? file : QString();
}

Result<QString> readConnectionFile(const QString &path)
{
    auto text = TextRecord::readFile(path);
    if (!text)
        return Error::make(ErrorNumber::CannotOpenDatabase,
                           QStringLiteral("Impossibile leggere %1: %2")
                               .arg(QDir::toNativeSeparators(path), text.error().description));
    QStringList parts;
    const QStringList lines = text->split(u'\n');
    for (const QString &line : lines) {
        const QString trimmed = line.trimmed();
        if (!trimmed.isEmpty() && !trimmed.startsWith(u'#'))
            parts.append(trimmed);
    }
    return withFilesFrom(parts.join(u' '), QFileInfo(path).absolutePath());
}

int Table::column(const QString &name) const
{
    for (int i = 0; i < columns.size(); ++i) {
        if (columns.at(i).compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

QVariant forColumn(const QVariant &value, const QString &type)
{
    if (Value::isNull(value))
        return value;
    const int id = value.metaType().id();
    if (type == QStringLiteral("BOOLEAN")) {
        if (id == QMetaType::Bool)
            return value;
        if (id == QMetaType::QString) {
            bool number = false;
            const double parsed = value.toString().trimmed().toDouble(&number);
            return number ? QVariant(parsed != 0.0)
                          : value; // "true", "f" ... as the server reads them
        }
        return QVariant(Value::isTrue(value));
    }
    const bool numberColumn =
        type == QStringLiteral("SMALLINT") || type == QStringLiteral("INTEGER") ||
        type == QStringLiteral("BIGINT") || type.startsWith(QStringLiteral("NUMERIC")) ||
        type == QStringLiteral("REAL") || type == QStringLiteral("DOUBLE PRECISION");
    if (numberColumn && id == QMetaType::Bool)
        return QVariant(value.toBool() ? -1 : 0);
    return value;
}

Lease::Lease(std::shared_ptr<Session> session) : m_session(std::move(session)) {}

Lease::~Lease()
{
    giveBack(std::move(m_session));
}

QString Lease::connectionName() const
{
    return m_session->name;
}

void Lease::setInTransaction(bool open)
{
    m_session->inTransaction = open;
}

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

void Lease::forgetTables()
{
    m_session->tables.clear();
}

Result<Table> Lease::table(const QString &name)
{
    const QString lookup = name.toLower();
    if (auto cached = m_session->tables.constFind(lookup); cached != m_session->tables.constEnd())
        return *cached;
    // The exact spelling wins over another capitalisation; the search path decides the schema.
    QSqlQuery query(QSqlDatabase::database(m_session->name, false));
    query.setForwardOnly(true);
    const QString sql = QStringLiteral(
        "WITH t AS (SELECT c.oid, n.nspname, c.relname, c.relkind FROM pg_catalog.pg_class c "
        "JOIN pg_catalog.pg_namespace n ON n.oid = c.relnamespace "
        "WHERE c.relkind IN ('r', 'p', 'v', 'm', 'f') AND lower(c.relname::text) = lower(?::text) "
        "AND n.nspname = ANY (current_schemas(false)) "
        "ORDER BY array_position(current_schemas(false), n.nspname), (c.relname::text = ?::text) "
        "DESC "
        "LIMIT 1) "
        "SELECT t.nspname, t.relname, t.relkind, a.attname, upper(format_type(a.atttypid, "
        "a.atttypmod)), "
        "CASE WHEN a.attnum = ANY (i.indkey) THEN array_position(i.indkey::int2[], a.attnum) - "
        "array_lower(i.indkey::int2[], 1) + 1 ELSE 0 END FROM t "
        "JOIN pg_catalog.pg_attribute a ON a.attrelid = t.oid AND a.attnum > 0 AND NOT "
        "a.attisdropped "
        "LEFT JOIN pg_catalog.pg_index i ON i.indrelid = t.oid AND i.indisprimary "
        "ORDER BY a.attnum");
    if (!query.prepare(sql))
        return failure(query.lastError(), sql);
    query.addBindValue(name);
    query.addBindValue(name);
    if (!query.exec())
        return failure(query.lastError(), sql);
    Table table;
    QString kind;
    QList<std::pair<int, QString>> primaryKey;
    while (query.next()) {
        table.sqlName = quote(query.value(0).toString()) + u'.' + quote(query.value(1).toString());
        kind = query.value(2).toString();
        const QString column = query.value(3).toString();
        table.columns.append(column);
        table.types.append(query.value(4).toString());
        if (const int position = query.value(5).toInt(); position > 0)
            primaryKey.append({position, column});
    }
    if (table.sqlName.isEmpty())
        return Error::make(ErrorNumber::TableNotFound,
                           QStringLiteral("Impossibile trovare la tabella '%1'.").arg(name));
    std::sort(primaryKey.begin(), primaryKey.end());
    QStringList quotedKey;
    for (const auto &[position, column] : primaryKey) {
        table.key.append(column);
        quotedKey.append(quote(column));
    }
    const bool physical = kind != QStringLiteral("v");
    if (!quotedKey.isEmpty())
        table.order = quotedKey.join(u',');
    else if (const int id = table.column(QStringLiteral("ID")); id >= 0)
        table.order = quote(table.columns.at(id));
    else if (physical)
        table.order = QStringLiteral("ctid");
    if (table.key.isEmpty() && physical)
        table.key = QStringList{QStringLiteral("ctid")};
    m_session->tables.insert(lookup, table);
    return table;
}

Result<std::unique_ptr<Lease>> lease(const QString &connectionString)
{
    auto &kept = pool()[poolKey(connectionString)];
    while (!kept.isEmpty()) {
        std::shared_ptr<Session> session = kept.takeLast();
        if (session->idle.elapsed() < kCheckAfterIdleMs || stillAnswers(*session))
            return std::make_unique<Lease>(std::move(session));
        qCInfo(lcStore) << "a kept PostgreSQL connection no longer answers: connecting again";
        lostConnections().insert(poolKey(connectionString));
    }
    auto session = connect(connectionString);
    if (!session)
        return session.error();
    if (lostConnections().remove(poolKey(connectionString)))
        ++reconnectionCount();
    return std::make_unique<Lease>(std::move(*session));
}

quint64 reconnections()
{
    return reconnectionCount();
}

} // namespace nx7::postgres
