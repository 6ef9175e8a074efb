#pragma once

#include "database.h"
#include "errors.h"

#include <QList>
#include <QString>
#include <QVariant>

namespace nx7 {

// One record copied out of its table: its fields by name, found without regard to case.
// Without a record every field answers 3021, as the current record of an empty table does.
class StoredRecord
{
public:
    // The fields of the table; `present` false when the table had no record to copy.
    StoredRecord(FieldValues fields, bool present) : m_fields(std::move(fields)), m_present(present)
    {
    }

    bool present() const { return m_present; }
    // 3265 for a field the table does not have; 3021 without a record.
    Result<QVariant> value(const QString &field) const;

private:
    FieldValues m_fields;
    bool m_present = false;
};

// The rows of the server database that make the kiosk screen, read as stored: the value
// rules are the screen's.
namespace ScreenRows {

// An active service: its "ID" and its "Servizio" as read.
struct ServiceRow
{
    QVariant id;
    QVariant name;
};

struct ActiveServices
{
    QList<ServiceRow> rows; // in table order
    int beyondLimit = 0;    // active services past the limit, not read
};

// The first record of "configurazioneTotem" (without a record when the table is empty).
Result<StoredRecord> screenSettings(Database &server);
// The services of "Servizi" whose "ServizioAttivo" is Yes, the first `limit` of them.
Result<ActiveServices> activeServices(Database &server, int limit);

} // namespace ScreenRows

} // namespace nx7
