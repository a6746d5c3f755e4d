#include "DevicePaths.h"

#include <QDir>
#include <QFile>

namespace {
// An empty variable counts as unset.
QString RootFromEnvironment(const char* name, const QString& fallback) {
    const QString value = qEnvironmentVariable(name);
    return value.isEmpty() ? fallback : value;
}
} // namespace

QString SysfsRoot() {
    return RootFromEnvironment("VANTREL_SYSFS_ROOT", QStringLiteral("/sys"));
}

QString UsbSerialDevicesFolder() {
    return QDir(SysfsRoot()).filePath(QStringLiteral("bus/usb-serial/devices"));
}

QString TtyUsbNode(int port) {
    const QDir root(RootFromEnvironment("VANTREL_DEV_ROOT", QStringLiteral("/dev")));
    return root.filePath(QStringLiteral("ttyUSB%1").arg(port));
}

QByteArray ReadSmallFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) return {};
    return file.read(4096);
}
