#include "InstanceLock.h"

#include "Folders.h"

#include <QFile>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

namespace {
constexpr int kLockTries = 10; // 200 ms
}

InstanceLock::~InstanceLock() {
    if (fd_ >= 0) ::close(fd_);
}

bool InstanceLock::take(const QString& folder) {
    const QByteArray path = QFile::encodeName(folder + QLatin1Char('/') + kEngineLockName);
    // Read access is enough for flock(), so a lock file left by another user still works.
    const int fd = ::open(path.constData(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) return true;
    // A program that only looks whether an engine runs holds the lock for a moment.
    int tries = kLockTries;
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK || --tries == 0) {
            const bool held = errno == EWOULDBLOCK;
            ::close(fd);
            return !held;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
    return true;
}
