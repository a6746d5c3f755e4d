#include "D2xx.h"
#include "DevicePaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
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
    qint64 holder = 0;     // another process that holds the tty open or has locked it
    bool lockOnly = false; // the holder has locked the tty and is not seen to hold it open
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
    QByteArray value = readSmallFile(path);
    if (value.endsWith('\n')) value.chop(1);
    return value;
}

// A number as the kernel writes one (ASCII digits, no leading zero), or -1.
qint64 numberOf(QStringView digits) {
    if (digits.isEmpty() || digits.size() > 9 || (digits.size() > 1 && digits[0] == u'0'))
        return -1;
    qint64 number = 0;
    for (const QChar c : digits) {
        if (c < u'0' || c > u'9') return -1;
        number = number * 10 + (c.unicode() - u'0');
    }
    return number;
}

// N of "ttyUSB<N>", or -1 for any other name.
qint32 portOfName(const QString& name) {
    const QLatin1String prefix("ttyUSB");
    return name.startsWith(prefix) ? qint32(numberOf(QStringView(name).mid(prefix.size()))) : -1;
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

bool isOtherLiveProcess(qint64 pid) {
    if (pid <= 0 || pid == QCoreApplication::applicationPid()) return false;
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

// One open file of another process: where its descriptor link points.
struct OpenFile {
    qint64 pid = 0;
    QByteArray target;
};

// The names in a folder, read with readdir() alone: classifying them the way QDir does may
// stat() what a /proc descriptor link points to.
std::vector<QByteArray> namesIn(const QByteArray& folder) {
    std::vector<QByteArray> names;
    DIR* dir = ::opendir(folder.constData());
    if (!dir) return names;
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
    return names;
}

// The files that process pid holds open. Only the links are read: a stat() of every target
// could hang on a dead network mount.
void addOpenFiles(qint64 pid, std::vector<OpenFile>& files) {
    const QByteArray fds = "/proc/" + QByteArray::number(pid) + "/fd/";
    for (const QByteArray& fd : namesIn(fds)) {
        char target[PATH_MAX];
        const ssize_t length = ::readlink((fds + fd).constData(), target, sizeof target);
        if (length > 0 && length < ssize_t(sizeof target) && target[0] == '/')
            files.push_back({pid, QByteArray(target, length)});
    }
}

// The files other processes hold open that can be seen (our own user's; all when run as
// root). Our own descriptors do not count: the engine itself may hold the port.
std::vector<OpenFile> filesOpenElsewhere() {
    std::vector<OpenFile> files;
    for (const QByteArray& name : namesIn("/proc")) {
        const qint64 pid = numberOf(QString::fromLatin1(name));
        if (pid > 0 && pid != QCoreApplication::applicationPid()) addOpenFiles(pid, files);
    }
    return files;
}

// The node's own path, and for a character device its device number: another node in /dev
// may name the same tty.
struct PortNode {
    QByteArray path;
    bool characterDevice = false;
    dev_t rdev = 0;
};

PortNode portNode(qint32 port) {
    PortNode node;
    node.path = QFile::encodeName(QFileInfo(ttyUsbNode(port)).canonicalFilePath());
    struct stat info {};
    if (!node.path.isEmpty() && ::stat(node.path.constData(), &info) == 0 &&
        S_ISCHR(info.st_mode)) {
        node.characterDevice = true;
        node.rdev = info.st_rdev;
    }
    return node;
}

bool opens(const OpenFile& file, const PortNode& node) {
    if (node.path.isEmpty()) return false;
    if (file.target == node.path) return true;
    if (!node.characterDevice || !file.target.startsWith("/dev/")) return false;
    struct stat info {};
    return ::stat(file.target.constData(), &info) == 0 && S_ISCHR(info.st_mode) &&
           info.st_rdev == node.rdev;
}

// Whether process pid has the port open; nothing when its descriptors cannot be seen
// (another user's process, unless we are root).
std::optional<bool> processOpens(qint64 pid, const PortNode& node) {
    const QByteArray fds = "/proc/" + QByteArray::number(pid) + "/fd/";
    if (::access(fds.constData(), R_OK | X_OK) != 0) return std::nullopt;
    std::vector<OpenFile> files;
    addOpenFiles(pid, files);
    return std::any_of(files.begin(), files.end(),
                       [&](const OpenFile& file) { return opens(file, node); });
}

struct Locker {
    qint64 pid = 0;
    bool lockOnly = false; // its process is not seen to have the port open
};

// Serial programs (QSerialPort, minicom) take a UUCP lock file holding their pid in ASCII;
// the folder differs by program and distribution. A lock counts when its owner runs the
// process it names and that process has the port open. Where its descriptors cannot be
// seen, only the system's lock folders are believed: anyone may write into /tmp.
Locker lockerOf(qint32 port, const PortNode& node) {
    for (const char* folder : {"/run/lock", "/var/lock", "/tmp"}) {
        uid_t owner = 0;
        const QByteArray text = readSmallFile(
            QStringLiteral("%1/LCK..ttyUSB%2").arg(QLatin1String(folder)).arg(port), &owner);
        const qint64 pid = numberOf(QString::fromLatin1(text.left(text.indexOf('\n')).trimmed()));
        struct stat process {};
        if (!isOtherLiveProcess(pid) ||
            ::stat(QByteArray("/proc/" + QByteArray::number(pid)).constData(), &process) != 0 ||
            process.st_uid != owner)
            continue;
        const std::optional<bool> open = processOpens(pid, node);
        if (open.value_or(false)) return {pid, false};
        if (!open && std::strcmp(folder, "/tmp") != 0) return {pid, true};
    }
    return {};
}

void findHolders(std::vector<ListedDevice>& devices) {
    for (ListedDevice& device : devices) {
        const Locker locker = lockerOf(device.port, portNode(device.port));
        device.holder = locker.pid;
        device.lockOnly = locker.lockOnly;
    }
    if (std::all_of(devices.begin(), devices.end(), [](const auto& d) { return d.holder; })) return;
    const std::vector<OpenFile> files = filesOpenElsewhere();
    for (ListedDevice& device : devices) {
        if (device.holder) continue;
        const PortNode node = portNode(device.port);
        const auto found = std::find_if(files.begin(), files.end(),
                                        [&](const OpenFile& file) { return opens(file, node); });
        if (found != files.end()) device.holder = found->pid;
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
    const QDir folder(usbSerialDevicesFolder());
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
    findHolders(devices);
    deviceList() = devices;
    *deviceCount = quint32(devices.size());
    return FT_OK;
}

FT_STATUS FT_GetDeviceInfoDetail(quint32 index, quint32* flags, quint32* type, quint32* id,
                                 quint32* locationId, char* serialNumber, char* description,
                                 FT_HANDLE* handle) {
    if (index >= deviceList().size()) return FT_DEVICE_NOT_FOUND;
    const ListedDevice& device = deviceList()[index];
    if (flags) *flags = device.holder ? FT_FLAGS_OPENED : 0;
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
    if (!QFileInfo::exists(ttyUsbNode(port))) return FT_DEVICE_NOT_OPENED;
    openDevices().push_back(std::make_unique<OpenDevice>(OpenDevice{port}));
    *handle = openDevices().back().get();
    return FT_OK;
}

// The driver is the kernel's ftdi_sio: its own version when it has one, else the kernel's.
FT_STATUS FT_GetDriverVersion(FT_HANDLE handle, quint32* version) {
    if (!openDevice(handle)) return FT_INVALID_HANDLE;
    if (!version) return FT_INVALID_PARAMETER;
    quint32 found =
        versionNumber(readAttribute(sysfsRoot() + QStringLiteral("/module/ftdi_sio/version")));
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

QString holderOfDevice(quint32 index) {
    if (index >= deviceList().size() || !deviceList()[index].holder) return {};
    const ListedDevice& device = deviceList()[index];
    const QByteArray name =
        readSmallFile(QStringLiteral("/proc/%1/comm").arg(device.holder)).trimmed();
    const QString pid = QStringLiteral("pid %1").arg(device.holder);
    return QStringLiteral("ttyUSB%1 is %2 by %3")
        .arg(device.port)
        .arg(device.lockOnly ? QStringLiteral("locked") : QStringLiteral("held"))
        .arg(name.isEmpty() ? pid : QStringLiteral("%1 (%2)").arg(QString::fromUtf8(name), pid));
}

bool deviceOnlyLocked(quint32 index) {
    return index < deviceList().size() && deviceList()[index].lockOnly;
}
