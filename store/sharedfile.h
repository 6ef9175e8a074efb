#pragma once

#include "errors.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <functional>

namespace nx7 {

// Files in the server folder that the counter stations read and write too (the numbering
// files). Every station takes an exclusive advisory lock (flock) on such a file while it
// reads or writes it.
namespace SharedFile {

// How long a rewrite waits for another station's lock before it gives up (70).
constexpr int kLockWaitMs = 3000;

// How another station's lock is waited for: attempts `pause` apart for at most `limit`
// (0: one attempt only). `pauseFor` spends each pause, a plain sleep when empty (the kiosk
// keeps its events going meanwhile); it answers false to stop waiting at once.
// `answerLimit` bounds the whole read, however the share behaves: a hung share blocks in
// open() or read() with no error at all.
struct LockWait
{
    std::chrono::milliseconds pause{20};
    std::chrono::milliseconds limit{kLockWaitMs};
    std::function<bool(std::chrono::milliseconds)> pauseFor;
    std::chrono::milliseconds answerLimit{kLockWaitMs};
};

// Reads a shared file whole holding its exclusive lock. Only a regular file is read (a
// FIFO or a device in its place is 75, never opened for blocking). The system calls run
// on a thread of their own: a file that does not answer within `wait.answerLimit` is 70,
// as one locked too long, and the thread is left to the share; `pauseFor` keeps being
// called meanwhile. Errors: 70 locked by another station for longer than `wait` allows,
// access refused or no answer; 53 file missing; 76 folder missing or any other failure (a
// share that has gone away), which is never waited for. Where the file system offers no
// such lock the file is read without it, as a station without locks would.
Result<QByteArray> read(const QString &path, const LockWait &wait);

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
