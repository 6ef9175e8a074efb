#pragma once

#include "database.h"
#include "errors.h"

namespace nx7::test {

// What a counter station does to the server database when it calls the next customer:
// marks the oldest ticket not yet called and lowers its service's waiting count, in one
// transaction. True when a ticket was called, false when none was waiting.
Result<bool> callOldestTicket(Database &db);

} // namespace nx7::test
