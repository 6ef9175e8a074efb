#pragma once

#include "errors.h"

namespace nx7 {

class Stores;

// The keypad voice of a station, kept in the first row of the local table
// "ConfigurazioneTotem" beside the waiting message: "VoceSN" (Yes/No), "VoceVolume" (the
// volume step a session starts at), "VoceVelocita" (words per minute) and "VoceRipetizione"
// (milliseconds in which a second press of the same key is ignored). A database without
// the fields uses the defaults; saving adds the fields it lacks.
namespace VoiceSettings {

constexpr int kMinVolume = 1;
constexpr int kMaxVolume = 8;
constexpr int kMinRate = 80; // words per minute the voice accepts
constexpr int kMaxRate = 450;
constexpr int kMinRepeatDelay = 0; // milliseconds
constexpr int kMaxRepeatDelay = 2000;

struct Values
{
    bool enabled = true;
    int volumeStep = 6;
    int rate = 160;
    int repeatDelayMs = 400;
    friend bool operator==(const Values &, const Values &) = default;
};

// The station's settings; a field that is missing, Null or out of range keeps its
// default (the log says which). An error only when the table cannot be read at all.
Result<Values> load(const Stores &stores);

// Values outside the ranges above are Overflow (6), with an Italian description.
Status check(const Values &values);

Status save(const Stores &stores, const Values &values);

} // namespace VoiceSettings
} // namespace nx7
