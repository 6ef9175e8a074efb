#pragma once

#include "errors.h"

#include <QString>

namespace nx7 {

class Stores;

// The waiting message after each ticket, kept in the first row of the local table
// "ConfigurazioneTotem" ("AttesaSN" Yes/No, "AttesaSecondi" 16-bit integer).
namespace WaitSettings {

// The largest number of seconds the 16-bit field holds.
constexpr qint32 kMaxSeconds = 32767;
// The edit never holds more digits than the largest value has.
constexpr int kMaxDigits = 5;

struct Values
{
    bool enabled = false;
    qint32 seconds = 0;
};

// Adds to the settings table of an older local database each of the two fields it
// lacks ("AttesaSN" then "AttesaSecondi"), so that a table holding one is completed too.
Status UpgradeSettingsTable(const Stores &stores);

// The seconds typed into the edit: a text that is not a number counts as 0; a value
// the field cannot hold is Overflow (6).
Result<qint32> parseSeconds(const QString &text);

// Writes both fields into the first row. The error description names what is missing.
Status save(const Stores &stores, const Values &values);

} // namespace WaitSettings
} // namespace nx7
