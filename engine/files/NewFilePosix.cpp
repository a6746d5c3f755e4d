#include "NewFile.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kTemporaryNameTries = 100;
const QByteArray kTemporaryPrefix = ".VNPC-", kTemporarySuffix = ".part";
// Younger than this, a temporary file may have been created a moment ago and not be
// locked yet.
constexpr time_t kFreshSeconds = 10;

int writeAll(int fd, const QByteArray& data) {
    const char* next = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, next, static_cast<size_t>(left));
        if (written < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        next += written;
        left -= written;
    }
    return ::fsync(fd) == 0 ? 0 : errno;
}

// A hidden name of its own in the download's folder: whatever is left there after a crash
// does not look like a download.
int createTemporary(const QByteArray& folder, QByteArray& name) {
    for (int tries = 0; tries < kTemporaryNameTries; ++tries) {
        name = folder + '/' + kTemporaryPrefix +
               QByteArray::number(QRandomGenerator::global()->generate(), 16) + kTemporarySuffix;
        const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        // Locked while it is being written and named: a later clean-up leaves it alone.
        if (fd >= 0) ::flock(fd, LOCK_EX | LOCK_NB);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EAGAIN; // not EEXIST: that would send the caller on to the next free name
    return -1;
}

// The errors of a file system that lacks the call (link: FAT; rename without replacing:
// VirtualBox shared folders, FUSE file systems such as exfat-fuse).
bool cannotLink(int error) {
    return error == EPERM || error == EOPNOTSUPP || error == ENOSYS;
}
bool cannotRenameSafely(int error) {
    return error == EINVAL || error == EOPNOTSUPP || error == ENOSYS;
}

// The last way: the name is created exclusively and the data written there. A failure
// removes what was begun, which is ours alone.
int createInPlace(const QByteArray& name, const QByteArray& data) {
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return errno;
    int error = writeAll(fd, data);
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error != 0) ::unlink(name.constData());
    return error;
}

// Gives the written file its name, never in place of an existing one.
int giveName(const QByteArray& temporary, const QByteArray& name, const QByteArray& data,
             Naming first, bool& renamed) {
    if (first == Naming::HardLink) {
        if (::link(temporary.constData(), name.constData()) == 0) return 0;
        if (!cannotLink(errno)) return errno;
    }
    if (first != Naming::CreateInPlace) {
        if (::renameat2(AT_FDCWD, temporary.constData(), AT_FDCWD, name.constData(),
                        RENAME_NOREPLACE) == 0) {
            renamed = true;
            return 0;
        }
        if (!cannotRenameSafely(errno)) return errno;
    }
    return createInPlace(name, data);
}

// A regular file that nobody holds locked (its writer has ended) and that is not new.
bool isLeftOver(int folder, const QByteArray& name) {
    const int fd =
        ::openat(folder, name.constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat info {};
    const bool leftOver = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
                          info.st_mtime < ::time(nullptr) - kFreshSeconds &&
                          ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return leftOver;
}

// The new name itself must reach the disk too, or the file can vanish in a power cut.
void syncFolder(const QByteArray& folder) {
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

} // namespace

// Written in full under a temporary name first: a crash or a power cut half-way leaves no
// cut-off file under the download's name.
int writeNewFile(const QString& path, const QByteArray& data, Naming first) {
    const QByteArray name = QFile::encodeName(path);
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    QByteArray temporary;
    const int fd = createTemporary(folder, temporary);
    if (fd < 0) return errno;
    int error = writeAll(fd, data);
    bool renamed = false;
    if (error == 0) error = giveName(temporary, name, data, first, renamed);
    if (!renamed) ::unlink(temporary.constData());
    ::close(fd); // after the fsync, a close reports nothing new
    if (error == 0) syncFolder(folder);
    return error;
}

int removeLeftoverTemporaries(const QString& folder) {
    const QByteArray path = QFile::encodeName(folder);
    DIR* dir = ::opendir(path.constData());
    if (!dir) return 0;
    int removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name.startsWith(kTemporaryPrefix) && name.endsWith(kTemporarySuffix) &&
            isLeftOver(::dirfd(dir), name) && ::unlinkat(::dirfd(dir), name.constData(), 0) == 0)
            ++removed;
    }
    ::closedir(dir);
    return removed;
}

bool isNameOrFolderError(int error) {
    switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
    case EINVAL:
    case EILSEQ:
        return true;
    default:
        return false;
    }
}

QString errorDescription(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}
