#include "voicesettings.h"

#include "database.h"
#include "filenames.h"
#include "storelog.h"
#include "stores.h"
#include "tables.h"

namespace nx7::VoiceSettings {

namespace {

const QString &kTable = Table::LocalSettings;

// Yes/No fields hold -1 for true, as the stations' older databases do.
constexpr int kStoredTrue = -1;

struct Range
{
    const QString &field;
    int min, max;
    int Values::*member;
};

const Range kRanges[] = {{Field::VoiceVolume, kMinVolume, kMaxVolume, &Values::volumeStep},
                         {Field::VoiceRate, kMinRate, kMaxRate, &Values::rate}};

// One numeric field into `values`, left at its default when missing, Null or out of range.
void readNumber(const RecordSet &settings, const Range &range, Values &values)
{
    auto stored = settings.value(range.field);
    if (!stored || Value::isNull(*stored))
        return;
    auto number = Value::toInt32(*stored);
    if (!number || *number < range.min || *number > range.max) {
        qCWarning(lcStore).noquote() << QStringLiteral("%1 in %2 not usable (%3): default %4 kept")
                                            .arg(range.field, kTable, stored->toString())
                                            .arg(values.*range.member);
        return;
    }
    values.*range.member = *number;
}

} // namespace

Result<Values> load(const Stores &stores)
{
    auto db = stores.local();
    if (!db)
        return db.error();
    auto settings = RecordSet::openTable(*db, kTable);
    if (!settings)
        return settings.error();
    Values values;
    if (settings->eof())
        return values;
    if (auto enabled = settings->value(Field::VoiceEnabled); enabled && !Value::isNull(*enabled))
        values.enabled = Value::isTrue(*enabled);
    for (const Range &range : kRanges)
        readNumber(*settings, range, values);
    return values;
}

Status check(const Values &values)
{
    if (values.volumeStep < kMinVolume || values.volumeStep > kMaxVolume)
        return Error::make(
            ErrorNumber::Overflow,
            QStringLiteral("Il volume va da %1 a %2.").arg(kMinVolume).arg(kMaxVolume));
    if (values.rate < kMinRate || values.rate > kMaxRate)
        return Error::make(ErrorNumber::Overflow,
                           QStringLiteral("La velocità va da %1 a %2 parole al minuto.")
                               .arg(kMinRate)
                               .arg(kMaxRate));
    return {};
}

Status save(const Stores &stores, const Values &values)
{
    if (Status valid = check(values); !valid)
        return valid;
    auto db = stores.local();
    if (!db)
        return db.error();
    if (Status upgraded =
            db->addMissingColumns(kTable, {{Field::VoiceEnabled, QStringLiteral("BOOLEAN")},
                                           {Field::VoiceVolume, QStringLiteral("SMALLINT")},
                                           {Field::VoiceRate, QStringLiteral("SMALLINT")}});
        !upgraded)
        return upgraded;
    auto table = RecordSet::openTable(*db, kTable);
    if (!table)
        return table.error();
    if (Status editing = table->edit(); !editing)
        return Error::make(editing.errorNumber(),
                           QStringLiteral("La tabella \"%1\" del database locale \"%2\" è vuota.")
                               .arg(kTable, FileName::LocalDatabase));
    for (const auto &[field, value] :
         {std::pair{Field::VoiceEnabled, QVariant(values.enabled ? kStoredTrue : 0)},
          std::pair{Field::VoiceVolume, QVariant(values.volumeStep)},
          std::pair{Field::VoiceRate, QVariant(values.rate)}}) {
        if (Status set = table->setValue(field, value); !set)
            return set;
    }
    if (Status updated = table->update(); !updated)
        return updated;
    qCInfo(lcStore) << "voice settings saved: enabled" << values.enabled << "volume"
                    << values.volumeStep << "rate" << values.rate;
    return {};
}

} // namespace nx7::VoiceSettings
