#include "waitsettings.h"

#include "database.h"
#include "filenames.h"
#include "startuplog.h"
#include "stores.h"
#include "tables.h"

#include <QFileInfo>

#include <algorithm>

namespace nx7::WaitSettings {

namespace {

const QString &kTable = Table::LocalSettings;
const QString &kEnabledField = Field::WaitEnabled;
const QString &kSecondsField = Field::WaitSeconds;

// Yes/No fields hold -1 for true, as the stations' older databases do.
constexpr int kStoredTrue = -1;

Error saveError(const Error &cause, const QString &what)
{
    return Error::make(cause.number, what);
}

} // namespace

Status UpgradeSettingsTable(const Stores &stores)
{
    auto db = stores.local();
    if (!db)
        return db.error();
    return db->addMissingColumns(kTable, {{kEnabledField, QStringLiteral("BOOLEAN")},
                                          {kSecondsField, QStringLiteral("SMALLINT")}});
}

qint32 clampedSeconds(qint32 stored)
{
    const qint32 seconds = std::clamp(stored, qint32(0), kMaxSeconds);
    if (seconds != stored)
        qCWarning(lcStartup).noquote()
            << QStringLiteral("\"%1\" holds %2 seconds: %3 used (0 to %4)")
                   .arg(kSecondsField)
                   .arg(stored)
                   .arg(seconds)
                   .arg(kMaxSeconds);
    return seconds;
}

Result<qint32> parseSeconds(const QString &text)
{
    const QString digits = text.trimmed();
    const bool number = !digits.isEmpty() && std::all_of(digits.begin(), digits.end(), [](QChar c) {
        return c >= u'0' && c <= u'9';
    });
    if (!number)
        return qint32(0);
    QString significant = digits;
    while (significant.size() > 1 && significant.front() == u'0')
        significant.remove(0, 1);
    if (significant.size() > kMaxDigits || significant.toInt() > kMaxSeconds)
        return Error::make(
            ErrorNumber::Overflow,
            QStringLiteral("Il tempo di attesa non può superare %1 secondi.").arg(kMaxSeconds));
    return qint32(significant.toInt());
}

Status save(const Stores &stores, const Values &values)
{
    auto db = stores.local();
    if (!db) {
        if (db.errorNumber() == ErrorNumber::DatabaseFileNotFound ||
            db.errorNumber() == ErrorNumber::NotValidPath)
            return saveError(
                db.error(),
                QStringLiteral("Database locale \"%1\" non trovato.").arg(FileName::LocalDatabase));
        return db.error();
    }
    auto table = RecordSet::openTable(*db, kTable);
    if (!table) {
        if (table.errorNumber() == ErrorNumber::TableNotFound)
            return saveError(
                table.error(),
                QStringLiteral("Tabella \"%1\" non trovata nel database locale.").arg(kTable));
        return table.error();
    }
    if (Status editing = table->edit(); !editing)
        return saveError(
            editing.error(),
            QStringLiteral("La tabella \"%1\" del database locale è vuota.").arg(kTable));
    for (const auto &[field, value] :
         {std::pair{kEnabledField, QVariant(values.enabled ? kStoredTrue : 0)},
          std::pair{kSecondsField, QVariant(values.seconds)}}) {
        if (Status set = table->setValue(field, value); !set)
            return saveError(
                set.error(),
                QStringLiteral("Campo \"%1\" mancante nella tabella \"%2\".").arg(field, kTable));
    }
    if (Status updated = table->update(); !updated)
        return updated;
    qCInfo(lcStartup) << "waiting message saved: enabled" << values.enabled << "seconds"
                      << values.seconds;
    return {};
}

} // namespace nx7::WaitSettings
