#include "waitsettings.h"

#include "startuplog.h"
#include "stationsettings.h"
#include "tables.h"

#include <algorithm>

namespace nx7::WaitSettings {

Status UpgradeSettingsTable(const Stores &stores)
{
    return StationSettings::upgradeWait(stores);
}

qint32 clampedSeconds(qint32 stored)
{
    const qint32 seconds = std::clamp(stored, qint32(0), kMaxSeconds);
    if (seconds != stored)
        qCWarning(lcStartup).noquote()
            << QStringLiteral("\"%1\" holds %2 seconds: %3 used (0 to %4)")
                   .arg(Field::WaitSeconds)
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
    if (Status saved = StationSettings::saveWait(stores, {values.enabled, values.seconds}); !saved)
        return saved;
    qCInfo(lcStartup) << "waiting message saved: enabled" << values.enabled << "seconds"
                      << values.seconds;
    return {};
}

} // namespace nx7::WaitSettings
