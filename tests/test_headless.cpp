// The headless download command (scripts/download.sh) against the simulated vehicle unit,
// attached as a cable would be: what it saves and where, the settings it shares with the
// window, what it prints, its exit codes, and the runs it refuses.
#include "DownloadRun.h"
#include "SimulatorRun.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>

namespace {
const QString kScript = QStringLiteral(VANTREL_SOURCE_DIR "/scripts/download.sh");
// QSerialPort locks by port name: this test's simulator has a number no other test uses.
constexpr int kPort = 140;
// The simulated unit's file under the window's default style and under the EU style.
const QString kLdName = R"([^/]*VT-SIM 42 *_WDB9066331S123456_\d{8}_\d{4}\.DDD)";
const QString kEuName = R"([^/]*\d{8}_\d{4}_VT-SIM 42 *_WDB9066331S123456\.DDD)";
const QByteArray kWindowHeader = "#============== Settings ==============#\r\n";

QStringList FilesBelow(const QString& folder) {
    QStringList files;
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    return files;
}
} // namespace

class TestHeadless : public QObject {
    Q_OBJECT

private slots:
    // Each row one run. unit: the simulator's options, none for no cable; settings: the
    // [Options] lines of a Settings.ini there before the run (empty: none, the window's
    // defaults must be written); saved: the saved file's path below the home, as a pattern;
    // text: what the output must hold. Bad usage (exit 3) names what is wrong and touches
    // nothing.
    void run_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("unit");
        QTest::addColumn<QString>("settings");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("saved");
        QTest::addColumn<QString>("text");
        const QStringList unit{"--days", "2"}, none;
        const QString ld = "Documents/Vantrel PC/Data/VU/" + kLdName, kept = "FileNameStyle=LD";
        const auto row = [](const char* name, const QStringList& arguments, const QStringList& unit,
                            const QString& settings, int exitCode, const QString& saved,
                            const char* text) {
            QTest::newRow(name) << arguments << unit << settings << exitCode << saved << text;
        };
        // clang-format off
        row("first run: window's folder and style", {"A"}, unit, "", 0, ld, "status: Complete");
        row("--style EU, quiet, settings kept", {"--quiet", "--style", "eu", "--all"}, unit, kept, 0, "VU/" + kEuName, "status: Complete");
        row("logging off", {"--quiet", "--latest", "1", "0"}, unit, kept + "\r\nLog=False", 0, "VU/" + kLdName, "status: Complete");
        row("--json, latest", {"--json", "--latest", "1,2", "1"}, unit, "", 0, ld, "");
        row("unit refuses", {"L [001002] 1"}, {"--fault", "reject:on=diag,code=12"}, "", 1, "", "status: Failed");
        row("no cable", {"--card"}, none, "", 2, "", "message: Can't find a VantrelPC cable");
        row("help", {"--help"}, none, "", 0, "", "--latest 1,2,5 7");
        // Bad usage: the message names what is wrong.
        row("unknown option", {"--everything"}, none, "", 3, "", "--everything");
        row("two downloads", {"A", "--card"}, none, "", 3, "", "one download");
        row("days", {"--latest", "1", "400"}, none, "", 3, "", "400");
        row("style", {"--style", "DE", "A"}, none, "", 3, "", "DE");
        // clang-format on
    }
    void run() {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, unit);
        QFETCH(QString, settings);
        QFETCH(int, exitCode);
        QFETCH(QString, saved);
        QFETCH(QString, text);
        DownloadHome home;
        std::optional<SimulatorRun> simulator;
        if (!unit.isEmpty()) {
            simulator.emplace(kPort, unit);
            QVERIFY2(simulator->ready(), simulator->startOutput());
            simulator->connect(home);
        }
        const QString settingsFile = home.dataFolder() + "/Settings.ini";
        const QByteArray settingsBefore =
            kWindowHeader + "\r\n[InstallSettings]\r\nVUDataPath=" + home.vuFolder().toUtf8() +
            "\r\n\r\n[Options]\r\n" + settings.toUtf8() + "\r\n";
        if (!settings.isEmpty())
            QVERIFY(QDir().mkpath(home.dataFolder()) && QDir().mkpath(home.vuFolder()) &&
                    WriteFile(settingsFile, settingsBefore));

        const DownloadResult result = home.run("bash", QStringList{kScript} + arguments);
        const char* output = result.output.constData();
        QVERIFY2(result.finished && result.exitCode == exitCode, output);
        QVERIFY2(result.output.contains(text.toUtf8()), output);

        // The files on disk, the files reported, nothing else.
        const QStringList files = FilesBelow(home.documents()) + FilesBelow(home.vuFolder());
        QCOMPARE(files.size(), saved.isEmpty() ? 0 : 1);
        const QRegularExpression name("^" + QRegularExpression::escape(home.home.path()) + "/" +
                                      saved + "$");
        if (!saved.isEmpty()) QVERIFY2(name.match(files.first()).hasMatch(), qPrintable(files[0]));
        const bool json = arguments.contains("--json");
        const QJsonObject object = QJsonDocument::fromJson(result.standardOutput).object();
        if (json)
            QCOMPARE(object["status"].toString() + object["log"].toString(),
                     "Complete" + home.dataFolder() + "/VNPC.log");
        QCOMPARE(json ? QStringList{object["files"][0]["path"].toString()} : result.savedPaths,
                 files);
        if (!json && !files.isEmpty())
            QCOMPARE(result.savedSizes.first(), QFileInfo(files.first()).size());

        // The window's defaults are written before the engine runs; an existing file and a
        // refused command line leave everything as it was.
        if (!settings.isEmpty())
            QCOMPARE(ReadAll(settingsFile), settingsBefore);
        else if (exitCode == 3 || arguments.contains("--help"))
            QVERIFY2(!QFileInfo::exists(home.dataFolder()) && result.status.isEmpty(), output);
        else
            QVERIFY2(ReadAll(settingsFile).startsWith(kWindowHeader) &&
                         ReadAll(settingsFile).contains("\r\nFileNameStyle=LD\r\n"),
                     ReadAll(settingsFile).constData());

        // Without a terminal: one line per change of state, in order, before the result.
        if (arguments == QStringList{"A"}) {
            QVERIFY2(result.progress.size() >= 2, output);
            QCOMPARE(result.progress.mid(0, 2), QStringList({"waiting for the vehicle unit",
                                                             "downloading all vehicle-unit data"}));
            int last = 0;
            for (const QString& line : result.progress.mid(2)) {
                QVERIFY2(line.endsWith('%') && line.chopped(1).toInt() > last, output);
                last = line.chopped(1).toInt();
            }
            QVERIFY(result.standardOutput.indexOf("progress: ") <
                    result.standardOutput.indexOf("saved: "));
        } else if (arguments.contains("--quiet") || json) {
            QVERIFY2(result.progress.isEmpty(), output);
        }
    }

    // A run whose engine is missing, or fails after writing "Complete", reports a failure,
    // not a download.
    void brokenEngineIsAFailure() {
        DownloadHome home;
        const QString bin = home.home.filePath("bin");
        QVERIFY(QDir().mkpath(bin));
        QVERIFY(QFile::copy(VANTREL_BIN_DIR "/VantrelDownload", bin + "/VantrelDownload"));
        for (const QByteArray& engine :
             {QByteArray(), QByteArray("#!/bin/sh\nprintf 'Complete\\r\\n' >\"$XDG_DATA_HOME/"
                                       "Fenwright/Vantrel PC/VNPCstatus.txt\"\nexit 1\n")}) {
            if (!engine.isEmpty()) QVERIFY(WriteFile(bin + "/VNPCBase", engine, kExecutable));
            const DownloadResult again = home.run("bash", {kScript, "A"}, QString(), bin);
            QVERIFY2(again.exitCode == 1 && again.savedPaths.isEmpty() &&
                         again.status.startsWith("Failed") && again.output.contains("engine"),
                     again.output.constData());
        }
    }

    // The data folder held by another program (the window, its engine starting): the run is
    // refused before it touches the status file. An engine refused all the same (another
    // started it meanwhile) makes the run fail with its own status, never the other's.
    void folderHeldElsewhere() {
        DownloadHome home;
        QVERIFY(QDir().mkpath(home.dataFolder()));
        const QString status = home.dataFolder() + "/VNPCstatus.txt";
        QVERIFY(WriteFile(status, "Downloading\r\n"));
        const int held =
            ::open(QFile::encodeName(home.dataFolder()).constData(), O_RDONLY | O_DIRECTORY);
        QVERIFY(held >= 0 && ::flock(held, LOCK_EX | LOCK_NB) == 0);
        const DownloadResult refused =
            home.run("bash", {kScript, "--json", "A"}, QString(), VANTREL_BIN_DIR);
        ::close(held);
        const QJsonObject json = QJsonDocument::fromJson(refused.standardOutput).object();
        QVERIFY2(refused.exitCode == 2 &&
                     json["status"].toString() == "Failed - another download is running",
                 refused.output.constData());
        QCOMPARE(ReadAll(status), QByteArray("Downloading\r\n"));

        const QString bin = home.home.filePath("bin");
        QVERIFY(QDir().mkpath(bin) &&
                QFile::copy(VANTREL_BIN_DIR "/VantrelDownload", bin + "/VantrelDownload"));
        QVERIFY(WriteFile(bin + "/VNPCBase",
                          "#!/bin/sh\nprintf 'Downloading\\r\\n' >\"$XDG_DATA_HOME/Fenwright/"
                          "Vantrel PC/VNPCstatus.txt\"\nprintf 'MSGBOX\\tVantrelPC\\tA "
                          "download is already running\\n' >&2\n",
                          kExecutable));
        const DownloadResult engineRefused = home.run("bash", {kScript, "A"}, QString(), bin);
        QVERIFY2(engineRefused.exitCode == 2 &&
                     engineRefused.status == "Failed - another download is running",
                 engineRefused.output.constData());
    }

    // While one run downloads, a second is refused (in JSON too, when asked) and leaves the
    // status alone; Ctrl+C then ends the first with its engine: the files on disk are the
    // files reported, and the exit code is 0 only for a complete download.
    void secondRunAndInterrupt() {
        DownloadHome home;
        const auto refused = [&](const QStringList& arguments) {
            const DownloadResult result = home.run("bash", QStringList{kScript} + arguments);
            const QJsonObject json = QJsonDocument::fromJson(result.standardOutput).object();
            const bool ok = result.exitCode == 2 && result.output.contains("already running") &&
                            (!arguments.contains("--json") ||
                             (json["exit_code"].toInt() == 2 && json["files"].toArray().isEmpty() &&
                              json["status"].toString().startsWith("Failed") &&
                              json["messages"][0].toString().contains("already running")));
            if (!ok) qWarning("%s", result.output.constData());
            return ok;
        };
        // Ctrl+C while the unit sends data: no file, exit 130. Once all data is in (Transfer
        // Exit left unanswered, the engine waiting for it), the file is saved and reported.
        for (const bool closing : {false, true}) {
            SimulatorRun simulator(kPort,
                                   closing ? QStringList{"--days", "2", "--fault", "silent:on=exit"}
                                           : QStringList{"--days", "2", "--delay", "300"});
            QVERIFY2(simulator.ready(), simulator.startOutput());
            simulator.connect(home);
            if (closing) {
                QFile settings(home.dataFolder() + "/Settings.ini");
                QVERIFY(settings.open(QIODevice::Append) && settings.write("RXTIMEOUT=60000\r\n"));
            }
            QProcess first;
            home.start(first, "bash",
                       closing ? QStringList{kScript, "--latest", "1", "0"}
                               : QStringList{kScript, "A"});
            if (closing) {
                QTRY_VERIFY_WITH_TIMEOUT(
                    !simulator.requestsStartingWith(QByteArray::fromHex("80EEF00137")).isEmpty(),
                    20000);
            } else {
                QTRY_VERIFY_WITH_TIMEOUT(
                    home.status().startsWith("Downloading") || home.status().contains('/'), 20000);
                QVERIFY(refused({"A"}) && refused({"--json", "--card"}));
                QVERIFY2(!home.status().startsWith("Failed"), home.status().constData());
            }
            ::kill(pid_t(first.processId()), SIGINT);
            const DownloadResult interrupted = DownloadHome::finish(first);
            const char* output = interrupted.output.constData();
            QVERIFY2(interrupted.exitCode == (closing ? 0 : 130), output);
            QVERIFY2((interrupted.status == "Complete") == closing, output);
            QCOMPARE(interrupted.savedPaths, FilesBelow(home.documents()));
            QCOMPARE(interrupted.savedPaths.size(), closing ? 1 : 0);
            if (closing) break;
            // The engine has ended: its status no longer moves.
            const QString status = home.dataFolder() + "/VNPCstatus.txt";
            const QDateTime written = QFileInfo(status).lastModified();
            QTest::qWait(1500);
            QCOMPARE(QFileInfo(status).lastModified(), written);
        }
    }
};

QTEST_MAIN(TestHeadless)
#include "test_headless.moc"
