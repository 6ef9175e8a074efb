#pragma once

// What the files of the PostgreSQL side share: the connection string's helpers, the reasons
// of a refused connection, and the kept session. Used by those files only.

#include "postgres.h"

#include <QElapsedTimer>
#include <QHash>
#include <QSqlDatabase>

#include <locale.h>
#include <optional>

namespace nx7::postgres {

namespace detail {

// postgresconnectionstring.cpp
Error badConnectionString(const QString &why);
// The value of a setting; the last one counts, as in libpq.
QString valueOf(const Settings &settings, const QString &key);
bool has(const Settings &settings, const QString &key);
// Where the kiosk tried to go, for the messages: "host:port/dbname".
QString target(const Settings &settings);
QString connectionOption(const QString &key, const QString &value);
// The settings as the kiosk hands them to the server, defaults and timeouts included.
Settings effectiveSettings(const Settings &settings);

// postgresrefusals.cpp: a connection attempt made with libpq itself, for the reason of a
// refusal; none when it connected.
std::optional<Error> refusalOfLibpq(const Settings &settings, const Settings &all);
// The refusal of Qt's driver after libpq itself connected.
Error refusalOfDriver(const QString &message, const Settings &settings, const Settings &all);

// libpq translates its messages into the station's language (LC_MESSAGES): while a
// connection is made this thread reads them in English, in which they are recognised.
class EnglishMessages
{
public:
    EnglishMessages();
    ~EnglishMessages();
    EnglishMessages(const EnglishMessages &) = delete;
    EnglishMessages &operator=(const EnglishMessages &) = delete;

private:
    locale_t m_english = nullptr;
    locale_t m_previous = nullptr;
};

// postgrescatalog.cpp
QString quote(const QString &identifier);

} // namespace detail

// A connection of the pool, lent or kept.
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

} // namespace nx7::postgres
