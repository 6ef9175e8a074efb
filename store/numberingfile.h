#pragma once

#include "errors.h"
#include "sharedfile.h"

#include <QString>

namespace nx7 {

// The numbering file of a slot on the server: the number the counters will call next.
namespace NumberingFile {

// Reads the calling number holding an exclusive lock on the file (the counter stations
// take the same lock while they rewrite it), waiting for another station's lock as `wait`
// says; by default it is tried once. Errors: 76 folder missing or share gone, 53 file
// missing, 70 locked by another station, not readable or not answering within
// `wait.answerLimit`, 75 not a regular file. Where the file system offers no such lock the
// file is read without it.
Result<double> readCallingNumber(const QString &path, const SharedFile::LockWait &wait);
Result<double> readCallingNumber(const QString &path);

// The numeric value of the file's first field: its leading number, 0 when there is none.
double callingNumberOf(const QString &text);

} // namespace NumberingFile
} // namespace nx7
