#pragma once

#include <QString>
#include <QtGlobal>

// The calls of FTDI's D2XX library that cable discovery makes, under the library's own
// names, status values and buffer sizes. Each platform supplies them in a file of its own
// (D2xxLinux.cpp reads the USB serial devices from sysfs).

using FT_STATUS = quint32;
using FT_HANDLE = void*;

enum : FT_STATUS {
    FT_OK = 0,
    FT_INVALID_HANDLE = 1,
    FT_DEVICE_NOT_FOUND = 2,
    FT_DEVICE_NOT_OPENED = 3,
    FT_IO_ERROR = 4,
    FT_INVALID_PARAMETER = 6,
};

// Bit 0 of a device's flags: some program holds the device open.
constexpr quint32 FT_FLAGS_OPENED = 1;

// Buffer sizes of FT_GetDeviceInfoDetail, NUL included.
constexpr int kFtSerialNumberSize = 16;
constexpr int kFtDescriptionSize = 64;

FT_STATUS FT_GetLibraryVersion(quint32* version);
// Takes a fresh snapshot of the attached FTDI devices; the calls below index into it.
FT_STATUS FT_CreateDeviceInfoList(quint32* deviceCount);
FT_STATUS FT_GetDeviceInfoDetail(quint32 index, quint32* flags, quint32* type, quint32* id,
                                 quint32* locationId, char* serialNumber, char* description,
                                 FT_HANDLE* handle);
FT_STATUS FT_Open(int deviceNumber, FT_HANDLE* handle);
FT_STATUS FT_GetDriverVersion(FT_HANDLE handle, quint32* version);
FT_STATUS FT_GetComPortNumber(FT_HANDLE handle, qint32* comPortNumber);
FT_STATUS FT_Close(FT_HANDLE handle);

// Beyond the library: the program that holds listed device <index> open, as a log line such
// as "ttyUSB0 is held by ModemManager (pid 812)"; empty when none can be seen.
QString holderOfDevice(quint32 index);
// Whether that program only holds a lock file on the device ("ttyUSB0 is locked by ...").
bool deviceOnlyLocked(quint32 index);
