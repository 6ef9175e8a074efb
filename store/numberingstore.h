#pragma once

#include "database.h"
#include "errors.h"

#include <QString>
#include <QVariant>

#include <vector>

namespace nx7 {

// What the start of the day's numbering reads and writes in the databases.
namespace NumberingStore {

// The first row of a local numbering table ("Numerazione" or "NumerazioneIniziale").
struct CounterRow
{
    bool hasRow = false;
    // "Pn" of slot n at index n - 1, or the error of a field the table lacks (3265).
    std::vector<Result<QVariant>> values;
};
Result<CounterRow> readCounterRow(Database &local, const QString &table);

// The columns that identify the first ticket of the queue "Codafromtotem", empty when the
// queue is empty. A column the table lacks is 3265, named in `missingField`.
Result<QVariantList> firstQueuedTicket(Database &server, QString &missingField);

// Empties the queue "Codafromtotem".
Status emptyQueue(Database &server);

// The rows of "Servizi" are paired with the slotCount by position (table order), whatever their
// ID: with `reset`, "Attesa" of the first `slotCount` rows is set to 0, one row after the other.
struct WaitingReset
{
    int rows = -1; // rows of "Servizi"; -1 when the table could not be read
    int reset = 0; // rows whose "Attesa" was set to 0, also when a later one failed
};
Status resetWaitingCounts(Database &server, int slotCount, bool reset, WaitingReset &done);

} // namespace NumberingStore
} // namespace nx7
