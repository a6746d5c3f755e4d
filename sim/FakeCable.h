#pragma once

#include <QString>

// A USB serial adapter as Linux shows it in sysfs, for running the engine without hardware.
struct FakeUsbDevice {
    QString description = QStringLiteral("Vantrel PC Cable"); // the USB "product" string
    QString vendorId = QStringLiteral("0403");
    QString productId = QStringLiteral("6001");
    QString serial = QStringLiteral("VT000001");
    int port = 3; // ttyUSB<port>
};

// Lays the device out under sysfsRoot as Linux does (a USB device folder with idVendor,
// idProduct, product, serial; an interface folder below it; the port folder ttyUSB<N> below
// that; bus/usb-serial/devices/ttyUSB<N> as a relative link to the port folder).
// An empty description or serial leaves that file out, as for a device without the string.
bool addFakeUsbSerialDevice(const QString& sysfsRoot, const FakeUsbDevice& device,
                            QString* error = nullptr);
