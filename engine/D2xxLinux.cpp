#include "D2xx.h"
#include "DevicePaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <vector>

// FTDI adapters on Linux are driven by the kernel's ftdi_sio driver and appear as
// ttyUSB<N>; this layer answers the D2XX calls from sysfs and /proc instead of the chip.

namespace {

// Version of this layer, in the library's 0x00MMmmbb form (1.0.0).
constexpr quint32 kLibraryVersion = 0x00010000;
// Used only when neither the driver nor the kernel tells its version.
constexpr quint32 kFallbackDriverVersion = 0x00010000;

const QByteArray kFtdiVendor = "0403";

// Values of the library's device-type enumeration for the chips a cable is made from.
constexpr quint32 kTypeUnknown = 3;
constexpr quint32 kType232R = 5;
constexpr quint32 kTypeXSeries = 9;

struct ListedDevice {
    qint32 port = 0;
    quint32 id = 0;
    quint32 type = kTypeUnknown;
    QByteArray serial;
    QByteArray description;
    bool open = false;
};

struct OpenDevice {
    qint32 port = 0;
};

std::vector<ListedDevice>& deviceList() {
    static std::vector<ListedDevice> list;
    return list;
}

std::vector<std::unique_ptr<OpenDevice>>& openDevices() {
    static std::vector<std::unique_ptr<OpenDevice>> devices;
    return devices;
}

// A sysfs attribute without the line end the kernel adds; empty when absent.
QByteArray readAttribute(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    QByteArray value = file.readAll();
    if (value.endsWith('\n')) value.chop(1);
    return value;
}

// A name made of decimal digits only, or -1.
qint32 numberOf(QStringView digits) {
    if (digits.isEmpty() || digits.size() > 9) return -1;
    if (!std::all_of(digits.begin(), digits.end(), [](QChar c) { return c.isDigit(); })) return -1;
    return digits.toInt();
}

// N of "ttyUSB<N>", or -1 for any other name.
qint32 portOfName(const QString& name) {
    const QLatin1String prefix("ttyUSB");
    return name.startsWith(prefix) ? numberOf(QStringView(name).mid(prefix.size())) : -1;
}

constexpr QDir::Filters kAnyEntry = QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot;

quint32 typeOfProduct(const QByteArray& productId) {
    if (productId == "6001") return kType232R;
    if (productId == "6015") return kTypeXSeries;
    return kTypeUnknown;
}

// The USB device behind a port: the port folder's parent is the interface, its parent the device.
bool readDevice(const QString& link, qint32 port, ListedDevice* device) {
    const QString portFolder = QFileInfo(link).canonicalFilePath();
    if (portFolder.isEmpty()) return false;
    QDir usb(portFolder);
    if (!usb.cdUp() || !usb.cdUp()) return false;
    if (readAttribute(usb.filePath(QStringLiteral("idVendor"))).toLower() != kFtdiVendor)
        return false;
    const QByteArray productId = readAttribute(usb.filePath(QStringLiteral("idProduct")));
    device->port = port;
    device->id = (kFtdiVendor.toUInt(nullptr, 16) << 16) | productId.toUInt(nullptr, 16);
    device->type = typeOfProduct(productId);
    device->serial = readAttribute(usb.filePath(QStringLiteral("serial")));
    device->description = readAttribute(usb.filePath(QStringLiteral("product")));
    return true;
}

// Identity of a device node; character devices are one device however many nodes name them.
struct NodeId {
    bool valid = false;
    bool characterDevice = false;
    dev_t device = 0;
    ino_t inode = 0;
    dev_t rdev = 0;

    bool sameAs(const NodeId& other) const {
        if (!valid || !other.valid || characterDevice != other.characterDevice) return false;
        return characterDevice ? rdev == other.rdev
                               : (device == other.device && inode == other.inode);
    }
};

NodeId nodeIdOf(const QString& path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) return {};
    return {true, S_ISCHR(info.st_mode), info.st_dev, info.st_ino, info.st_rdev};
}

bool isOtherLiveProcess(qint64 pid) {
    if (pid <= 0 || pid == QCoreApplication::applicationPid()) return false;
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

// Processes whose open files can be seen (our own user's; all when run as root). Our own
// descriptors do not count: the engine itself may hold the port.
std::vector<NodeId> nodesHeldByOthers() {
    std::vector<NodeId> held;
    const QString self = QString::number(QCoreApplication::applicationPid());
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(kAnyEntry, QDir::Unsorted);
    for (const QString& pid : pids) {
        if (pid == self || numberOf(pid) < 0) continue;
        const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
        for (const QString& fd : fds.entryList(kAnyEntry, QDir::Unsorted))
            held.push_back(nodeIdOf(fds.filePath(fd)));
    }
    return held;
}

// Serial programs (QSerialPort among them) take a UUCP lock file holding their pid.
bool isLockedByOther(qint32 port) {
    for (const char* folder : {"/run/lock", "/var/lock"}) {
        QFile lock(QStringLiteral("%1/LCK..ttyUSB%2").arg(QLatin1String(folder)).arg(port));
        if (lock.open(QIODevice::ReadOnly) &&
            isOtherLiveProcess(lock.readLine().trimmed().toLongLong()))
            return true;
    }
    return false;
}

void markOpenDevices(std::vector<ListedDevice>& devices) {
    for (ListedDevice& device : devices)
        device.open = isLockedByOther(device.port);
    if (std::all_of(devices.begin(), devices.end(), [](const auto& d) { return d.open; })) return;
    const std::vector<NodeId> held = nodesHeldByOthers();
    for (ListedDevice& device : devices) {
        const NodeId node = nodeIdOf(TtyUsbNode(device.port));
        device.open = device.open || std::any_of(held.begin(), held.end(),
                                                 [&](const NodeId& h) { return node.sameAs(h); });
    }
}

OpenDevice* openDevice(FT_HANDLE handle) {
    for (const auto& device : openDevices())
        if (device.get() == handle) return device.get();
    return nullptr;
}

void copyText(const QByteArray& text, char* buffer, int size) {
    if (!buffer) return;
    const qsizetype length = std::min<qsizetype>(text.size(), size - 1);
    std::memcpy(buffer, text.constData(), size_t(length));
    buffer[length] = '\0';
}

// "v1.6.0" or "6.1.0-18-amd64" as 0x00MMmmbb; 0 when it does not start with two numbers.
quint32 versionNumber(QByteArray text) {
    if (text.startsWith('v') || text.startsWith('V')) text.remove(0, 1);
    const QList<QByteArray> parts = text.split('.');
    quint32 version = 0;
    int numbers = 0;
    for (int i = 0; i < 3; ++i) {
        const QByteArray part = i < parts.size() ? parts[i] : QByteArray();
        const qsizetype digits =
            std::find_if(part.begin(), part.end(), [](char c) { return c < '0' || c > '9'; }) -
            part.begin();
        numbers += digits > 0 ? 1 : 0;
        version = (version << 8) | std::min(part.left(digits).toUInt(), 255u);
    }
    return numbers >= 2 ? version : 0;
}

} // namespace

FT_STATUS FT_GetLibraryVersion(quint32* version) {
    if (!version) return FT_INVALID_PARAMETER;
    *version = kLibraryVersion;
    return FT_OK;
}

FT_STATUS FT_CreateDeviceInfoList(quint32* deviceCount) {
    if (!deviceCount) return FT_INVALID_PARAMETER;
    deviceList().clear();
    *deviceCount = 0;
    // Without the usb-serial bus (module not loaded) there is simply no device.
    const QDir folder(UsbSerialDevicesFolder());
    if (!folder.exists()) return FT_OK;
    if (!QFileInfo(folder.path()).isReadable()) return FT_IO_ERROR;

    std::vector<ListedDevice> devices;
    for (const QString& name : folder.entryList(kAnyEntry, QDir::Unsorted)) {
        ListedDevice device;
        const qint32 port = portOfName(name);
        if (port >= 0 && readDevice(folder.filePath(name), port, &device))
            devices.push_back(device);
    }
    std::sort(devices.begin(), devices.end(),
              [](const auto& a, const auto& b) { return a.port < b.port; });
    markOpenDevices(devices);
    deviceList() = devices;
    *deviceCount = quint32(devices.size());
    return FT_OK;
}

FT_STATUS FT_GetDeviceInfoDetail(quint32 index, quint32* flags, quint32* type, quint32* id,
                                 quint32* locationId, char* serialNumber, char* description,
                                 FT_HANDLE* handle) {
    if (index >= deviceList().size()) return FT_DEVICE_NOT_FOUND;
    const ListedDevice& device = deviceList()[index];
    if (flags) *flags = device.open ? FT_FLAGS_OPENED : 0;
    if (type) *type = device.type;
    if (id) *id = device.id;
    if (locationId) *locationId = 0; // the port number already tells the devices apart
    if (handle) *handle = nullptr;
    copyText(device.serial, serialNumber, kFtSerialNumberSize);
    copyText(device.description, description, kFtDescriptionSize);
    return FT_OK;
}

FT_STATUS FT_Open(int deviceNumber, FT_HANDLE* handle) {
    if (!handle) return FT_INVALID_PARAMETER;
    *handle = nullptr;
    if (deviceNumber < 0 || size_t(deviceNumber) >= deviceList().size()) return FT_DEVICE_NOT_FOUND;
    const qint32 port = deviceList()[size_t(deviceNumber)].port;
    if (!QFileInfo::exists(TtyUsbNode(port))) return FT_DEVICE_NOT_OPENED;
    openDevices().push_back(std::make_unique<OpenDevice>(OpenDevice{port}));
    *handle = openDevices().back().get();
    return FT_OK;
}

// The driver is the kernel's ftdi_sio: its own version when it has one, else the kernel's.
FT_STATUS FT_GetDriverVersion(FT_HANDLE handle, quint32* version) {
    if (!openDevice(handle)) return FT_INVALID_HANDLE;
    if (!version) return FT_INVALID_PARAMETER;
    quint32 found =
        versionNumber(readAttribute(SysfsRoot() + QStringLiteral("/module/ftdi_sio/version")));
    if (found == 0) found = versionNumber(QSysInfo::kernelVersion().toLatin1());
    *version = found != 0 ? found : kFallbackDriverVersion;
    return FT_OK;
}

FT_STATUS FT_GetComPortNumber(FT_HANDLE handle, qint32* comPortNumber) {
    const OpenDevice* device = openDevice(handle);
    if (!device) return FT_INVALID_HANDLE;
    if (!comPortNumber) return FT_INVALID_PARAMETER;
    *comPortNumber = device->port;
    return FT_OK;
}

FT_STATUS FT_Close(FT_HANDLE handle) {
    auto& devices = openDevices();
    const auto found = std::find_if(devices.begin(), devices.end(),
                                    [&](const auto& device) { return device.get() == handle; });
    if (found == devices.end()) return FT_INVALID_HANDLE;
    devices.erase(found);
    return FT_OK;
}
