#include "stationsettings.h"
#include "voicesettings.h"

#include "database.h"
#include "filenames.h"
#include "storelog.h"
#include "stores.h"
#include "tables.h"

#include <optional>

namespace nx7 {

namespace {

const QString &kTable = Table::LocalSettings;

// Yes/No fields hold -1 for true, as the stations' older databases do.
constexpr int kStoredTrue = -1;

QVariant storedYesNo(bool enabled)
{
    return enabled ? kStoredTrue : 0;
}

// Where writing the settings row stopped, so that each setting names its own failure.
struct RowFailure
{
    enum class Step
    {
        Table,
        EmptyTable,
        Field,
        Update
    } step;
    QString field;
    Error cause;
};

// Sets fields of the first row of the settings table and saves it.
std::optional<RowFailure> writeFirstRow(Database &db, const FieldValues &values)
{
    using Step = RowFailure::Step;
    auto table = RecordSet::openTable(db, kTable);
    if (!table)
        return RowFailure{Step::Table, {}, table.error()};
    if (Status editing = table->edit(); !editing)
        return RowFailure{Step::EmptyTable, {}, editing.error()};
    for (const auto &[field, value] : values) {
        if (Status set = table->setValue(field, value); !set)
            return RowFailure{Step::Field, field, set.error()};
    }
    if (Status updated = table->update(); !updated)
        return RowFailure{Step::Update, {}, updated.error()};
    return std::nullopt;
}

// A row written, or the failure as the technician reads it: an empty table named as such.
Status rowWritten(const std::optional<RowFailure> &failure)
{
    if (failure && failure->step == RowFailure::Step::EmptyTable)
        return Error::make(failure->cause.number,
                           QStringLiteral("La tabella \"%1\" del database locale \"%2\" è vuota.")
                               .arg(kTable, FileName::LocalDatabase));
    if (failure)
        return failure->cause;
    return {};
}

// The settings table of the station's local database, on its first row.
Result<RecordSet> openSettings(const Stores &stores)
{
    auto db = stores.local();
    if (!db)
        return db.error();
    return RecordSet::openTable(*db, kTable);
}

} // namespace

namespace StationSettings {

Result<Wait> loadWait(const Stores &stores)
{
    auto settings = openSettings(stores);
    if (!settings)
        return settings.error();
    auto enabled = settings->value(Field::WaitEnabled);
    if (!enabled)
        return enabled.error();
    auto seconds = settings->value(Field::WaitSeconds);
    if (!seconds)
        return seconds.error();
    Wait wait{Value::isTrue(*enabled), 0};
    if (!Value::isNull(*seconds)) {
        auto number = Value::toInt32(*seconds);
        if (!number)
            return number.error();
        wait.seconds = *number;
    }
    return wait;
}

Status saveWait(const Stores &stores, const Wait &wait)
{
    const auto described = [](const Error &cause, const QString &what) {
        return Error::make(cause.number, what);
    };
    auto db = stores.local();
    if (!db) {
        if (db.errorNumber() == ErrorNumber::DatabaseFileNotFound ||
            db.errorNumber() == ErrorNumber::NotValidPath)
            return described(
                db.error(),
                QStringLiteral("Database locale \"%1\" non trovato.").arg(FileName::LocalDatabase));
        return db.error();
    }
    const auto failure = writeFirstRow(
        *db, {{Field::WaitEnabled, storedYesNo(wait.enabled)}, {Field::WaitSeconds, wait.seconds}});
    if (!failure)
        return {};
    switch (failure->step) {
    case RowFailure::Step::Table:
        if (failure->cause.number == ErrorNumber::TableNotFound)
            return described(
                failure->cause,
                QStringLiteral("Tabella \"%1\" non trovata nel database locale.").arg(kTable));
        return failure->cause;
    case RowFailure::Step::EmptyTable:
        return described(
            failure->cause,
            QStringLiteral("La tabella \"%1\" del database locale è vuota.").arg(kTable));
    case RowFailure::Step::Field:
        return described(failure->cause,
                         QStringLiteral("Campo \"%1\" mancante nella tabella \"%2\".")
                             .arg(failure->field, kTable));
    case RowFailure::Step::Update:
        break;
    }
    return failure->cause;
}

Status upgradeWait(const Stores &stores)
{
    auto db = stores.local();
    if (!db)
        return db.error();
    return db->addMissingColumns(kTable, {{Field::WaitEnabled, QStringLiteral("BOOLEAN")},
                                          {Field::WaitSeconds, QStringLiteral("SMALLINT")}});
}

} // namespace StationSettings

namespace VoiceSettings {

namespace {

struct Range
{
    const QString &field;
    int min, max;
    int Values::*member;
};

const Range kRanges[] = {
    {Field::VoiceVolume, kMinVolume, kMaxVolume, &Values::volumeStep},
    {Field::VoiceRate, kMinRate, kMaxRate, &Values::rate},
    {Field::VoiceRepeatDelay, kMinRepeatDelay, kMaxRepeatDelay, &Values::repeatDelayMs}};

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
    auto settings = openSettings(stores);
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
    if (values.repeatDelayMs < kMinRepeatDelay || values.repeatDelayMs > kMaxRepeatDelay)
        return Error::make(ErrorNumber::Overflow,
                           QStringLiteral("Il ritardo di ripetizione va da %1 a %2 millisecondi.")
                               .arg(kMinRepeatDelay)
                               .arg(kMaxRepeatDelay));
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
                                           {Field::VoiceRate, QStringLiteral("SMALLINT")},
                                           {Field::VoiceRepeatDelay, QStringLiteral("SMALLINT")}});
        !upgraded)
        return upgraded;
    const auto failure = writeFirstRow(*db, {{Field::VoiceEnabled, storedYesNo(values.enabled)},
                                             {Field::VoiceVolume, values.volumeStep},
                                             {Field::VoiceRate, values.rate},
                                             {Field::VoiceRepeatDelay, values.repeatDelayMs}});
    if (Status written = rowWritten(failure); !written)
        return written;
    qCInfo(lcStore) << "voice settings saved: enabled" << values.enabled << "volume"
                    << values.volumeStep << "rate" << values.rate << "repeat delay ms"
                    << values.repeatDelayMs;
    return {};
}

} // namespace VoiceSettings

namespace WaitEstimateSetting {

Result<bool> load(const Stores &stores)
{
    auto settings = openSettings(stores);
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
    const auto failure = writeFirstRow(*db, {{Field::WaitEstimateEnabled, storedYesNo(enabled)}});
    if (Status written = rowWritten(failure); !written)
        return written;
    qCInfo(lcStore) << "wait estimate on tickets:" << (enabled ? "on" : "off");
    return {};
}

} // namespace WaitEstimateSetting
} // namespace nx7
