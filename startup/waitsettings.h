#pragma once

#include "errors.h"

#include <QString>

namespace nx7 {

class Stores;

// The waiting message after each ticket, kept in the first row of the local table
// "ConfigurazioneTotem" ("AttesaSN" Yes/No, "AttesaSecondi" 16-bit integer).
namespace WaitSettings {

// The longest hold after a ticket: a minute already keeps the next customers waiting, and
// a longer one (the 16-bit field holds nine hours) leaves a kiosk that looks frozen.
constexpr qint32 kMaxSeconds = 60;
// The edit holds as many digits as the field, so that a longer value is refused with a
// message rather than cut while typing.
constexpr int kMaxDigits = 5;

struct Values
{
    bool enabled = false;
    qint32 seconds = 0;
};

// Adds to the settings table of an older local database each of the two fields it
// lacks ("AttesaSN" then "AttesaSecondi"), so that a table holding one is completed too.
Status UpgradeSettingsTable(const Stores &stores);

// Stored seconds within 0..kMaxSeconds; a value outside is logged and brought to the
// nearer end.
qint32 clampedSeconds(qint32 stored);

// The seconds typed into the edit: a text that is not a number counts as 0; a value
// above kMaxSeconds is Overflow (6).
Result<qint32> parseSeconds(const QString &text);

// Writes both fields into the first row. The error description names what is missing.
Status save(const Stores &stores, const Values &values);

} // namespace WaitSettings
} // namespace nx7
