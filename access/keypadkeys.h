#pragma once

#include "speechsession.h"

#include <Qt>

#include <optional>

namespace nx7 {

// The meaning of a key of the keypad beside the screen (or of any keyboard), whether
// Num Lock is on or off; nothing for keys the customer does not use. Escape is the
// operator's and never a customer key.
std::optional<AccessKey> accessKeyFor(int key);

} // namespace nx7
