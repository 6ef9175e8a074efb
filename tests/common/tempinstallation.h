#pragma once

#include "installation.h"
#include "stores.h"

#include <QDir>
#include <QString>
#include <QTemporaryDir>

namespace nx7::test {

// A station folder and a server folder made by the installation tool in a temporary
// directory; the station folder is the current directory while the object lives.
class TempInstallation
{
public:
    explicit TempInstallation(const Installation::ServerOptions &options = {});
    // With a PostgreSQL connection string the server database is made there instead of
    // as a file, and the server folder holds "NX7PRO.pg".
    TempInstallation(const Installation::ServerOptions &options, const QString &postgres);
    ~TempInstallation();

    bool ok() const { return m_ok; }
    QString error() const { return m_error; }
    QString stationPath() const;
    QString serverPath() const;
    QString localDatabase() const;
    QString serverDatabase() const;
    QString numberingFile(int slot) const;
    // The stores of the station, as main makes them.
    Stores stores() const { return Stores(stationPath()); }

    bool isPostgres() const { return !m_postgres.isEmpty(); }

private:
    void make(const Installation::ServerOptions &options);

    QString m_postgres;
    QTemporaryDir m_root;
    QString m_previousCurrent;
    bool m_ok = false;
    QString m_error;
};

// Reads a whole file's bytes (empty when missing).
QByteArray fileBytes(const QString &path);

} // namespace nx7::test
