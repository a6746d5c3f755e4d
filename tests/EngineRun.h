#pragma once

// Runs the real engine as a process inside a private home folder and collects what it
// leaves behind: its log, its status file, its message boxes and its exit.

#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>

struct EngineResult {
    bool finished = false;
    QProcess::ExitStatus exitStatus = QProcess::CrashExit;
    QStringList messageBoxes; // texts of the MSGBOX lines, in order
    bool endedNormally() const { return finished && exitStatus == QProcess::NormalExit; }
};

class EngineHome {
public:
    EngineHome() : sysfsRoot(home.filePath("sys")), devRoot(home.filePath("dev")) {
        QDir().mkpath(sysfsRoot);
        QDir().mkpath(devRoot);
    }

    QTemporaryDir home;
    QString sysfsRoot, devRoot;

    QString dataFolder() const { return home.filePath("data/Fenwright/Vantrel PC"); }
    QString documents() const { return home.filePath("Documents"); }
    QByteArray log() const { return readWhole(dataFolder() + "/VNPC.log"); }
    QByteArray status() const { return readWhole(dataFolder() + "/VNPCstatus.txt"); }
    QByteArray settings() const { return readWhole(dataFolder() + "/Settings.ini"); }
    // Download folders for the settings file to name (vuDataPath, cardDataPath).
    QString vuFolder() const { return home.filePath("VU"); }
    QString cardFolder() const { return home.filePath("Card"); }

    // The variables that put an engine into this home and at this cable.
    QList<std::pair<QString, QString>> homeVariables() const {
        return {{"HOME", home.path()},
                {"XDG_DATA_HOME", home.filePath("data")},
                {"XDG_CONFIG_HOME", home.filePath("config")},
                {"VANTREL_SYSFS_ROOT", sysfsRoot},
                {"VANTREL_DEV_ROOT", devRoot}};
    }

    QProcessEnvironment environment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const auto& [name, value] : homeVariables())
            env.insert(name, value);
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("VANTREL_NONINTERACTIVE", "1");
        return env;
    }

    // For engines that the code under test starts detached: they inherit this process's
    // environment.
    void exportEnvironment() const {
        for (const auto& [name, value] : homeVariables())
            qputenv(name.toUtf8().constData(), value.toUtf8());
    }

    // Starts the engine with its arguments; the caller waits or signals. With `boxesWait` its
    // boxes wait for an OK, as they do under the offscreen platform too.
    void start(QProcess& engine, const QStringList& arguments, bool boxesWait = false) const {
        QProcessEnvironment env = environment();
        if (boxesWait) env.remove("VANTREL_NONINTERACTIVE");
        engine.setProcessEnvironment(env);
        engine.start(QStringLiteral(VANTREL_BIN_DIR "/VNPCBase"), arguments);
    }

    EngineResult run(const QStringList& arguments, int timeoutMs = 20000) const {
        QProcess engine;
        start(engine, arguments);
        return finish(engine, timeoutMs);
    }

    static EngineResult finish(QProcess& engine, int timeoutMs) {
        EngineResult result;
        // An engine already seen to end (an event loop ran meanwhile) is not waited for.
        result.finished = engine.state() == QProcess::NotRunning
                              ? engine.error() != QProcess::FailedToStart
                              : engine.waitForFinished(timeoutMs);
        if (!result.finished) {
            engine.kill();
            engine.waitForFinished();
        }
        result.exitStatus = engine.exitStatus();
        for (const QByteArray& line : engine.readAllStandardError().split('\n'))
            if (line.startsWith("MSGBOX\t"))
                result.messageBoxes << QString::fromUtf8(line.mid(line.lastIndexOf('\t') + 1));
        return result;
    }
};

// Writes the engine's settings file before a run; the lines end CR LF as the engine writes.
inline bool writeEngineSettings(const EngineHome& home, const QStringList& lines) {
    return QDir().mkpath(home.dataFolder()) &&
           writeFile(home.dataFolder() + "/Settings.ini", (lines.join("\r\n") + "\r\n").toUtf8());
}

// The log's lines without their CR LF ends.
inline QList<QByteArray> logLines(const QByteArray& log) {
    return QByteArray(log).replace("\r\n", "\n").split('\n');
}

// A test's data from a table of rows: one data row per table row, named by it, holding
// its index in the column.
template <typename Row, std::size_t N>
void addRows(const Row (&rows)[N], const char* column = "row") {
    QTest::addColumn<int>(column);
    for (const Row& row : rows)
        QTest::newRow(row.name) << int(&row - rows);
}

// The names of the files in a folder, sorted.
inline QStringList filesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::Files, QDir::Name);
}
