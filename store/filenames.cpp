#include "filenames.h"

#include <QDir>
#include <QFileInfo>

namespace nx7 {

QString FileName::numberingFile(int slot)
{
    return QStringLiteral("NrAllS%1.txt").arg(slot);
}

namespace {

QString matchInFolder(const QString &folder, const QString &name)
{
    const QDir dir(folder.isEmpty() ? QStringLiteral(".") : folder);
    if (!dir.exists() || QFileInfo::exists(dir.filePath(name)))
        return name;
    const QStringList entries =
        dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        if (entry.compare(name, Qt::CaseInsensitive) == 0)
            return entry;
    }
    return name;
}

QString join(const QString &folder, const QString &name)
{
    if (folder.isEmpty())
        return name;
    if (folder.endsWith(u'/') || folder.endsWith(u'\\'))
        return folder + name;
    return folder + u'/' + name;
}

} // namespace

QString FilePath::resolve(const QString &folder, const QString &relative)
{
    QString path = folder;
    const QStringList parts = relative.split(u'/', Qt::SkipEmptyParts);
    for (const QString &part : parts)
        path = join(path, matchInFolder(path, part));
    return path;
}

QString FilePath::local(const QString &name)
{
    return resolve(QString(), name);
}

QString FilePath::server(const QString &serverPath, const QString &relative)
{
    // An empty server path names the root, never the current directory.
    return resolve(serverPath.isEmpty() ? QStringLiteral("/") : serverPath, relative);
}

bool FilePath::isServerPath(const QString &serverPath)
{
    const QString trimmed = serverPath.trimmed();
    return !trimmed.isEmpty() && QDir::cleanPath(trimmed) != QStringLiteral("/");
}

QString FilePath::numberingFile(const QString &serverPath, int slot)
{
    return server(serverPath, FileName::NumberingFolder + u'/' + FileName::numberingFile(slot));
}

} // namespace nx7
