#include "numberingfile.h"

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
        return Error::make(errno == ENOENT ? ErrorNumber::FileNotFound
                                           : ErrorNumber::PermissionDenied);
    if (::flock(file.fd, LOCK_EX | LOCK_NB) != 0)
        return Error::make(ErrorNumber::PermissionDenied,
                           QStringLiteral("Il file %1 è in uso da un'altra postazione.")
                               .arg(QDir::toNativeSeparators(path)));
    QByteArray bytes;
    char buffer[512];
    for (;;) {
        const ssize_t got = ::read(file.fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return Error::make(ErrorNumber::PermissionDenied);
        if (got == 0)
            break;
        bytes.append(buffer, got);
        if (bytes.size() > 64 * 1024) // one number; never read a runaway file whole
            break;
    }
    return callingNumberOf(TextRecord::decode(bytes));
}

} // namespace nx7::NumberingFile
