// The SQLite engine: the station's own database and the server database as a shared file.
#include "backend.h"
#include "database.h"
#include "storefailure.h"
#include "storelog.h"
#include "systemreason.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>

#include <atomic>

namespace nx7::sqlite {

namespace {

constexpr int kSharedBusyTimeoutMs = 5000;

QString nextConnectionName()
{
    static std::atomic<int> counter{0};
    return QStringLiteral("nx7-%1").arg(++counter);
}

// The old kiosk's Access files begin with the Jet or ACE signature.
bool isAccessFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.read(32);
    return head.contains("Standard Jet DB") || head.contains("Standard ACE DB");
}

Error sqlError(const QSqlError &error, const QString &what)
{
    // Busy or out of reach for a while: a number of its own, which callers wait out.
    if (auto unavailable = unavailableSqlError(error, what))
        return *unavailable;
    const QString text = error.text().trimmed();
    qCWarning(lcStore).noquote() << what << ":" << text;
    if (text.contains(QStringLiteral("no such table"), Qt::CaseInsensitive))
        return Error::make(ErrorNumber::TableNotFound,
                           QStringLiteral("Impossibile trovare la tabella: %1").arg(what));
    if (text.contains(QStringLiteral("no such column"), Qt::CaseInsensitive) ||
        text.contains(QStringLiteral("has no column"), Qt::CaseInsensitive))
        return Error::make(ErrorNumber::ItemNotFound);
    if (text.contains(QStringLiteral("not a database"), Qt::CaseInsensitive))
        return Error::make(ErrorNumber::UnrecognizedDatabaseFormat);
    return Error::make(ErrorNumber::DatabaseOperationFailed,
                       QStringLiteral("Operazione sul database non riuscita: %1")
                           .arg(SystemReason::fromDatabaseText(text)));
}

// 3044 when the folder is missing, else 3024.
Error missingDatabase(const QFileInfo &info)
{
    if (!info.absoluteDir().exists())
        return Error::make(ErrorNumber::NotValidPath,
                           QStringLiteral("'%1' non è un percorso valido. Verificare che il "
                                          "percorso sia corretto e che il server sia "
                                          "raggiungibile.")
                               .arg(QDir::toNativeSeparators(info.absolutePath())));
    return Error::make(ErrorNumber::DatabaseFileNotFound,
                       QStringLiteral("Impossibile trovare il file '%1'.")
                           .arg(QDir::toNativeSeparators(info.absoluteFilePath())));
}

class SqliteBackend : public Backend
{
public:
    explicit SqliteBackend(QString name) : m_name(std::move(name)) {}
    ~SqliteBackend() override
    {
        {
            QSqlDatabase db = QSqlDatabase::database(m_name, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(m_name);
    }

    QString connectionName() const override { return m_name; }
    bool isPostgres() const override { return false; }
    Error failure(const QSqlError &error, const QString &what) override
    {
        return sqlError(error, what);
    }
    // Takes the write lock at once, so that a busy file is met before anything changes.
    QString beginStatement() const override { return QStringLiteral("BEGIN IMMEDIATE"); }

    Result<TableShape> table(Database &db, const QString &name) override
    {
        // A file that cannot be read (locked too long by another station) keeps its own error.
        auto found =
            db.select(QStringLiteral("SELECT 1 FROM sqlite_master WHERE type IN ('table','view') "
                                     "AND name = ? COLLATE NOCASE"),
                      {name});
        if (!found)
            return found.error();
        if (found->isEmpty())
            return Error::make(ErrorNumber::TableNotFound,
                               QStringLiteral("Impossibile trovare la tabella '%1'.").arg(name));
        auto rows = db.select(
            QStringLiteral("SELECT name, type FROM pragma_table_info(?) ORDER BY cid"), {name});
        if (!rows)
            return rows.error();
        // Table order is ascending rowid; rows are told apart by it.
        TableShape shape{
            Database::quoted(name), {}, {}, {QStringLiteral("rowid")}, QStringLiteral("rowid")};
        for (const QVariantList &row : *rows) {
            shape.fields.append(row.at(0).toString());
            shape.types.append(row.at(1).toString().toUpper());
        }
        return shape;
    }

    QVariant bound(const QVariant &value, const QString &) const override { return value; }

    // A rowid stays with its row.
    Status updateRow(Database &db, const QString &sql, const QVariantList &binds,
                     const QStringList &, QVariantList &) override
    {
        return db.exec(sql, binds);
    }

private:
    QString m_name;
};

Result<QString> firstValue(const QSqlDatabase &db, const QString &sql)
{
    QSqlQuery query(db);
    if (!query.exec(sql))
        return sqlError(query.lastError(), sql);
    return query.next() ? query.value(0).toString() : QString();
}

// A write-ahead log needs shared memory, which a network share does not give: a shared
// file made in that mode by another tool goes back to the rollback journal. Should another
// station hold it open, the change waits for a later open; the kiosk carries on meanwhile.
void useRollbackJournal(const QSqlDatabase &db, const QString &path)
{
    auto mode = firstValue(db, QStringLiteral("PRAGMA journal_mode"));
    if (!mode || mode->compare(QStringLiteral("wal"), Qt::CaseInsensitive) != 0)
        return;
    auto changed = firstValue(db, QStringLiteral("PRAGMA journal_mode=DELETE"));
    if (!changed || changed->compare(QStringLiteral("delete"), Qt::CaseInsensitive) != 0)
        qCWarning(lcStore).noquote() << "shared database" << path
                                     << "stays in write-ahead-log mode: another station holds it";
    else
        qCInfo(lcStore).noquote() << "shared database" << path << "moved to the rollback journal";
}

} // namespace

Result<std::unique_ptr<Backend>> open(const QString &path, bool shared)
{
    const QFileInfo info(path);
    if (!info.exists() || info.isDir())
        return missingDatabase(info);
    if (isAccessFile(path))
        return Error::make(ErrorNumber::UnrecognizedDatabaseFormat,
                           QStringLiteral("Il file '%1' è un database Access del vecchio totem e "
                                          "non può essere usato: crearne uno nuovo con nx7setup.")
                               .arg(QDir::toNativeSeparators(info.absoluteFilePath())));

    auto backend = std::make_unique<SqliteBackend>(nextConnectionName());
    QSqlDatabase db =
        QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), backend->connectionName());
    // mode=rw: should the file vanish after the check above (a share going away),
    // SQLite fails instead of making a new empty database.
    db.setDatabaseName(QUrl::fromLocalFile(info.absoluteFilePath()).toString(QUrl::FullyEncoded) +
                       QStringLiteral("?mode=rw"));
    QString options = QStringLiteral("QSQLITE_OPEN_URI");
    if (shared)
        options += QStringLiteral(";QSQLITE_BUSY_TIMEOUT=%1").arg(kSharedBusyTimeoutMs);
    db.setConnectOptions(options);
    if (!db.open()) {
        if (!QFileInfo::exists(info.absoluteFilePath()))
            return missingDatabase(info);
        qCWarning(lcStore).noquote() << "cannot open" << path << ":" << db.lastError().text();
        return Error::make(
            ErrorNumber::CannotOpenDatabase,
            QStringLiteral("Impossibile aprire il database '%1': %2")
                .arg(QDir::toNativeSeparators(path), SystemReason::fromSqlError(db.lastError())));
    }
    // Any other file is refused here: SQLite reports it on the first read. Other failures
    // (a lock held too long by another station) keep their own description.
    if (auto schema = firstValue(db, QStringLiteral("PRAGMA schema_version")); !schema) {
        if (schema.errorNumber() != ErrorNumber::UnrecognizedDatabaseFormat)
            return schema.error();
        return Error::make(ErrorNumber::UnrecognizedDatabaseFormat,
                           QStringLiteral("Il file '%1' non è un database riconosciuto.")
                               .arg(QDir::toNativeSeparators(info.absoluteFilePath())));
    }
    if (shared)
        useRollbackJournal(db, path);
    return std::unique_ptr<Backend>(std::move(backend));
}

} // namespace nx7::sqlite
