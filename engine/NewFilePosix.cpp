#include "NewFile.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kTemporaryNameTries = 100;

int WriteAll(int fd, const QByteArray& data) {
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
int CreateTemporary(const QByteArray& folder, QByteArray& name) {
    for (int tries = 0; tries < kTemporaryNameTries; ++tries) {
        name = folder + "/.VNPC-" + QByteArray::number(QRandomGenerator::global()->generate(), 16) +
               ".part";
        const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EAGAIN; // not EEXIST: that would send the caller on to the next free name
    return -1;
}

// Gives the written file its name, never in place of an existing one. File systems without
// hard links (FAT on a memory stick) can still rename without replacing.
int GiveName(const QByteArray& temporary, const QByteArray& name, bool& renamed) {
    if (::link(temporary.constData(), name.constData()) == 0) return 0;
    if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS) return errno;
    if (::renameat2(AT_FDCWD, temporary.constData(), AT_FDCWD, name.constData(),
                    RENAME_NOREPLACE) != 0)
        return errno;
    renamed = true;
    return 0;
}

// The new name itself must reach the disk too, or the file can vanish in a power cut.
void SyncFolder(const QByteArray& folder) {
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

} // namespace

// Written in full under a temporary name first: a crash or a power cut half-way leaves no
// cut-off file under the download's name.
int WriteNewFile(const QString& path, const QByteArray& data) {
    const QByteArray name = QFile::encodeName(path);
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    QByteArray temporary;
    const int fd = CreateTemporary(folder, temporary);
    if (fd < 0) return errno;
    int error = WriteAll(fd, data);
    if (::close(fd) != 0 && error == 0) error = errno;
    bool renamed = false;
    if (error == 0) error = GiveName(temporary, name, renamed);
    if (!renamed) ::unlink(temporary.constData());
    if (error == 0) SyncFolder(folder);
    return error;
}

bool IsNameOrFolderError(int error) {
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

QString ErrorDescription(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}
