#pragma once

#include "errors.h"

namespace nx7 {

class Stores;

// Whether the station prints and says an estimate of the wait on its tickets: the Yes/No
// field "StimaAttesaSN" of the first row of the local table "ConfigurazioneTotem". A
// database without the field, or with Null in it, estimates; saving adds the field.
namespace WaitEstimateSetting {

// An error only when the table cannot be read at all.
Result<bool> load(const Stores &stores);

Status save(const Stores &stores, bool enabled);

} // namespace WaitEstimateSetting
} // namespace nx7
