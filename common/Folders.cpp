#include "Folders.h"

#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString withoutTrailingSeparator(const QString& path) {
    QString result = path;
    while (result.endsWith(QLatin1Char('/')))
        result.chop(1);
    return result;
}

// mkdir, with "the name is taken already" counted as success: the caller only needs the
// levels to be there, and a name held by a file cannot become a folder anyway.
bool makeOneFolder(const QString& folder, QString* error) {
    const QByteArray name = QFile::encodeName(folder);
    if (::mkdir(name.constData(), 0777) == 0) return true;
    const int reason = errno;
    struct stat info;
    if (reason == EEXIST || ::lstat(name.constData(), &info) == 0) return true;
    if (error)
        *error = QStringLiteral("Can't create folder %1: %2")
                     .arg(folder, QString::fromLocal8Bit(std::strerror(reason)));
    return false;
}

} // namespace

QString getSpecialFolder(int folderId) {
    QStandardPaths::StandardLocation location;
    switch (folderId) {
    case CSIDL_PERSONAL:
        location = QStandardPaths::DocumentsLocation;
        break;
    case CSIDL_COMMON_APPDATA:
        location = QStandardPaths::GenericDataLocation;
        break;
    default:
        return QString();
    }
    return withoutTrailingSeparator(QStandardPaths::writableLocation(location));
}

QString dataFolderPath() {
    return getSpecialFolder(CSIDL_COMMON_APPDATA) + QStringLiteral("/Fenwright/Vantrel PC");
}

bool makeFolderPath(const QString& path, QString* error) {
    const QString walked = path + QLatin1Char('/');
    for (qsizetype position = walked.indexOf(QLatin1Char('/')); position >= 0;
         position = walked.indexOf(QLatin1Char('/'), position + 1)) {
        // The first level of an absolute path is the empty name before the root.
        if (position == 0) continue;
        if (!makeOneFolder(walked.left(position), error)) return false;
    }
    return true;
}

namespace {

constexpr int kLockTries = 10; // 200 ms

int openFolder(const QString& folder, bool inheritable) {
    return ::open(QFile::encodeName(folder).constData(),
                  O_RDONLY | O_DIRECTORY | O_NONBLOCK | (inheritable ? 0 : O_CLOEXEC));
}

bool noSuchFolder(int error) {
    return error == ENOENT || error == ENOTDIR;
}

} // namespace

FolderLock lockDataFolder(const QString& folder, bool inheritable, int* fd) {
    const int held = openFolder(folder, inheritable);
    if (held < 0) return noSuchFolder(errno) ? FolderLock::NoFolder : FolderLock::Unlockable;
    // A program that only looks holds the lock for a moment.
    for (int tries = kLockTries; ::flock(held, LOCK_EX | LOCK_NB) != 0;) {
        if (errno != EWOULDBLOCK || --tries == 0) {
            const bool busy = errno == EWOULDBLOCK;
            ::close(held);
            return busy ? FolderLock::Held : FolderLock::NoLocks;
        }
        ::usleep(20000);
    }
    *fd = held;
    return FolderLock::Taken;
}

DataFolderClaim::DataFolderClaim(const QString& folder) {
    result_ = lockDataFolder(folder, true, &fd_);
}

DataFolderClaim::~DataFolderClaim() {
    if (fd_ >= 0) ::close(fd_);
}

bool engineHoldsDataFolder(const QString& dataFolder) {
    const int fd = openFolder(dataFolder, false);
    if (fd < 0) return !noSuchFolder(errno);
    const bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd); // drops the probe's own lock at once
    return held;
}
