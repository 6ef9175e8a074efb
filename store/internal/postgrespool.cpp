// The connections kept between tickets: lent, asked whether they still answer, given back,
// and made again after one broke.
#include "postgresparts.h"

#include "storelog.h"

#include <QCoreApplication>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>

#include <atomic>

namespace nx7::postgres {

using namespace detail;

namespace {

// A connection idle longer than this is asked whether it still works before it is lent.
constexpr qint64 kCheckAfterIdleMs = 5000;
constexpr int kKeptPerDatabase = 4;
constexpr int kKeptInAll = 8;

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
            const detail::EnglishMessages english;
            refused = detail::refusalOfLibpq(*settings, all);
            if (!refused) {
                configure(db, all);
                if (!db.open())
                    refused = detail::refusalOfDriver(db.lastError().text(), *settings, all);
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

void Lease::forgetTables()
{
    m_session->tables.clear();
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
