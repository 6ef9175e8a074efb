#pragma once

#include "errors.h"

#include <QString>
#include <QStringList>

namespace nx7 {

// Creates new installations from the schema shipped with the program.
namespace Installation {

struct ServerOptions
{
    int activeServices = 6; // the first N of the twenty services are active
    int resolutionCode = 0; // "RisoluzioneTotem"
    int initialNumber = 1;  // written into the twenty numbering files
    QString title = QStringLiteral("Scegli il Servizio");
};

// The SQL statements of a shipped schema ("local" or "server").
QStringList schemaStatements(const QString &name);

// A station folder: "TotemNX7PRO.mdb" and "percorsiT.txt" naming the server folder
// (a relative server folder is stored absolute, as seen from the current directory).
Status createStation(const QString &folder, const QString &serverPath);

// Points an existing station at another server folder: only "percorsiT.txt" is rewritten
// (stored absolute as above), the station's counters stay as they are.
Status pointStation(const QString &folder, const QString &serverPath);

// Whether a station's "percorsiT.txt" could name `folder`: it holds "FraseTTS.txt" and the
// server database ("NX7PRO.mdb", or "NX7PRO.pg" naming a PostgreSQL one). The error
// (76, path not found) names the folder and what it lacks.
Status checkServerFolder(const QString &folder);

// A server folder: "NX7PRO.mdb" with twenty services, "FraseTTS.txt" and "NrAll" with
// the twenty numbering files.
Status createServer(const QString &folder, const ServerOptions &options = {});

// A server folder whose database is the PostgreSQL database of a libpq connection
// string: the schema and its rows are made there in one transaction (refused when the
// database already holds one of the tables), then "NX7PRO.pg" naming it, "FraseTTS.txt"
// and "NrAll" with the twenty numbering files are written in the folder.
Status createPostgresServer(const QString &folder, const QString &connectionString,
                            const ServerOptions &options = {});

// Moves the folder's SQLite "NX7PRO.mdb" into the PostgreSQL database: every table with
// every row, in table order, in one transaction; then "NX7PRO.pg" is written, and from
// then on every station uses PostgreSQL. The file itself is left as it was. Refused when
// the database already holds a table of that name or the folder already has "NX7PRO.pg".
Status moveToPostgres(const QString &folder, const QString &connectionString);

// A database file made from a schema; refuses to replace an existing file.
Status createDatabase(const QString &path, const QString &schema);

} // namespace Installation
} // namespace nx7
