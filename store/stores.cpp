#include "stores.h"

#include "filenames.h"

#include <QDir>

namespace nx7 {

Stores::Stores(QString stationFolder) : m_stationFolder(QDir(stationFolder).absolutePath()) {}

QString Stores::stationFile(const QString &name) const
{
    return FilePath::resolve(m_stationFolder, name);
}

Result<Database> Stores::local() const
{
    return Database::open(stationFile(FileName::LocalDatabase), Database::Sharing::Local);
}

Result<Database> Stores::server(const QString &serverPath) const
{
    // A station whose path was never read opens no database at the root of the disk.
    if (!FilePath::isServerPath(serverPath))
        return Error::make(ErrorNumber::NotValidPath,
                           QStringLiteral("Percorso Server non impostato."));
    return Database::open(FilePath::server(serverPath, FileName::ServerDatabase),
                          Database::Sharing::Shared);
}

} // namespace nx7
