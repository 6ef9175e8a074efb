#pragma once

#include "database.h"
#include "errors.h"

#include <QVariant>

namespace nx7 {

class Stores;

// One numbering for every kiosk of an installation: each service's numbers are given out by
// the server database, one counter per service and day, so that two kiosks serving the same
// services never hand out the same number. Switched on per installation, on PostgreSQL only;
// an installation that never switches it on has none of its tables.
namespace SharedNumbering {

// Why it is refused on a database file.
inline const QString NeedsPostgres =
    QStringLiteral("La numerazione condivisa richiede il database del server su PostgreSQL: "
                   "un file di database in una cartella condivisa non regge le scritture di più "
                   "totem insieme. Spostarlo prima con nx7setup migra.");

// Whether the installation's kiosks share their numbering: false on a database file and
// wherever it was never switched on.
Result<bool> isOn(Database &server);
// The same for the server folder of a station, without opening a database file (never shared).
Result<bool> isOn(const Stores &stores, const QString &serverPath);

// Switches the shared numbering on or off for every kiosk of the installation. Switching on
// makes its tables the first time and gives each service of "Servizi" that has none the
// initial number `initialNumber`. Refused on a server database that is not PostgreSQL.
Status setOn(Database &server, bool on, qint32 initialNumber = 1);

// The next number of the service today, given out inside the caller's transaction: the
// service's initial number for the day's first ticket. Committed with the ticket's queue
// row, or not given out at all.
Result<qint32> take(Database &server, const QVariant &serviceId);

// Today's counters start again from the initial numbers (the attended initial start, inside
// its transaction, before it empties the queue: every other kiosk's ticket waits until it
// commits). Nothing to do where the numbering is not shared.
Status restartDay(Database &server);

// The tables the kiosks' role needs, with the rights on each: empty where the shared
// numbering was never switched on.
struct TableRights
{
    QString table;
    QString rights;
};
QList<TableRights> kioskRights(Database &server);

} // namespace SharedNumbering
} // namespace nx7
