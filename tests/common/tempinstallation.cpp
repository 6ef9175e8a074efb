#include "tempinstallation.h"

#include "filenames.h"

#include <QFile>

namespace nx7::test {

TempInstallation::TempInstallation(const Installation::ServerOptions &options)
    : m_previousCurrent(QDir::currentPath())
{
    make(options);
}

TempInstallation::TempInstallation(const Installation::ServerOptions &options,
                                   const QString &postgres)
    : m_postgres(postgres), m_previousCurrent(QDir::currentPath())
{
    make(options);
}

void TempInstallation::make(const Installation::ServerOptions &options)
{
    if (!m_root.isValid()) {
        m_error = QStringLiteral("no temporary directory");
        return;
    }
    Status status = m_postgres.isEmpty()
                        ? Installation::createServer(serverPath(), options)
                        : Installation::createPostgresServer(serverPath(), m_postgres, options);
    if (status)
        status = Installation::createStation(stationPath(), serverPath());
    if (!status) {
        m_error = status.error().description;
        return;
    }
    m_ok = QDir::setCurrent(stationPath());
}

TempInstallation::~TempInstallation()
{
    QDir::setCurrent(m_previousCurrent);
}

QString TempInstallation::stationPath() const
{
    return m_root.filePath(QStringLiteral("station"));
}

QString TempInstallation::serverPath() const
{
    return m_root.filePath(QStringLiteral("server"));
}

QString TempInstallation::localDatabase() const
{
    return QDir(stationPath()).filePath(FileName::LocalDatabase);
}

QString TempInstallation::serverDatabase() const
{
    return QDir(serverPath()).filePath(FileName::ServerDatabase);
}

QString TempInstallation::numberingFile(int slot) const
{
    return FilePath::numberingFile(serverPath(), slot);
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

} // namespace nx7::test
