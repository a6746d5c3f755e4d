// The cable search against a fake sysfs tree on disk: the D2XX layer reads sysfs, /proc and
// lock files, and the start-up walks what it lists.
#include "CableDiscovery.h"
#include "D2xx.h"
#include "DownloadSettings.h"
#include "FakeCable.h"
#include "MessageBox.h"
#include "MessageLog.h"
#include "StatusFile.h"
#include "TestFiles.h"

#include <QDir>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <sys/resource.h>
#include <sys/stat.h>
#include <vector>

Q_DECLARE_METATYPE(QList<FakeUsbDevice>)

namespace {

const QString kCable = "Vantrel PC Cable", kOther = "FT232R USB UART";
const QString kNoCable = "Can't find a VantrelPC cable";

// Ports from 40 up: low numbers are what the simulator and end-to-end tests use, and lock
// files are named by port alone.
FakeUsbDevice Device(int port, const QString& description = kCable,
                     const QString& vendor = "0403") {
    FakeUsbDevice d;
    d.port = port;
    d.description = description;
    d.vendorId = vendor;
    return d;
}

QString LockPath(const QString& folder, int port) {
    return QStringLiteral("%1/LCK..ttyUSB%2").arg(folder).arg(port);
}

} // namespace

class TestCable : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    QString sysfs_, dev_, lock_;
    QStringList boxes_;
    std::vector<std::unique_ptr<QProcess>> holders_;

    QString Node(int port) const { return dev_ + QStringLiteral("/ttyUSB%1").arg(port); }

    // The node is a plain file: a link to /dev/null would count as held open by every daemon.
    bool AddDevice(const FakeUsbDevice& d, bool withNode = true) {
        return AddFakeUsbSerialDevice(sysfs_, d) && (!withNode || WriteFile(Node(d.port), {}));
    }

    bool SetDriverVersion(const QByteArray& text) {
        return QDir().mkpath(sysfs_ + "/module/ftdi_sio") &&
               WriteFile(sysfs_ + "/module/ftdi_sio/version", text);
    }

    // A live child process, holding the file open as its standard input when one is given.
    qint64 StartHolder(const QString& file = {}) {
        auto& holder = holders_.emplace_back(std::make_unique<QProcess>());
        if (!file.isEmpty()) holder->setStandardInputFile(file);
        holder->start("sleep", {"60"});
        return holder->waitForStarted() ? holder->processId() : 0;
    }

private slots:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        sysfs_ = dir_->filePath("sys");
        dev_ = dir_->filePath("dev");
        QVERIFY(QDir().mkpath(sysfs_) && QDir().mkpath(dev_));
        qputenv("VANTREL_SYSFS_ROOT", sysfs_.toLocal8Bit());
        qputenv("VANTREL_DEV_ROOT", dev_.toLocal8Bit());
        boxes_.clear();
        SetMessageBoxHandler(
            [this](const QString& text, const QString& title) { boxes_ << title + ": " + text; });
    }

    void cleanup() {
        for (auto& holder : holders_) {
            holder->kill();
            holder->waitForFinished();
        }
        holders_.clear();
        if (!lock_.isEmpty()) QFile::remove(std::exchange(lock_, {}));
        SetMessageBoxHandler({});
        dir_.reset();
    }

    void discovery_data() {
        QTest::addColumn<QList<FakeUsbDevice>>("devices");
        QTest::addColumn<int>("heldPort");
        QTest::addColumn<int>("missingNodePort");
        QTest::addColumn<QString>("language");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("log"); // lines after the library version, joined by |
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("status"); // none: the engine goes on

        const QString count = "FT_CreateDeviceInfoList, number of devices - ";
        const QString found = "|FT_Open succeeded|Driver Version - 10600|Com port - ";
        QTest::newRow("no device")
            << QList<FakeUsbDevice>{} << -1 << -1 << "EN" << 2 << count + "0|" + kNoCable
            << "VantrelPC: " + kNoCable << "Failed";
        // Descriptions match whole and case-sensitively; a non-FTDI chip is not listed, and
        // another device that is held open does not matter.
        QTest::newRow("near names, a non-FTDI cable, another device held: no cable, German")
            << QList<FakeUsbDevice>{Device(42, "VANTREL PC CABLE"), Device(43, kCable + " "),
                                    Device(44, "USB Tacho Download Adapter (B)"),
                                    Device(45, kCable, "067b"), Device(46, kOther)}
            << 46 << -1 << "DE" << 2
            << count + "4|VANTREL PC CABLE|" + kCable + " |USB Tacho Download Adapter (B)|" +
                   kOther + "|" + kNoCable
            << "VantrelPC: Kein VantrelPC-Kabel angeschlossen"
            << "Failed";
        QTest::newRow("other devices before the cable")
            << QList<FakeUsbDevice>{Device(39, kOther, "10c4"), Device(40, kOther), Device(41)}
            << -1 << -1 << "EN" << 0
            << count + "2|" + kOther + "|VantrelPC cable at index 1 - Closed" + found + "41"
            << ""
            << "";
        QTest::newRow("two cables, the later in port order is used")
            << QList<FakeUsbDevice>{Device(100, "USB Tacho Download Adapter"), Device(49)} << -1
            << -1 << "EN" << 0
            << count + "2|VantrelPC cable at index 0 - Closed|VantrelPC cable at index 1 - Closed" +
                   found + "100"
            << ""
            << "";
        QTest::newRow("cable held open by another program: re-plug")
            << QList<FakeUsbDevice>{Device(44, kOther), Device(45)} << 45 << -1 << "EN" << 3
            << count + "2|" + kOther +
                   "|VantrelPC cable at index 1 - Open|ttyUSB45 is held by sleep (pid %1)"
            << "VantrelPC: Please disconnect your VantrelPC cable from your computer and "
               "reconnect it.\r\nWait a few seconds and then restart the Vantrel Base application."
            << "Failed - maybe USB device is open";
        QTest::newRow("cable without its device node")
            << QList<FakeUsbDevice>{Device(48)} << -1 << 48 << "EN" << 3
            << count + "1|VantrelPC cable at index 0 - Closed|Open Failed"
            << ""
            << "";
    }

    void discovery() {
        QFETCH(QList<FakeUsbDevice>, devices);
        QFETCH(int, heldPort);
        QFETCH(int, missingNodePort);
        QFETCH(QString, language);
        QFETCH(int, result);
        QFETCH(QString, log);
        QFETCH(QString, box);
        QFETCH(QString, status);

        QVERIFY(SetDriverVersion("v1.6.0\n")); // the log does not depend on the kernel then
        for (const FakeUsbDevice& d : devices)
            QVERIFY(AddDevice(d, d.port != missingNodePort));
        if (heldPort >= 0) {
            const qint64 pid = StartHolder(Node(heldPort));
            QVERIFY(pid > 0);
            log.replace("%1", QString::number(pid));
        }
        DownloadSettings::Language = language;

        MessageLog messages;
        StatusFile statusFile(messages);
        statusFile.setFilePath(dir_->filePath("VNPCstatus.txt"));
        CableState cable;
        const qint32 returned = FindCable(messages, statusFile, cable);
        QStringList logged = messages.area().split("\r\n", Qt::SkipEmptyParts);

        QVERIFY(QRegularExpression("^DLL Version - [1-9A-F][0-9A-F]*$")
                    .match(logged.value(0))
                    .hasMatch());
        QCOMPARE(logged.mid(1).join('|'), log);
        QCOMPARE(boxes_, box.isEmpty() ? QStringList() : QStringList{box});
        QCOMPARE(returned, result);
        QCOMPARE(cable.ComPortNumber, result == 0 ? log.section(' ', -1).toInt() : 0);
        QCOMPARE(cable.engineMustEnd, !status.isEmpty());
        QCOMPARE(cable.CableHandle, nullptr);
        QCOMPARE(ReadAll(dir_->filePath("VNPCstatus.txt"), kNoFile),
                 status.isEmpty() ? kNoFile : status.toUtf8() + "\r\n");
    }

    void openFlag_data() {
        QTest::addColumn<QString>("holder");
        QTest::addColumn<bool>("open");

        QTest::newRow("another process has the node open") << "child" << true;
        QTest::newRow("another process has a different file open") << "child other file" << false;
        QTest::newRow("only this process has it open") << "self" << false;
        QTest::newRow("lock file of a live process") << "lock child" << true;
        QTest::newRow("lock file under /tmp of a live process") << "lock child /tmp" << true;
        // Anyone may write into /tmp: a lock counts only from the process's own user, and a
        // FIFO under a lock's name is never read (it would block).
        QTest::newRow("lock file under /tmp planted by another user")
            << "lock child /tmp planted" << false;
        QTest::newRow("FIFO under /tmp") << "fifo /tmp" << false;
        QTest::newRow("lock file of an ended process") << "lock ended" << false;
        QTest::newRow("lock file of this process") << "lock self" << false;
    }

    void openFlag() {
        QFETCH(QString, holder);
        QFETCH(bool, open);
        const int port = 87;
        QVERIFY(AddDevice(Device(port)));
        const QString folder = holder.contains("/tmp") ? "/tmp" : "/run/lock";
        if (holder.startsWith("lock") || holder.startsWith("fifo")) {
            if (QFileInfo::exists(LockPath(folder, port)) || !QFileInfo(folder).isWritable())
                QSKIP("cannot place a lock file");
            lock_ = LockPath(folder, port);
        }

        QFile own(Node(port));
        qint64 pid = 0;
        if (holder == "child") QVERIFY(StartHolder(Node(port)) > 0);
        if (holder == "child other file")
            QVERIFY(WriteFile(Node(port) + ".x", {}) && StartHolder(Node(port) + ".x") > 0);
        if (holder == "self") QVERIFY(own.open(QIODevice::ReadWrite));
        if (holder.startsWith("lock child")) QVERIFY((pid = StartHolder()) > 0);
        if (holder == "lock self") pid = QCoreApplication::applicationPid();
        if (holder == "lock ended") {
            QProcess ended;
            ended.start("true", {});
            QVERIFY(ended.waitForFinished());
            pid = ended.processId();
        }
        if (holder == "fifo /tmp")
            QVERIFY(::mkfifo(QFile::encodeName(lock_).constData(), 0666) == 0);
        if (pid) {
            QFile lock(lock_);
            QVERIFY(lock.open(QIODevice::WriteOnly));
            lock.write(QByteArray::number(pid).rightJustified(10, ' ') + "\nminicom\n");
            const OtherUser other = FindOtherUser();
            if (holder.endsWith("planted") &&
                (!other || ::fchown(lock.handle(), other.uid, other.gid) != 0))
                QSKIP("no other user to own the lock file");
        }

        quint32 count = 0, flags = 0xFF;
        QCOMPARE(FT_CreateDeviceInfoList(&count), FT_OK);
        QCOMPARE(count, 1u);
        QCOMPARE(
            FT_GetDeviceInfoDetail(0, &flags, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
            FT_OK);
        QCOMPARE(flags, open ? FT_FLAGS_OPENED : 0u);
    }

    // The driver is the kernel's ftdi_sio: its module version when it tells one, else the
    // kernel's own.
    void driverVersionFromModuleElseKernel() {
        QVERIFY(AddDevice(Device(50)));
        quint32 count = 0, version = 0;
        FT_HANDLE handle = nullptr;
        QCOMPARE(FT_CreateDeviceInfoList(&count), FT_OK);
        QCOMPARE(FT_Open(0, &handle), FT_OK);
        const quint32 kernelMajor = QSysInfo::kernelVersion().section('.', 0, 0).toUInt();
        // 0: the kernel's version, of which only the major number is known here.
        const std::pair<const char*, quint32> rows[] = {
            {"2.14.1\n", 0x20E01}, {"V3.2", 0x30200}, {"7", 0}, {"unknown\n", 0}};
        for (const auto& [text, expected] : rows) {
            QVERIFY(SetDriverVersion(text));
            QCOMPARE(FT_GetDriverVersion(handle, &version), FT_OK);
            QCOMPARE(expected ? version : version >> 16, expected ? expected : kernelMajor);
        }
        QCOMPARE(FT_Close(handle), FT_OK);
    }

    // A hand-made tree may hold anything: long and missing strings, an endless product file,
    // entries that are not the kernel's (another script's digits, a leading zero, a dangling
    // link, a name that is not a tty). Reading without bound must fail here rather than take
    // the machine's memory.
    void oddTreeIsReadSafely() {
        FakeUsbDevice longNames = Device(61, QString(80, 'D'));
        longNames.serial = "S123456789ABCDEFGHIJ";
        longNames.productId = "6015";
        FakeUsbDevice noStrings = Device(60, QString());
        noStrings.serial.clear();
        QVERIFY(AddDevice(longNames) && AddDevice(noStrings));
        QVERIFY(QFile::link("/dev/zero",
                            sysfs_ + "/devices/pci0000:00/0000:00:14.0/usb1/1-60/product"));
        const QString devices = sysfs_ + "/bus/usb-serial/devices/";
        const QString portFolder = QFile::symLinkTarget(devices + "ttyUSB61");
        QVERIFY(QFile::link("../../../nowhere", devices + "ttyUSB62"));
        QVERIFY(QDir().mkpath(devices + "ttyUSBx"));
        QVERIFY(QFile::link(portFolder, devices + QString::fromUtf8("ttyUSB\u0663")));
        QVERIFY(QFile::link(portFolder, devices + "ttyUSB061"));

        rlimit old{};
        QVERIFY(::getrlimit(RLIMIT_AS, &old) == 0);
        const rlim_t used =
            ReadAll("/proc/self/statm").split(' ').value(0).toULongLong() * ::getpagesize();
        rlimit bounded = old;
        bounded.rlim_cur = std::min<rlim_t>(old.rlim_cur, used + (rlim_t(512) << 20));
        QVERIFY(::setrlimit(RLIMIT_AS, &bounded) == 0);
        quint32 count = 0;
        const FT_STATUS listed = FT_CreateDeviceInfoList(&count);
        ::setrlimit(RLIMIT_AS, &old);
        QCOMPARE(listed, FT_OK);
        QCOMPARE(count, 2u);

        char serial[kFtSerialNumberSize + 4], description[kFtDescriptionSize + 4];
        memset(serial, 'x', sizeof serial);
        memset(description, 'x', sizeof description);
        quint32 flags = 0xFF, type = 0, id = 0, location = 0xFF;
        FT_HANDLE handle = &flags;
        QCOMPARE(
            FT_GetDeviceInfoDetail(1, &flags, &type, &id, &location, serial, description, &handle),
            FT_OK);
        QCOMPARE(QByteArray(description), QByteArray(kFtDescriptionSize - 1, 'D'));
        QCOMPARE(description[kFtDescriptionSize], 'x'); // nothing written beyond the buffer
        QCOMPARE(QByteArray(serial), QByteArray("S123456789ABCDE"));
        QCOMPARE(QList<quint32>({id, flags, location}), QList<quint32>({0x04036015u, 0, 0}));
        QCOMPARE(handle, nullptr);
        QCOMPARE(
            FT_GetDeviceInfoDetail(0, &flags, &type, &id, &location, serial, description, &handle),
            FT_OK);
        QCOMPARE(QByteArray(description) + '|' + serial, QByteArray("|"));
        QCOMPARE(
            FT_GetDeviceInfoDetail(2, &flags, &type, &id, &location, serial, description, &handle),
            FT_DEVICE_NOT_FOUND);
    }
};

QTEST_GUILESS_MAIN(TestCable)
#include "test_cable.moc"
