// The FTDI latency timer: 1 ms while the engine runs a session, the old value afterwards.

#include "SimulatorRun.h"

#include <QTest>

class TestLatencyTimer : public QObject {
    Q_OBJECT

    static QByteArray Read(const QString& path) { return ReadAll(path).trimmed(); }
    static void Write(const QString& path, const QByteArray& value) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(value + '\n');
    }

private slots:
    void lowerDuringSessionRestoreAfter() {
        // The overview is answered late, so the session is open long enough to look.
        SimulatorRun simulator(170, {"--fault", "delay:ms=900,trep=1"});
        QVERIFY2(simulator.ready(), simulator.startOutput().constData());
        const QString timer =
            simulator.sysfsRoot() + "/bus/usb-serial/devices/ttyUSB170/latency_timer";
        Write(timer, "16");
        EngineHome home;
        simulator.connect(home);
        QProcess engine;
        home.start(engine, {"A E {0,0}"});
        QTRY_COMPARE_WITH_TIMEOUT(Read(timer), QByteArray("1"), 20000);
        const EngineResult result = EngineHome::finish(engine, 60000);
        QVERIFY(result.finished);
        QCOMPARE(home.status(), QByteArray("Complete\r\n"));
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
};

QTEST_GUILESS_MAIN(TestLatencyTimer)
#include "test_latency_timer.moc"
