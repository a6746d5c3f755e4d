#include "DevicePaths.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// An empty variable counts as unset.
QString rootFromEnvironment(const char* name, const QString& fallback) {
    const QString value = qEnvironmentVariable(name);
    return value.isEmpty() ? fallback : value;
}
} // namespace

QString sysfsRoot() {
    return rootFromEnvironment("VANTREL_SYSFS_ROOT", QStringLiteral("/sys"));
}

QString usbSerialDevicesFolder() {
    return QDir(sysfsRoot()).filePath(QStringLiteral("bus/usb-serial/devices"));
}

QString ttyUsbNode(int port) {
    const QDir root(rootFromEnvironment("VANTREL_DEV_ROOT", QStringLiteral("/dev")));
    return root.filePath(QStringLiteral("ttyUSB%1").arg(port));
}

QByteArray readSmallFile(const QString& path, uid_t* owner) {
    // Never blocks: a FIFO or a device planted under a lock file's name is not read at all.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return {};
    struct stat info {};
    QByteArray text;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        text.resize(4096);
        const ssize_t length = ::read(fd, text.data(), size_t(text.size()));
        text.resize(length > 0 ? length : 0);
        if (owner) *owner = info.st_uid;
    }
    ::close(fd);
    return text;
}
