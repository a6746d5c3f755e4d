#include "NewFile.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

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

// The new name itself must reach the disk too, or the file can vanish in a power cut.
void SyncFolderOf(const QString& path) {
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

} // namespace

int WriteNewFile(const QString& path, const QByteArray& data) {
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return errno;
    int error = WriteAll(fd, data);
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error != 0)
        ::unlink(name.constData());
    else
        SyncFolderOf(path);
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
