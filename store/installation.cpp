#include "installation.h"

#include "database.h"
#include "filenames.h"
#include "storelog.h"
#include "textrecord.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

// Resources of a static library must be registered by name from the global namespace.
static void registerSchemaResource()
{
    Q_INIT_RESOURCE(schema);
}

namespace nx7::Installation {

namespace {

Status fail(const QString &text)
{
    return Error::make(ErrorNumber::PathFileAccess, text);
}

Status ensureFolder(const QString &folder)
{
    if (QDir().mkpath(folder))
        return {};
    return fail(QStringLiteral("Impossibile creare la cartella %1").arg(folder));
}

// SQLite makes the file on the first connection; the kiosk itself never does.
Status createEmptyDatabaseFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::NewOnly | QIODevice::WriteOnly))
        return fail(
            QStringLiteral("Impossibile creare il file %1: %2").arg(path, file.errorString()));
    return {};
}

} // namespace

QStringList schemaStatements(const QString &name)
{
    registerSchemaResource();
    QFile file(QStringLiteral(":/schema/%1.sql").arg(name));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList statements;
    QString current;
    const QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n');
    for (const QString &line : lines) {
        if (line.trimmed().startsWith(QStringLiteral("--")))
            continue;
        current += line + u'\n';
        if (line.trimmed().endsWith(u';')) {
            statements.append(current.trimmed());
            current.clear();
        }
    }
    return statements;
}

Status createDatabase(const QString &path, const QString &schema)
{
    if (QFileInfo::exists(path))
        return fail(QStringLiteral("Il file %1 esiste già: non viene sostituito.").arg(path));
    const QStringList statements = schemaStatements(schema);
    if (statements.isEmpty())
        return fail(QStringLiteral("Schema %1 non disponibile.").arg(schema));
    if (Status status = createEmptyDatabaseFile(path); !status)
        return status;
    auto db = Database::open(path);
    if (!db)
        return db.error();
    if (Status status = db->beginTransaction(); !status)
        return status;
    for (const QString &statement : statements) {
        if (Status status = db->exec(statement); !status) {
            db->rollback();
            return status;
        }
    }
    return db->commit();
}

Status createStation(const QString &folder, const QString &serverPath)
{
    if (Status status = ensureFolder(folder); !status)
        return status;
    const QDir dir(folder);
    if (Status status =
            createDatabase(dir.filePath(FileName::LocalDatabase), QStringLiteral("local"));
        !status)
        return status;
    return pointStation(folder, serverPath);
}

Status pointStation(const QString &folder, const QString &serverPath)
{
    // The kiosk reads the path from its own folder: a relative one would point elsewhere.
    const QString stored = QDir::isRelativePath(serverPath)
                               ? QDir::current().absoluteFilePath(serverPath)
                               : serverPath;
    return TextRecord::writeText(QDir(folder).filePath(FileName::ServerPathFile),
                                 QDir::cleanPath(stored));
}

Status checkServerFolder(const QString &folder)
{
    const auto missing = [&](const QString &what) -> Status {
        return Error::make(ErrorNumber::PathNotFound,
                           QStringLiteral("%1 non è una cartella server: %2.")
                               .arg(QDir::toNativeSeparators(folder), what));
    };
    if (!QFileInfo(folder).isDir())
        return missing(QStringLiteral("la cartella non esiste"));
    if (!QFileInfo::exists(FilePath::server(folder, FileName::ReachabilityMarker)))
        return missing(QStringLiteral("manca %1").arg(FileName::ReachabilityMarker));
    if (!QFileInfo::exists(FilePath::server(folder, FileName::ServerDatabase)) &&
        !QFileInfo::exists(FilePath::server(folder, FileName::ServerConnection)))
        return missing(QStringLiteral("manca il database (%1 o %2)")
                           .arg(FileName::ServerDatabase, FileName::ServerConnection));
    return {};
}

namespace {

const QStringList kServerTables{QStringLiteral("Servizi"), QStringLiteral("Codafromtotem"),
                                QStringLiteral("configurazioneTotem")};

// The rows of a new server database: twenty services and the screen configuration.
Status fillServer(Database &db, const ServerOptions &options)
{
    for (int id = 1; id <= 20; ++id) {
        const Status status =
            db.insert(QStringLiteral("Servizi"),
                      {{QStringLiteral("ID"), id},
                       {QStringLiteral("Servizio"), QStringLiteral("Servizio %1").arg(id)},
                       {QStringLiteral("ServizioAttivo"), id <= options.activeServices ? -1 : 0},
                       {QStringLiteral("Attesa"), 0}});
        if (!status)
            return status;
    }
    auto config = RecordSet::openTable(db, QStringLiteral("configurazioneTotem"));
    if (!config)
        return config.error();
    Status status = config->edit();
    if (status)
        status = config->setValue(QStringLiteral("RisoluzioneTotem"), options.resolutionCode);
    if (status)
        status = config->setValue(QStringLiteral("TitoloTotem"), options.title);
    return status ? config->update() : status;
}

Status writeServerFiles(const QString &folder, const ServerOptions &options)
{
    if (Status status = TextRecord::writeFileAtomically(
            QDir(folder).filePath(FileName::ReachabilityMarker), "NX7 Totem\r\n");
        !status)
        return status;
    for (int slot = 1; slot <= 20; ++slot) {
        if (Status status = TextRecord::writeInteger(FilePath::numberingFile(folder, slot),
                                                     options.initialNumber);
            !status)
            return status;
    }
    return {};
}

Status runSchema(Database &db, const QString &schema)
{
    const QStringList statements = schemaStatements(schema);
    if (statements.isEmpty())
        return fail(QStringLiteral("Schema %1 non disponibile.").arg(schema));
    for (const QString &statement : statements) {
        if (Status status = db.exec(statement); !status)
            return status;
    }
    return {};
}

// Runs `work` in one transaction, rolled back when it fails.
template <typename Work> Status inTransaction(Database &db, Work work)
{
    if (Status status = db.beginTransaction(); !status)
        return status;
    if (Status status = work(); !status) {
        db.rollback();
        return status;
    }
    return db.commit();
}

// A server folder is tied to one database: an existing "NX7PRO.pg" is never replaced.
Status checkNoConnectionFile(const QString &folder)
{
    const QString existing = FilePath::resolve(folder, FileName::ServerConnection);
    if (QFileInfo::exists(existing))
        return fail(QStringLiteral("Il file %1 esiste già: non viene sostituito.").arg(existing));
    return {};
}

Status refuseExistingTables(Database &db, const QStringList &tables)
{
    for (const QString &table : tables) {
        auto columns = db.columns(table);
        if (columns)
            return fail(QStringLiteral("Il database contiene già la tabella \"%1\": non viene "
                                       "sostituita.")
                            .arg(table));
        if (columns.errorNumber() != ErrorNumber::TableNotFound)
            return columns.error();
    }
    return {};
}

Status writeConnectionFile(const QString &folder, const QString &connectionString)
{
    return TextRecord::writeFileAtomically(QDir(folder).filePath(FileName::ServerConnection),
                                           connectionString.trimmed().toUtf8() + "\n");
}

// The PostgreSQL type for a column declared so in SQLite, by SQLite's own affinity rules.
QString postgresType(const QString &declared)
{
    const QString type = declared.toUpper();
    if (type.contains(QStringLiteral("BOOL")))
        return QStringLiteral("boolean");
    if (type.contains(QStringLiteral("INT")))
        return type.contains(QStringLiteral("BIG")) ? QStringLiteral("bigint")
                                                    : QStringLiteral("integer");
    if (type.contains(QStringLiteral("REAL")) || type.contains(QStringLiteral("FLOA")) ||
        type.contains(QStringLiteral("DOUB")))
        return QStringLiteral("double precision");
    return QStringLiteral("text");
}

Result<QStringList> sqliteTables(Database &db)
{
    auto rows = db.select(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table' "
                                         "AND name NOT LIKE 'sqlite_%' ORDER BY rowid"));
    if (!rows)
        return rows.error();
    QStringList tables;
    for (const QVariantList &row : *rows)
        tables.append(row.first().toString());
    return tables;
}

// Makes the table (or its columns that are missing) in the target, then copies every row
// in table order.
Status copyTable(Database &source, Database &target, const QString &table)
{
    auto columns = source.columns(table);
    if (!columns)
        return columns.error();
    auto present = target.columns(table);
    if (!present && present.errorNumber() != ErrorNumber::TableNotFound)
        return present.error();
    if (!present) {
        QStringList definitions;
        for (const auto &[name, type] : *columns)
            definitions.append(Database::quoted(name) + u' ' + postgresType(type));
        const Status created =
            target.exec(QStringLiteral("CREATE TABLE %1 (%2)")
                            .arg(Database::quoted(table), definitions.join(u',')));
        if (!created)
            return created;
    } else {
        for (const auto &[name, type] : *columns) {
            const bool known =
                // Named in the capture: clang 14 does not capture a structured binding.
                std::any_of(present->begin(), present->end(), [&name = name](const auto &column) {
                    return column.first.compare(name, Qt::CaseInsensitive) == 0;
                });
            if (!known) {
                if (Status status = target.addColumn(table, name, postgresType(type)); !status)
                    return status;
            }
        }
    }
    auto rows = RecordSet::openTable(source, table);
    if (!rows)
        return rows.error();
    for (; !rows->eof(); rows->moveNext()) {
        FieldValues fields;
        for (int i = 0; i < rows->fieldCount(); ++i)
            fields.append({rows->fieldName(i), rows->value(i)});
        if (Status status = target.insert(table, fields); !status)
            return status;
    }
    qCInfo(lcStore).noquote() << "moved" << rows->recordCount() << "rows of" << table
                              << "to PostgreSQL";
    return {};
}

} // namespace

Status createServer(const QString &folder, const ServerOptions &options)
{
    const QDir dir(folder);
    if (Status status = ensureFolder(dir.filePath(FileName::NumberingFolder)); !status)
        return status;
    const QString dbPath = dir.filePath(FileName::ServerDatabase);
    if (Status status = createDatabase(dbPath, QStringLiteral("server")); !status)
        return status;
    auto db = Database::open(dbPath);
    if (!db)
        return db.error();
    if (Status status = inTransaction(*db, [&] { return fillServer(*db, options); }); !status)
        return status;
    return writeServerFiles(folder, options);
}

Status createPostgresServer(const QString &folder, const QString &connectionString,
                            const ServerOptions &options)
{
    if (Status status = checkNoConnectionFile(folder); !status)
        return status;
    if (Status status = ensureFolder(QDir(folder).filePath(FileName::NumberingFolder)); !status)
        return status;
    auto db = Database::openPostgres(connectionString);
    if (!db)
        return db.error();
    if (Status status = refuseExistingTables(*db, kServerTables); !status)
        return status;
    const Status made = inTransaction(*db, [&] {
        if (Status status = runSchema(*db, QStringLiteral("server-postgresql")); !status)
            return status;
        return fillServer(*db, options);
    });
    if (!made)
        return made;
    if (Status status = writeConnectionFile(folder, connectionString); !status)
        return status;
    return writeServerFiles(folder, options);
}

Status moveToPostgres(const QString &folder, const QString &connectionString)
{
    if (Status status = checkNoConnectionFile(folder); !status)
        return status;
    auto source = Database::open(FilePath::resolve(folder, FileName::ServerDatabase));
    if (!source)
        return source.error();
    auto tables = sqliteTables(*source);
    if (!tables)
        return tables.error();
    auto target = Database::openPostgres(connectionString);
    if (!target)
        return target.error();
    QStringList checked = kServerTables;
    for (const QString &table : *tables) {
        if (!checked.contains(table, Qt::CaseInsensitive))
            checked.append(table);
    }
    if (Status status = refuseExistingTables(*target, checked); !status)
        return status;
    const Status moved = inTransaction(*target, [&] {
        if (Status status = runSchema(*target, QStringLiteral("server-postgresql")); !status)
            return status;
        // The shipped schema's rows give way to the file's own.
        for (const QString &table : kServerTables) {
            if (Status status = target->deleteAllRows(table); !status)
                return status;
        }
        for (const QString &table : *tables) {
            if (Status status = copyTable(*source, *target, table); !status)
                return status;
        }
        return Status{};
    });
    if (!moved)
        return moved;
    return writeConnectionFile(folder, connectionString);
}

} // namespace nx7::Installation
