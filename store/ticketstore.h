#pragma once

#include "database.h"
#include "errors.h"

#include <QLoggingCategory>
#include <QString>
#include <QVariant>

#include <functional>

namespace nx7 {

class Stores;

// What one ticket writes: the station's counter and print row, and on the server the waiting
// count and the queue row that the counter stations read.
namespace TicketStore {

// The category the server writes of a ticket are logged in: the caller's, whose story they tell.
using LogCategory = const QLoggingCategory &(*)();

// Column "Pn" of the first row of the local "Numerazione": the next number of the slot.
Status advanceCounter(const Stores &stores, int slot, qint32 nextNumber);

// The values printed on the ticket.
struct PrintRow
{
    QString service;
    QString date;
    qint32 ahead = 0;
    QString time;
    qint32 number = 0;
};
// Writes the print row "DatiDaStampare" whose "ID" is 1, or its first row when none has
// that ID, so that the ticket never shows another row's old values. False, and nothing
// written, when the table has no row.
Result<bool> writePrintRow(const Stores &stores, const PrintRow &row);
// The print rows whose "ID" is 1, which the print run hands to the report engine one by one.
Result<RecordSet> printRows(const Stores &stores);

// "Attesa" of the service whose "ID" is `serviceId`, changed by its key; false when no
// service has that ID (nothing is written: never another service's row; logged in `log`).
Result<bool> setWaitingCount(Database &server, const QVariant &serviceId, qint32 waiting,
                             LogCategory log);

// A ticket as the queue "Codafromtotem" holds it.
struct QueuedTicket
{
    QVariant serviceId;
    QString serviceName;
    QString time; // "hh.mm.ss"
    qint32 number = 0;
    bool called = false; // set by the counter stations; false when the kiosk appends it
};
// The tickets of the queue in table order, the order they were appended.
Result<QList<QueuedTicket>> queuedTickets(Database &server);

// The waiting count and the queue row of one ticket, in one transaction of the server
// database, so that the counter stations never see one without the other. A connection lost
// on the way is made again once within the touch, to whichever server is primary now; a
// COMMIT whose answer was lost is settled by asking for the queue row, never written twice.
Status recordOnServer(const Stores &stores, const QString &serverPath, const QueuedTicket &ticket,
                      qint32 waiting, LogCategory log);

// A ticket of the shared numbering, as the server gave it out.
struct SharedTicket
{
    qint32 number = 0;
    qint32 waiting = 0; // "Attesa" as written
};
// The waiting count of the ticket that got `number`.
using WaitingFor = std::function<qint32(qint32 number)>;
// As recordOnServer, with the number taken from the service's counter on the server in the
// same transaction (`ticket.number` is not used): the number is given out only with its
// queue row. A connection lost before the COMMIT is made again once within the touch; one
// lost during the COMMIT is not, as the number it may have given out cannot be told.
Result<SharedTicket> recordSharedOnServer(const Stores &stores, const QString &serverPath,
                                          const QueuedTicket &ticket, const WaitingFor &waitingFor,
                                          LogCategory log);

} // namespace TicketStore
} // namespace nx7
