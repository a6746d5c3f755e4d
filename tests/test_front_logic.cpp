// The front end's deciding logic, without its window: the engine lookup, the lamps, and
// ending the engine without touching a process that only shares its pid.
#include "Launcher.h"
#include "Leds.h"

#include "TestFiles.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

class TestFrontLogic : public QObject {
    Q_OBJECT

    // A process of ours that the front end did not start; the caller kills it.
    static qint64 OtherProcess(const QString& script) {
        qint64 pid = 0;
        if (!QProcess::startDetached("/bin/sh", {"-c", script}, QString(), &pid)) return 0;
        // Wait for the exec, so that the start time read later is the one it keeps.
        const bool execed = QTest::qWaitFor([&] {
            return QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(pid)) ==
                   QFileInfo("/bin/sleep").canonicalFilePath();
        });
        return execed ? pid : 0;
    }

private slots:
    // The engine is a regular executable file of its name in any letter case, the exact
    // name first.
    void findEngine() {
        QTemporaryDir dir;
        const auto found = [&] { return QFileInfo(FindEngine(dir.path())).fileName(); };
        QVERIFY(QDir(dir.path()).mkdir("VNPCBase"));
        QVERIFY(WriteFile(dir.filePath("vnpcbase"), "#!/bin/sh\n")); // not executable
        for (const char* other : {"VNPCBase.exe", "VNPCBase2", "real"})
            QVERIFY(WriteFile(dir.filePath(other), "#!/bin/sh\n", kExecutable));
        QCOMPARE(found(), QString());
        QVERIFY(QFile::link(dir.filePath("real"), dir.filePath("VNPCBASE")));
        QCOMPARE(found(), QStringLiteral("VNPCBASE"));
        QVERIFY(QDir(dir.path()).rmdir("VNPCBase"));
        QVERIFY(WriteFile(dir.filePath("VNPCBase"), "#!/bin/sh\n", kExecutable));
        QCOMPARE(found(), QStringLiteral("VNPCBase"));
    }

    // Steps as lamp, + lit or - dark, and the next interval or "stop".
    void ledPattern_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("litLed");
        QTest::addColumn<QString>("steps");
        QTest::newRow("idle scan from start-up")
            << int(kLedIdle) << 0 << -1 << "1+150 1-1100 2+150 2-1100 0+150 0-1100 1+150";
        QTest::newRow("running") << int(kLedRunning) << 2 << -1 << "2+250 2-250 2+250 2-250";
        QTest::newRow("complete") << int(kLedComplete) << 1 << -1 << "1+50 1-1250 1+50";
        QTest::newRow("complete while lit") << int(kLedComplete) << 1 << 1 << "1-1250 1+50";
        QTest::newRow("failed") << int(kLedFailed) << 0 << -1 << "0+stop";
        QTest::newRow("failed, other lamp lit") << int(kLedFailed) << 2 << 1 << "2+stop";
    }
    void ledPattern() {
        QFETCH(int, mode);
        QFETCH(int, index);
        QFETCH(int, litLed);
        QFETCH(QString, steps);
        LedAnimator leds{qint16(mode), index, litLed};
        QStringList seen;
        while (seen.size() < steps.count(' ') + 1) {
            const LedStep step = leds.Tick();
            seen << QStringLiteral("%1%2").arg(step.lamp).arg(step.lit ? '+' : '-') +
                        (step.stopTimer ? QStringLiteral("stop") : QString::number(step.interval));
            QCOMPARE(leds.LitLed, step.lit ? step.lamp : -1);
        }
        QCOMPARE(seen.join(' '), steps);
    }

    // The pid alone does not make a process the engine: one with another start time, or any
    // when the engine was gone before its start time could be read (0), is left alone.
    void closeLeavesAProcessWithTheSamePid() {
        const qint64 pid = OtherProcess("exec sleep 30");
        QVERIFY(pid > 0);
        const qint64 startTime = ProcessStartTime(pid);
        QVERIFY(startTime > 0);
        for (qint64 other : {startTime + 1, qint64(0)}) {
            QVERIFY(!EngineRunning(pid, other));
            CloseEngineWindows(pid, other);
        }
        QVERIFY(EngineRunning(pid, startTime));
        ::kill(pid_t(pid), SIGKILL);
        QTRY_VERIFY(!EngineRunning(pid, startTime));
    }

    void closeWaitIsBounded() {
        const qint64 pid = OtherProcess("trap '' TERM; exec sleep 30");
        QVERIFY(pid > 0);
        QElapsedTimer clock;
        clock.start();
        CloseEngineWindows(pid, -1, std::chrono::milliseconds(300));
        QVERIFY(clock.elapsed() >= 300);
        QVERIFY(clock.elapsed() < 2000);
        QVERIFY(EngineRunning(pid));
        ::kill(pid_t(pid), SIGKILL);
        QTRY_VERIFY(!EngineRunning(pid));
    }
};

QTEST_GUILESS_MAIN(TestFrontLogic)
#include "test_front_logic.moc"
