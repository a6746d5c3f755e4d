// The headless download command (scripts/download.sh) against the simulated vehicle unit,
// attached as a cable would be: what it saves and where, the settings it shares with the
// window, what it prints, its exit codes, and the runs it refuses.
#include "DownloadRun.h"
#include "DownloadSummary.h"
#include "SimulatorRun.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>
#include <csignal>
#include <fcntl.h>
#include <pty.h>
#include <sys/file.h>
#include <unistd.h>

// One run of the command: see run_data.
struct Run {
    QStringList arguments, unit;
    QString settings;
    int exitCode;
    QString saved, text, account = {};
};
Q_DECLARE_METATYPE(Run)
// An engine's program text (empty: none), the exit code, the status and the reason shown.
using Broken = std::tuple<QByteArray, int, QString, QString>;
Q_DECLARE_METATYPE(Broken)

namespace {
const QString kScript = QStringLiteral(VANTREL_SOURCE_DIR "/scripts/download.sh");
// The programs of this build: a test never runs, nor builds, those of another tree.
const QString kBin = QStringLiteral(VANTREL_BIN_DIR);
// QSerialPort locks by port name: this test's simulator has a number no other test uses.
constexpr int kPort = 140;
// The simulated unit's file under the window's default style and under the EU style.
const QString kLdName = R"([^/]*VT-SIM 42 *_WDB9066331S123456_\d{8}_\d{4}\.DDD)";
const QString kEuName = R"([^/]*\d{8}_\d{4}_VT-SIM 42 *_WDB9066331S123456\.DDD)";
const QByteArray kWindowHeader = "#============== Settings ==============#\r\n";

QStringList filesBelow(const QString& folder) {
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    return files;
}

// The files a run left anywhere in its home but for the programs' own data folder.
QStringList savedBelow(const DownloadHome& home) {
    QStringList files = filesBelow(home.home.path());
    files.removeIf([&home](const QString& file) {
        return file.startsWith(home.dataFolder() + "/") || file == home.served();
    });
    return files;
}

DownloadResult runDownload(const DownloadHome& home, const QStringList& arguments,
                           const QString& bin = kBin) {
    return home.run("bash", QStringList{kScript} + arguments, QString(), bin);
}

QJsonObject jsonOf(const DownloadResult& result) {
    return QJsonDocument::fromJson(result.standardOutput).object();
}

// With --json a failure is still one object: its exit code, no files, the reason first.
bool isFailure(const QJsonObject& object, int exitCode, const QString& reason) {
    return object["exit_code"].toInt(-1) == exitCode && object["files"].toArray().isEmpty() &&
           object["status"].toString().startsWith("Failed") &&
           object["messages"][0].toString().contains(reason);
}

// A home whose cable leads to a simulated unit with these options; none: no cable.
struct UnitHome : DownloadHome {
    explicit UnitHome(const QStringList& unit) {
        if (!unit.isEmpty()) simulator.emplace(kPort, unit).connect(*this);
    }
    bool ready() const { return !simulator || simulator->ready(); }
    QByteArray startOutput() const { return simulator ? simulator->startOutput() : QByteArray(); }
    std::optional<SimulatorRun> simulator;
};

// A bin folder with the command's program and this engine (empty: none).
QString fakeBin(const DownloadHome& home, const QByteArray& engine) {
    const QString bin = home.home.filePath("bin");
    if (!QDir().mkpath(bin) || !QFile::copy(kBin + "/VantrelDownload", bin + "/VantrelDownload") ||
        (!engine.isEmpty() && !writeFile(bin + "/VNPCBase", engine, kExecutable)))
        return QString();
    return bin;
}
} // namespace

class TestHeadless : public QObject {
    Q_OBJECT

private slots:
    // Each row one run. unit: the simulator's options, none for no cable; settings: the
    // [Options] lines of a Settings.ini there before the run (empty: none, the window's
    // defaults must be written; $HOME stands for the home); saved: the saved file's path below
    // the home, as a pattern; text: what the output must hold; account: what was downloaded,
    // the "vehicle"/"card" member with --json, else the line (empty for a saved file: the
    // simulated unit's). Bad usage (exit 3) names what is wrong and touches nothing. A data
    // path is read as the window reads it, and every path listed is absolute. Fields the data
    // does not hold are left out of the account.
    void run_data() {
        QTest::addColumn<Run>("row");
        const QStringList unit{"--days", "2", "--today", "2025-03-10"}, none;
        const QStringList sample{"--ddd", VANTREL_SAMPLES_DIR "/vu_gen1_000-anonymized.DDD"};
        const QString ld = "Documents/Vantrel PC/Data/VU/" + kLdName, kept = "FileNameStyle=LD";
        const QString card = "Documents/Vantrel PC/Data/Card/[^/]*\\.DDD";
        const QString sim =
            R"({"vehicle":{"vin":"WDB9066331S123456","registration":"VT-SIM 42","nation":"D",)";
        const QString days = R"("oldest_day":"2025-03-09","latest_day":"2025-03-10"}})";
        const QString line = "vehicle: VIN WDB9066331S123456, registration VT-SIM 42 (D), "
                             "generation %1, days 2025-03-09 to 2025-03-10";
        const auto row = [&](const char* name, Run run) {
            if (run.account.isEmpty() && !run.saved.isEmpty())
                run.account = run.arguments.contains("--json") ? sim + R"("generation":1,)" + days
                                                               : line.arg(1);
            QTest::newRow(name) << run;
        };
        // clang-format off
        row("first run: window's folder and style", {{"A"}, unit, "", 0, ld, "status: Complete"});
        row("--style EU, quiet, settings kept", {{"--quiet", "--style", "eu", "--all"}, unit, kept, 0, "VU/" + kEuName, "status: Complete"});
        row("logging off", {{"--quiet", "--latest", "1", "0"}, unit, kept + "\r\nLog=False", 0, "VU/" + kLdName, "status: Complete"});
        row("quoted data path", {{"-q", "A"}, unit, kept + "\r\nVUDataPath= \"$HOME/tacho data/VU\" ", 0, "tacho data/VU/" + kLdName, "status: Complete"});
        row("relative data path", {{"--json", "A"}, unit, kept + "\r\nVUDataPath=rel VU", 0, "rel VU/" + kLdName, ""});
        row("second generation", {{"-q", "A"}, unit + QStringList{"--gen2"}, "", 0, ld, "", line.arg("2 version 1")});
        row("second generation, version 2, latest", {{"--json", "--latest", "1,2", "0"}, unit + QStringList{"--gen2v2"}, "", 0, ld, "", sim + R"("generation":2,"interface_version":2,"oldest_day":"2025-03-10","latest_day":"2025-03-10"}})"});
        row("card", {{"--json", "C"}, unit, "", 0, card, "", R"({"card":{"number":"DSIM000012345600","nation":"D"}})"});
        row("card, line", {{"C"}, unit, "", 0, card, "", "card: DSIM000012345600 (D)"});
        // A masked real download without a nation.
        row("sample", {{"--json", "--latest", "1", "0"}, sample, "", 0, "Documents/Vantrel PC/Data/VU/[^/]*\\.DDD", "", R"({"vehicle":{"vin":"*****************","registration":"*************",)"
            R"("generation":1,"oldest_day":"2025-09-12","latest_day":"2025-09-12"}})"});
        row("unit refuses", {{"L [001002] 1"}, {"--fault", "reject:on=diag,code=12"}, "", 1, "", "status: Failed"});
        row("no cable", {{"--card"}, none, "", 2, "", "message: Can't find a VantrelPC cable"});
        row("help", {{"--help"}, none, "", 0, "", "--latest 1,2,5 7"});
        // Bad usage: the message names what is wrong.
        row("unknown option", {{"--everything"}, none, "", 3, "", "--everything"});
        row("--json, bad usage", {{"--style=DE", "--json"}, none, "", 3, "", "DE"});
        row("two downloads", {{"A", "--card"}, none, "", 3, "", "one download"});
        row("days", {{"--latest", "1", "400"}, none, "", 3, "", "400"});
        // clang-format on
    }
    void run() {
        QFETCH(Run, row);
        const auto& [arguments, unit, settings, exitCode, saved, text, account] = row;
        if (unit.value(0) == "--ddd" && !QFileInfo::exists(unit[1]))
            QSKIP("the sample downloads are not there");
        UnitHome home(unit);
        QVERIFY2(home.ready(), home.startOutput());
        const QByteArray settingsBefore =
            kWindowHeader + "\r\n[InstallSettings]\r\nVUDataPath=" + home.vuFolder().toUtf8() +
            "\r\n\r\n[Options]\r\n" +
            QString(settings).replace("$HOME", home.home.path()).toUtf8() + "\r\n";
        if (!settings.isEmpty())
            QVERIFY(QDir().mkpath(home.dataFolder()) && QDir().mkpath(home.vuFolder()) &&
                    writeFile(home.dataFolder() + "/Settings.ini", settingsBefore));

        const DownloadResult result = runDownload(home, arguments);
        const char* output = result.output.constData();
        QVERIFY2(result.exitCode == exitCode && result.output.contains(text.toUtf8()), output);

        // The files on disk, the files reported, nothing else.
        const QStringList files = savedBelow(home);
        const QRegularExpression name("^" + QRegularExpression::escape(home.home.path()) + "/" +
                                      saved + "$");
        QVERIFY2(saved.isEmpty() ? files.isEmpty() : files.size() == 1 && files[0].contains(name),
                 qPrintable(files.join('\n')));
        const bool json = arguments.contains("--json");
        const QJsonObject object = jsonOf(result);
        // With --json, always one object, whatever went wrong.
        if (json && exitCode == 0)
            QCOMPARE(object["status"].toString() + object["log"].toString() +
                         QString::number(object["exit_code"].toInt(-1)),
                     "Complete" + home.dataFolder() + "/VNPC.log0");
        if (json && exitCode != 0) QVERIFY2(isFailure(object, exitCode, text), output);
        QStringList listed = result.savedPaths;
        for (const QJsonValue& file : object["files"].toArray())
            listed << file["path"].toString();
        QCOMPARE(listed, files);
        if (!json && !files.isEmpty())
            QCOMPARE(result.savedSizes.first(), QFileInfo(files.first()).size());

        // The window's defaults are written before the engine runs; an existing file and a
        // refused command line leave everything as it was.
        if (!settings.isEmpty())
            QCOMPARE(home.settings(), settingsBefore);
        else if (exitCode == 3 || arguments.contains("--help"))
            QVERIFY2(!QFileInfo::exists(home.dataFolder()) && result.status.isEmpty(), output);
        else
            QVERIFY2(home.settings().startsWith(kWindowHeader) &&
                         home.settings().contains("\r\nFileNameStyle=LD\r\n"),
                     home.settings().constData());

        // What was downloaded: the unit's own account, in one line or in the object.
        const QJsonObject shown{{"vehicle", object["vehicle"]}, {"card", object["card"]}};
        if (json) QCOMPARE(shown, QJsonDocument::fromJson(account.toUtf8()).object());
        if (!json) QCOMPARE(result.vehicle, account);

        // Without a terminal: one line per change of state, in order, before the result; each
        // quarter once, none left out.
        if (arguments == QStringList{"A"}) {
            QCOMPARE(result.progress, QStringList({"waiting for the vehicle unit",
                                                   "downloading all vehicle-unit data", "25%",
                                                   "50%", "75%", "100%"}));
            QVERIFY(result.standardOutput.indexOf("progress: ") <
                    result.standardOutput.indexOf("saved: "));
        } else if (arguments.contains("--quiet") || json) {
            QVERIFY2(result.progress.isEmpty(), output);
        }
    }

    // A run whose engine is missing, crashes, fails after writing "Complete" or logs a file
    // that is not there reports a failure with its reason, not a download; an engine refused
    // (another started it meanwhile) makes the run fail with its own status, never the
    // other's. engine: the program's text (empty: none).
    void brokenEngine_data() {
        QTest::addColumn<Broken>("row");
        const QByteArray folder = "\"$XDG_DATA_HOME/Fenwright/Vantrel PC\"";
        const QByteArray complete =
            "#!/bin/sh\nprintf 'Complete\\r\\n' >" + folder + "/VNPCstatus.txt\n";
        const QString early = "Failed - the engine ended early";
        // clang-format off
        QTest::newRow("missing") << Broken{QByteArray(), 1, "Failed - the engine did not start", "cannot start the engine"};
        QTest::newRow("exit code") << Broken{complete + "exit 1\n", 1, early, "the engine ended with exit code 1"};
        QTest::newRow("crash") << Broken{complete + "kill -SEGV $$\n", 1, early, "the engine crashed"};
        QTest::newRow("saved file missing") << Broken{complete + "printf 'VU Path/File Name - %s/gone.DDD\\r\\nFile saved\\r\\n' \"$HOME\" >" + folder + "/VNPC.log\n",
            1, "Failed - a saved file is missing", "gone.DDD"};
        QTest::newRow("refused") << Broken{"#!/bin/sh\nprintf 'Downloading\\r\\n' >" + folder + "/VNPCstatus.txt\n"
            "printf 'MSGBOX\\tVantrelPC\\tA download is already running\\n' >&2\n",
            2, "Failed - another download is running", "A download is already running"};
        // clang-format on
    }
    void brokenEngine() {
        QFETCH(Broken, row);
        const auto& [engine, exitCode, status, reason] = row;
        DownloadHome home;
        const QString bin = fakeBin(home, engine);
        QVERIFY(!bin.isEmpty());
        for (const bool json : {false, true}) {
            const DownloadResult run = runDownload(home, {json ? "--json" : "A"}, bin);
            QVERIFY2(run.exitCode == exitCode && run.savedPaths.isEmpty() &&
                         run.output.contains(reason.toUtf8()) &&
                         (json ? jsonOf(run)["status"].toString() : run.status) == status &&
                         (!json || isFailure(jsonOf(run), exitCode, reason)),
                     run.output.constData());
        }
    }

    // The data folder held by another program (the window, its engine starting): the run is
    // refused before it touches the status file, in JSON too.
    void folderHeldElsewhere() {
        DownloadHome home;
        const QString status = home.dataFolder() + "/VNPCstatus.txt";
        QVERIFY(QDir().mkpath(home.dataFolder()) && writeFile(status, "Downloading\r\n"));
        const int held =
            ::open(QFile::encodeName(home.dataFolder()).constData(), O_RDONLY | O_DIRECTORY);
        QVERIFY(held >= 0 && ::flock(held, LOCK_EX | LOCK_NB) == 0);
        const DownloadResult refused = runDownload(home, {"--json", "A"});
        ::close(held);
        QVERIFY2(isFailure(jsonOf(refused), 2, "A download is already running") &&
                     refused.exitCode == 2 &&
                     jsonOf(refused)["status"].toString() == "Failed - another download is running",
                 refused.output.constData());
        QCOMPARE(readWhole(status), QByteArray("Downloading\r\n"));
    }

    // While one run downloads, a second is refused (its JSON: folderHeldElsewhere) and leaves
    // the status alone; Ctrl+C then ends the first with its engine: the files on disk are the
    // files reported, and the exit code is 0 only for a complete download.
    void secondRunAndInterrupt() {
        DownloadHome home;
        // Ctrl+C while the unit sends data: no file, exit 130. Once all data is in (Transfer
        // Exit left unanswered, the engine waiting for it), the file is saved and reported.
        for (const bool closing : {false, true}) {
            SimulatorRun simulator(kPort,
                                   closing ? QStringList{"--days", "2", "--fault", "silent:on=exit"}
                                           : QStringList{"--days", "2", "--delay", "300"});
            QVERIFY2(simulator.ready(), simulator.startOutput());
            simulator.connect(home);
            if (closing)
                QVERIFY(writeFile(home.dataFolder() + "/Settings.ini",
                                  home.settings() + "RXTIMEOUT=60000\r\n"));
            QProcess first;
            const QStringList arguments =
                closing ? QStringList{"--latest", "1", "0"} : QStringList{"A"};
            home.start(first, "bash", QStringList{kScript} + arguments, QString(), kBin);
            if (closing) {
                QTRY_VERIFY_WITH_TIMEOUT(
                    !simulator.requestsStartingWith(QByteArray::fromHex("80EEF00137")).isEmpty(),
                    20000);
            } else {
                QTRY_VERIFY_WITH_TIMEOUT(
                    home.status().startsWith("Downloading") || home.status().contains('/'), 20000);
                const DownloadResult refused = runDownload(home, {"--card"});
                QVERIFY2(refused.exitCode == 2 && refused.output.contains("already running"),
                         refused.output.constData());
                QVERIFY2(!home.status().startsWith("Failed"), home.status().constData());
            }
            ::kill(pid_t(first.processId()), SIGINT);
            const DownloadResult interrupted = DownloadHome::finish(first);
            QVERIFY2(interrupted.exitCode == (closing ? 0 : 130) &&
                         (interrupted.status == "Complete") == closing,
                     interrupted.output.constData());
            QCOMPARE(interrupted.savedPaths, filesBelow(home.documents()));
            QCOMPARE(interrupted.savedPaths.size(), closing ? 1 : 0);
            if (closing) break;
            // The engine has ended: its status no longer moves.
            const QString status = home.dataFolder() + "/VNPCstatus.txt";
            const QDateTime written = QFileInfo(status).lastModified();
            QTest::qWait(1500);
            QCOMPARE(QFileInfo(status).lastModified(), written);
        }
    }

    // A reader that goes away: while the unit sends, the run ends as on SIGHUP, with its
    // engine and no file; with nothing more to print before the result, the download ends.
    void lostStandardOutput() {
        // The reader, the exit code, the status (null: the engine may end before writing one).
        const std::tuple<QStringList, QString, int, QByteArray> rows[] = {
            {{"A"}, "head -n 1", 129, "Failed - Download stopped\r\n"},
            {{"--quiet", "A"}, "true", 0, "Complete\r\n"},
            {{"A"}, "true", 129, QByteArray()}}; // ended as it starts; that is no crash
        for (const auto& [arguments, reader, exitCode, status] : rows) {
            UnitHome home({"--days", "2", "--delay", "100", "--speed-blocks", "1"});
            QVERIFY2(home.ready(), home.startOutput());
            const QString pipe = R"(bash "$0" "$@" | )" + reader + R"(; exit "${PIPESTATUS[0]}")";
            const DownloadResult result =
                home.run("bash", QStringList{"-c", pipe, kScript} + arguments, QString(), kBin);
            QVERIFY2(result.exitCode == exitCode && !result.output.contains("crashed"),
                     result.output.constData());
            QCOMPARE(savedBelow(home).size(), exitCode == 0 ? 1 : 0);
            if (!status.isNull()) QCOMPARE(home.status(), status);
        }
    }

    // On a narrow terminal the line is cut to its width, the bar first: the percentage and
    // the time stay.
    void narrowTerminal() {
        UnitHome home({"--days", "2", "--delay", "80", "--speed-blocks", "1"});
        QVERIFY2(home.ready(), home.startOutput());
        int terminal = -1, attached = -1;
        winsize size{24, 60, 0, 0};
        QVERIFY(::openpty(&terminal, &attached, nullptr, nullptr, &size) == 0);
        ::fcntl(terminal, F_SETFL, O_NONBLOCK);
        QProcess process;
        process.setChildProcessModifier([attached] { ::dup2(attached, STDOUT_FILENO); });
        home.start(process, "bash", {kScript, "A"}, QString(), kBin);
        QByteArray shown;
        char buffer[4096];
        for (bool ended = false; !ended;) {
            ended = process.waitForFinished(50);
            for (ssize_t n; (n = ::read(terminal, buffer, sizeof buffer)) > 0;)
                shown.append(buffer, n);
        }
        ::close(attached);
        ::close(terminal);
        QCOMPARE(process.exitCode(), 0);
        static const QRegularExpression barLine(R"(^Downloading .*\d+%  \d+:\d\d$)");
        int bars = 0;
        for (const QByteArray& piece : shown.split('\r')) {
            const QString line = QString::fromUtf8(piece).remove("\033[K").remove('\n');
            if (line.startsWith("saved: ") || line.startsWith("vehicle: ")) break; // the result
            const bool bar = line.startsWith("Downloading");
            bars += bar;
            QVERIFY2(line.size() < 60 && (!bar || line.contains(barLine)), qPrintable(line));
        }
        QVERIFY2(bars > 0, shown.constData());
    }

    // With no home there is no data folder: the run says so, in JSON too, and makes nothing.
    // A demo takes its folder from XDG_DATA_HOME, a download only from HOME.
    void noHome() {
        for (const bool demo : {true, false}) {
            DownloadHome home;
            home.unset = {"HOME", "VANTREL_DEMO_DIR"};
            if (demo) home.unset << "XDG_DATA_HOME";
            const DownloadResult result = runDownload(
                home, demo ? QStringList{"--demo", "--json", "A"} : QStringList{"--json", "A"});
            QVERIFY2(result.exitCode == 1 && isFailure(jsonOf(result), 1, "HOME is not set"),
                     result.output.constData());
            QCOMPARE(filesBelow(home.home.path()), QStringList());
            QVERIFY(!QFileInfo::exists(home.home.filePath("data")));
        }
    }

    // Every option the command takes is in --help and in the man page, and the man page
    // names every member of the JSON object.
    void helpAndManPage() {
        DownloadHome home;
        const DownloadResult help = runDownload(home, {"--help"});
        const QString page =
            QString::fromUtf8(readWhole(VANTREL_SOURCE_DIR "/data/man/vantrel-download.1"))
                .remove("\\f[BIRP]")
                .replace("\\-", "-");
        for (const char* option : {"-h", "--help", "--json", "-q", "--quiet", "--demo", "--all",
                                   "--card", "--latest", "--style", "--style=EU"})
            QVERIFY2(help.standardOutput.contains(option) && page.contains(option), option);
        for (const char* member :
             {"status", "exit_code", "files", "path", "size", "duration_seconds", "log", "messages",
              "vehicle", "vin", "registration", "nation", "generation", "interface_version",
              "oldest_day", "latest_day", "card", "number"})
            QVERIFY2(page.contains(QString("\"%1\":").arg(member)), member);
    }

    // Without VANTREL_BIN_DIR and without programs beside it, the command names what is
    // missing; it never builds anything.
    void neverBuilds() {
        DownloadHome home;
        const QString scripts = home.home.filePath("tree/scripts");
        QVERIFY(QDir().mkpath(scripts) && QFile::copy(kScript, scripts + "/download.sh"));
        QVERIFY(writeFile(scripts + "/build.sh", "#!/bin/sh\ntouch \"$HOME/built\"\nexit 1\n",
                          kExecutable));
        const DownloadResult result = home.run("bash", {scripts + "/download.sh", "--all"});
        QVERIFY2(result.exitCode == 1 && result.output.contains("VANTREL_BIN_DIR") &&
                     !QFileInfo::exists(home.home.filePath("built")),
                 result.output.constData());
    }

    // Saved files that hold less than a download should: what is there is read, what is not
    // is left out, and nothing is read past the end. The overview's fields of the first
    // generation lie at fixed places from its 0x76.
    void summaryOfOddFiles() {
        const QByteArray gen1 = QByteArray(500, ' ')
                                    .replace(0, 2, "\x76\x01")
                                    .replace(390, 18, "VIN45678901234567\x12")
                                    .replace(409, 13, "AB\x01 12      ")
                                    .replace(426, 8, QByteArray::fromHex("66d6518000000000"));
        // The file, then the JSON of kind and fields; empty: nothing.
        const std::pair<QByteArray, const char*> rows[] = {
            {QByteArray(), ""},
            // Neither a known overview nor a card: the technical data, or a later generation.
            {"\x76\x05" + gen1.mid(2), ""},
            {gen1.left(2), R"({"vehicle":{"generation":1}})"},
            {gen1,
             R"({"vehicle":{"vin":"VIN45678901234567","registration":"AB? 12","nation":"FIN",)"
             R"("generation":1,"oldest_day":"2024-09-03"}})"},
            // Cut in the registration.
            {QByteArray(gen1).replace(407, 1, QByteArray(1, '\0')).left(415),
             R"({"vehicle":{"vin":"VIN45678901234567","generation":1}})"},
            {QByteArray::fromHex("7621000100"),
             R"({"vehicle":{"generation":2,"interface_version":1}})"},
            // Fields a unit fills with zero bytes or 0xFF where it has nothing (or pads with them).
            {QByteArray(gen1)
                 .replace(390, 17, QByteArray(17, '\xff'))
                 .replace(409, 13, QByteArray("AB 12\0\0\0  \0\0\0", 13)),
             R"({"vehicle":{"registration":"AB 12","nation":"FIN","generation":1,)"
             R"("oldest_day":"2024-09-03"}})"},
            // A card chain without its identification.
            {QByteArray::fromHex("0002000003112233"), ""}};
        const auto json = [](const QJsonObject& object) {
            return QJsonDocument(object).toJson(QJsonDocument::Compact);
        };
        for (const auto& [file, summary] : rows) {
            const DownloadSummary read = summaryOf(file);
            QCOMPARE(json(read.isEmpty() ? QJsonObject() : QJsonObject{{read.kind, read.fields}}),
                     json(QJsonDocument::fromJson(summary).object()));
        }
    }
};

QTEST_MAIN(TestHeadless)
#include "test_headless.moc"
