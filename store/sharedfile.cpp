#include "sharedfile.h"

#include "storelog.h"
#include "systemreason.h"
#include "textrecord.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace nx7::SharedFile {

namespace {

const QString kCannotWrite = QStringLiteral("Impossibile scrivere il file %1");

struct Descriptor
{
    int fd = -1;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd); // releases the lock too
    }
};

int errorNumberOf(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return ErrorNumber::PathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case EWOULDBLOCK:
        return ErrorNumber::PermissionDenied;
    default:
        return ErrorNumber::PathFileAccess;
    }
}

Error failure(const QString &path, int error)
{
    return SystemReason::fileError(errorNumberOf(error), kCannotWrite, path, error);
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

// Stations hold the lock only for one read or write: wait a little for it.
bool lockExclusive(int fd, int waitMs)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            return true;
        if (errno != EWOULDBLOCK && errno != EINTR)
            return false;
        if (clock.elapsed() >= waitMs) {
            errno = EWOULDBLOCK;
            return false;
        }
        QThread::msleep(20);
    }
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

} // namespace

Status rewrite(const QString &path, const QByteArray &contents, int lockWaitMs)
{
    const QByteArray name = QFile::encodeName(path);
    for (int attempt = 0; attempt < 2; ++attempt) {
        Descriptor file;
        file.fd = ::open(name.constData(), O_WRONLY | O_CLOEXEC);
        if (file.fd < 0 && errno == ENOENT) {
            bool madeMeanwhile = false;
            Status created = createWhole(name, contents, madeMeanwhile);
            if (madeMeanwhile)
                continue; // rewritten in place instead
            return created;
        }
        if (file.fd < 0)
            return failure(path, errno);
        if (!lockExclusive(file.fd, lockWaitMs))
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
