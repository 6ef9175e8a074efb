#include "ticketstore.h"

#include "sharednumbering.h"
#include "stores.h"
#include "tables.h"

#include <QElapsedTimer>

#include <functional>

namespace nx7::TicketStore {

namespace {

// A connection to the server that broke during a ticket is made again within the same touch
// only while the second attempt's own worst case (a 3 s connect to each of two hosts, a 10 s
// statement) still ends well inside the service manager's 30 s watchdog.
constexpr qint64 kReconnectStartsWithinMs = 8000;

// How one attempt at the server's writes ended.
struct ServerWrite
{
    Status status;
    bool connectionLost = false; // a PostgreSQL connection broke after it was made
    bool commitSent = false;     // and the server may have committed before it broke
};

FieldValues queueRowOf(const QueuedTicket &ticket)
{
    return {
        {Field::QueueServiceId, ticket.serviceId}, {Field::QueueService, ticket.serviceName},
        {Field::QueueTime, ticket.time},           {Field::QueueCalled, ticket.called},
        {Field::QueueNumber, ticket.number},
    };
}

Status writeTicketRows(Database &db, const QueuedTicket &ticket, qint32 waiting, LogCategory log)
{
    if (auto found = setWaitingCount(db, ticket.serviceId, waiting, log); !found)
        return found.error();
    // appended without reading the queue, which grows all day long
    return db.insert(Table::Queue, queueRowOf(ticket));
}

ServerWrite inTransaction(Database &db, const std::function<Status()> &writes)
{
    const auto lost = [&db](const Status &status) { return db.lostConnection(status); };
    if (Status begun = db.beginTransaction(); !begun)
        return {begun, lost(begun)};
    if (Status written = writes(); !written) {
        const bool broke = lost(written);
        if (!broke)
            db.rollback();
        return {written, broke};
    }
    const Status committed = db.commit();
    return {committed, lost(committed), true};
}

ServerWrite writeOnServer(Database &db, const QueuedTicket &ticket, qint32 waiting, LogCategory log)
{
    return inTransaction(db, [&] { return writeTicketRows(db, ticket, waiting, log); });
}

// The number taken from the service's counter, the waiting count and the queue row: all
// three committed together or none.
ServerWrite writeSharedOnServer(const Stores &stores, const QString &serverPath,
                                QueuedTicket ticket, const WaitingFor &waitingFor,
                                SharedTicket &shared, LogCategory log)
{
    auto db = stores.server(serverPath);
    if (!db)
        return {db.error()};
    return inTransaction(*db, [&]() -> Status {
        auto number = SharedNumbering::take(*db, ticket.serviceId);
        if (!number)
            return number.error();
        ticket.number = shared.number = *number;
        shared.waiting = waitingFor(*number);
        return writeTicketRows(*db, ticket, shared.waiting, log);
    });
}

ServerWrite writeOnServer(const Stores &stores, const QString &serverPath,
                          const QueuedTicket &ticket, qint32 waiting, LogCategory log)
{
    auto db = stores.server(serverPath);
    if (!db)
        return {db.error()}; // never connected: the server folder's own failure
    return writeOnServer(*db, ticket, waiting, log);
}

// Whether the server holds the queue row now, whether or not a station has called it since.
Result<bool> queueRowRecorded(const Stores &stores, const QString &serverPath,
                              const QueuedTicket &ticket)
{
    auto db = stores.server(serverPath);
    if (!db)
        return db.error();
    FieldValues row;
    for (const auto &field : queueRowOf(ticket)) {
        if (Field::QueueTicket.contains(field.first))
            row.append(field);
    }
    auto found = db->countMatching(Table::Queue, row);
    if (!found)
        return found.error();
    return *found > 0;
}

} // namespace

Status advanceCounter(const Stores &stores, int slot, qint32 nextNumber)
{
    auto db = stores.local();
    if (!db)
        return db.error();
    auto rows = RecordSet::openTable(*db, Table::Counters);
    if (!rows)
        return rows.error();
    if (Status status = rows->edit(); !status)
        return status;
    if (Status status = rows->setValue(Field::counter(slot), nextNumber); !status)
        return status;
    return rows->update();
}

Result<bool> writePrintRow(const Stores &stores, const PrintRow &row)
{
    auto db = stores.local();
    if (!db)
        return db.error();
    auto rows = RecordSet::openTable(*db, Table::PrintRow);
    if (!rows)
        return rows.error();
    if (rows->recordCount() == 0)
        return false;
    auto found = rows->findFirst(Field::Id, 1);
    if (!found)
        return found.error();
    if (!*found)
        rows->moveFirst();
    const FieldValues values{
        {Field::PrintedService, row.service}, {Field::PrintedDate, row.date},
        {Field::PrintedAhead, row.ahead},     {Field::PrintedTime, row.time},
        {Field::PrintedNumber, row.number},
    };
    if (Status status = rows->edit(); !status)
        return status.error();
    for (const auto &[column, value] : values) {
        if (Status status = rows->setValue(column, value); !status)
            return status.error();
    }
    if (Status status = rows->update(); !status)
        return status.error();
    return true;
}

Result<RecordSet> printRows(const Stores &stores)
{
    auto db = stores.local();
    if (!db)
        return db.error();
    return RecordSet::openTable(*db, Table::PrintRow, Field::Id, 1);
}

Result<bool> setWaitingCount(Database &server, const QVariant &serviceId, qint32 waiting,
                             LogCategory log)
{
    auto changed =
        server.update(Table::Services, {{Field::Waiting, waiting}}, {{Field::Id, serviceId}});
    if (!changed)
        return changed.error();
    if (*changed == 0) {
        // Never another service's row: the count stays as it is, the ticket goes on.
        qCWarning(log).noquote()
            << QStringLiteral("service ID \"%1\" not found in Servizi: waiting count not updated")
                   .arg(serviceId.toString());
        return false;
    }
    return true;
}

Result<QList<QueuedTicket>> queuedTickets(Database &server)
{
    auto rows = RecordSet::openTable(server, Table::Queue);
    if (!rows)
        return rows.error();
    QList<QueuedTicket> tickets;
    const auto field = [&rows](const QString &name) {
        auto value = rows->value(name);
        return value ? *value : QVariant();
    };
    for (; !rows->eof(); rows->moveNext())
        tickets.append({field(Field::QueueServiceId), field(Field::QueueService).toString(),
                        field(Field::QueueTime).toString(), field(Field::QueueNumber).toInt(),
                        Value::isTrue(field(Field::QueueCalled))});
    return tickets;
}

Status recordOnServer(const Stores &stores, const QString &serverPath, const QueuedTicket &ticket,
                      qint32 waiting, LogCategory log)
{
    QElapsedTimer spent;
    spent.start();
    const ServerWrite first = writeOnServer(stores, serverPath, ticket, waiting, log);
    if (first.status || !first.connectionLost)
        return first.status;
    const auto tooLate = [&] {
        if (spent.elapsed() < kReconnectStartsWithinMs)
            return false;
        qCWarning(log) << "connection to the server database lost after" << spent.elapsed()
                       << "ms: not tried again within this touch";
        return true;
    };
    if (tooLate())
        return first.status;
    if (first.commitSent) {
        auto recorded = queueRowRecorded(stores, serverPath, ticket);
        if (!recorded) {
            // Unknown whether the server committed: nothing is written twice.
            qCWarning(log).noquote()
                << QStringLiteral("ticket %1: connection lost during COMMIT and the server "
                                  "not asked again (%2): the queue row may be there")
                       .arg(ticket.number)
                       .arg(recorded.error().description);
            return recorded.error();
        }
        if (*recorded) {
            qCInfo(log) << "ticket" << ticket.number
                        << "was committed before the connection was lost";
            return {};
        }
        if (tooLate())
            return first.status;
    }
    qCWarning(log) << "connection to the server database lost before ticket" << ticket.number
                   << "was recorded: connecting again";
    return writeOnServer(stores, serverPath, ticket, waiting, log).status;
}

Result<SharedTicket> recordSharedOnServer(const Stores &stores, const QString &serverPath,
                                          const QueuedTicket &ticket, const WaitingFor &waitingFor,
                                          LogCategory log)
{
    QElapsedTimer spent;
    spent.start();
    SharedTicket shared;
    ServerWrite write = writeSharedOnServer(stores, serverPath, ticket, waitingFor, shared, log);
    // Written again only when nothing can have been committed: a COMMIT whose answer was lost
    // may have given out the number, and the queue row would not tell which one it was.
    if (!write.status && write.connectionLost && !write.commitSent &&
        spent.elapsed() < kReconnectStartsWithinMs) {
        qCWarning(log) << "connection to the server database lost before a shared number was "
                          "given out: connecting again";
        write = writeSharedOnServer(stores, serverPath, ticket, waitingFor, shared, log);
    }
    if (!write.status) {
        if (write.commitSent)
            qCWarning(log) << "connection lost during COMMIT: a number of service"
                           << ticket.serviceId.toString()
                           << "may have been given out without a ticket";
        return write.status.error();
    }
    return shared;
}

} // namespace nx7::TicketStore
