#pragma once

#include "errors.h"
#include "screenlayout.h"
#include "screensettings.h"

#include <QList>
#include <QStringList>
#include <QVariant>

#include <optional>

namespace nx7 {

class Stores;

// What the kiosk screen shows, read from the server database in one pass when the screen
// loads: the resolution, the active services in their slots and the look. A plain value:
// the screen draws it, the tests read it without a screen.
struct KioskScreenData
{
    enum class Outcome
    {
        Loaded,
        ServerMissing, // no server database: the server-path form follows, no screen
        LeftEmpty,     // the server or its configuration unusable: a screen without services
        Failed         // an error that ends the program
    };

    Outcome outcome = Outcome::Loaded;
    Error error;                            // why, when not Loaded
    std::optional<Resolution> resolution;   // none when the configuration was not read
    QList<QVariant> serviceIds;             // "ID" of "Servizi" as read; slot n is item n - 1
    QStringList serviceNames;               // the hidden list Combo1
    std::optional<ScreenSettings> settings; // read only when a service is active
    int servicesBeyondSlots = 0;            // active past the twentieth, not read

    int activeServiceCount() const { return int(serviceNames.size()); }

    static KioskScreenData read(const Stores &stores, const QString &serverPath);
};

} // namespace nx7
