#include "sharednumbering.h"

#include "filenames.h"
#include "internal/storelog.h"
#include "stores.h"

#include <QFileInfo>

namespace nx7::SharedNumbering {

namespace {

// The switch, one row for the whole installation.
const QString kOptions = QStringLiteral("OpzioniServer");
const QString kSharedColumn = QStringLiteral("NumerazioneCondivisa");
// Each service's first number of the day.
const QString kInitialNumbers = QStringLiteral("NumeriIniziali");
// The last number given out, one row per service and day: the key makes a second counter
// of a service's day, and so a second copy of its numbers, impossible.
const QString kCounters = QStringLiteral("NumeriCondivisi");

const QStringList kTables{
    QStringLiteral("CREATE TABLE IF NOT EXISTS \"OpzioniServer\" ("
                   "\"NumerazioneCondivisa\" boolean NOT NULL)"),
    QStringLiteral("CREATE TABLE IF NOT EXISTS \"NumeriIniziali\" ("
                   "\"ServizioID\" integer PRIMARY KEY, "
                   "\"NumeroIniziale\" integer NOT NULL)"),
    QStringLiteral("CREATE TABLE IF NOT EXISTS \"NumeriCondivisi\" ("
                   "\"ServizioID\" integer NOT NULL, \"Giorno\" date NOT NULL, "
                   "\"UltimoNumero\" integer NOT NULL, "
                   "PRIMARY KEY (\"ServizioID\", \"Giorno\"))"),
};

Status makeTables(Database &server, bool on, qint32 initialNumber)
{
    for (const QString &statement : kTables) {
        if (Status made = server.exec(statement); !made)
            return made;
    }
    if (Status cleared = server.deleteAllRows(kOptions); !cleared)
        return cleared;
    if (Status written = server.insert(kOptions, {{kSharedColumn, on}}); !written)
        return written;
    return server.exec(QStringLiteral("INSERT INTO \"NumeriIniziali\" (\"ServizioID\", "
                                      "\"NumeroIniziale\") SELECT \"ID\", ? FROM \"Servizi\" "
                                      "ON CONFLICT (\"ServizioID\") DO NOTHING"),
                       {initialNumber});
}

} // namespace

Result<bool> isOn(Database &server)
{
    if (!server.isPostgres() || !server.hasTable(kOptions))
        return false;
    auto rows = server.select(QStringLiteral("SELECT bool_or(\"NumerazioneCondivisa\") "
                                             "FROM \"OpzioniServer\""));
    if (!rows)
        return rows.error();
    return !rows->isEmpty() && rows->first().value(0).toBool();
}

Result<bool> isOn(const Stores &stores, const QString &serverPath)
{
    if (!QFileInfo::exists(FilePath::server(serverPath, FileName::ServerConnection)))
        return false;
    auto server = stores.server(serverPath);
    if (!server)
        return server.error();
    return isOn(*server);
}

Status setOn(Database &server, bool on, qint32 initialNumber)
{
    if (!server.isPostgres())
        return Error::make(ErrorNumber::DatabaseOperationFailed, NeedsPostgres);
    if (!on && !server.hasTable(kOptions))
        return {}; // never switched on: nothing to write
    if (Status begun = server.beginTransaction(); !begun)
        return begun;
    if (Status made = makeTables(server, on, initialNumber); !made) {
        server.rollback();
        return made;
    }
    if (Status committed = server.commit(); !committed)
        return committed;
    qCInfo(lcStore) << "shared numbering switched" << (on ? "on" : "off");
    return {};
}

Result<qint32> take(Database &server, const QVariant &serviceId)
{
    // One statement: the row lock of the upsert orders the kiosks, and the number goes back
    // with the rollback of a ticket that is not recorded.
    auto rows = server.select(
        QStringLiteral("INSERT INTO \"NumeriCondivisi\" AS c (\"ServizioID\", \"Giorno\", "
                       "\"UltimoNumero\") VALUES (?, CURRENT_DATE, COALESCE((SELECT "
                       "\"NumeroIniziale\" FROM \"NumeriIniziali\" WHERE \"ServizioID\" = ?), 1)) "
                       "ON CONFLICT (\"ServizioID\", \"Giorno\") DO UPDATE SET \"UltimoNumero\" "
                       "= c.\"UltimoNumero\" + 1 RETURNING \"UltimoNumero\""),
        {serviceId, serviceId});
    if (!rows)
        return rows.error();
    if (rows->isEmpty())
        return Error::make(ErrorNumber::DatabaseOperationFailed,
                           QStringLiteral("no number returned by %1").arg(kCounters));
    return Value::toInt32(rows->first().value(0));
}

Status restartDay(Database &server)
{
    auto on = isOn(server);
    if (!on)
        return on.error();
    if (!*on)
        return {};
    // The lock waits for the tickets being numbered and holds back every other kiosk until the
    // caller commits, so that no ticket numbered before the restart outlives the emptied queue.
    if (Status locked =
            server.exec(QStringLiteral("LOCK TABLE \"NumeriCondivisi\" IN EXCLUSIVE MODE"));
        !locked)
        return locked;
    return server.exec(
        QStringLiteral("DELETE FROM \"NumeriCondivisi\" WHERE \"Giorno\" >= CURRENT_DATE"));
}

QList<TableRights> kioskRights(Database &server)
{
    if (!server.isPostgres() || !server.hasTable(kCounters))
        return {};
    return {{kOptions, QStringLiteral("SELECT")},
            {kInitialNumbers, QStringLiteral("SELECT")},
            // the upsert reads, adds and advances; the attended start deletes the day's rows
            {kCounters, QStringLiteral("SELECT, INSERT, UPDATE, DELETE")}};
}

} // namespace nx7::SharedNumbering
