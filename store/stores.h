#pragma once

#include "database.h"
#include "errors.h"

#include <QString>

namespace nx7 {

// The databases and files of one station: the local database and the station's own files
// in its folder, and the server database of the server folder it names. Built once in
// main from the station folder and handed to the windows and the ticket issue, so that
// nothing resolves a name against the current directory behind their back.
class Stores
{
public:
    explicit Stores(QString stationFolder);

    QString stationFolder() const { return m_stationFolder; }
    // A file of the station folder, found without regard to case.
    QString stationFile(const QString &name) const;

    // "TotemNX7PRO.mdb" of the station.
    Result<Database> local() const;
    // The shared database of a server folder: "NX7PRO.mdb", or the PostgreSQL database
    // that "NX7PRO.pg" there names.
    Result<Database> server(const QString &serverPath) const;

private:
    QString m_stationFolder;
};

} // namespace nx7
