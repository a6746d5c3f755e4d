#pragma once

// Runs the headless download command in a private home folder (no cable unless a test's
// simulator provides one) and reads what it printed.

#include "EngineRun.h"

#include <QRegularExpression>

struct DownloadResult {
    int exitCode = -1;        // -1: it did not start, crashed or did not end in time
    QStringList savedPaths;   // the "saved: PATH (N bytes)" lines
    QList<qint64> savedSizes; // their sizes
    QString status;           // the "status: " line
    QString vehicle;          // the "vehicle: " or "card: " line, whole
    QStringList progress;     // the "progress: " lines, in order
    QByteArray standardOutput;
    QByteArray output; // standard output, then standard error, for checks and failure reports
};

class DownloadHome : public EngineHome {
public:
    QStringList unset; // variables taken from the command's environment, besides the test's own

    // What a --demo run's simulator served.
    QString served() const { return home.filePath("served.bin"); }

    // command: the script or installed command; simArgs: for a --demo run's simulator;
    // binDir: empty to let the command find the programs.
    void start(QProcess& process, const QString& command, const QStringList& arguments,
               const QString& simArgs = QString(), const QString& binDir = QString()) const {
        QProcessEnvironment env = environment();
        // The command sets up the engine's environment itself.
        for (const QString& name :
             unset + QStringList{"QT_QPA_PLATFORM", "VANTREL_NONINTERACTIVE", "VANTREL_DEMO",
                                 "VANTREL_FILE_NAME_STYLE", "VANTREL_BIN_DIR"})
            env.remove(name);
        env.insert("TMPDIR", home.path());
        env.insert("VANTREL_SIM_ARGS", simArgs + " --served " + served());
        if (!binDir.isEmpty()) env.insert("VANTREL_BIN_DIR", binDir);
        process.setProcessEnvironment(env);
        // A relative path in the settings is taken from here: inside the home, never the test's.
        process.setWorkingDirectory(home.path());
        process.start(command, arguments);
    }

    static DownloadResult finish(QProcess& process) {
        DownloadResult result;
        const bool finished = process.waitForFinished(120000);
        if (!finished) {
            process.kill();
            process.waitForFinished();
        }
        result.exitCode =
            finished && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        result.standardOutput = process.readAllStandardOutput();
        result.output = result.standardOutput + process.readAllStandardError();
        static const QRegularExpression saved("^saved: (.*) \\((\\d+) bytes\\)$");
        for (const QString& text : QString::fromUtf8(result.standardOutput).split('\n')) {
            if (const auto m = saved.match(text); m.hasMatch()) {
                result.savedPaths << m.captured(1);
                result.savedSizes << m.captured(2).toLongLong();
            }
            if (text.startsWith("status: ")) result.status = text.mid(8);
            if (text.startsWith("vehicle: ") || text.startsWith("card: ")) result.vehicle = text;
            if (text.startsWith("progress: ")) result.progress << text.mid(10);
        }
        return result;
    }

    DownloadResult run(const QString& command, const QStringList& arguments,
                       const QString& simArgs = QString(),
                       const QString& binDir = QString()) const {
        QProcess process;
        start(process, command, arguments, simArgs, binDir);
        return finish(process);
    }
};
