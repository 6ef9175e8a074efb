#include "sharedfile.h"

#include "storelog.h"
#include "systemreason.h"
#include "textrecord.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <future>
#include <memory>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace nx7::SharedFile {

namespace {

const QString kCannotWrite = QStringLiteral("Impossibile scrivere il file %1");

// How often a read that has not answered yet looks again, keeping the caller's events going.
constexpr std::chrono::milliseconds kAnswerPoll{10};
// Reads of a hung share still blocked in the system, each holding a thread of its own.
// Threads are a resource of the whole process, so this count is too: past the limit a read
// is refused at once instead of leaving one more thread behind at every touch.
constexpr int kMaxUnanswered = 4;
std::atomic<int> g_unanswered{0};

struct Descriptor
{
    int fd = -1;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd); // releases the lock too
    }
};

// What the caller was doing when a call on a shared file failed.
enum class Use
{
    Read,
    Rewrite,
};

// The error number handlers select on, from the system's error. A refused access and
// another station's lock are 70, which a reader waits for. The uses differ on purpose where
// a name is missing (a reader's file, while a rewrite makes a missing file itself and
// misses only its folder) and for any other failure: a reader takes it for a share that
// has gone away (76) and abandons at once instead of waiting.
int errorNumberOf(int error, Use use)
{
    switch (error) {
    case ENOENT:
        return use == Use::Read ? ErrorNumber::FileNotFound : ErrorNumber::PathNotFound;
    case ENOTDIR:
        return ErrorNumber::PathNotFound;
    case EACCES:
    case EPERM:
        return ErrorNumber::PermissionDenied;
    case EROFS:
    case EWOULDBLOCK:
        return use == Use::Read ? ErrorNumber::PathNotFound : ErrorNumber::PermissionDenied;
    case EBUSY:
    case ETXTBSY: // held open by a station: a reader waits as for a lock
        return use == Use::Read ? ErrorNumber::PermissionDenied : ErrorNumber::PathFileAccess;
    default:
        return use == Use::Read ? ErrorNumber::PathNotFound : ErrorNumber::PathFileAccess;
    }
}

Error failure(const QString &path, int error)
{
    return SystemReason::fileError(errorNumberOf(error, Use::Rewrite), kCannotWrite, path, error);
}

bool writeAll(int fd, const QByteArray &contents)
{
    qsizetype done = 0;
    while (done < contents.size()) {
        const ssize_t written = ::write(fd, contents.constData() + done, contents.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        done += written;
    }
    return true;
}

bool overwrite(int fd, const QByteArray &contents)
{
    return ::lseek(fd, 0, SEEK_SET) == 0 && writeAll(fd, contents) &&
           ::ftruncate(fd, contents.size()) == 0 && ::fsync(fd) == 0;
}

QByteArray readAll(const QByteArray &path)
{
    QFile file(QFile::decodeName(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Spends one pause of a wait for another station; false once the wait is over.
bool waitAgain(const LockWait &wait, const QElapsedTimer &clock, int attempt, const QString &path)
{
    if (clock.elapsed() >= wait.limit.count()) {
        if (attempt > 1)
            qCWarning(lcStore).noquote()
                << "shared file" << QDir::toNativeSeparators(path) << "still locked after"
                << attempt << "attempts in" << clock.elapsed() << "ms";
        return false;
    }
    if (attempt == 1)
        qCInfo(lcStore).noquote() << "shared file" << QDir::toNativeSeparators(path)
                                  << "locked by another station: waiting";
    if (!wait.pauseFor) {
        QThread::msleep(wait.pause.count());
        return true;
    }
    return wait.pauseFor(wait.pause);
}

// Stations hold the lock only for one read or write: it is waited for as `wait` says.
// False with errno set when it was not taken (EWOULDBLOCK: still held by another).
bool lockExclusive(int fd, const QString &path, const LockWait &wait)
{
    QElapsedTimer clock;
    clock.start();
    for (int attempt = 1;; ++attempt) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            return true;
        if (errno != EWOULDBLOCK && errno != EINTR)
            return false;
        if (!waitAgain(wait, clock, attempt, path)) {
            errno = EWOULDBLOCK;
            return false;
        }
    }
}

// A missing name is a missing file only where its folder is there. A file that would block
// the open is held by a station through a lease (a file server's oplock, being broken now):
// it is waited for as a lock.
int openErrorNumber(int error, const QString &path)
{
    if (error == ENOENT && !QFileInfo(QFileInfo(path).absolutePath()).isDir())
        return ErrorNumber::PathNotFound;
    if (error == EWOULDBLOCK)
        return ErrorNumber::PermissionDenied;
    return errorNumberOf(error, Use::Read);
}

// A numbering file is a regular file: anything else in its place (a FIFO, a device) could
// block a read for ever and is never read.
Status checkRegular(int fd, const QString &path)
{
    struct stat info
    {
    };
    if (::fstat(fd, &info) != 0)
        return Error::make(errorNumberOf(errno, Use::Read));
    if (S_ISREG(info.st_mode))
        return {};
    qCWarning(lcStore).noquote()
        << "shared file" << QDir::toNativeSeparators(path)
        << QStringLiteral("is not a regular file (mode %1): not read").arg(info.st_mode, 0, 8);
    return Error::make(
        ErrorNumber::PathFileAccess,
        QStringLiteral("%1 non è un file di dati.").arg(QDir::toNativeSeparators(path)));
}

// One attempt of a read: opened, locked, read. 70 when a station holds the file (its lock,
// or the file kept open so that it cannot be opened), which the caller waits for.
Result<QByteArray> readOnce(const QString &path)
{
    Descriptor file;
    // Never blocking in open(): a FIFO in the file's place would wait there for a writer.
    file.fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (file.fd < 0)
        return Error::make(openErrorNumber(errno, path));
    if (Status regular = checkRegular(file.fd, path); !regular)
        return regular.error();
    int locked = 0;
    do
        locked = ::flock(file.fd, LOCK_EX | LOCK_NB);
    while (locked != 0 && errno == EINTR);
    if (locked != 0) {
        const int lockError = errno;
        if (lockError == EWOULDBLOCK)
            return Error::make(ErrorNumber::PermissionDenied,
                               QStringLiteral("Il file %1 è in uso da un'altra postazione.")
                                   .arg(QDir::toNativeSeparators(path)));
        // Some network file systems refuse an exclusive lock on a file opened for reading
        // (NFS wants it open for writing): waiting would skip every ticket, so read it as
        // it is, as a station without locks would.
        qCWarning(lcStore).noquote()
            << "shared file" << QDir::toNativeSeparators(path) << "cannot be locked here ("
            << qt_error_string(lockError) << "): read without the lock";
    }
    QByteArray bytes;
    char buffer[512];
    for (;;) {
        const ssize_t got = ::read(file.fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return Error::make(errorNumberOf(errno, Use::Read));
        if (got == 0)
            break;
        bytes.append(buffer, got);
        if (bytes.size() > 64 * 1024) // one record; never read a runaway file whole
            break;
    }
    return bytes;
}

// A new file, complete before it has its name. `madeMeanwhile`: another station made it
// after it was found missing.
Status createWhole(const QByteArray &path, const QByteArray &contents, bool &madeMeanwhile)
{
    madeMeanwhile = false;
    QByteArray aside = path + ".XXXXXX";
    Descriptor file;
    file.fd = ::mkstemp(aside.data());
    if (file.fd < 0)
        return failure(QFile::decodeName(path), errno);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    bool done = ::fchmod(file.fd, 0666 & ~mask) == 0 && writeAll(file.fd, contents) &&
                ::fsync(file.fd) == 0 && ::link(aside.constData(), path.constData()) == 0;
    const int error = errno;
    ::unlink(aside.constData());
    if (done)
        return {};
    madeMeanwhile = error == EEXIST;
    return failure(QFile::decodeName(path), error);
}

// One attempt run on a thread of its own, so that a share that hangs in open() or read()
// holds that thread only; nothing when it has not answered by the end of `wait.answerLimit`
// (counted on `clock`), or when the caller stops waiting. The caller's events go on.
std::optional<Result<QByteArray>> answerWithin(const QString &path, const LockWait &wait,
                                               const QElapsedTimer &clock)
{
    if (g_unanswered.load() >= kMaxUnanswered) {
        qCWarning(lcStore).noquote()
            << "shared file" << QDir::toNativeSeparators(path) << "not read:" << g_unanswered.load()
            << "earlier reads of the share are still unanswered";
        return std::nullopt;
    }
    auto answer = std::make_shared<std::promise<Result<QByteArray>>>();
    std::future<Result<QByteArray>> future = answer->get_future();
    ++g_unanswered;
    try {
        std::thread([answer, path] {
            answer->set_value(readOnce(path));
            --g_unanswered;
        }).detach();
    } catch (const std::system_error &error) {
        --g_unanswered;
        qCWarning(lcStore) << "no thread for a shared file read:" << error.what();
        return Result<QByteArray>(Error::make(ErrorNumber::PathNotFound));
    }
    using std::chrono::milliseconds;
    const auto left = [&] {
        return std::max(wait.answerLimit - milliseconds(clock.elapsed()), milliseconds(0));
    };
    for (;;) {
        const milliseconds slice = wait.pauseFor ? std::min(left(), kAnswerPoll) : left();
        if (future.wait_for(slice) == std::future_status::ready)
            return future.get();
        if (left() == milliseconds(0) || (wait.pauseFor && !wait.pauseFor(kAnswerPoll)))
            break;
    }
    qCWarning(lcStore).noquote() << "shared file" << QDir::toNativeSeparators(path)
                                 << "did not answer in" << clock.elapsed() << "ms: taken as locked";
    return std::nullopt;
}

} // namespace

Result<QByteArray> read(const QString &path, const LockWait &wait)
{
    // Each attempt opens the file again: a station that put a new file in its place while
    // the old one was locked is read, not the old one.
    QElapsedTimer clock;
    clock.start();
    for (int attempt = 1;; ++attempt) {
        std::optional<Result<QByteArray>> bytes = answerWithin(path, wait, clock);
        if (!bytes)
            return Error::make(ErrorNumber::PermissionDenied,
                               QStringLiteral("Il file %1 non risponde: cartella del server "
                                              "bloccata o irraggiungibile.")
                                   .arg(QDir::toNativeSeparators(path)));
        if (*bytes || bytes->errorNumber() != ErrorNumber::PermissionDenied ||
            !waitAgain(wait, clock, attempt, path))
            return std::move(*bytes);
    }
}

Status rewrite(const QString &path, const QByteArray &contents, int lockWaitMs)
{
    LockWait wait;
    wait.limit = std::chrono::milliseconds(lockWaitMs);
    const QByteArray name = QFile::encodeName(path);
    for (int attempt = 0; attempt < 2; ++attempt) {
        Descriptor file;
        file.fd = ::open(name.constData(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (file.fd < 0 && errno == ENOENT) {
            bool madeMeanwhile = false;
            Status created = createWhole(name, contents, madeMeanwhile);
            if (madeMeanwhile)
                continue; // rewritten in place instead
            return created;
        }
        if (file.fd < 0)
            return failure(path, errno);
        if (Status regular = checkRegular(file.fd, path); !regular)
            return regular;
        if (!lockExclusive(file.fd, path, wait))
            return failure(path, errno);
        // Under the lock: written over the old bytes, then cut to length, so that a full
        // disk leaves the previous contents, which are put back.
        const QByteArray previous = readAll(name);
        if (!overwrite(file.fd, contents)) {
            const int error = errno;
            if (!overwrite(file.fd, previous))
                qCCritical(lcStore).noquote() << "previous contents of" << path << "not put back";
            return failure(path, error);
        }
        return {};
    }
    return failure(path, EEXIST);
}

Status replace(const QString &path, const QByteArray &contents)
{
    const QFileInfo info(path);
    const QFileInfo folder(info.absolutePath());
    if (info.exists() && !folder.isWritable() && info.isWritable()) {
        qCInfo(lcStore).noquote() << "folder of" << QDir::toNativeSeparators(path)
                                  << "not writable: the file is rewritten in place";
        return rewrite(path, contents);
    }
    return TextRecord::writeFileAtomically(path, contents);
}

} // namespace nx7::SharedFile
