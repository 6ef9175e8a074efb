#include "numberingfile.h"

#include "storelog.h"
#include "textrecord.h"

#include <QByteArray>
#include <QDir>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace nx7::NumberingFile {

namespace {

// Closes the descriptor, which also releases the lock.
struct Descriptor
{
    int fd = -1;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

// Only a refused access is "permission denied", which is waited for as a lock of another
// station; a share that has gone away is "path not found" and abandons the issue at once.
int openErrorNumber(int error)
{
    switch (error) {
    case ENOENT:
        return ErrorNumber::FileNotFound;
    case EACCES:
    case EPERM:
    case EBUSY:
    case ETXTBSY:
        return ErrorNumber::PermissionDenied;
    default:
        return ErrorNumber::PathNotFound;
    }
}

} // namespace

double callingNumberOf(const QString &text)
{
    return TextRecord::leadingValue(TextRecord::firstField(text));
}

Result<double> readCallingNumber(const QString &path)
{
    if (Status readable = TextRecord::checkFileToRead(path); !readable)
        return readable.error();

    Descriptor file;
    file.fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (file.fd < 0)
        return Error::make(openErrorNumber(errno));
    if (::flock(file.fd, LOCK_EX | LOCK_NB) != 0) {
        const int lockError = errno;
        if (lockError == EWOULDBLOCK || lockError == EINTR)
            return Error::make(ErrorNumber::PermissionDenied,
                               QStringLiteral("Il file %1 è in uso da un'altra postazione.")
                                   .arg(QDir::toNativeSeparators(path)));
        // Some network file systems refuse an exclusive lock on a file opened for reading
        // (NFS wants it open for writing): waiting would skip every ticket, so read it as
        // it is, as a station without locks would.
        qCWarning(lcStore).noquote()
            << "numbering file" << QDir::toNativeSeparators(path) << "cannot be locked here ("
            << qt_error_string(lockError) << "): read without the lock";
    }
    QByteArray bytes;
    char buffer[512];
    for (;;) {
        const ssize_t got = ::read(file.fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return Error::make(openErrorNumber(errno));
        if (got == 0)
            break;
        bytes.append(buffer, got);
        if (bytes.size() > 64 * 1024) // one number; never read a runaway file whole
            break;
    }
    return callingNumberOf(TextRecord::decode(bytes));
}

} // namespace nx7::NumberingFile
