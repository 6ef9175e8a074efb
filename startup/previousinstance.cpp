#include "previousinstance.h"

#include "startuplog.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace nx7 {

MachineInstanceLock::MachineInstanceLock(QString lockPath) : m_path(std::move(lockPath)) {}

MachineInstanceLock::~MachineInstanceLock()
{
    if (m_fd >= 0)
        ::close(m_fd); // releases the lock
}

QString MachineInstanceLock::defaultLockPath()
{
    // A machine-wide folder, never the user's ($TMPDIR may be per user), so that every
    // user's copy meets the same lock. /run/lock is emptied only at boot, while /tmp may
    // be aged by the system and lose a lock held for months.
    const QFileInfo runLock(QStringLiteral("/run/lock"));
    if (runLock.isDir() && runLock.isWritable())
        return QStringLiteral("/run/lock/nx7totem.lock");
    return QStringLiteral("/tmp/nx7totem.lock");
}

namespace {

// Opens the lock file, creating it only when it is absent: in a sticky folder such as
// /tmp the system refuses an open that may create (O_CREAT) a file another user owns,
// even when the file itself could be opened.
int openLockFile(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0 || errno != ENOENT)
        return fd;
    const int created = ::open(path.constData(), O_RDONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (created >= 0) {
        ::fchmod(created, 0666); // past the umask: other users must be able to open it
        return created;
    }
    if (errno == EEXIST) // another copy made it just now
        return ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    return -1;
}

} // namespace

bool MachineInstanceLock::anotherCopyRunning()
{
    if (m_fd >= 0)
        return false;
    const QByteArray path = QFile::encodeName(m_path);
    // Read-only is enough for flock, so a lock file made by another user still works.
    const int fd = openLockFile(path);
    if (fd < 0) {
        qCWarning(lcStartup) << "cannot open the instance lock" << m_path << ":"
                             << std::strerror(errno) << "- assuming no other copy";
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK)
            return true;
        qCWarning(lcStartup) << "cannot lock" << m_path << ":" << std::strerror(error);
        return false;
    }
    m_fd = fd;
    return false;
}

} // namespace nx7
