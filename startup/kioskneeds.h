#pragma once

#include "errors.h"

namespace nx7 {

class Database;
class Stores;

// What the kiosk screen and a ticket will read, checked before an initial start empties
// the shared queue: a start that would end at the screen's load or at the first touch
// must not change anything. The error names the missing table, field or service.
namespace KioskNeeds {

// The local "Numerazione" (a ticket advances its "Pn"), and that the database takes a write.
Status checkLocal(const Stores &stores);
// "Servizi" (a name for every active service) and "configurazioneTotem" (every field the
// screen reads, sizes and colours as numbers).
Status checkServer(Database &server);

} // namespace KioskNeeds
} // namespace nx7
