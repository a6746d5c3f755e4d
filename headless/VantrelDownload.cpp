// The working part of vantrel-download (scripts/download.sh, which finds the programs and
// starts the simulated unit for --demo): one download through the engine without a display,
// its progress read from the status file the window polls, and this run's result.
#include "DownloadSettings.h"
#include "DownloadSummary.h"
#include "Folders.h"
#include "Numbers.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <optional>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace {

enum ExitCode { kComplete = 0, kFailed = 1, kNoCable = 2, kBadUsage = 3 };

const char* const kHelp = R"(Usage: vantrel-download [OPTIONS] [A | C | "L [LIST] DAYS"]

One tachograph download through the Vantrel PC engine, without a display. It saves the
file where the window saves it, under the same name, and prints the saved files with their
sizes and the final status.

What to download (one of these; the default is all vehicle-unit data):
  A, --all               all vehicle-unit data
                           vantrel-download --all
  C, --card              the driver card in the vehicle unit
                           vantrel-download --card
  "L [LIST] DAYS", --latest LIST DAYS
                         the blocks in LIST (TREP numbers: 1 overview, 2 activities,
                         3 events and faults, 4 detailed speed, 5 technical data, 17-25
                         the maker's) with DAYS days of activities (0 to 366); LIST as
                         the window writes it (001002005) or with commas (1,2,5)
                           vantrel-download --latest 1,2,5 7
                           vantrel-download "L [001002005] 7"

Options:
  --style EU|FR|ES|LD, --style=EU
                         name the files in this style for this run only; Settings.ini
                         is left as it is
                           vantrel-download --style EU --all
  --json                 print one JSON object instead: status, files (path, size),
                         duration_seconds, log, messages, exit_code, and vehicle (vin,
                         registration, nation, generation, interface_version, oldest_day,
                         latest_day) or card (number, nation) as far as the data holds them
                           vantrel-download --json --card
  -q, --quiet            print only the result, no progress
                           vantrel-download --quiet --all
  --demo                 download from the simulated vehicle unit into the demo folder
                         (also VANTREL_DEMO=1), never from a cable
                           vantrel-download --demo --all
  -h, --help             this text

Progress: on a terminal one line, updated in place; otherwise one line per change of
state ("progress: ..."). The result: a "saved:" line per file, a "vehicle:" (or "card:")
line saying what was downloaded, and the status. With no Settings.ini yet, the window's
defaults are written first.
Only one download runs at a time. Ctrl+C ends the engine: once all data is in, the file
is still saved and the download is complete (exit status 0); before that no partial file is
left.

Exit status:
  0    the download is complete
  1    the download failed
  2    no cable found, or the cable or the data folder is held by another download
  3    bad usage
  130  ended by Ctrl+C before the download was complete (128 + the signal's number for
       SIGTERM and SIGHUP; a reader of the output that goes away counts as SIGHUP)
)";

struct Options {
    QString command; // what the engine is given
    QString what;    // what is downloaded, in words
    QString style;
    bool json = false;
    bool quiet = false;
    bool help = false;
};

struct UsageError {
    QString text;
};

// 001002005 (the window's form), 1,2,5 or a single number; each 1 to 254, at most 19.
std::optional<QList<int>> readTrepList(QString text) {
    if (text.startsWith('[') && text.endsWith(']')) text = text.mid(1, text.size() - 2);
    QStringList entries;
    if (text.contains(',')) {
        entries = text.split(',');
    } else if (text.size() > 3 && text.size() % 3 == 0) {
        for (int at = 0; at < text.size(); at += 3)
            entries << text.mid(at, 3);
    } else {
        entries << text;
    }
    static const QRegularExpression number("^\\s*\\d{1,3}\\s*$");
    QList<int> treps;
    for (const QString& entry : entries) {
        if (!number.match(entry).hasMatch()) return std::nullopt;
        const int trep = entry.trimmed().toInt();
        if (trep < 1 || trep > 254) return std::nullopt;
        treps << trep;
    }
    if (treps.isEmpty() || treps.size() > 19) return std::nullopt;
    return treps;
}

void setLatest(Options& options, const QString& list, const QString& daysText) {
    const auto treps = readTrepList(list.trimmed());
    if (!treps)
        throw UsageError{QStringLiteral("the TREP list '%1' is not 1 to 19 numbers from 1 to 254 "
                                        "(such as 1,2,5 or 001002005)")
                             .arg(list)};
    bool whole = false;
    const int days = daysText.toInt(&whole);
    if (!whole || days < 0 || days > 366)
        throw UsageError{
            QStringLiteral("the days '%1' are not a whole number from 0 to 366").arg(daysText)};
    QString engineList;
    QStringList shown;
    for (int trep : *treps) {
        engineList += QStringLiteral("%1").arg(trep, 3, 10, QLatin1Char('0'));
        shown << QString::number(trep);
    }
    // The engine reads the days only when a space follows them, hence the trailing " E".
    options.command = QStringLiteral("L [%1] %2 E").arg(engineList).arg(days);
    options.what =
        QStringLiteral("blocks %1 with %2 days").arg(shown.join(QStringLiteral(", "))).arg(days);
}

void setChoice(Options& options, const QString& choice, const QStringList& latest = {}) {
    if (!options.command.isEmpty())
        throw UsageError{
            QStringLiteral("one download per run: %1 was asked for already").arg(options.what)};
    if (choice == QLatin1String("A")) {
        options.command = QStringLiteral("A E");
        options.what = QStringLiteral("all vehicle-unit data");
    } else if (choice == QLatin1String("C")) {
        options.command = QStringLiteral("C E");
        options.what = QStringLiteral("the driver card");
    } else {
        setLatest(options, latest.value(0), latest.value(1));
    }
}

Options parseArguments(const QStringList& arguments) {
    Options options;
    QStringList positional;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        const auto value = [&](const QString& name) {
            if (i + 1 >= arguments.size())
                throw UsageError{QStringLiteral("%1 needs a value").arg(name)};
            return arguments[++i];
        };
        if (argument == QLatin1String("-h") || argument == QLatin1String("--help")) {
            options.help = true;
        } else if (argument == QLatin1String("--json")) {
            options.json = true;
        } else if (argument == QLatin1String("--quiet") || argument == QLatin1String("-q")) {
            options.quiet = true;
        } else if (argument == QLatin1String("--demo")) {
            // The wrapper has started the simulated unit already.
        } else if (argument == QLatin1String("--all")) {
            setChoice(options, QStringLiteral("A"));
        } else if (argument == QLatin1String("--card")) {
            setChoice(options, QStringLiteral("C"));
        } else if (argument == QLatin1String("--latest")) {
            const QString list = value(argument);
            setChoice(options, QStringLiteral("L"), {list, value(argument)});
        } else if (argument == QLatin1String("--style") || argument.startsWith("--style=")) {
            const QString style =
                (argument.contains('=') ? argument.section('=', 1) : value(argument)).toUpper();
            if (!QStringList{"EU", "FR", "ES", "LD"}.contains(style))
                throw UsageError{
                    QStringLiteral("--style takes EU, FR, ES or LD, not '%1'").arg(style)};
            options.style = style;
        } else if (argument.startsWith('-') && argument.size() > 1) {
            throw UsageError{QStringLiteral("unknown option %1").arg(argument)};
        } else {
            positional << argument;
        }
    }
    // The positional form as it was always given: "L [001002005] 7" as one word or three.
    const QString text = positional.join(QLatin1Char(' ')).trimmed();
    static const QRegularExpression latest("^L\\s*(\\[[^\\]]*\\])\\s*(\\S+)$");
    if (text == QLatin1String("A") || text == QLatin1String("C")) {
        setChoice(options, text);
    } else if (const auto m = latest.match(text); m.hasMatch()) {
        setChoice(options, QStringLiteral("L"), {m.captured(1), m.captured(2)});
    } else if (!text.isEmpty()) {
        throw UsageError{
            QStringLiteral("unknown download '%1' (A, C or \"L [LIST] DAYS\")").arg(text)};
    }
    if (options.command.isEmpty()) setChoice(options, QStringLiteral("A"));
    return options;
}

// Set once standard output has gone (its reader ended, its terminal closed): nothing more
// is written there, and the run ends as on SIGHUP.
bool outputLost = false;

void printText(FILE* stream, const QString& text) {
    if (stream == stdout && outputLost) return;
    const QByteArray bytes = text.toUtf8();
    const bool written =
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream) == size_t(bytes.size()) &&
        std::fflush(stream) == 0;
    if (!written && stream == stdout && (errno == EPIPE || errno == EIO)) outputLost = true;
    std::clearerr(stream);
}

void printJson(const QJsonObject& result) {
    printText(stdout, QString::fromUtf8(QJsonDocument(result).toJson(QJsonDocument::Compact)) +
                          QLatin1Char('\n'));
}

// A run refused before the engine starts: the reason on standard error and, with --json,
// the result object as well.
int refuse(const Options& options, int code, const QString& status, const QString& reason) {
    printText(stderr, QStringLiteral("vantrel-download: ") + reason + QLatin1Char('\n'));
    if (options.json)
        printJson({{"status", status},
                   {"exit_code", code},
                   {"files", QJsonArray()},
                   {"messages", QJsonArray{reason}}});
    return code;
}

// Signals arrive through a socket pair, so that the event loop handles them.
int signalPair[2] = {-1, -1};
void forwardSignal(int number) {
    const char byte = char(number);
    [[maybe_unused]] const auto written = ::write(signalPair[1], &byte, 1);
}

// A terminal line of at most width characters whose end (the percentage, the time) always
// shows: the text before it is cut first.
QString fitted(const QString& text, const QString& end, int width) {
    const qsizetype room = width - end.size();
    if (room <= 0) return end.right(width);
    return text.left(room) + end;
}

// The download line: the bar takes the room that is left, and goes when that is too little.
QString fittedLine(const QString& text, int percent, const QString& time, int width) {
    const QString end = QStringLiteral(" %1%  %2").arg(percent).arg(time);
    constexpr qsizetype kWidestBar = 24;
    constexpr qsizetype kNarrowestBar = 5;
    const qsizetype bar = qMin(kWidestBar, width - text.size() - end.size() - 3); // " [", "]"
    if (bar < kNarrowestBar) return fitted(text, end, width);
    const qsizetype filled = percent * bar / 100;
    return text + QStringLiteral(" [") + QString(filled, QLatin1Char('#')) +
           QString(bar - filled, QLatin1Char('.')) + QLatin1Char(']') + end;
}

struct SavedFile {
    QString path;
    qint64 size = 0;
};

// Where the engine may save a download: the folders the settings name, its own defaults for
// a setting the file leaves out, and the data folder it falls back into.
QStringList saveFolders(const QString& dataFolder) {
    const QString documents = getSpecialFolder(CSIDL_PERSONAL);
    QStringList folders = {DownloadSettings::vuDataPath, DownloadSettings::cardDataPath,
                           documents + QStringLiteral("/VantrelPC/Data/VU"),
                           documents + QStringLiteral("/VantrelPC/Data/Card"), dataFolder};
    for (QString& folder : folders)
        folder = QDir::cleanPath(QDir(folder).absolutePath());
    folders.removeDuplicates();
    return folders;
}

// The files in those folders, but for the programs' own; the engine writes a download under a
// hidden temporary name first and never replaces a file, so a new path is a new download.
QSet<QString> filesIn(const QStringList& folders) {
    static const QStringList own = {"VNPC.log",      "VNPCstatus.txt",        "VNPCstatus.txt.new",
                                    "VNPCBase.lock", "vantrel-download.lock", "Settings.ini"};
    QSet<QString> files;
    for (const QString& folder : folders)
        for (const QString& name : QDir(folder).entryList(QDir::Files))
            if (!own.contains(name)) files.insert(folder + QLatin1Char('/') + name);
    return files;
}

class Download : public QObject {
public:
    Download(const Options& options, const QString& dataFolder)
        : options_(options), statusPath_(dataFolder + QStringLiteral("/VNPCstatus.txt")),
          logPath_(dataFolder + QStringLiteral("/VNPC.log")), saveFolders_(saveFolders(dataFolder)),
          terminal_(!options.quiet && !options.json && ::isatty(STDOUT_FILENO)),
          plain_(!options.quiet && !options.json && !terminal_) {}

    int exec() {
        clock_.start();
        logBefore_ = QFileInfo(logPath_).lastModified();
        filesBefore_ = filesIn(saveFolders_);
        // The last run's status must not pass for this one's.
        if (QFile::exists(statusPath_) && !QFile::remove(statusPath_)) {
            error(QStringLiteral("cannot remove the last status file %1").arg(statusPath_));
            return finish(QStringLiteral("Failed - the last status could not be removed"));
        }
        if (qEnvironmentVariable("VANTREL_DEMO") == QLatin1String("1") && (plain_ || terminal_))
            printText(stdout,
                      QStringLiteral("demo: downloading from the simulated vehicle unit into "
                                     "the demo folder\n"));
        watchSignals();
        startEngine();
        return QCoreApplication::exec();
    }

private:
    void watchSignals() {
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPair) != 0) return;
        auto* notifier = new QSocketNotifier(signalPair[0], QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, [this] {
            char number = 0;
            if (::read(signalPair[0], &number, 1) == 1) interrupt(number);
        });
        struct sigaction action {};
        action.sa_handler = forwardSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (int number : {SIGINT, SIGTERM, SIGHUP})
            ::sigaction(number, &action, nullptr);
    }

    void startEngine() {
        const QString program =
            QCoreApplication::applicationDirPath() + QStringLiteral("/VNPCBase");
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("VANTREL_NONINTERACTIVE"), QStringLiteral("1"));
        if (!options_.style.isEmpty())
            env.insert(QStringLiteral("VANTREL_FILE_NAME_STYLE"), options_.style);
        engine_.setProcessEnvironment(env);
        // Where a relative path in the settings leads, for the engine and for this run alike.
        engine_.setWorkingDirectory(QDir::currentPath());
        // A group of its own: Ctrl+C reaches the engine once, from here, as SIGTERM.
        engine_.setChildProcessModifier([] { ::setpgid(0, 0); });
        engine_.setProgram(program);
        engine_.setArguments({options_.command});
        connect(&engine_, &QProcess::readyReadStandardError, this, &Download::readEngineErrors);
        connect(&engine_, &QProcess::readyReadStandardOutput, this, [this] {
            printText(stderr, QString::fromLocal8Bit(engine_.readAllStandardOutput()));
        });
        connect(&engine_, &QProcess::errorOccurred, this,
                [this, program](QProcess::ProcessError e) {
                    if (e != QProcess::FailedToStart) return;
                    fail(QStringLiteral("cannot start the engine %1: %2")
                             .arg(program, engine_.errorString()));
                    poll_.stop();
                    // Queued: the failure can come while start() runs, before the event loop does.
                    QMetaObject::invokeMethod(
                        this,
                        [this] {
                            QCoreApplication::exit(
                                finish(QStringLiteral("Failed - the engine did not start")));
                        },
                        Qt::QueuedConnection);
                });
        connect(&engine_, &QProcess::finished, this, &Download::engineEnded);
        poll_.setInterval(250); // a few updates a second
        connect(&poll_, &QTimer::timeout, this, &Download::pollStatus);
        poll_.start();
        engine_.start();
        // After the start: a reader already gone ends the engine like any later one.
        progress(QStringLiteral("waiting for the vehicle unit"));
    }

    // Message boxes become "message: " lines; anything else the engine says is passed on.
    void readEngineErrors() {
        errorText_ += engine_.readAllStandardError();
        qsizetype end;
        while ((end = errorText_.indexOf('\n')) >= 0) {
            const QString line = QString::fromUtf8(errorText_.left(end));
            errorText_.remove(0, end + 1);
            if (line.startsWith(QLatin1String("MSGBOX\t"))) {
                const QString text = line.section(QLatin1Char('\t'), 2);
                messages_ << text;
                error(QStringLiteral("message: ") + text, false);
            } else {
                error(line, false);
            }
        }
    }

    QString readStatus() const {
        QFile file(statusPath_);
        if (!file.open(QIODevice::ReadOnly)) return QString();
        return QString::fromUtf8(file.readLine(4096)).trimmed();
    }

    void pollStatus() {
        const QString status = readStatus();
        // An empty read is a write under way: no news.
        if (status.isEmpty()) {
            drawLine();
            return;
        }
        const bool counter = status.size() >= 5 && status.at(4) == QLatin1Char('/');
        if (!downloading_ && (counter || status.startsWith(QLatin1String("Downlo")))) {
            downloading_ = true;
            progress(QStringLiteral("downloading ") + options_.what);
        }
        if (counter) {
            const double done = leadingNumber(status.left(4));
            const double total = leadingNumber(status.mid(5));
            percent_ = total > 0 ? qBound(0, int(100 * done / total), 100) : 0;
            reachQuarter(percent_ / 25);
        }
        drawLine();
    }

    // For logs: each quarter once and in turn, never backwards when the total grows.
    void reachQuarter(int quarter) {
        while (quarter_ < qMin(quarter, 4)) {
            ++quarter_;
            progress(QStringLiteral("%1%").arg(quarter_ * 25));
        }
    }

    QString elapsed() const {
        const qint64 seconds = clock_.elapsed() / 1000;
        return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
    }

    // On a terminal: one line, rewritten in place.
    void drawLine() {
        if (!terminal_) return;
        winsize size{};
        // One column is kept free: a line as wide as the terminal wraps on some of them.
        const int width = ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 1
                              ? size.ws_col - 1
                              : 79;
        const QString line =
            downloading_
                ? fittedLine(QStringLiteral("Downloading ") + options_.what, percent_, elapsed(),
                             width)
                : fitted(QStringLiteral("Waiting for the vehicle unit: %1").arg(options_.what),
                         QStringLiteral("  ") + elapsed(), width);
        if (lineShown_ && line == shownLine_) return;
        printText(stdout, QStringLiteral("\r\033[K") + line);
        shownLine_ = line;
        lineShown_ = true;
        endIfOutputLost();
    }

    void clearLine() {
        if (lineShown_) printText(stdout, QStringLiteral("\r\033[K"));
        lineShown_ = false;
    }

    void progress(const QString& text) {
        if (plain_) printText(stdout, QStringLiteral("progress: ") + text + QLatin1Char('\n'));
        endIfOutputLost();
    }

    // Nobody reads the progress any more: as if the terminal had closed.
    void endIfOutputLost() {
        if (outputLost && signal_ == 0) interrupt(SIGHUP);
    }

    void error(const QString& text, bool named = true) {
        clearLine();
        printText(stderr, (named ? QStringLiteral("vantrel-download: ") : QString()) + text +
                              QLatin1Char('\n'));
        drawLine();
    }

    // A reason the run failed: on standard error and among the result's messages.
    void fail(const QString& text) {
        error(text);
        messages_ << text;
    }

    void interrupt(int number) {
        if (signal_ != 0) return;
        signal_ = number;
        if (engine_.state() == QProcess::NotRunning) {
            QCoreApplication::exit(finish(QStringLiteral("Interrupted")));
            return;
        }
        ::kill(pid_t(engine_.processId()), SIGTERM);
        // An engine that does not end in time is stopped hard.
        QTimer::singleShot(10000, this, [this] {
            if (engine_.state() == QProcess::NotRunning) return;
            killed_ = true;
            engine_.kill();
        });
    }

    void engineEnded(int exitCode, QProcess::ExitStatus exitStatus) {
        poll_.stop();
        readEngineErrors();
        if (!errorText_.isEmpty()) error(QString::fromUtf8(errorText_), false);
        pollStatus();
        QString status = readStatus();
        // Of a signal, the exit code is its number: the SIGTERM sent here, before the engine
        // could handle it, is no crash.
        const bool crashed = exitStatus != QProcess::NormalExit;
        const bool stopped = crashed && signal_ != 0 && exitCode == SIGTERM;
        if (crashed || exitCode != 0) {
            fail(killed_   ? QStringLiteral("the engine did not end in time and was stopped")
                 : stopped ? QStringLiteral("the engine was stopped as it started")
                 : crashed ? QStringLiteral("the engine crashed")
                           : QStringLiteral("the engine ended with exit code %1").arg(exitCode));
            if (!status.startsWith(QLatin1String("Failed")))
                status = QStringLiteral("Failed - the engine ended early");
        } else if (status.isEmpty()) {
            status = QStringLiteral("Failed - the engine left no status");
        }
        // Refused, the engine wrote no status: the file holds the other download's.
        if (messages_.contains(QStringLiteral("A download is already running")))
            status = QStringLiteral("Failed - another download is running");
        savedFiles_ = savedFiles();
        // Only files that are there are listed; one the log calls saved but is not there
        // makes the download a failure.
        for (const SavedFile& file : std::as_const(savedFiles_))
            if (!QFileInfo(file.path).isFile()) {
                fail(QStringLiteral("the engine logged %1 as saved, but it is not there")
                         .arg(file.path));
                status = QStringLiteral("Failed - a saved file is missing");
            }
        savedFiles_.removeIf([](const SavedFile& file) { return !QFileInfo(file.path).isFile(); });
        if (status == QLatin1String("Complete")) reachQuarter(4);
        // Told to end once all data was in, the engine still saves it and completes.
        if (signal_ != 0 && status != QLatin1String("Complete"))
            status = QStringLiteral("Interrupted");
        QCoreApplication::exit(finish(status));
    }

    // The files this run's log names as saved; with none there (logging off, say), the files
    // that appeared in the folders the engine saves to while it ran.
    QList<SavedFile> savedFiles() {
        QList<SavedFile> saved = loggedFiles();
        if (!saved.isEmpty()) return saved;
        QList<QFileInfo> appeared;
        for (const QString& path : filesIn(saveFolders_) - filesBefore_)
            appeared << QFileInfo(path);
        std::sort(appeared.begin(), appeared.end(), [](const QFileInfo& a, const QFileInfo& b) {
            return std::pair(a.lastModified(), a.filePath()) <
                   std::pair(b.lastModified(), b.filePath());
        });
        for (const QFileInfo& file : appeared)
            saved << SavedFile{file.filePath(), file.size()};
        return saved;
    }

    // The files this run's log names as saved: a path line counts once "File saved" follows.
    QList<SavedFile> loggedFiles() {
        QList<SavedFile> saved;
        QFile log(logPath_);
        // The engine empties its log when it starts: one it did not touch is another run's.
        if (!log.open(QIODevice::ReadOnly) ||
            (logBefore_.isValid() && QFileInfo(log).lastModified() <= logBefore_))
            return saved;
        static const QRegularExpression pathLine("Path/File Name - (.*)$");
        QString path;
        while (!log.atEnd()) {
            const QString line = QString::fromUtf8(log.readLine())
                                     .remove(QLatin1Char('\r'))
                                     .remove(QLatin1Char('\n'));
            if (const auto m = pathLine.match(line); m.hasMatch()) {
                path = DownloadSettings::pathValue(m.captured(1));
            } else if (line == QLatin1String("File saved") && !path.isEmpty()) {
                saved << SavedFile{path, QFileInfo(path).size()};
                path.clear();
            } else if (line.startsWith(QLatin1String("Download from "))) {
                firstDay_ = QDate::fromString(line.mid(14, 10), Qt::ISODate);
            }
        }
        return saved;
    }

    int exitCodeFor(const QString& status) const {
        if (status == QLatin1String("Complete")) return kComplete;
        if (signal_ != 0) return 128 + signal_;
        // The engine's own words for a missing cable or one that another program holds.
        static const QStringList noCable = {
            QStringLiteral("Can't find a VantrelPC cable"),
            QStringLiteral("Kein VantrelPC-Kabel angeschlossen"),
            QStringLiteral("Error: Selected Com port in use"),
            QStringLiteral("Error: Selected Com port not available"),
            QStringLiteral("A download is already running")};
        for (const QString& message : messages_)
            if (noCable.contains(message) ||
                message.startsWith(QLatin1String("Please disconnect your VantrelPC cable")))
                return kNoCable;
        if (status == QLatin1String("Failed - maybe USB device is open")) return kNoCable;
        return kFailed;
    }

    // What the first saved file that tells anything says about itself.
    DownloadSummary summary() const {
        for (const SavedFile& file : savedFiles_) {
            QFile saved(file.path);
            if (!saved.open(QIODevice::ReadOnly)) continue;
            const DownloadSummary found = summaryOf(saved.readAll(), firstDay_);
            if (!found.isEmpty()) return found;
        }
        return {};
    }

    int finish(const QString& status) {
        clearLine();
        const int code = exitCodeFor(status);
        const DownloadSummary what = summary();
        if (options_.json) {
            QJsonArray files;
            for (const SavedFile& file : savedFiles_)
                files.append(QJsonObject{{"path", file.path}, {"size", file.size}});
            QJsonObject result{
                {"status", status}, {"exit_code", code},
                {"files", files},   {"duration_seconds", clock_.elapsed() / 1000.0},
                {"log", logPath_},  {"messages", QJsonArray::fromStringList(messages_)}};
            if (!what.isEmpty()) result.insert(what.kind, what.fields);
            printJson(result);
        } else {
            for (const SavedFile& file : savedFiles_)
                printText(stdout,
                          QStringLiteral("saved: %1 (%2 bytes)\n").arg(file.path).arg(file.size));
            if (!what.isEmpty()) printText(stdout, what.line() + QLatin1Char('\n'));
            printText(stdout, QStringLiteral("status: ") + status + QLatin1Char('\n'));
        }
        return code;
    }

    Options options_;
    QString statusPath_;
    QString logPath_;
    QStringList saveFolders_;
    QSet<QString> filesBefore_; // in saveFolders_ before the engine started
    bool terminal_;
    bool plain_;
    QProcess engine_;
    QTimer poll_;
    QElapsedTimer clock_;
    QDateTime logBefore_; // invalid when there was no log
    QByteArray errorText_;
    QStringList messages_;
    QList<SavedFile> savedFiles_;
    QDate firstDay_; // of the activities asked for, when the log names it
    bool downloading_ = false;
    bool lineShown_ = false;
    QString shownLine_;
    int percent_ = 0;
    int quarter_ = 0;
    int signal_ = 0;
    bool killed_ = false; // the engine did not end in time after a signal
};

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    // A closed pipe shows as a failed write, which the run handles.
    ::signal(SIGPIPE, SIG_IGN);
    Options options;
    try {
        options = parseArguments(app.arguments().mid(1));
    } catch (const UsageError& usage) {
        printText(stderr, QStringLiteral("vantrel-download: %1\nTry 'vantrel-download --help'.\n")
                              .arg(usage.text));
        // A script that asked for JSON gets it, whatever else it got wrong.
        if (app.arguments().contains(QLatin1String("--json")))
            printJson({{"status", QStringLiteral("Failed - bad usage")},
                       {"exit_code", kBadUsage},
                       {"files", QJsonArray()},
                       {"messages", QJsonArray{usage.text}}});
        return kBadUsage;
    }
    if (options.help) {
        printText(stdout, QString::fromUtf8(kHelp));
        return kComplete;
    }

    // Without a home the folders would fall back to "/": refuse rather than write there. The
    // demo's data folder comes in XDG_DATA_HOME (scripts/download.sh sets it).
    const bool demo = qEnvironmentVariable("VANTREL_DEMO") == QLatin1String("1");
    if (qEnvironmentVariableIsEmpty(demo ? "XDG_DATA_HOME" : "HOME"))
        return refuse(options, kFailed, QStringLiteral("Failed - no data folder"),
                      QStringLiteral("no data folder can be found: HOME is not set"));

    const QString dataFolder = dataFolderPath();
    QString folderError;
    if (!makeFolderPath(dataFolder, &folderError))
        return refuse(options, kFailed, QStringLiteral("Failed - the data folder is unusable"),
                      folderError);
    // One download at a time: a second one would fight over the port and the status file.
    // The lock ends with this process.
    const QString lockPath = dataFolder + QStringLiteral("/vantrel-download.lock");
    const int lock =
        ::open(QFile::encodeName(lockPath).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lock < 0)
        return refuse(options, kFailed, QStringLiteral("Failed - the lock file cannot be opened"),
                      QStringLiteral("cannot open the lock file %1").arg(lockPath));
    const QString running = QStringLiteral("Failed - another download is running");
    if (::flock(lock, LOCK_EX | LOCK_NB) != 0)
        return refuse(options, kNoCable, running,
                      QStringLiteral("another download is already running in %1; try again "
                                     "when it has ended")
                          .arg(dataFolder));
    // The data folder is claimed before its status file is touched, and the engine started
    // below takes the claim over: a window cannot start its own engine in between, nor can
    // this command start one while the window's runs.
    const DataFolderClaim claim(dataFolder);
    if (!claim.taken())
        return refuse(options, kNoCable, running,
                      QStringLiteral("A download is already running in %1; try again when it "
                                     "has ended")
                          .arg(dataFolder));
    // The window's settings when there are none yet (its folders, its naming style), so
    // both save to the same place under the same names; an existing file is only read.
    DownloadSettings::loadSettings(dataFolder);

    Download download(options, dataFolder);
    return download.exec();
}
