#include "previousinstance.h"

#include "startuplog.h"

#include <QDir>
#include <QFile>

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
    return QDir(QDir::tempPath()).filePath(QStringLiteral("nx7totem.lock"));
}

bool MachineInstanceLock::anotherCopyRunning()
{
    if (m_fd >= 0)
        return false;
    const QByteArray path = QFile::encodeName(m_path);
    // Read-only is enough for flock, so a lock file made by another user still works.
    const int fd = ::open(path.constData(), O_RDONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        qCWarning(lcStartup) << "cannot open the instance lock" << m_path << ":"
                             << std::strerror(errno) << "- assuming no other copy";
        return false;
    }
    ::fchmod(fd, 0666); // best effort: other users must be able to open it
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
