#include "InstanceLock.h"

#include <QFile>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A descriptor of the folder inherited from the program that claimed it: locking it again
// succeeds, since the lock belongs to that very descriptor. -1 when there is none.
int takeInheritedClaim(const QString& folder) {
    struct stat wanted {};
    if (::stat(QFile::encodeName(folder).constData(), &wanted) != 0) return -1;
    DIR* fds = ::opendir("/proc/self/fd");
    if (!fds) return -1;
    int found = -1;
    while (const dirent* entry = ::readdir(fds)) {
        const int fd = QByteArray(entry->d_name).toInt();
        struct stat info {};
        if (fd <= STDERR_FILENO || fd == ::dirfd(fds) || ::fstat(fd, &info) != 0 ||
            !S_ISDIR(info.st_mode) || info.st_dev != wanted.st_dev || info.st_ino != wanted.st_ino)
            continue;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            found = fd;
            break;
        }
    }
    ::closedir(fds);
    return found;
}

} // namespace

void keepInheritedDescriptorsHere() {
    DIR* fds = ::opendir("/proc/self/fd");
    if (!fds) return;
    while (const dirent* entry = ::readdir(fds)) {
        const int fd = QByteArray(entry->d_name).toInt();
        if (fd > STDERR_FILENO && fd != ::dirfd(fds)) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    ::closedir(fds);
}

InstanceLock::~InstanceLock() {
    if (fd_ >= 0) ::close(fd_);
}

FolderLock InstanceLock::take(const QString& folder) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = takeInheritedClaim(folder);
    if (fd_ >= 0) return FolderLock::Taken;
    return lockDataFolder(folder, false, &fd_);
}
