// A running download: the FTDI latency timer at 1 ms while it lasts and the old value
// afterwards, however the engine ends; one engine per data folder.

#include "SimulatorRun.h"

#include <QTest>
#include <csignal>
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

namespace {

QByteArray Read(const QString& path) {
    return ReadAll(path).trimmed();
}

bool Write(const QString& path, const QByteArray& value) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(value + '\n') > 0;
}

// Makes the engine's process a user who is not root: the home, the simulator's tree and its
// pty become that user's, the latency timer stays root's, as on a real system.
bool RunAsOtherUser(QProcess& engine, const EngineHome& home, const SimulatorRun& simulator) {
    const passwd* user = ::getpwnam("nobody");
    if (!user || user->pw_uid == 0) return false;
    const uid_t uid = user->pw_uid;
    const gid_t gid = user->pw_gid;
    QProcess chown;
    chown.start("chown", {"-R", QStringLiteral("%1:%2").arg(uid).arg(gid), home.home.path(),
                          QFileInfo(simulator.devRoot() + "/ttyUSB172").symLinkTarget()});
    if (!chown.waitForFinished() || chown.exitCode() != 0) return false;
    for (const QString& folder : {QFileInfo(simulator.sysfsRoot()).path(), home.home.path()})
        QFile::setPermissions(folder,
                              QFile::permissions(folder) | QFile::ExeOther | QFile::ReadOther);
    engine.setChildProcessModifier([uid, gid] {
        if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0) _exit(126);
    });
    return true;
}

} // namespace

class TestLatencyTimer : public QObject {
    Q_OBJECT

private slots:
    void lowerDuringSessionRestoreAfter_data() {
        QTest::addColumn<int>("signal"); // 0: the download runs to its end
        QTest::newRow("download ends") << 0;
        QTest::newRow("SIGHUP") << int(SIGHUP);
    }
    void lowerDuringSessionRestoreAfter() {
        QFETCH(int, signal);
        // The overview is answered late, so the session is open long enough to look.
        SimulatorRun simulator(170, {"--fault", "delay:ms=900,trep=1"});
        QVERIFY2(simulator.ready(), simulator.startOutput().constData());
        const QString timer =
            simulator.sysfsRoot() + "/bus/usb-serial/devices/ttyUSB170/latency_timer";
        QVERIFY(Write(timer, "16"));
        EngineHome home;
        simulator.connect(home);
        QProcess engine;
        home.start(engine, {"A E {0,0}"});
        QTRY_COMPARE_WITH_TIMEOUT(Read(timer), QByteArray("1"), 20000);
        if (signal) ::kill(pid_t(engine.processId()), signal);
        const EngineResult result = EngineHome::finish(engine, 60000);
        QVERIFY(result.finished);
        QCOMPARE(result.exitStatus, QProcess::NormalExit);
        if (!signal) QCOMPARE(home.status(), QByteArray("Complete\r\n"));
        QCOMPARE(Read(timer), QByteArray("16"));
        const QByteArray log = home.log();
        QVERIFY(log.contains("Latency timer 16 ms -> 1 ms\r\n"));
        QVERIFY(log.contains("Latency timer back to 16 ms\r\n"));
    }

    // A port without the file (not an FTDI adapter) is left alone and nothing is logged.
    void portWithoutLatencyTimer() {
        SimulatorRun simulator(171, {});
        QVERIFY(simulator.ready());
        EngineHome home;
        simulator.connect(home);
        const EngineResult result = home.run({"C E {0,0}"}, 60000);
        QVERIFY(result.finished);
        QCOMPARE(home.status(), QByteArray("Complete\r\n"));
        QVERIFY(!home.log().contains("Latency timer"));
    }

    // A user who is not root cannot write the root-owned sysfs file: the engine asks the
    // port for its low-latency flag instead (a pty refuses it) and logs what it got. A second
    // engine on the same data folder refuses to start and leaves the first one's files alone.
    void otherUser() {
        SimulatorRun simulator(172, {"--fault", "delay:ms=900,trep=1"});
        QVERIFY2(simulator.ready(), simulator.startOutput().constData());
        const QString timer =
            simulator.sysfsRoot() + "/bus/usb-serial/devices/ttyUSB172/latency_timer";
        QVERIFY(Write(timer, "16"));
        EngineHome home;
        simulator.connect(home);
        QProcess first;
        QProcess second;
        if (!RunAsOtherUser(first, home, simulator) || !RunAsOtherUser(second, home, simulator))
            QSKIP("no user other than root to run the engine as");
        home.start(first, {"A E {0,0}"});
        QTRY_COMPARE_WITH_TIMEOUT(home.status(), QByteArray("Downloading\r\n"), 20000);

        home.start(second, {"C E {15,15}"});
        const EngineResult refused = EngineHome::finish(second, 10000);
        QVERIFY(refused.finished);
        QCOMPARE(refused.messageBoxes, QStringList{"A download is already running"});

        const EngineResult result = EngineHome::finish(first, 60000);
        QVERIFY(result.finished);
        QCOMPARE(home.status(), QByteArray("Complete\r\n"));
        QCOMPARE(Read(timer), QByteArray("16"));
        const QByteArray log = home.log();
        QVERIFY2(log.startsWith("A E {0,0}\r\n"), log.constData());
        QVERIFY(!log.contains("C E {15,15}"));
        QVERIFY2(log.contains("Latency timer 16 ms, can't be changed (Permission denied; "
                              "low-latency flag: Inappropriate ioctl for device)\r\n"),
                 log.constData());
        QVERIFY(!log.contains("Latency timer back"));
    }
};

QTEST_GUILESS_MAIN(TestLatencyTimer)
#include "test_latency_timer.moc"
