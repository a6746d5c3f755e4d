#pragma once

// Runs the headless download command in a private home folder, with the simulated vehicle
// unit forced (an empty sysfs tree hides any real cable), and reads what it printed.

#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

struct DownloadResult {
    bool finished = false;
    int exitCode = -1;
    QStringList savedPaths; // the "saved: " lines
    QString status;         // the "status: " line
    QStringList messages;   // the "message: " lines (message boxes)
    QByteArray output;      // standard output and error, for failure reports
};

class DownloadHome {
public:
    DownloadHome() { QDir().mkpath(noCableSysfs()); }

    QTemporaryDir home;

    QString noCableSysfs() const { return home.filePath("no-cable-sys"); }
    QString served() const { return home.filePath("served.bin"); }
    QString documents() const { return home.filePath("Documents"); }
    // Folders the simulator made for itself (TMPDIR points here); none may outlive a run.
    QStringList simulatorFolders() const {
        return QDir(home.path()).entryList({"vantrel-sim.*"}, QDir::Dirs);
    }

    // command: the script or installed command; binDir: empty to let it find the programs.
    DownloadResult run(const QString& command, const QStringList& arguments, const QString& simArgs,
                       const QString& binDir = QString()) const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home.path());
        env.insert("TMPDIR", home.path());
        env.insert("XDG_DATA_HOME", home.filePath("data"));
        env.insert("XDG_CONFIG_HOME", home.filePath("config"));
        env.insert("VANTREL_SYSFS_ROOT", noCableSysfs());
        env.remove("VANTREL_DEV_ROOT");
        env.insert("VANTREL_SIM_ARGS", simArgs + " --served " + served());
        if (binDir.isEmpty())
            env.remove("VANTREL_BIN_DIR");
        else
            env.insert("VANTREL_BIN_DIR", binDir);
        QProcess process;
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(command, arguments);
        DownloadResult result;
        result.finished = process.waitForFinished(120000);
        if (!result.finished) {
            process.kill();
            process.waitForFinished();
        }
        result.exitCode = process.exitCode();
        result.output = process.readAll();
        for (const QByteArray& line : result.output.split('\n')) {
            const QString text = QString::fromUtf8(line);
            if (text.startsWith("saved: ")) result.savedPaths << text.mid(7);
            if (text.startsWith("status: ")) result.status = text.mid(8);
            if (text.startsWith("message: ")) result.messages << text.mid(9);
        }
        return result;
    }
};
