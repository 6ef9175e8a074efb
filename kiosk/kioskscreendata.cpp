#include "kioskscreendata.h"

#include "filenames.h"
#include "kiosklog.h"
#include "screenrows.h"
#include "stationstate.h"
#include "stores.h"
#include "tables.h"

namespace nx7 {

namespace {

bool isServerMissing(int number)
{
    return number == ErrorNumber::PathNotFound || number == ErrorNumber::NotValidPath ||
           number == ErrorNumber::DatabaseFileNotFound;
}

// A code the kiosk does not know would give a window of no size: 1280 x 1024 instead.
Result<Resolution> resolutionOf(const StoredRecord &settings)
{
    auto stored = settings.value(Field::Resolution);
    if (!stored)
        return stored.error();
    auto code = Value::toInt32(*stored);
    std::optional<Resolution> resolution;
    if (code)
        resolution = Resolutions::byCode(*code);
    if (!resolution) {
        qCWarning(lcKiosk).noquote() << "RisoluzioneTotem" << stored->toString()
                                     << "is not a known resolution: 1280 x 1024 is used";
        resolution = Resolutions::byCode(Resolutions::kFallbackCode);
    }
    return *resolution;
}

KioskScreenData stopped(KioskScreenData data, KioskScreenData::Outcome outcome, Error error)
{
    data.outcome = outcome;
    data.error = std::move(error);
    return data;
}

} // namespace

KioskScreenData KioskScreenData::read(const Stores &stores, const QString &serverPath)
{
    // A server that cannot be found leads to the server-path form; any other failure up
    // to the resolution leaves the screen as prepared so far.
    KioskScreenData data;
    auto db = stores.server(serverPath);
    if (!db) {
        if (isServerMissing(db.errorNumber())) {
            qCWarning(lcKiosk).noquote() << "server database not found:"
                                         << FilePath::server(serverPath, FileName::ServerDatabase);
            return stopped(data, Outcome::ServerMissing, db.error());
        }
        qCWarning(lcKiosk).noquote()
            << "server database unusable, screen left empty:" << db.error().number
            << db.error().description;
        return stopped(data, Outcome::LeftEmpty, db.error());
    }
    auto settings = ScreenRows::screenSettings(*db);
    auto resolution = settings ? resolutionOf(*settings) : Result<Resolution>(settings.error());
    if (!resolution) {
        qCWarning(lcKiosk).noquote()
            << "screen configuration unreadable, screen left empty:" << resolution.errorNumber()
            << resolution.error().description;
        return stopped(data, Outcome::LeftEmpty, resolution.error());
    }
    data.resolution = *resolution;

    // The services whose "ServizioAttivo" is Yes, in table order; the n-th is slot n.
    auto services = ScreenRows::activeServices(*db, kSlotCount);
    if (!services)
        return stopped(data, Outcome::Failed, services.error());
    for (const ScreenRows::ServiceRow &row : services->rows) {
        if (Value::isNull(row.name))
            return stopped(data, Outcome::Failed, Error::make(ErrorNumber::InvalidUseOfNull));
        data.serviceIds.append(row.id);
        data.serviceNames.append(row.name.toString());
    }
    data.servicesBeyondSlots = services->beyondLimit;
    if (services->beyondLimit > 0)
        qCWarning(lcKiosk) << services->beyondLimit
                           << "active services beyond the twentieth have no button";
    if (data.serviceNames.isEmpty())
        return data;
    auto look = ScreenSettings::read(*settings);
    if (!look)
        return stopped(data, Outcome::Failed, look.error());
    data.settings = *look;
    return data;
}

} // namespace nx7
