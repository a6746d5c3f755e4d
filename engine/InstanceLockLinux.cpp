#include "InstanceLock.h"

#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

InstanceLock::~InstanceLock() {
    if (fd_ >= 0) ::close(fd_);
}

bool InstanceLock::take(const QString& folder) {
    const QByteArray path = QFile::encodeName(folder + QStringLiteral("/VNPCBase.lock"));
    // Read access is enough for flock(), so a lock file left by another user still works.
    const int fd = ::open(path.constData(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) return true;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const bool held = errno == EWOULDBLOCK;
        ::close(fd);
        return !held;
    }
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
    return true;
}
