#include "numberingstart.h"

#include "database.h"
#include "filenames.h"
#include "kioskneeds.h"
#include "numberingjournal.h"
#include "numberingstore.h"
#include "operatorerror.h"
#include "sharedfile.h"
#include "sharednumbering.h"
#include "startuplog.h"
#include "tables.h"
#include "textrecord.h"

#include <QFile>
#include <QFileInfo>

#include <optional>

namespace nx7 {

namespace {

const QString kCurrentTitle = QStringLiteral("Numerazione corrente non caricata !");
const QString kInitialTitle = QStringLiteral("Numerazione iniziale non caricata !");
const QString kNothingChanged = QStringLiteral("Nessuna modifica eseguita.");

// A server table the kiosk needs: missing table and missing field named as such.
Error serverTableError(const Error &cause, const QString &table, const QString &field = {})
{
    switch (cause.number) {
    case ErrorNumber::TableNotFound:
        return operatorError(cause,
                             QStringLiteral("Manca la tabella \"%1\" nel server.").arg(table));
    case ErrorNumber::ItemNotFound:
        return operatorError(
            cause, QStringLiteral("Manca il campo \"%1\" in \"%2\" del server.").arg(field, table));
    default:
        return operatorError(
            cause, QStringLiteral("Tabella \"%1\" del server non aggiornabile.").arg(table));
    }
}

// The previous content of a numbering file, to put back when the start fails half-way.
struct FileSnapshot
{
    QString path;
    std::optional<QByteArray> bytes; // none: the file did not exist
};

Result<FileSnapshot> snapshot(const QString &path, int slot)
{
    const QFileInfo info(path);
    const QString name = FileName::numberingFile(slot);
    if (info.isDir())
        return Error::make(ErrorNumber::PathFileAccess,
                           QStringLiteral("\"%1\" in \"NrAll\" è una cartella.").arg(name));
    if (!info.exists())
        return FileSnapshot{path, std::nullopt};
    // A FIFO or a device in its place would block the read below for ever.
    if (!info.isFile())
        return Error::make(ErrorNumber::PathFileAccess,
                           QStringLiteral("\"%1\" in \"NrAll\" non è un file di dati.").arg(name));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Error::make(ErrorNumber::PermissionDenied,
                           QStringLiteral("File \"%1\" in \"NrAll\" non leggibile.").arg(name));
    return FileSnapshot{path, file.readAll()};
}

// Puts back the files already written; returns how many could not be put back.
int restore(const QList<FileSnapshot> &written)
{
    int lost = 0;
    for (const FileSnapshot &file : written) {
        const bool restored = file.bytes ? bool(SharedFile::rewrite(file.path, *file.bytes))
                                         : QFile::remove(file.path);
        if (!restored) {
            qCCritical(lcStartup) << "cannot put back the numbering file" << file.path;
            ++lost;
        }
    }
    return lost;
}

} // namespace

NumberingStart::NumberingStart(const Stores &stores, StationState &state, NumberWriter writer)
    : m_stores(stores), m_state(state),
      m_writer(writer ? std::move(writer) : NumberWriter(&TextRecord::writeInteger))
{
}

NumberingStart::Outcome NumberingStart::failed(const QString &title, const Error &error,
                                               int filesNotRestored) const
{
    qCWarning(lcStartup).noquote()
        << title << error.description << "( error" << error.number << ")";
    // Never claim that nothing changed when some numbering file could not be put back.
    const QString outcome =
        filesNotRestored == 0
            ? kNothingChanged
            : QStringLiteral("Attenzione: %1 file in \"NrAll\" non ripristinati !")
                  .arg(filesNotRestored);
    return Outcome{Outcome::Kind::Failed, error, {title, error.description, outcome}};
}

Result<NumberingStart::Counters> NumberingStart::readCounters(const QString &table) const
{
    const QString localName = FileName::LocalDatabase;
    auto db = m_stores.local();
    if (!db) {
        const QString text = db.errorNumber() == ErrorNumber::DatabaseFileNotFound
                                 ? QStringLiteral("Database locale \"%1\" non trovato.")
                                 : QStringLiteral("Database locale \"%1\" non utilizzabile.");
        return operatorError(db.error(), text.arg(localName));
    }
    auto row = NumberingStore::readCounterRow(*db, table);
    if (!row) {
        const QString text = row.errorNumber() == ErrorNumber::TableNotFound
                                 ? QStringLiteral("Manca la tabella locale \"%1\".")
                                 : QStringLiteral("Tabella locale \"%1\" non leggibile.");
        return operatorError(row.error(), text.arg(table));
    }
    if (!row->hasRow)
        return Error::make(ErrorNumber::NoCurrentRecord,
                           QStringLiteral("Tabella locale \"%1\" vuota.").arg(table));
    Counters counters{};
    for (int slot = 1; slot <= kSlotCount; ++slot) {
        const QString field = Field::counter(slot);
        const Result<QVariant> &value = row->values.at(slot - 1);
        if (!value)
            return operatorError(
                value.error(),
                QStringLiteral("Manca il campo \"%1\" in \"%2\".").arg(field, table));
        auto number = Value::toInt32(*value);
        if (!number) {
            const QString text = number.errorNumber() == ErrorNumber::InvalidUseOfNull
                                     ? QStringLiteral("Campo \"%1\" vuoto in \"%2\".")
                                     : QStringLiteral("Campo \"%1\" non valido in \"%2\".");
            return operatorError(number.error(), text.arg(field, table));
        }
        counters[slot] = *number;
    }
    return counters;
}

void NumberingStart::readNumbering(Database &server)
{
    using Numbering = StationState::Numbering;
    auto shared = SharedNumbering::isOn(server);
    // Unread, it is asked again at the first touch: never numbered locally by mistake.
    m_state.numbering = !shared   ? Numbering::Unknown
                        : *shared ? Numbering::Shared
                                  : Numbering::Local;
    if (!shared)
        qCWarning(lcStartup).noquote()
            << "shared numbering switch not read:" << shared.error().description;
    else if (*shared)
        qCInfo(lcStartup) << "numbering shared by the installation's kiosks on the server";
}

NumberingStart::Outcome NumberingStart::loadCurrent()
{
    auto counters = readCounters(Table::Counters);
    if (!counters)
        return failed(kCurrentTitle, counters.error());
    // A kiosk that could write no ticket is not opened.
    if (Status local = KioskNeeds::checkLocal(m_stores); !local)
        return failed(kCurrentTitle, local.error());
    // A file that is no database of this kiosk (an old Access file) or a server that refuses
    // the connection is named, as the initial start does; a missing server is left to the
    // screen's own load.
    if (auto server = m_stores.server(m_state.serverPath);
        !server && (server.errorNumber() == ErrorNumber::UnrecognizedDatabaseFormat ||
                    server.errorNumber() == ErrorNumber::CannotOpenDatabase)) {
        qCWarning(lcStartup).noquote() << "server database unusable:" << server.error().description;
        return Outcome{Outcome::Kind::ServerNotOpened, server.error(), {}};
    }
    m_state.serviceCounters = *counters;
    if (auto server = m_stores.server(m_state.serverPath); server)
        readNumbering(*server);
    qCInfo(lcStartup) << "current numbering loaded";
    return {};
}

NumberingStart::Outcome NumberingStart::startInitial()
{
    m_servicesReset = 0;
    const bool attended = !m_state.unattendedRestart;
    const QString serverPath = m_state.serverPath;

    // A start cut off earlier is settled first: its journal must not be overwritten.
    // The operator is told why, as the journal stays until its cause is mended.
    if (auto recovered = NumberingJournal::recover(m_stores); !recovered)
        return failed(kInitialTitle,
                      operatorError(recovered.error(),
                                    QStringLiteral("Avvio interrotto non ripristinato: %1.")
                                        .arg(recovered.error().description)));

    const QString serverDatabase = FilePath::server(serverPath, FileName::ServerDatabase);
    auto server = m_stores.server(serverPath);
    if (!server) {
        qCWarning(lcStartup).noquote()
            << "server database not opened:" << server.error().description;
        const auto kind = server.errorNumber() == ErrorNumber::NotValidPath
                              ? Outcome::Kind::ServerUnreachable
                              : Outcome::Kind::ServerNotOpened;
        return Outcome{kind, server.error(), {}};
    }

    // Everything that can be checked is checked before anything changes, what the kiosk
    // screen and the tickets will need included.
    auto counters = readCounters(Table::InitialCounters);
    if (!counters)
        return failed(kInitialTitle, counters.error());
    if (Status local = KioskNeeds::checkLocal(m_stores); !local)
        return failed(kInitialTitle, local.error());
    if (Status needs = KioskNeeds::checkServer(*server); !needs)
        return failed(kInitialTitle, needs.error());

    if (!QFileInfo(FilePath::server(serverPath, FileName::NumberingFolder)).isDir())
        return failed(kInitialTitle,
                      Error::make(ErrorNumber::PathNotFound,
                                  QStringLiteral("Cartella \"%1\" non trovata nel server.")
                                      .arg(FileName::NumberingFolder)));
    QList<FileSnapshot> previous;
    for (int slot = 1; slot <= kSlotCount; ++slot) {
        auto file = snapshot(FilePath::numberingFile(serverPath, slot), slot);
        if (!file)
            return failed(kInitialTitle, file.error());
        previous.append(*file);
    }

    // The previous files on disk before anything changes, with what tells afterwards
    // whether the server committed.
    NumberingJournal journal;
    journal.serverDatabase = QFileInfo(serverDatabase).absoluteFilePath();
    for (int slot = 1; slot <= kSlotCount; ++slot) {
        const FileSnapshot &file = previous.at(slot - 1);
        journal.files.append(
            {QFileInfo(file.path).absoluteFilePath(), file.bytes, (*counters)[slot]});
    }
    if (attended) {
        QString missingField;
        auto first = NumberingStore::firstQueuedTicket(*server, missingField);
        if (!first)
            return failed(kInitialTitle,
                          serverTableError(first.error(), Table::Queue, missingField));
        journal.firstQueuedTicket = *first;
    }
    if (Status journalled = journal.write(m_stores); !journalled)
        return failed(
            kInitialTitle,
            operatorError(journalled.error(), QStringLiteral("Giornale di avvio non scrivibile "
                                                             "nella cartella del totem.")));
    reached(Stage::JournalWritten);

    // The database part: one transaction, left open until the files are written.
    bool inTransaction = false;
    const auto abandon = [&](const Error &error, int filesNotRestored = 0) {
        if (inTransaction)
            server->rollback();
        if (filesNotRestored == 0) // else the next start puts them back from the journal
            NumberingJournal::remove(m_stores);
        return failed(kInitialTitle, error, filesNotRestored);
    };
    if (attended) {
        if (Status begun = server->beginTransaction(); !begun)
            return abandon(operatorError(begun.error(),
                                         QStringLiteral("Database del server non disponibile.")));
        inTransaction = true;
        // The office's kiosks start the day's numbers again with the queue emptied: first,
        // as it waits for the tickets being numbered and holds back the next ones.
        if (Status restarted = SharedNumbering::restartDay(*server); !restarted)
            return abandon(
                operatorError(restarted.error(),
                              QStringLiteral("Numerazione condivisa del server non azzerata.")));
        if (Status emptied = NumberingStore::emptyQueue(*server); !emptied)
            return abandon(serverTableError(emptied.error(), Table::Queue));
        reached(Stage::QueueEmptied);
    }
    NumberingStore::WaitingReset reset;
    const Status resetDone =
        NumberingStore::resetWaitingCounts(*server, kSlotCount, attended, reset);
    m_servicesReset = reset.reset;
    if (reset.rows >= 0 && reset.rows < kSlotCount)
        qCWarning(lcStartup) << "\"Servizi\" holds only" << reset.rows
                             << "rows: the rows present are reset, all twenty files written";
    if (!resetDone)
        return abandon(reset.rows < 0
                           ? serverTableError(resetDone.error(), Table::Services)
                           : serverTableError(resetDone.error(), Table::Services, Field::Waiting));
    if (attended)
        reached(Stage::WaitingReset);

    QList<FileSnapshot> written;
    for (int slot = 1; slot <= kSlotCount; ++slot) {
        const FileSnapshot &file = previous.at(slot - 1);
        if (Status status = m_writer(file.path, (*counters)[slot]); !status) {
            const int lost = restore(written);
            return abandon(operatorError(status.error(),
                                         QStringLiteral("Impossibile scrivere \"%1\" in \"NrAll\".")
                                             .arg(FileName::numberingFile(slot))),
                           lost);
        }
        written.append(file);
        reached(Stage::FileWritten);
    }
    if (inTransaction) {
        if (Status committed = server->commit(); !committed) {
            const int lost = restore(written);
            return abandon(operatorError(committed.error(),
                                         QStringLiteral("Database del server non aggiornato.")),
                           lost);
        }
    }

    reached(Stage::Committed);
    NumberingJournal::remove(m_stores);

    m_state.serviceCounters = *counters;
    readNumbering(*server);
    qCInfo(lcStartup) << "initial numbering started"
                      << (attended ? "(queue emptied," : "(unattended, queue kept,")
                      << m_servicesReset << "waiting counts reset)";
    return {};
}

} // namespace nx7
