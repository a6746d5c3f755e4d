// A running download: the FTDI latency timer at 1 ms while it lasts and the old value
// afterwards, however the engine ends; one engine per data folder.

#include "SimulatorRun.h"

#include <QTest>
#include <csignal>

class TestLatencyTimer : public QObject {
    Q_OBJECT

private slots:
    void runningEngine_data() {
        QTest::addColumn<int>("signal"); // 0: the download runs to its end
        QTest::addColumn<bool>("timerFile");
        QTest::addColumn<bool>("otherUser");    // and a second engine is started meanwhile
        QTest::addColumn<QByteArray>("logged"); // empty: nothing about the timer
        // The engine's standard error is a pipe nobody reads any more, and the unit refuses
        // Transfer Exit, so that a message-box line goes there.
        QTest::addColumn<bool>("lostErrors");
        const QByteArray lowered = "Latency timer 16 ms -> 1 ms\r\n";
        QTest::newRow("download ends") << 0 << true << false << lowered << false;
        QTest::newRow("SIGHUP") << int(SIGHUP) << true << false << lowered << false;
        QTest::newRow("standard error lost") << 0 << true << false << lowered << true;
        // Not an FTDI adapter: left alone.
        QTest::newRow("no latency timer") << 0 << false << false << QByteArray() << false;
        // The sysfs file is root's: the engine asks the port for its low-latency flag instead,
        // which a pty refuses, and says so.
        QTest::newRow("other user")
            << int(SIGTERM) << true << true
            << QByteArray("Latency timer 16 ms, can't be changed (Permission denied; "
                          "low-latency flag: Inappropriate ioctl for device)\r\n")
            << false;
    }
    void runningEngine() {
        QFETCH(int, signal);
        QFETCH(bool, timerFile);
        QFETCH(bool, otherUser);
        QFETCH(QByteArray, logged);
        QFETCH(bool, lostErrors);
        // The overview is answered late, so the session is open long enough to look.
        QStringList unit{"--days", "1", "--speed-blocks", "1", "--fault", "delay:ms=900,trep=1"};
        if (lostErrors) unit += {"--fault", "reject:on=exit,code=22"};
        SimulatorRun simulator(170, unit);
        QVERIFY2(simulator.ready(), simulator.startOutput().constData());
        const QString timer =
            simulator.sysfsRoot() + "/bus/usb-serial/devices/ttyUSB170/latency_timer";
        if (timerFile)
            QVERIFY(
                writeFile(timer, "16\n", QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
        EngineHome home;
        simulator.connect(home);
        QProcess first, second;
        if (otherUser) {
            if (!runAsOtherUser(first) || !runAsOtherUser(second))
                QSKIP("no user other than root to run the engine as");
            // Its home, the simulator's tree and the pty become that user's; the timer
            // stays root's, as on a real system.
            const OtherUser user = findOtherUser();
            for (const QString& path :
                 {home.home.path(), QFileInfo(simulator.devRoot() + "/ttyUSB170").symLinkTarget()})
                QVERIFY(::chown(QFile::encodeName(path).constData(), user.uid, user.gid) == 0);
            const QString simulatorRoot = QFileInfo(simulator.sysfsRoot()).path();
            QFile::setPermissions(simulatorRoot, QFile::permissions(simulatorRoot) |
                                                     QFile::ReadOther | QFile::ExeOther);
        }
        // The build may lie where that user cannot go (a clone in /root): a copy in the home.
        const QString engine = home.home.filePath("VNPCBase");
        QVERIFY(QFile::copy(VANTREL_BIN_DIR "/VNPCBase", engine));
        auto start = [&home, &engine, lostErrors](QProcess& process, const QString& command) {
            process.setProcessEnvironment(home.environment());
            if (lostErrors) // the engine's exit status comes back as the shell's
                process.start("bash", {"-c", R"("$0" "$1" 2>&1 >/dev/null | true
                                                exit "${PIPESTATUS[0]}")",
                                       engine, command});
            else
                process.start(engine, {command});
        };
        start(first, "A E {0,0}");
        QTRY_VERIFY_WITH_TIMEOUT(!home.status().isEmpty(), 20000);
        if (timerFile) QCOMPARE(readWhole(timer), QByteArray(otherUser ? "16\n" : "1\n"));
        if (otherUser) {
            start(second, "C E {15,15}");
            const EngineResult refused = EngineHome::finish(second, 10000);
            QVERIFY(refused.finished);
            QCOMPARE(refused.messageBoxes, QStringList{"A download is already running"});
        }
        if (signal) ::kill(pid_t(first.processId()), signal);
        QVERIFY(EngineHome::finish(first, 60000).endedNormally());
        QCOMPARE(first.exitCode(), 0);
        QCOMPARE(home.status(),
                 QByteArray(signal ? "Failed - Download stopped\r\n" : "Complete\r\n"));
        if (timerFile) QCOMPARE(readWhole(timer), QByteArray("16\n"));
        const QByteArray log = home.log();
        QVERIFY2(log.startsWith("A E {0,0}\r\n"), log.constData()); // the second kept out
        QCOMPARE(log.count("Latency timer"), logged.isEmpty() ? 0 : otherUser ? 1 : 2);
        QVERIFY2(log.contains(logged), log.constData());
        if (!logged.isEmpty() && !otherUser)
            QVERIFY(log.contains("Latency timer back to 16 ms\r\n"));
    }
};

QTEST_GUILESS_MAIN(TestLatencyTimer)
#include "test_latency_timer.moc"
