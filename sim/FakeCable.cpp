#include "FakeCable.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

bool fail(QString* error, const QString& text) {
    if (error) *error = text;
    return false;
}

// sysfs attributes end with a line feed.
bool writeAttribute(const QString& path, const QString& value, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(value.toUtf8() + '\n') < 0)
        return fail(error, QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
    return true;
}

} // namespace

bool addFakeUsbSerialDevice(const QString& sysfsRoot, const FakeUsbDevice& device, QString* error) {
    const QString tty = QStringLiteral("ttyUSB%1").arg(device.port);
    // One root hub port per device, named after the tty so that devices never share a folder.
    const QString usbDevice =
        sysfsRoot + QStringLiteral("/devices/pci0000:00/0000:00:14.0/usb1/1-%1").arg(device.port);
    const QString portFolder = usbDevice + QStringLiteral("/1-%1:1.0/").arg(device.port) + tty;
    const QString links = sysfsRoot + QStringLiteral("/bus/usb-serial/devices");
    const QString link = links + QLatin1Char('/') + tty;

    if (QFileInfo(link).exists() || QFileInfo(link).isSymLink())
        return fail(error, QStringLiteral("%1 is already present").arg(link));
    if (!QDir().mkpath(portFolder) || !QDir().mkpath(links))
        return fail(error, QStringLiteral("Cannot create the folders of %1").arg(tty));

    const QList<std::pair<QString, QString>> attributes = {
        {QStringLiteral("idVendor"), device.vendorId},
        {QStringLiteral("idProduct"), device.productId},
        {QStringLiteral("product"), device.description},
        {QStringLiteral("serial"), device.serial}};
    for (const auto& [name, value] : attributes) {
        if (!value.isEmpty() && !writeAttribute(usbDevice + QLatin1Char('/') + name, value, error))
            return false;
    }

    // Relative, as the kernel makes it, so the tree can be moved or bind-mounted.
    const QString target = QDir(links).relativeFilePath(portFolder);
    QFile targetFile(target);
    if (!targetFile.link(link))
        return fail(error,
                    QStringLiteral("Cannot link %1: %2").arg(link, targetFile.errorString()));
    return true;
}
