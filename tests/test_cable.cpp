#include "CableDiscovery.h"
#include "D2xx.h"
#include "DownloadSettings.h"
#include "FakeCable.h"
#include "MessageBox.h"
#include "MessageLog.h"
#include "StatusFile.h"
#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

Q_DECLARE_METATYPE(QList<FakeUsbDevice>)

namespace {

const QString kCable = QStringLiteral("Vantrel PC Cable");
const QString kOther = QStringLiteral("FT232R USB UART");
const QString kNotAttached = QStringLiteral("Can't find a VantrelPC cable");
const QString kReplug =
    QStringLiteral("Please disconnect your VantrelPC cable from your computer and reconnect it."
                   "\r\nWait a few seconds and then restart the Vantrel Base application.");

// Ports from 40 up: low numbers are what the simulator and end-to-end tests use, and lock
// files are named by port alone.
FakeUsbDevice device(int port, const QString& description = kCable,
                     const QString& vendor = QStringLiteral("0403")) {
    FakeUsbDevice d;
    d.port = port;
    d.description = description;
    d.vendorId = vendor;
    return d;
}

QStringList lines(const QString& area) {
    QStringList list = area.split(QStringLiteral("\r\n"));
    if (!list.isEmpty() && list.last().isEmpty()) list.removeLast();
    return list;
}

} // namespace

class TestCable : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void discovery_data();
    void discovery();
    void openFlag_data();
    void openFlag();
    void driverVersion_data();
    void driverVersion();
    void deviceDetails();

private:
    QString node(int port) const { return dev_ + QStringLiteral("/ttyUSB%1").arg(port); }
    void addDevice(const FakeUsbDevice& d, bool withNode = true);
    static QString lockPath(const QString& folder, int port) {
        return QStringLiteral("%1/LCK..ttyUSB%2").arg(folder).arg(port);
    }
    qint64 startHolder(const QString& file = {});
    QString runFindCable(CableState& cable, qint32* result);

    std::unique_ptr<QTemporaryDir> dir_;
    QString sysfs_;
    QString dev_;
    QStringList boxes_;
    std::vector<std::unique_ptr<QProcess>> holders_;
    QString lockToRemove_;
};

void TestCable::init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    sysfs_ = dir_->filePath(QStringLiteral("sys"));
    dev_ = dir_->filePath(QStringLiteral("dev"));
    QVERIFY(QDir().mkpath(sysfs_) && QDir().mkpath(dev_));
    qputenv("VANTREL_SYSFS_ROOT", sysfs_.toLocal8Bit());
    qputenv("VANTREL_DEV_ROOT", dev_.toLocal8Bit());
    DownloadSettings::Language = QStringLiteral("EN");
    boxes_.clear();
    SetMessageBoxHandler([this](const QString& text, const QString& title) {
        QCOMPARE(title, QStringLiteral("VantrelPC"));
        boxes_ << text;
    });
}

void TestCable::cleanup() {
    for (auto& holder : holders_) {
        holder->kill();
        holder->waitForFinished();
    }
    holders_.clear();
    if (!lockToRemove_.isEmpty()) QFile::remove(lockToRemove_);
    lockToRemove_.clear();
    SetMessageBoxHandler({});
    dir_.reset();
}

// The node is a plain file: a link to /dev/null would count as held open by every daemon.
void TestCable::addDevice(const FakeUsbDevice& d, bool withNode) {
    QString error;
    QVERIFY2(AddFakeUsbSerialDevice(sysfs_, d, &error), qPrintable(error));
    if (withNode) {
        QFile file(node(d.port));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
}

// A live child process, holding the file open as its standard input when one is given.
qint64 TestCable::startHolder(const QString& file) {
    auto holder = std::make_unique<QProcess>();
    if (!file.isEmpty()) holder->setStandardInputFile(file);
    holder->start(QStringLiteral("sleep"), {QStringLiteral("60")});
    if (!holder->waitForStarted()) return 0;
    const qint64 pid = holder->processId();
    holders_.push_back(std::move(holder));
    return pid;
}

QString TestCable::runFindCable(CableState& cable, qint32* result) {
    MessageLog log;
    StatusFile status(log);
    status.setFilePath(dir_->filePath(QStringLiteral("VNPCstatus.txt")));
    *result = FindCable(log, status, cable);
    return log.area();
}

void TestCable::discovery_data() {
    QTest::addColumn<QList<FakeUsbDevice>>("devices");
    QTest::addColumn<int>("heldPort");
    QTest::addColumn<int>("missingNodePort");
    QTest::addColumn<QString>("language");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("comPort");
    QTest::addColumn<QStringList>("logLines"); // after the library version
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<QString>("status");
    QTest::addColumn<bool>("mustEnd");

    auto count = [](int n) {
        return QStringLiteral("FT_CreateDeviceInfoList, number of devices - %1").arg(n);
    };
    const QStringList found = {QStringLiteral("FT_Open succeeded"),
                               QStringLiteral("Driver Version - 10600")};

    QTest::newRow("no device") << QList<FakeUsbDevice>{} << -1 << -1 << "EN" << 2 << 0
                               << QStringList{count(0), kNotAttached} << QStringList{kNotAttached}
                               << "Failed" << true;
    QTest::newRow("no device, German")
        << QList<FakeUsbDevice>{} << -1 << -1 << "DE" << 2 << 0
        << QStringList{count(0), kNotAttached}
        << QStringList{QStringLiteral("Kein VantrelPC-Kabel angeschlossen")} << "Failed" << true;
    QTest::newRow("other device before the cable")
        << QList<FakeUsbDevice>{device(40, kOther), device(41)} << -1 << -1 << "EN" << 0 << 41
        << (QStringList{count(2), kOther, QStringLiteral("VantrelPC cable at index 1 - Closed")} +
            found + QStringList{QStringLiteral("Com port - 41")})
        << QStringList{} << "" << false;
    QTest::newRow("two cables, the later in port order is used")
        << QList<FakeUsbDevice>{device(100, QStringLiteral("USB Tacho Download Adapter")),
                                device(49)}
        << -1 << -1 << "DE" << 0 << 100
        << (QStringList{count(2), QStringLiteral("VantrelPC cable at index 0 - Closed"),
                        QStringLiteral("VantrelPC cable at index 1 - Closed")} +
            found + QStringList{QStringLiteral("Com port - 100")})
        << QStringList{} << "" << false;
    for (const QString& near :
         {QStringLiteral("Vantrel PC cable"), QStringLiteral("VANTREL PC CABLE"),
          QStringLiteral("Vantrel PC Cable 2"), QStringLiteral("Vantrel PC Cable "),
          QStringLiteral("USB Tacho Download Adapter (B)")}) {
        QTest::addRow("not accepted: '%s'", qPrintable(near))
            << QList<FakeUsbDevice>{device(42, near)} << -1 << -1 << "EN" << 2 << 0
            << QStringList{count(1), near, kNotAttached} << QStringList{kNotAttached} << "Failed"
            << true;
    }
    QTest::newRow("non-FTDI cable is not listed")
        << QList<FakeUsbDevice>{device(43, kCable, QStringLiteral("067b"))} << -1 << -1 << "EN" << 2
        << 0 << QStringList{count(0), kNotAttached} << QStringList{kNotAttached} << "Failed"
        << true;
    QTest::newRow("non-FTDI device beside the cable")
        << QList<FakeUsbDevice>{device(43, kOther, QStringLiteral("10c4")), device(44)} << -1 << -1
        << "EN" << 0 << 44
        << (QStringList{count(1), QStringLiteral("VantrelPC cable at index 0 - Closed")} + found +
            QStringList{QStringLiteral("Com port - 44")})
        << QStringList{} << "" << false;
    // %1 is the holder's process id.
    QTest::newRow("cable held open by another program")
        << QList<FakeUsbDevice>{device(44, kOther), device(45)} << 45 << -1 << "EN" << 3 << 0
        << QStringList{count(2), kOther, QStringLiteral("VantrelPC cable at index 1 - Open"),
                       QStringLiteral("ttyUSB45 is held by sleep (pid %1)")}
        << QStringList{kReplug} << "Failed - maybe USB device is open" << true;
    QTest::newRow("no cable, another FTDI device held open")
        << QList<FakeUsbDevice>{device(46, kOther), device(47, kOther)} << 47 << -1 << "DE" << 2
        << 0 << QStringList{count(2), kOther, kOther, kNotAttached}
        << QStringList{QStringLiteral("Kein VantrelPC-Kabel angeschlossen")} << "Failed" << true;
    QTest::newRow("cable without its device node")
        << QList<FakeUsbDevice>{device(48)} << -1 << 48 << "EN" << 3 << 0
        << QStringList{count(1), QStringLiteral("VantrelPC cable at index 0 - Closed"),
                       QStringLiteral("Open Failed")}
        << QStringList{} << "" << false;
}

void TestCable::discovery() {
    QFETCH(QList<FakeUsbDevice>, devices);
    QFETCH(int, heldPort);
    QFETCH(int, missingNodePort);
    QFETCH(QString, language);
    QFETCH(int, result);
    QFETCH(int, comPort);
    QFETCH(QStringList, logLines);
    QFETCH(QStringList, boxes);
    QFETCH(QString, status);
    QFETCH(bool, mustEnd);

    // A driver that tells its version keeps the log independent of the kernel.
    QVERIFY(QDir().mkpath(sysfs_ + QStringLiteral("/module/ftdi_sio")));
    QFile version(sysfs_ + QStringLiteral("/module/ftdi_sio/version"));
    QVERIFY(version.open(QIODevice::WriteOnly));
    version.write("v1.6.0\n");
    version.close();
    for (const FakeUsbDevice& d : devices)
        addDevice(d, d.port != missingNodePort);
    if (heldPort >= 0) {
        const qint64 pid = startHolder(node(heldPort));
        QVERIFY(pid > 0);
        for (QString& line : logLines)
            if (line.contains(QLatin1String("%1"))) line = line.arg(pid);
    }
    DownloadSettings::Language = language;

    CableState cable;
    qint32 returned = -1;
    QStringList logged = lines(runFindCable(cable, &returned));

    QVERIFY(!logged.isEmpty());
    QVERIFY2(QRegularExpression(QStringLiteral("^DLL Version - [1-9A-F][0-9A-F]*$"))
                 .match(logged.takeFirst())
                 .hasMatch(),
             "library version line");
    QCOMPARE(logged, logLines);
    QCOMPARE(boxes_, boxes);
    QCOMPARE(returned, result);
    QCOMPARE(cable.ComPortNumber, comPort);
    QCOMPARE(cable.engineMustEnd, mustEnd);
    QCOMPARE(cable.CableHandle, nullptr);

    QFile statusFile(dir_->filePath(QStringLiteral("VNPCstatus.txt")));
    if (status.isEmpty()) {
        QVERIFY(!statusFile.exists());
    } else {
        QVERIFY(statusFile.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(statusFile.readAll()), status + QStringLiteral("\r\n"));
    }
}

void TestCable::openFlag_data() {
    QTest::addColumn<QString>("holder");
    QTest::addColumn<bool>("open");

    QTest::newRow("nobody") << "none" << false;
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
    QTest::newRow("lock file without a pid") << "lock garbage" << false;
}

void TestCable::openFlag() {
    QFETCH(QString, holder);
    QFETCH(bool, open);
    const int port = 87;
    addDevice(device(port));

    QFile own(node(port));
    QByteArray lockText;
    if (holder == "child") {
        QVERIFY(startHolder(node(port)) > 0);
    } else if (holder == "child other file") {
        QFile other(dir_->filePath(QStringLiteral("other")));
        QVERIFY(other.open(QIODevice::WriteOnly));
        QVERIFY(startHolder(other.fileName()) > 0);
    } else if (holder == "self") {
        QVERIFY(own.open(QIODevice::ReadWrite));
    } else if (holder.startsWith("lock child")) {
        const qint64 pid = startHolder();
        QVERIFY(pid > 0);
        lockText = QByteArray::number(pid) + "\nminicom\nhost\n";
    } else if (holder == "lock ended") {
        QProcess ended;
        ended.start(QStringLiteral("true"), {});
        QVERIFY(ended.waitForFinished());
        lockText = QByteArray::number(ended.processId()).rightJustified(10, ' ') + '\n';
    } else if (holder == "lock self") {
        lockText =
            QByteArray::number(QCoreApplication::applicationPid()).rightJustified(10, ' ') + '\n';
    } else if (holder == "lock garbage") {
        lockText = "nobody\n";
    }
    if (holder == "fifo /tmp") {
        if (QFileInfo::exists(lockPath("/tmp", port))) QSKIP("cannot place a lock file");
        QVERIFY(::mkfifo(QFile::encodeName(lockPath("/tmp", port)).constData(), 0666) == 0);
        lockToRemove_ = lockPath("/tmp", port);
    }
    if (!lockText.isEmpty()) {
        const QString folder = holder.contains("/tmp") ? "/tmp" : "/run/lock";
        if (QFileInfo::exists(lockPath(folder, port)) || !QFileInfo(folder).isWritable())
            QSKIP("cannot place a lock file");
        QFile lock(lockPath(folder, port));
        QVERIFY(lock.open(QIODevice::WriteOnly));
        lockToRemove_ = lock.fileName();
        lock.write(lockText);
        const OtherUser other = FindOtherUser();
        if (holder.endsWith("planted") &&
            (!other || ::fchown(lock.handle(), other.uid, other.gid) != 0))
            QSKIP("no other user to own the lock file");
    }

    quint32 count = 0;
    QCOMPARE(FT_CreateDeviceInfoList(&count), FT_OK);
    QCOMPARE(count, 1u);
    quint32 flags = 0xFF;
    QCOMPARE(
        FT_GetDeviceInfoDetail(0, &flags, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
        FT_OK);
    QCOMPARE(flags, open ? FT_FLAGS_OPENED : 0u);
}

void TestCable::driverVersion_data() {
    QTest::addColumn<QByteArray>("versionFile"); // empty: no file
    QTest::addColumn<QString>("line");

    // Without a version of its own the driver is the kernel's: at least major.minor.
    const QString kernel = QStringLiteral("^Driver Version - [1-9A-F][0-9A-F]{4,5}$");
    QTest::newRow("module version with v") << QByteArray("v1.6.0\n") << "^Driver Version - 10600$";
    QTest::newRow("two-digit minor") << QByteArray("2.14.1\n") << "^Driver Version - 20E01$";
    QTest::newRow("major.minor only") << QByteArray("3.2") << "^Driver Version - 30200$";
    QTest::newRow("no module version") << QByteArray() << kernel;
    QTest::newRow("unreadable module version") << QByteArray("unknown\n") << kernel;
}

void TestCable::driverVersion() {
    QFETCH(QByteArray, versionFile);
    QFETCH(QString, line);
    if (!versionFile.isEmpty()) {
        QVERIFY(QDir().mkpath(sysfs_ + QStringLiteral("/module/ftdi_sio")));
        QFile file(sysfs_ + QStringLiteral("/module/ftdi_sio/version"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(versionFile);
    }
    addDevice(device(50));

    CableState cable;
    qint32 returned = -1;
    const QStringList logged = lines(runFindCable(cable, &returned));
    QCOMPARE(returned, 0);
    QCOMPARE(logged.size(), 6);
    QVERIFY2(QRegularExpression(line).match(logged[4]).hasMatch(), qPrintable(logged[4]));
}

void TestCable::deviceDetails() {
    FakeUsbDevice longNames = device(61, QString(80, QLatin1Char('D')));
    longNames.serial = QStringLiteral("S123456789ABCDEFGHIJ");
    longNames.productId = QStringLiteral("6015");
    FakeUsbDevice noStrings = device(60, QString());
    noStrings.serial.clear();
    addDevice(longNames);
    addDevice(noStrings);
    // A hand-made tree may hold anything: an endless product string is read one page far.
    QVERIFY(
        QFile::link(QStringLiteral("/dev/zero"),
                    sysfs_ + QStringLiteral("/devices/pci0000:00/0000:00:14.0/usb1/1-60/product")));
    // Entries the layer must pass over: a name that is not a tty, a link to nothing, numbers
    // that are not the kernel's (another script's digits, a leading zero).
    const QString devices = sysfs_ + QStringLiteral("/bus/usb-serial/devices/");
    const QString portFolder = QFile::symLinkTarget(devices + QStringLiteral("ttyUSB61"));
    QVERIFY(QFile::link(QStringLiteral("../../../nowhere"), devices + QStringLiteral("ttyUSB62")));
    QVERIFY(QDir().mkpath(devices + QStringLiteral("ttyUSBx")));
    QVERIFY(QFile::link(portFolder, devices + QString::fromUtf8("ttyUSB\u0663")));
    QVERIFY(QFile::link(portFolder, devices + QStringLiteral("ttyUSB061")));

    quint32 count = 0;
    {
        // Reading without bound must fail here rather than take the machine's memory.
        rlimit old{};
        QVERIFY(::getrlimit(RLIMIT_AS, &old) == 0);
        QFile statm(QStringLiteral("/proc/self/statm"));
        QVERIFY(statm.open(QIODevice::ReadOnly));
        const rlim_t used = statm.readLine().split(' ').value(0).toULongLong() * ::getpagesize();
        rlimit bounded = old;
        bounded.rlim_cur = std::min<rlim_t>(old.rlim_cur, used + (rlim_t(512) << 20));
        QVERIFY(::setrlimit(RLIMIT_AS, &bounded) == 0);
        const FT_STATUS listed = FT_CreateDeviceInfoList(&count);
        ::setrlimit(RLIMIT_AS, &old);
        QCOMPARE(listed, FT_OK);
    }
    QCOMPARE(count, 2u);

    char serial[kFtSerialNumberSize + 4];
    char description[kFtDescriptionSize + 4];
    memset(serial, 'x', sizeof serial);
    memset(description, 'x', sizeof description);
    quint32 flags = 0xFF, type = 0, id = 0, location = 0xFF;
    FT_HANDLE handle = &flags;
    QCOMPARE(FT_GetDeviceInfoDetail(1, &flags, &type, &id, &location, serial, description, &handle),
             FT_OK);
    QCOMPARE(QByteArray(description), QByteArray(kFtDescriptionSize - 1, 'D'));
    QCOMPARE(description[kFtDescriptionSize], 'x'); // nothing written beyond the buffer
    QCOMPARE(QByteArray(serial), QByteArray("S123456789ABCDE"));
    QCOMPARE(id, 0x04036015u);
    QCOMPARE(flags, 0u);
    QCOMPARE(handle, nullptr);

    QCOMPARE(FT_GetDeviceInfoDetail(0, &flags, &type, &id, &location, serial, description, &handle),
             FT_OK);
    QCOMPARE(QByteArray(description), QByteArray());
    QCOMPARE(QByteArray(serial), QByteArray());
    QCOMPARE(FT_GetDeviceInfoDetail(2, &flags, &type, &id, &location, serial, description, &handle),
             FT_DEVICE_NOT_FOUND);
}

QTEST_GUILESS_MAIN(TestCable)
#include "test_cable.moc"
