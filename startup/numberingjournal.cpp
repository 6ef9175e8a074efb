#include "numberingjournal.h"

#include "database.h"
#include "filenames.h"
#include "operatorerror.h"
#include "sharedfile.h"
#include "startuplog.h"
#include "tables.h"
#include "textrecord.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace nx7 {

namespace {

QString journalPath(const Stores &stores)
{
    return stores.stationFile(NumberingJournal::fileName());
}

// Whether the ticket that was first in the queue before the start is still there:
// then the server's transaction was rolled back.
Result<bool> ticketStillQueued(const Stores &stores, const NumberingJournal &journal)
{
    auto db = stores.server(QFileInfo(journal.serverDatabase).path());
    if (!db)
        return operatorError(db.error(), db.errorNumber() == ErrorNumber::NotValidPath
                                             ? QStringLiteral("server non raggiungibile")
                                             : QStringLiteral("database del server non aperto"));
    FieldValues ticket;
    for (int i = 0; i < Field::QueueTicket.size(); ++i)
        ticket.append({Field::QueueTicket.at(i), journal.firstQueuedTicket.value(i)});
    auto found = db->countMatching(Table::Queue, ticket);
    if (!found)
        return operatorError(
            found.error(),
            QStringLiteral("coda \"%1\" del server non leggibile").arg(Table::Queue));
    return *found > 0;
}

// A Null field stays null: the driver's null text would otherwise come back as "", which
// matches no queued ticket and would call a rolled-back start committed.
QJsonArray ticketToJson(const QVariantList &ticket)
{
    QJsonArray fields;
    for (const QVariant &value : ticket)
        fields.append(Value::isNull(value) ? QJsonValue(QJsonValue::Null)
                                           : QJsonValue::fromVariant(value));
    return fields;
}

QVariantList ticketFromJson(const QJsonArray &fields)
{
    QVariantList ticket;
    for (const QJsonValue &value : fields)
        ticket.append(value.isNull() ? QVariant() : value.toVariant());
    return ticket;
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

Status NumberingJournal::write(const Stores &stores) const
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
                           {QStringLiteral("firstQueuedTicket"), ticketToJson(firstQueuedTicket)},
                           {QStringLiteral("files"), entries}};
    // Atomic and flushed: a journal is either whole or absent.
    return TextRecord::writeFileAtomically(journalPath(stores), QJsonDocument(root).toJson());
}

void NumberingJournal::remove(const Stores &stores)
{
    const QString path = journalPath(stores);
    if (QFile::exists(path) && !QFile::remove(path))
        qCCritical(lcStartup) << "numbering journal not removed:" << path;
}

Result<std::optional<NumberingJournal>> NumberingJournal::read(const Stores &stores)
{
    QFile file(journalPath(stores));
    if (!file.exists())
        return std::optional<NumberingJournal>();
    if (!file.open(QIODevice::ReadOnly))
        return Error::make(ErrorNumber::PermissionDenied, QStringLiteral("giornale non leggibile"));
    const QJsonObject root = QJsonDocument::fromJson(file.readAll()).object();
    NumberingJournal journal;
    journal.serverDatabase = root.value(QStringLiteral("serverDatabase")).toString();
    journal.firstQueuedTicket =
        ticketFromJson(root.value(QStringLiteral("firstQueuedTicket")).toArray());
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
        return Error::make(ErrorNumber::PathFileAccess, QStringLiteral("giornale illeggibile"));
    return std::optional<NumberingJournal>(journal);
}

Result<bool> NumberingJournal::recover(const Stores &stores)
{
    auto found = read(stores);
    if (!found)
        return found.error();
    if (!*found)
        return false;
    const NumberingJournal &journal = **found;
    bool committed = false;
    if (!journal.firstQueuedTicket.isEmpty()) {
        auto queued = ticketStillQueued(stores, journal);
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
                           QStringLiteral("%1 file in \"NrAll\" non ripristinati").arg(failed));
    qCWarning(lcStartup) << "interrupted numbering start found:"
                         << (committed ? "the server had committed it, numbering files completed"
                                       : "the server had rolled it back, numbering files put back");
    remove(stores);
    return true;
}

} // namespace nx7
