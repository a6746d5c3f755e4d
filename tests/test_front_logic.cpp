// Ending the engine: without touching a process that only shares its pid, and without
// waiting for ever on one that ignores the request. scripts/run.sh with and without a
// display.
#include "Launcher.h"

#include "TestFiles.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

class TestFrontLogic : public QObject {
    Q_OBJECT

    // A process of ours that the front end did not start; the caller kills it.
    static qint64 otherProcess(const QString& script) {
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
        const qint64 pid = otherProcess("exec sleep 30");
        const qint64 startTime = processStartTime(pid);
        QVERIFY(pid > 0 && startTime > 0);
        for (qint64 other : {startTime + 1, qint64(0)}) {
            QVERIFY(!engineRunning(pid, other));
            closeEngineWindows(pid, other);
        }
        QVERIFY(engineRunning(pid, startTime));
        ::kill(pid_t(pid), SIGKILL);
        QTRY_VERIFY(!engineRunning(pid, startTime));
    }

    void closeWaitIsBounded() {
        const qint64 pid = otherProcess("trap '' TERM; exec sleep 30");
        QVERIFY(pid > 0);
        QElapsedTimer clock;
        clock.start();
        closeEngineWindows(pid, -1, std::chrono::milliseconds(300));
        const qint64 waited = clock.elapsed();
        QVERIFY2(waited >= 300 && waited < 2000 && engineRunning(pid),
                 qPrintable(QString::number(waited)));
        ::kill(pid_t(pid), SIGKILL);
        QTRY_VERIFY(!engineRunning(pid));
    }

    // run.sh opens the window where there is a display to show it on; without one it says so,
    // names the headless demo and ends instead of waiting on a window nobody sees. Built
    // programs are stand-ins: the window notes that it was opened.
    void runScript() {
        // The display given: none, X11 or Wayland.
        for (const QString variable : {"", "DISPLAY", "WAYLAND_DISPLAY"}) {
            const bool opens = !variable.isEmpty();
            QTemporaryDir tree;
            const QString scripts = tree.filePath("scripts");
            const QString bin = tree.filePath("build/bin");
            QVERIFY(QDir().mkpath(scripts) && QDir().mkpath(bin));
            for (const char* script : {"run.sh", "sim-env.sh"})
                QVERIFY(QFile::copy(VANTREL_SOURCE_DIR "/scripts/" + QString(script),
                                    scripts + "/" + script));
            const QString opened = tree.filePath("opened");
            QVERIFY(writeFile(scripts + "/build.sh", "#!/bin/sh\n", kExecutable));
            QVERIFY(writeFile(bin + "/VantrelVuSim", "#!/bin/sh\necho READY\nexec sleep 30\n",
                              kExecutable));
            QVERIFY(writeFile(bin + "/VantrelPC", "#!/bin/sh\ntouch '" + opened.toUtf8() + "'\n",
                              kExecutable));
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "VANTREL_SIM_ARGS"})
                env.remove(name);
            if (!variable.isEmpty()) env.insert(variable, ":99");
            env.insert("VANTREL_SYSFS_ROOT", tree.filePath("sys")); // no cable
            env.insert("VANTREL_DEMO_DIR", tree.filePath("demo"));
            QProcess run;
            run.setProcessEnvironment(env);
            run.setProcessChannelMode(QProcess::MergedChannels);
            run.start("/bin/bash", {scripts + "/run.sh"});
            const bool ended = run.waitForFinished(60000); // or killed with run
            const QByteArray output = run.readAll();
            QVERIFY2(ended && QFile::exists(opened) == opens && run.exitCode() == (opens ? 0 : 1) &&
                         (output.contains("No display") &&
                          output.contains("scripts/download.sh --demo --all")) == !opens,
                     output.constData());
        }
    }
};

QTEST_GUILESS_MAIN(TestFrontLogic)
#include "test_front_logic.moc"
