// Ending the engine: without touching a process that only shares its pid, and without
// waiting for ever on one that ignores the request.
#include "Launcher.h"

#include <QElapsedTimer>
#include <QProcess>
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
