#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace nx7::test {

// A private CUPS scheduler: configuration, spool and socket in a temporary folder, and
// CUPS_SERVER pointing at it while the object lives.
class CupsServer
{
public:
    CupsServer();
    ~CupsServer();
    CupsServer(const CupsServer &) = delete;
    CupsServer &operator=(const CupsServer &) = delete;

    bool ok() const { return m_error.isEmpty(); }
    QString error() const { return m_error; }
    QString folder() const { return m_root.path(); }
    // Stops the scheduler now (a print service that has gone away).
    bool stop();

    // Runs a CUPS tool (lpadmin, cupsdisable, ...); true when it succeeds.
    static bool tool(const QString &program, const QStringList &arguments);

private:
    QTemporaryDir m_root;
    QProcess m_cupsd;
    QByteArray m_previousServer;
    QString m_error;
};

} // namespace nx7::test
