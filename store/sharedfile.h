#pragma once

#include "errors.h"

#include <QByteArray>
#include <QString>

namespace nx7 {

// Files in the server folder that the counter stations read and write too (the numbering
// files). Every station takes an exclusive advisory lock (flock) on such a file while it
// reads or writes it.
namespace SharedFile {

// How long a rewrite waits for another station's lock before it gives up (70).
constexpr int kLockWaitMs = 3000;

// Rewrites a shared file in place: opened, locked exclusively, truncated, written,
// flushed to disk, released, so that its owner, group and mode stay and a station
// reading under the lock never sees half of it. A missing file is created whole
// (written aside, then linked under its name), never seen empty.
Status rewrite(const QString &path, const QByteArray &contents, int lockWaitMs = kLockWaitMs);

// Replaces a file: atomically (temporary file, then rename) where its folder is
// writable; in place, as above, where only the file itself is.
Status replace(const QString &path, const QByteArray &contents);

} // namespace SharedFile
} // namespace nx7
