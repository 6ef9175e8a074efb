#include "numberingjournal.h"

#include "database.h"
#include "filenames.h"
#include "sharedfile.h"
#include "startuplog.h"
#include "textrecord.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace nx7 {

namespace {

const QString kQueueTable = QStringLiteral("CodaFromTOtem");

QString journalPath()
{
    return FilePath::local(NumberingJournal::fileName());
}

bool sameTicketValue(const QVariant &stored, const QVariant &journalled)
{
    if (Value::isNull(stored) || Value::isNull(journalled))
        return Value::isNull(stored) && Value::isNull(journalled);
    return stored.toString() == journalled.toString(); // a number comes back from JSON as 3.0
}

// Whether the ticket that was first in the queue before the start is still there:
// then the server's transaction was rolled back. Read through the record set, which finds
// the table and its fields in the spelling the server database has, SQLite or PostgreSQL.
Result<bool> ticketStillQueued(const NumberingJournal &journal)
{
    auto db = Database::open(journal.serverDatabase, Database::Sharing::Shared);
    if (!db)
        return db.error();
    auto queue = RecordSet::openTable(*db, kQueueTable);
    if (!queue)
        return queue.error();
    const QStringList &columns = NumberingJournal::ticketColumns();
    for (; !queue->eof(); queue->moveNext()) {
        bool same = true;
        for (qsizetype i = 0; i < columns.size() && same; ++i) {
            auto value = queue->value(columns.at(i));
            if (!value)
                return value.error();
            same = sameTicketValue(*value, journal.firstQueuedTicket.value(i));
        }
        if (same)
            return true;
    }
    return false;
}

// A Null field stays null: JSON would otherwise turn it into 0 or "", and the ticket
// would never be found again, so a rolled-back start would be taken for a committed one.
QJsonArray ticketValues(const QVariantList &values)
{
    QJsonArray array;
    for (const QVariant &value : values)
        array.append(Value::isNull(value) ? QJsonValue(QJsonValue::Null)
                                          : QJsonValue::fromVariant(value));
    return array;
}

Status putBack(const NumberingJournal::File &file)
{
    if (file.previous) // in place, as the stations expect their shared files written
        return SharedFile::rewrite(file.path, *file.previous);
    if (QFile::exists(file.path) && !QFile::remove(file.path))
        return Error::make(ErrorNumber::PermissionDenied);
    return {};
}

} // namespace

QString NumberingJournal::fileName()
{
    return QStringLiteral("NumerazioneIniziale.journal");
}

const QStringList &NumberingJournal::ticketColumns()
{
    static const QStringList columns{QStringLiteral("ServizioID"), QStringLiteral("SErvizio"),
                                     QStringLiteral("Ora"), QStringLiteral("NrDaChiamare")};
    return columns;
}

Status NumberingJournal::write() const
{
    QJsonArray entries;
    for (const File &file : files) {
        QJsonObject entry{{QStringLiteral("path"), file.path},
                          {QStringLiteral("value"), file.value}};
        if (file.previous)
            entry.insert(QStringLiteral("previous"),
                         QString::fromLatin1(file.previous->toBase64()));
        entries.append(entry);
    }
    const QJsonObject root{{QStringLiteral("serverDatabase"), serverDatabase},
                           {QStringLiteral("firstQueuedTicket"), ticketValues(firstQueuedTicket)},
                           {QStringLiteral("files"), entries}};
    // Atomic and flushed: a journal is either whole or absent.
    return TextRecord::writeFileAtomically(journalPath(), QJsonDocument(root).toJson());
}

void NumberingJournal::remove()
{
    if (QFile::exists(journalPath()) && !QFile::remove(journalPath()))
        qCCritical(lcStartup) << "numbering journal not removed:" << journalPath();
}

Result<std::optional<NumberingJournal>> NumberingJournal::read()
{
    QFile file(journalPath());
    if (!file.exists())
        return std::optional<NumberingJournal>();
    if (!file.open(QIODevice::ReadOnly))
        return Error::make(ErrorNumber::PermissionDenied);
    const QJsonObject root = QJsonDocument::fromJson(file.readAll()).object();
    NumberingJournal journal;
    journal.serverDatabase = root.value(QStringLiteral("serverDatabase")).toString();
    journal.firstQueuedTicket =
        root.value(QStringLiteral("firstQueuedTicket")).toArray().toVariantList();
    for (const QJsonValue &value : root.value(QStringLiteral("files")).toArray()) {
        const QJsonObject entry = value.toObject();
        File entryFile{entry.value(QStringLiteral("path")).toString(), std::nullopt,
                       entry.value(QStringLiteral("value")).toInt()};
        if (entry.contains(QStringLiteral("previous")))
            entryFile.previous = QByteArray::fromBase64(
                entry.value(QStringLiteral("previous")).toString().toLatin1());
        journal.files.append(entryFile);
    }
    if (journal.files.isEmpty())
        return Error::make(ErrorNumber::PathFileAccess,
                           QStringLiteral("Giornale della numerazione illeggibile."));
    return std::optional<NumberingJournal>(journal);
}

Result<bool> NumberingJournal::recover()
{
    auto found = read();
    if (!found)
        return found.error();
    if (!*found)
        return false;
    const NumberingJournal &journal = **found;
    bool committed = false;
    if (!journal.firstQueuedTicket.isEmpty()) {
        auto queued = ticketStillQueued(journal);
        if (!queued) {
            // Nothing is decided without the server: the journal stays for the next start.
            qCCritical(lcStartup).noquote()
                << "interrupted numbering start found, server not reachable:"
                << queued.error().description;
            return queued.error();
        }
        committed = !*queued;
    }
    int failed = 0;
    for (const File &file : journal.files) {
        const Status status =
            committed ? TextRecord::writeInteger(file.path, file.value) : putBack(file);
        if (!status) {
            qCCritical(lcStartup).noquote()
                << "numbering file not recovered:" << file.path << status.error().description;
            ++failed;
        }
    }
    if (failed > 0)
        return Error::make(ErrorNumber::PathFileAccess,
                           QStringLiteral("%1 file in \"NrAll\" non ripristinati.").arg(failed));
    qCWarning(lcStartup) << "interrupted numbering start found:"
                         << (committed ? "the server had committed it, numbering files completed"
                                       : "the server had rolled it back, numbering files put back");
    remove();
    return true;
}

} // namespace nx7
