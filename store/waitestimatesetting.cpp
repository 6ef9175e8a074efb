#include "waitestimatesetting.h"

#include "database.h"
#include "filenames.h"
#include "storelog.h"
#include "stores.h"
#include "tables.h"

namespace nx7::WaitEstimateSetting {

namespace {

const QString &kTable = Table::LocalSettings;

// Yes/No fields hold -1 for true, as the stations' older databases do.
constexpr int kStoredTrue = -1;

} // namespace

Result<bool> load(const Stores &stores)
{
    auto db = stores.local();
    if (!db)
        return db.error();
    auto settings = RecordSet::openTable(*db, kTable);
    if (!settings)
        return settings.error();
    if (settings->eof())
        return true;
    const auto stored = settings->value(Field::WaitEstimateEnabled);
    return !stored || Value::isNull(*stored) || Value::isTrue(*stored);
}

Status save(const Stores &stores, bool enabled)
{
    auto db = stores.local();
    if (!db)
        return db.error();
    if (Status upgraded = db->addMissingColumns(
            kTable, {{Field::WaitEstimateEnabled, QStringLiteral("BOOLEAN")}});
        !upgraded)
        return upgraded;
    auto table = RecordSet::openTable(*db, kTable);
    if (!table)
        return table.error();
    if (Status editing = table->edit(); !editing)
        return Error::make(editing.errorNumber(),
                           QStringLiteral("La tabella \"%1\" del database locale \"%2\" è vuota.")
                               .arg(kTable, FileName::LocalDatabase));
    if (Status set = table->setValue(Field::WaitEstimateEnabled, enabled ? kStoredTrue : 0); !set)
        return set;
    if (Status updated = table->update(); !updated)
        return updated;
    qCInfo(lcStore) << "wait estimate on tickets:" << (enabled ? "on" : "off");
    return {};
}

} // namespace nx7::WaitEstimateSetting
