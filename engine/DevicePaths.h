#pragma once

#include <QString>

// Where the USB serial devices live: /sys and /dev, or the folders that VANTREL_SYSFS_ROOT and
// VANTREL_DEV_ROOT name (the simulated cable). The cable search, the port and the latency
// timer must agree on them, so they are worked out here only.
QString SysfsRoot();
// The sysfs folder that lists the usb-serial devices (ttyUSB0, ...).
QString UsbSerialDevicesFolder();
// The device node of port N: <dev>/ttyUSB<N>.
QString TtyUsbNode(int port);
