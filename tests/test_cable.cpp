// The cable search against a fake sysfs tree on disk: the D2XX layer reads sysfs, /proc and
// lock files, and the start-up walks what it lists.
#include "CableDiscovery.h"
#include "DownloadSettings.h"
#include "FakeCable.h"
#include "MessageBox.h"
#include "MessageLog.h"
#include "SerialLinkQt.h"
#include "StatusFile.h"
#include "TestFiles.h"

#include <QtTest>
#include <pty.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

// A cable search: the devices, which port another process holds open, the driver's version
// file; what is returned (value, com port, whether the engine ends),
// logged after the library version (lines joined by |), and shown / written to the status.
struct Search {
    QList<FakeUsbDevice> devices{};
    int held = -1;
    bool throws = false; // the first box shown throws an I/O error
    QByteArray driver{};
    QString language = "EN", result{}, log{}, outcome{};
};
Q_DECLARE_METATYPE(Search)

namespace {

const QString kCable = "Vantrel PC Cable", kOther = "FT232R USB UART",
              kNoCable = "Can't find a VantrelPC cable";

// Cables on ports from 40 up: low numbers are what the simulator and end-to-end tests use,
// and lock files are named by port alone.
FakeUsbDevice device(int port, const QString& name = kCable, const QString& vendor = "0403") {
    return {.description = name, .vendorId = vendor, .port = port};
}

} // namespace

class TestCable : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    QString sysfs_, dev_;
    QStringList locks_, boxes_;
    bool throwAtBox_ = false;
    std::vector<std::unique_ptr<QProcess>> holders_;

    QString node(int port) const { return dev_ + QStringLiteral("/ttyUSB%1").arg(port); }

    // The node is a plain file: a link to /dev/null would count as held open by every daemon.
    bool addDevice(const FakeUsbDevice& d) {
        return addFakeUsbSerialDevice(sysfs_, d) && writeFile(node(d.port), {});
    }

    // A live child process, holding the file open as its standard input when one is given.
    qint64 startHolder(const QString& file = {}) {
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
        QVERIFY(QDir().mkpath(sysfs_ + "/module/ftdi_sio") && QDir().mkpath(dev_));
        qputenv("VANTREL_SYSFS_ROOT", sysfs_.toLocal8Bit());
        qputenv("VANTREL_DEV_ROOT", dev_.toLocal8Bit());
        // A box is told by its first words: the rest of its text is a constant.
        setMessageBoxHandler([this](const QString& text, const QString& title) {
            boxes_ << title + ": " + text.section(' ', 0, 2);
            if (std::exchange(throwAtBox_, false))
                throw std::system_error(EIO, std::generic_category());
        });
    }

    void cleanup() {
        for (auto& holder : holders_) {
            holder->kill();
            holder->waitForFinished();
        }
        holders_.clear();
        boxes_.clear();
        for (const QString& lock : std::exchange(locks_, {}))
            QFile::remove(lock);
    }

    void discovery_data() {
        QTest::addColumn<Search>("search");
        const QString count = "FT_CreateDeviceInfoList, number of devices - ";
        // clang-format off
        // Descriptions match whole and case-sensitively; a non-FTDI chip is not listed, and
        // another device that is held open does not matter.
        QTest::newRow("near names, a non-FTDI cable, another device held: no cable, German") << Search{
            .devices = {device(42, "VANTREL PC CABLE"), device(43, kCable + " "),
                        device(44, "USB Tacho Download Adapter (B)"), device(45, kCable, "067b"),
                        device(46, kOther)},
            .held = 46, .language = "DE", .result = "2 port 0 end",
            .log = count + "4|VANTREL PC CABLE|" + kCable + " |USB Tacho Download Adapter (B)|" +
                   kOther + "|" + kNoCable,
            .outcome = "VantrelPC: Kein VantrelPC-Kabel angeschlossen / Failed\r\n"};
        // The later cable in port order (numeric) is used; ttyUSB0 is listed like any port.
        QTest::newRow("other devices and two cables") << Search{
            .devices = {device(39, kOther, "10c4"), device(0, kOther),
                        device(100, "USB Tacho Download Adapter"), device(49)},
            .driver = "v2.14-rc1\n", .result = "0 port 100",
            .log = count + "3|" + kOther + "|VantrelPC cable at index 1 - Closed|VantrelPC cable "
                   "at index 2 - Closed|FT_Open succeeded|Driver Version - 20E00|Com port - 100"};
        QTest::newRow("cable held open by another program: re-plug") << Search{
            .devices = {device(44, kOther), device(45)}, .held = 45, .result = "3 port 0 end",
            .log = count + "2|" + kOther + "|VantrelPC cable at index 1 - Open|ttyUSB45 is held "
                   "by sleep (pid %1)",
            .outcome = "VantrelPC: Please disconnect your / Failed - maybe USB device is open\r\n"};
        // A failure the search did not foresee (here thrown by the box) still ends the engine
        // with a status: the front end would wait for it forever.
        QTest::newRow("search throws") << Search{
            .throws = true, .result = "1 port 0 end", .log = count + "0",
            .outcome = "VantrelPC: Can't find a+VantrelPC: FT dll problem\r\n5 / Failed\r\n"};
        // clang-format on
    }

    void discovery() {
        QFETCH(Search, search);
        QVERIFY(writeFile(sysfs_ + "/module/ftdi_sio/version", search.driver));
        for (const FakeUsbDevice& d : search.devices)
            QVERIFY(addDevice(d));
        throwAtBox_ = search.throws;
        if (search.held >= 0)
            search.log.replace("%1", QString::number(startHolder(node(search.held))));
        DownloadSettings::language = search.language;

        MessageLog messages;
        StatusFile statusFile(messages);
        statusFile.setFilePath(dir_->filePath("VNPCstatus.txt"));
        CableState cable;
        const qint32 returned = locateCable(messages, statusFile, cable);
        // After the library's version line:
        QCOMPARE(messages.area().section("\r\n", 1).replace("\r\n", "|"), search.log + '|');
        QCOMPARE(QStringLiteral("%1 port %2").arg(returned).arg(cable.comPortNumber) +
                     (cable.engineMustEnd ? " end" : "") + (cable.cableHandle ? " open" : ""),
                 search.result);
        const QByteArray status = readWhole(dir_->filePath("VNPCstatus.txt"));
        QCOMPARE(boxes_.isEmpty() && status.isEmpty() ? QString()
                                                      : boxes_.join('+') + " / " + status,
                 search.outcome);
    }

    // The installed udev rule gives the user the tty of every cable the engine takes: the
    // same vendor and product names on both of its lines, the names the search takes.
    void udevRuleNamesTheCables() {
        const QString rule =
            QString::fromUtf8(readWhole(VANTREL_SOURCE_DIR "/data/70-vantrel-pc.rules"));
        static const QRegularExpression attrs("ATTRS\\{(idVendor|product)\\}==\"([^\"]*)\"");
        QSet<QString> vendors, products;
        for (const QRegularExpressionMatch& m : attrs.globalMatch(rule))
            (m.captured(1) == "idVendor" ? vendors : products) << m.captured(2);
        // Each of these names is taken as a cable in the discovery rows.
        QCOMPARE(vendors.values() + products.values(),
                 QStringList({"0403", kCable + "|USB Tacho Download Adapter"}));
    }

    // Who holds a port, one port per case, all found in one listing: another process with the
    // node open, or with another file open; this process itself; a lock file of a live
    // process that does not have the port open (seen, as root sees every process), under
    // /run/lock or /tmp; one planted under /tmp by another user (anyone may write there); a
    // FIFO under a lock's name (it would block a read); a lock of an ended process; a lock of
    // this process; a lock of a process that has the port open.
    void heldPortsAreFlaggedOpen() {
        QFile own(node(82));
        const qint64 endedPid = startHolder(); // names nobody once it has ended
        holders_.back()->kill();
        QVERIFY(holders_.back()->waitForFinished());
        for (int port = 80; port <= 89; ++port)
            QVERIFY(addDevice(device(port)));
        // clang-format off
        const std::pair<QString, qint64> locks[] = {
            {"/run/lock/LCK..ttyUSB83", startHolder()}, {"/tmp/LCK..ttyUSB84", startHolder()},
            {"/tmp/LCK..ttyUSB85", startHolder()}, {"/tmp/LCK..ttyUSB87", endedPid},
            {"/run/lock/LCK..ttyUSB88", QCoreApplication::applicationPid()},
            {"/run/lock/LCK..ttyUSB89", startHolder(node(89))}};
        // clang-format on
        for (const auto& [lock, pid] : locks) {
            if (QFileInfo::exists(lock)) QSKIP("a lock file is in the way");
            locks_ << lock;
            QVERIFY(pid > 0 && writeFile(lock, QByteArray::number(pid).rightJustified(10, ' ') +
                                                   "\nminicom\n"));
        }
        const OtherUser other = findOtherUser();
        if (!other || ::chown(QFile::encodeName(locks_[2]).constData(), other.uid, other.gid) != 0)
            QVERIFY(QFile::remove(locks_[2])); // without another user, nothing is planted
        QVERIFY(!QFileInfo::exists("/tmp/LCK..ttyUSB86") &&
                ::mkfifo("/tmp/LCK..ttyUSB86", 0666) == 0);
        locks_ << "/tmp/LCK..ttyUSB86";
        QVERIFY(writeFile(node(81) + ".x", {}) && startHolder(node(80)) > 0 &&
                startHolder(node(81) + ".x") > 0 && own.open(QIODevice::ReadWrite));

        quint32 count = 0;
        QCOMPARE(FT_CreateDeviceInfoList(&count), FT_OK);
        QString open;
        for (quint32 index = 0; index < count; ++index)
            open += holderOfDevice(index).isEmpty() ? "0" : "1";
        QCOMPARE(open, QString("1000000001")); // ports 80 to 89
    }

    // Seen as another user, who cannot see root's descriptors: a lock in the system's lock
    // folder still counts, told as a lock ("locked by") rather than the port held open; one
    // in /tmp does not count.
    void locksOfProcessesNotSeen() {
        const OtherUser other = findOtherUser();
        if (::getuid() != 0 || !other) QSKIP("needs root and a second user");
        const std::pair<QString, qint64> locks[] = {{"/run/lock/LCK..ttyUSB91", startHolder()},
                                                    {"/tmp/LCK..ttyUSB92", startHolder()}};
        QVERIFY(addDevice(device(91)) && addDevice(device(92)));
        for (const auto& [lock, pid] : locks) {
            if (QFileInfo::exists(lock)) QSKIP("a lock file is in the way");
            locks_ << lock;
            QVERIFY(writeFile(lock, QByteArray::number(pid).rightJustified(10, ' ') + "\n",
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                  QFileDevice::ReadOther));
        }
        QVERIFY(::chmod(QFile::encodeName(dir_->path()).constData(), 0755) == 0);
        int pipe[2];
        QVERIFY(::pipe(pipe) == 0);
        const pid_t child = ::fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            if (::setgroups(0, nullptr) != 0 || ::setgid(other.gid) != 0 ||
                ::setuid(other.uid) != 0)
                ::_exit(1);
            quint32 count = 0;
            FT_CreateDeviceInfoList(&count);
            const QByteArray seen = (holderOfDevice(0) + '|' + holderOfDevice(1) + '|' +
                                     QString::number(deviceOnlyLocked(0)))
                                        .toUtf8();
            ::_exit(::write(pipe[1], seen.constData(), size_t(seen.size())) == seen.size() ? 0 : 1);
        }
        ::close(pipe[1]);
        QFile seen;
        QVERIFY(seen.open(pipe[0], QIODevice::ReadOnly, QFileDevice::AutoCloseHandle));
        const QString text = seen.readAll();
        QCOMPARE(::waitpid(child, nullptr, 0), child);
        QCOMPARE(text, QString("ttyUSB91 is locked by sleep (pid %1)||1").arg(locks[0].second));
    }

    // A hand-made tree may hold anything: long and missing strings, an endless product file,
    // a huge serial file, entries that are not the kernel's (another script's digits, a
    // leading zero, a number too long for the kernel, a dangling link, a link to the root
    // with no USB device above it).
    // Reading without bound must fail here rather than take the machine's memory.
    void oddTreeIsReadSafely() {
        QVERIFY(addDevice({.description = QString(80, 'D'),
                           .productId = "6015",
                           .serial = "S123456789ABCDEFGHIJ",
                           .port = 61}) &&
                addDevice({.description = {}, .productId = "6010", .serial = {}, .port = 60}));
        const QString usb60 = sysfs_ + "/devices/pci0000:00/0000:00:14.0/usb1/1-60/";
        QVERIFY(QFile::link("/dev/zero", usb60 + "product"));
        QFile huge(usb60 + "serial");
        QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize(qint64(1) << 30)); // sparse
        const QString devices = sysfs_ + "/bus/usb-serial/devices/";
        const QString portFolder = QFile::symLinkTarget(devices + "ttyUSB61");
        QVERIFY(QFile::link("../../../nowhere", devices + "ttyUSB62") &&
                QFile::link("/", devices + "ttyUSB63") &&
                QFile::link(portFolder, devices + QString::fromUtf8("ttyUSB\u0663")) &&
                QFile::link(portFolder, devices + "ttyUSB061") &&
                QFile::link(portFolder, devices + "ttyUSB4294967357")); // 61 in 32 bits
        rlimit old{};
        QVERIFY(::getrlimit(RLIMIT_AS, &old) == 0);
        const rlim_t used =
            readWhole("/proc/self/statm").split(' ').value(0).toULongLong() * ::getpagesize();
        rlimit bounded = old;
        bounded.rlim_cur = std::min<rlim_t>(old.rlim_cur, used + (rlim_t(512) << 20));
        QVERIFY(::setrlimit(RLIMIT_AS, &bounded) == 0);
        quint32 count = 0;
        const FT_STATUS listed = FT_CreateDeviceInfoList(&count);
        ::setrlimit(RLIMIT_AS, &old);
        QCOMPARE(listed, FT_OK);
        QCOMPARE(count, 2u);

        QByteArray serial(kFtSerialNumberSize + 4, 'x'), description(kFtDescriptionSize + 4, 'x');
        quint32 flags = 0xFF, type = 0, id = 0, location = 0xFF;
        FT_HANDLE handle = &flags;
        const auto detail = [&](quint32 index) {
            return FT_GetDeviceInfoDetail(index, &flags, &type, &id, &location, serial.data(),
                                          description.data(), &handle);
        };
        QCOMPARE(detail(1), FT_OK);
        QCOMPARE(QByteArray(description.constData()), QByteArray(kFtDescriptionSize - 1, 'D'));
        QCOMPARE(description[kFtDescriptionSize], 'x'); // nothing written beyond the buffer
        QCOMPARE(QByteArray(serial.constData()), QByteArray("S123456789ABCDE"));
        QCOMPARE(QList<quint32>({id, flags, location, type, handle != nullptr}),
                 QList<quint32>({0x04036015u, 0, 0, 9, 0}));
        QCOMPARE(detail(0), FT_OK);
        QCOMPARE(QByteArray(description.constData()) + '|' + serial.constData() + '|' +
                     QByteArray::number(type),
                 "||3");
    }

    // The cable is pulled between two requests: the next byte written fails, and the session
    // is told that the port is gone, not of some other write error.
    void writeToAPulledCable() {
        int unitSide = -1, portSide = -1;
        QVERIFY(::openpty(&unitSide, &portSide, nullptr, nullptr, nullptr) == 0);
        QVERIFY(QFile::link(QString::fromLocal8Bit(::ttyname(portSide)), node(47)));
        SerialLinkQt link(47);
        QString lost;
        link.onLost = [&lost](const QString& description) { lost = description; };
        QVERIFY(!link.open(4));
        ::close(unitSide);
        ::close(portSide);
        link.writeByte('\x80');
        QVERIFY2(!link.isOpen() && lost == "Serial port disconnected", qPrintable(lost));
    }
};

QTEST_GUILESS_MAIN(TestCable)
#include "test_cable.moc"
