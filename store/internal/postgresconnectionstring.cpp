// The connection string of "NX7PRO.pg": its two forms, the files it names, and the settings
// the kiosk adds to it before it is handed to the server.
#include "postgresparts.h"

#include "filenames.h"
#include "textrecord.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>
#include <QUrlQuery>

#include <initializer_list>

namespace nx7::postgres {

using namespace detail;

namespace {

// A server that does not answer is given up quickly, as a share that is gone.
constexpr int kConnectTimeoutSeconds = 3;
// In line with the SQLite busy timeout of the shared file: a row held by a station makes
// the kiosk wait that long and no longer; a statement never runs for more than twice that.
constexpr int kLockTimeoutMs = 5000;
constexpr int kStatementTimeoutMs = 10000;
// A kiosk stuck inside a transaction must not keep the stations' rows locked.
constexpr int kIdleInTransactionTimeoutMs = 30000;

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

} // namespace

namespace detail {

Error badConnectionString(const QString &why)
{
    return Error::make(ErrorNumber::CannotOpenDatabase,
                       QStringLiteral("La stringa di connessione di %1 non è valida: %2.")
                           .arg(FileName::ServerConnection, why));
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

} // namespace detail

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

} // namespace nx7::postgres
