#pragma once

#include <QString>

namespace nx7 {

// The fixed names of the stores, with the spelling used when a file is created.
namespace FileName {
inline const QString ServerPathFile = QStringLiteral("percorsiT.txt");
inline const QString LocalDatabase = QStringLiteral("TotemNX7PRO.mdb");
inline const QString ServerDatabase = QStringLiteral("NX7PRO.mdb");
// Its presence makes the server database the PostgreSQL database it names.
inline const QString ServerConnection = QStringLiteral("NX7PRO.pg");
inline const QString ReachabilityMarker = QStringLiteral("FraseTTS.txt");
inline const QString NumberingFolder = QStringLiteral("NrAll");
inline const QString TicketLayout = QStringLiteral("Ticket.lbl");
QString numberingFile(int slot); // "NrAllS7.txt"
} // namespace FileName

// Names are matched without regard to case, as the stations' file servers do.
namespace FilePath {

// `relative` (components separated by "/") under `folder`: each component that exists
// with another capitalisation takes the spelling found on disk; the rest keep theirs.
QString resolve(const QString &folder, const QString &relative);

// A name in the current directory.
QString local(const QString &name);

// A name in the server folder; a server path ending in a separator still works.
QString server(const QString &serverPath, const QString &relative);

// A path that can name a server folder: not empty, not the root of the disk.
bool isServerPath(const QString &serverPath);

// The numbering file of a slot: <server>/NrAll/NrAllS<n>.txt.
QString numberingFile(const QString &serverPath, int slot);

} // namespace FilePath
} // namespace nx7
