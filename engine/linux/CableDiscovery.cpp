#include "CableDiscovery.h"

#include "DownloadSettings.h"
#include "MessageBox.h"
#include "MessageLog.h"
#include "StatusFile.h"

#include <QByteArray>
#include <QString>
#include <algorithm>
#include <exception>
#include <iterator>
#include <system_error>

namespace {

// The descriptions programmed into the cables' chips, matched whole and case-sensitively.
const QByteArray kAcceptedDescriptions[] = {"Vantrel PC Cable", "USB Tacho Download Adapter"};

struct DeviceWalk {
    int match = -1;
    bool matchOpen = false;
};

DeviceWalk walkDevices(MessageLog& log, quint32 count) {
    DeviceWalk walk;
    for (quint32 index = 0; index < count; ++index) {
        quint32 flags = 0, type = 0, id = 0, location = 0;
        char serial[kFtSerialNumberSize] = {};
        char description[kFtDescriptionSize] = {};
        FT_HANDLE handle = nullptr;
        if (FT_GetDeviceInfoDetail(index, &flags, &type, &id, &location, serial, description,
                                   &handle) != FT_OK)
            flags = 0;
        description[kFtDescriptionSize - 1] = '\0';
        const QByteArray text(description);
        const bool open = flags & FT_FLAGS_OPENED;
        if (std::find(std::begin(kAcceptedDescriptions), std::end(kAcceptedDescriptions), text) !=
            std::end(kAcceptedDescriptions)) {
            walk.match = int(index);
            walk.matchOpen = open;
            log.line(QStringLiteral("VantrelPC cable at index %1").arg(index) +
                     (open ? QStringLiteral(" - Open") : QStringLiteral(" - Closed")));
        } else {
            log.line(QString::fromUtf8(text));
        }
    }
    return walk;
}

// A box may be open when the engine is closed; after it nothing more is reported.
bool showBox(const CableState& cable, const QString& text) {
    showMessageBox(text);
    return !(cable.closed && cable.closed());
}

// Linux tells the cable's description even while another program (ModemManager, a serial
// terminal) has its tty open, so the cable is found: the user is told to re-plug it. A
// program that only holds a lock on it is named instead: re-plugging does not end that.
void reportHeldOpen(MessageLog& log, StatusFile& status, const CableState& cable, int index) {
    const QString holder = holderOfDevice(quint32(index));
    if (!holder.isEmpty()) log.line(holder);
    const QString text = deviceOnlyLocked(quint32(index))
                             ? holder
                             : QStringLiteral("Please disconnect your VantrelPC cable from your "
                                              "computer and reconnect it.\r\n"
                                              "Wait a few seconds and then restart the Vantrel "
                                              "Base application.");
    if (showBox(cable, text))
        status.writeStatus(QStringLiteral("Failed - maybe USB device is open"));
}

qint32 endedDuringBox(CableState& cable) {
    cable.engineMustEnd = true;
    return FT_IO_ERROR;
}

void reportNoCable(MessageLog& log, StatusFile& status, const CableState& cable) {
    if (!showBox(cable, noCableText())) return;
    status.writeStatus(QStringLiteral("Failed"));
    log.line(QStringLiteral("Can't find a VantrelPC cable"));
}

qint32 closeCable(MessageLog& log, CableState& cable) {
    const FT_STATUS closed = FT_Close(cable.cableHandle);
    cable.cableHandle = nullptr;
    if (closed != FT_OK) log.line(QStringLiteral("Close Failed"));
    return qint32(closed);
}

// Reads what the start-up needs from the open cable and closes it again.
qint32 readOpenCable(MessageLog& log, CableState& cable) {
    quint32 driverVersion = 0;
    const FT_STATUS driver = FT_GetDriverVersion(cable.cableHandle, &driverVersion);
    if (driver != FT_OK) {
        log.line(QStringLiteral("Couldn't get Driver Version - return value %1").arg(driver));
        showBox(cable, QStringLiteral("Please update the USB driver for the VantrelPC cable"));
        return qint32(driver);
    }
    log.line(QStringLiteral("Driver Version - ") + hexText(driverVersion));

    const FT_STATUS port = FT_GetComPortNumber(cable.cableHandle, &cable.comPortNumber);
    if (port != FT_OK) {
        log.line(QStringLiteral("Get port number failed - return value %1").arg(port));
        closeCable(log, cable);
        return 1;
    }
    log.line(QStringLiteral("Com port - %1").arg(cable.comPortNumber));
    return closeCable(log, cable);
}

qint32 findCable(MessageLog& log, StatusFile& status, CableState& cable) {
    quint32 libraryVersion = 0;
    if (FT_GetLibraryVersion(&libraryVersion) == FT_OK)
        log.line(QStringLiteral("DLL Version - ") + hexText(libraryVersion));
    else if (!showBox(cable, QStringLiteral("Couldn't get USB Library Version")))
        return endedDuringBox(cable);

    quint32 count = 0;
    const FT_STATUS listed = FT_CreateDeviceInfoList(&count);
    if (listed == FT_OK) {
        log.line(QStringLiteral("FT_CreateDeviceInfoList, number of devices - %1").arg(count));
    } else {
        if (!showBox(cable,
                     QStringLiteral("FT_CreateDeviceInfoList - return value %1").arg(listed)))
            return endedDuringBox(cable);
        count = 0;
    }

    const DeviceWalk walk = walkDevices(log, count);
    if (walk.match < 0) {
        reportNoCable(log, status, cable);
        cable.engineMustEnd = true;
        return FT_DEVICE_NOT_FOUND;
    }
    if (walk.matchOpen) {
        reportHeldOpen(log, status, cable, walk.match);
        cable.engineMustEnd = true;
        return FT_DEVICE_NOT_OPENED;
    }

    const FT_STATUS opened = FT_Open(walk.match, &cable.cableHandle);
    if (opened != FT_OK) {
        cable.cableHandle = nullptr;
        log.line(QStringLiteral("Open Failed"));
        return qint32(opened);
    }
    log.line(QStringLiteral("FT_Open succeeded"));
    return readOpenCable(log, cable);
}

} // namespace

QString noCableText() {
    return DownloadSettings::language == QLatin1String("DE")
               ? QStringLiteral("Kein VantrelPC-Kabel angeschlossen")
               : QStringLiteral("Can't find a VantrelPC cable");
}

qint32 locateCable(MessageLog& log, StatusFile& status, CableState& cable) {
    cable.engineMustEnd = false;
    try {
        return findCable(log, status, cable);
    } catch (const std::exception& failure) {
        const auto* system = dynamic_cast<const std::system_error*>(&failure);
        // Without a status line the front end would wait for this engine forever.
        if (showBox(cable, QStringLiteral("FT dll problem\r\n%1 - %2")
                               .arg(system ? system->code().value() : 0)
                               .arg(QString::fromLocal8Bit(failure.what()))))
            status.writeStatus(QStringLiteral("Failed"));
        cable.engineMustEnd = true;
        return 1;
    }
}
