#pragma once

#include "errors.h"

namespace nx7 {

class Stores;

// The station's settings kept in the first row of the local table "ConfigurazioneTotem":
// the waiting message after each ticket ("AttesaSN" Yes/No, "AttesaSecondi" 16-bit integer)
// here, and the keypad voice (voicesettings.h), both written by this one module.
namespace StationSettings {

struct Wait
{
    bool enabled = false;
    qint32 seconds = 0;
};

// The waiting message as stored: anything but true is off, a Null number of seconds 0. A
// missing field is 3265, a row missing 3021, a number no 32-bit integer holds 6.
Result<Wait> loadWait(const Stores &stores);

// Writes both fields into the first row. The error description names what is missing.
Status saveWait(const Stores &stores, const Wait &wait);

// Adds to the table of an older local database each of the two fields it lacks
// ("AttesaSN" then "AttesaSecondi"), so that a table holding one is completed too.
Status upgradeWait(const Stores &stores);

} // namespace StationSettings

// Whether the station prints and says the expected wait on its tickets: the Yes/No field
// "StimaAttesaSN" of the same row. A database without the field, or with Null in it,
// estimates; saving adds the field.
namespace WaitEstimateSetting {

// An error only when the table cannot be read at all.
Result<bool> load(const Stores &stores);

Status save(const Stores &stores, bool enabled);

} // namespace WaitEstimateSetting
} // namespace nx7
