#include "numberingstore.h"

#include "stationstate.h"
#include "tables.h"

namespace nx7::NumberingStore {

Result<CounterRow> readCounterRow(Database &local, const QString &table)
{
    auto rows = RecordSet::openTable(local, table);
    if (!rows)
        return rows.error();
    CounterRow row;
    row.hasRow = !rows->eof();
    if (!row.hasRow)
        return row;
    row.values.reserve(kSlotCount);
    for (int slot = 1; slot <= kSlotCount; ++slot)
        row.values.push_back(rows->value(Field::counter(slot)));
    return row;
}

Result<QVariantList> firstQueuedTicket(Database &server, QString &missingField)
{
    auto queue = RecordSet::openTable(server, Table::Queue);
    if (!queue)
        return queue.error();
    QVariantList ticket;
    if (queue->eof())
        return ticket;
    for (const QString &column : Field::QueueTicket) {
        auto value = queue->value(column);
        if (!value) {
            missingField = column;
            return value.error();
        }
        ticket.append(*value);
    }
    return ticket;
}

Status emptyQueue(Database &server)
{
    return server.deleteAllRows(Table::Queue);
}

Status resetWaitingCounts(Database &server, int slotCount, bool reset, WaitingReset &done)
{
    // Walked row by row: the position in table order is what pairs a row with its slot.
    auto services = RecordSet::openTable(server, Table::Services);
    if (!services)
        return services.error();
    done.rows = services->recordCount();
    if (!reset)
        return {};
    for (int slot = 1; slot <= slotCount && !services->eof(); ++slot) {
        Status status = services->edit();
        if (status)
            status = services->setValue(Field::Waiting, 0);
        if (status)
            status = services->update();
        if (!status)
            return status;
        ++done.reset;
        services->moveNext();
    }
    return {};
}

} // namespace nx7::NumberingStore
