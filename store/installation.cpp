#include "installation.h"

#include "database.h"
#include "filenames.h"
#include "textrecord.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

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
        return fail(QStringLiteral("Impossibile creare il file %1: %2").arg(path, file.errorString()));
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
    if (Status status = createDatabase(dir.filePath(FileName::LocalDatabase), QStringLiteral("local"));
        !status)
        return status;
    // The kiosk reads the path from its own folder: a relative one would point elsewhere.
    const QString stored =
        QDir::isRelativePath(serverPath) ? QDir::current().absoluteFilePath(serverPath) : serverPath;
    return TextRecord::writeText(dir.filePath(FileName::ServerPathFile), QDir::cleanPath(stored));
}

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
    if (Status status = db->beginTransaction(); !status)
        return status;
    for (int id = 1; id <= 20; ++id) {
        const Status status = db->insert(
            QStringLiteral("Servizi"),
            {{QStringLiteral("ID"), id},
             {QStringLiteral("Servizio"), QStringLiteral("Servizio %1").arg(id)},
             {QStringLiteral("ServizioAttivo"), id <= options.activeServices ? -1 : 0},
             {QStringLiteral("Attesa"), 0}});
        if (!status) {
            db->rollback();
            return status;
        }
    }
    const Status config = db->exec(
        QStringLiteral("UPDATE \"configurazioneTotem\" SET \"RisoluzioneTotem\" = ?, \"TitoloTotem\" = ?"),
        {options.resolutionCode, options.title});
    if (!config) {
        db->rollback();
        return config;
    }
    if (Status status = db->commit(); !status)
        return status;
    if (Status status = TextRecord::writeFileAtomically(dir.filePath(FileName::ReachabilityMarker),
                                                        "NX7 Totem\r\n");
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

} // namespace nx7::Installation
