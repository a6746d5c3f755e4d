#pragma once

#include <sys/types.h>

#include <QByteArray>
#include <QString>

// Where the USB serial devices live: /sys and /dev, or the folders that VANTREL_SYSFS_ROOT and
// VANTREL_DEV_ROOT name (the simulated cable). The cable search, the port and the latency
// timer must agree on them, so they are worked out here only.
QString sysfsRoot();
// The sysfs folder that lists the usb-serial devices (ttyUSB0, ...).
QString usbSerialDevicesFolder();
// The device node of port N: <dev>/ttyUSB<N>.
QString ttyUsbNode(int port);
// The start of a small regular file, at most 4096 bytes (a sysfs attribute is at most one
// page): a hand-made tree may link an attribute to an endless file such as /dev/zero, and a
// FIFO would block. Empty when the file cannot be read; `owner` gets the file's owner.
QByteArray readSmallFile(const QString& path, uid_t* owner = nullptr);
