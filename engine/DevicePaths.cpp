#include "DevicePaths.h"

#include <QDir>

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
