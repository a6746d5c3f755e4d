// A full all-VU download by the real engine against the simulated vehicle unit answering at
// once: how far the engine's own time stays above what the protocol makes it wait.
//
// Mandatory time: 5 ms after every request byte but the checksum, 10 ms from each answer to
// the next request, and 1 s (instead of those 10 ms) before each repeat of a request refused
// with "sub-function not supported". Everything else is overhead.

#include "SimLog.h"
#include "WireTrace.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

namespace {

constexpr double kPauseMs = 5.0;
constexpr double kAnswerPauseMs = 10.0; // the engine's interMessagePause by default
// On an idle machine no pause between request bytes comes out longer than this.
constexpr double kLongestPauseMs = 5.3;
constexpr double kResendWaitMs = 1000.0;
constexpr int kPort = 150;
const QString kBin = QStringLiteral(VANTREL_BIN_DIR);

struct EngineRun {
    int exitCode = -1;
    double wallMs = 0;
    double cpuMs = 0;
    long peakRssKb = 0;
    qint64 startNs = 0; // CLOCK_MONOTONIC when the engine was started
};

// What the engine's write trace (VANTREL_WIRE_TRACE) shows: its start-up up to the first
// request byte, and every pause between two bytes of one request, from the end of one write
// call to the start of the next.
struct WireFigures {
    double firstByteMs = -1; // -1: no trace (an engine that writes none)
    std::vector<double> pausesMs;
};

// One line of the simulator's log: a request received or an answer sent.
struct SimEvent {
    double atMs = 0;
    bool request = false;
    QByteArray bytes;
};

struct Analysis {
    int exchanges = 0;
    qint64 pausedBytes = 0;
    int resendWaits = 0;
    int answerPauses = 0; // requests that follow an answer
    int violations = 0;
    std::vector<double> turnaroundOverheadMs; // per request, from the unit's side
    double sessionMs = 0;                     // first request to last answer
};

double milliseconds(const timeval& t) {
    return t.tv_sec * 1000.0 + t.tv_usec / 1000.0;
}

// Starts the engine and waits for it with wait4, which reports its CPU time and peak RSS.
EngineRun runEngine(const QString& program, const QStringList& arguments,
                    const QProcessEnvironment& environment) {
    std::vector<QByteArray> storage;
    storage.push_back(QFile::encodeName(program));
    for (const QString& argument : arguments)
        storage.push_back(argument.toLocal8Bit());
    const qsizetype argumentCount = qsizetype(storage.size());
    for (const QString& entry : environment.toStringList())
        storage.push_back(entry.toLocal8Bit());
    std::vector<char*> argv, envp;
    for (qsizetype i = 0; i < qsizetype(storage.size()); ++i)
        (i < argumentCount ? argv : envp).push_back(storage[size_t(i)].data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);

    EngineRun run;
    const auto start = std::chrono::steady_clock::now(); // CLOCK_MONOTONIC
    run.startNs =
        std::chrono::duration_cast<std::chrono::nanoseconds>(start.time_since_epoch()).count();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), envp.data()) != 0) return run;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) return run;
    run.wallMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.cpuMs = milliseconds(usage.ru_utime) + milliseconds(usage.ru_stime);
    run.peakRssKb = usage.ru_maxrss;
    return run;
}

std::vector<SimEvent> readSimLog(const QString& path, int* violations) {
    std::vector<SimEvent> events;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return events;
    for (const sim::SimLine& line : sim::parseSimLog(file.readAll())) {
        if (line.kind == "VIOLATION") ++*violations;
        if (line.kind == "RX" || line.kind == "TX")
            events.push_back({line.ms, line.kind == "RX", line.bytes});
    }
    return events;
}

WireFigures readWireTrace(const QString& path, qint64 engineStartNs) {
    WireFigures figures;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return figures;
    const QList<QList<TracedWrite>> requests = tracedRequests(file.readAll());
    if (requests.isEmpty()) return figures;
    figures.firstByteMs = (requests[0][0].startNs - engineStartNs) / 1e6;
    for (const QList<TracedWrite>& request : requests)
        for (qsizetype i = 1; i < request.size(); ++i)
            figures.pausesMs.push_back((request[i].startNs - request[i - 1].endNs) / 1e6);
    return figures;
}

bool isSubFunctionRefusal(const QByteArray& answer) {
    return answer.size() >= 7 && quint8(answer[4]) == 0x7F && quint8(answer[6]) == 0x12;
}

// Each request's time from the event before it (the answer it follows, or the request
// before it where none came: Transition Baud Rate), less what it had to wait: the pause after
// an answer, or the second before a repeat, and the pauses between its bytes.
Analysis analyse(const std::vector<SimEvent>& events, int violations) {
    Analysis result;
    result.violations = violations;
    const SimEvent* previous = nullptr;
    const SimEvent* lastRequest = nullptr;
    double first = -1;
    double last = 0;
    for (const SimEvent& event : events) {
        last = event.atMs;
        if (event.request) {
            const qint64 paused = std::max<qint64>(0, event.bytes.size() - 1);
            double mandatory = paused * kPauseMs;
            if (first < 0) first = event.atMs - mandatory;
            const bool resend = previous && !previous->request &&
                                isSubFunctionRefusal(previous->bytes) && lastRequest &&
                                lastRequest->bytes == event.bytes;
            if (resend) {
                ++result.resendWaits;
                mandatory += kResendWaitMs;
            } else if (previous && !previous->request) {
                ++result.answerPauses;
                mandatory += kAnswerPauseMs;
            }
            if (previous)
                result.turnaroundOverheadMs.push_back(event.atMs - previous->atMs - mandatory);
            ++result.exchanges;
            result.pausedBytes += paused;
            lastRequest = &event;
        }
        previous = &event;
    }
    result.sessionMs = first < 0 ? 0 : last - first;
    return result;
}

double percentile(std::vector<double> values, double share) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[size_t(share * double(values.size() - 1))];
}

double total(const std::vector<double>& values) {
    double sum = 0;
    for (const double value : values)
        sum += value;
    return sum;
}

QString lastStatus(const QString& dataFolder) {
    QFile file(dataFolder + "/VNPCstatus.txt");
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).trimmed()
                                          : QStringLiteral("(none)");
}

void report(const EngineRun& run, const Analysis& a, const WireFigures& wire,
            const QString& status) {
    const double mandatoryMs =
        a.pausedBytes * kPauseMs + a.answerPauses * kAnswerPauseMs + a.resendWaits * kResendWaitMs;
    const double overheadMs = run.wallMs - mandatoryMs;
    const double inSessionMs = total(a.turnaroundOverheadMs);
    const double perExchange = a.exchanges ? overheadMs / a.exchanges : 0;
    const double share = mandatoryMs > 0 ? 100.0 * overheadMs / mandatoryMs : 0;
    const double peakMb = run.peakRssKb / 1024.0;
    std::printf("engine exit code        %d, final status \"%s\"\n", run.exitCode,
                qPrintable(status));
    std::printf("exchanges (requests)    %d, simulator violations %d\n", a.exchanges, a.violations);
    std::printf("wall time               %10.1f ms  (first request to last answer %.1f ms)\n",
                run.wallMs, a.sessionMs);
    std::printf("mandatory time          %10.1f ms  (%lld paused bytes x 5 ms, %d answers x 10 "
                "ms, %d x 1 s)\n",
                mandatoryMs, a.pausedBytes, a.answerPauses, a.resendWaits);
    std::printf("overhead                %10.1f ms  = %.3f ms per exchange, %.2f %% of mandatory\n",
                overheadMs, perExchange, share);
    std::printf("  within the session    %10.1f ms  (per exchange: median %.3f, p95 %.3f, max "
                "%.3f ms)\n",
                inSessionMs, percentile(a.turnaroundOverheadMs, 0.5),
                percentile(a.turnaroundOverheadMs, 0.95), percentile(a.turnaroundOverheadMs, 1.0));
    std::printf("  start-up and ending   %10.1f ms\n", overheadMs - inSessionMs);
    const bool traced = wire.firstByteMs >= 0;
    if (traced)
        std::printf("start to first byte     %10.1f ms  (engine started to its first write call)\n",
                    wire.firstByteMs);
    else
        std::printf("start to first byte     not measured (the engine wrote no trace)\n");
    const double shortest = wire.pausesMs.empty() ? 0 : percentile(wire.pausesMs, 0);
    const double longest = wire.pausesMs.empty() ? 0 : percentile(wire.pausesMs, 1);
    const auto below = std::count_if(wire.pausesMs.begin(), wire.pausesMs.end(),
                                     [](double ms) { return ms < kPauseMs; });
    const auto above = std::count_if(wire.pausesMs.begin(), wire.pausesMs.end(),
                                     [](double ms) { return ms > kLongestPauseMs; });
    if (!wire.pausesMs.empty())
        std::printf("pauses at the writes    %zu: min %.3f, median %.3f, p99 %.3f, max %.3f ms; "
                    "%ld below 5.0, %ld above %.1f\n",
                    wire.pausesMs.size(), shortest, percentile(wire.pausesMs, 0.5),
                    percentile(wire.pausesMs, 0.99), longest, long(below), long(above),
                    kLongestPauseMs);
    std::printf("engine CPU (user+sys)   %10.1f ms\n", run.cpuMs);
    std::printf("engine peak RSS         %10.1f MB\n", peakMb);
    if (status != QLatin1String("Complete") || a.exchanges == 0) {
        std::printf("targets: not measured, the download did not complete\n");
        return;
    }
    const auto verdict = [traced](bool met) {
        return !traced ? "not measured" : met ? "met" : "MISSED";
    };
    std::printf("targets: overhead/exchange <= 1 ms: %s; overhead <= 2 %%: %s; start to first byte "
                "<= 300 ms: %s; pauses 5.0-%.1f ms: %s; peak RSS <= 60 MB: %s\n",
                perExchange <= 1.0 ? "met" : "MISSED", share <= 2.0 ? "met" : "MISSED",
                verdict(wire.firstByteMs <= 300.0), kLongestPauseMs,
                verdict(!wire.pausesMs.empty() && below == 0 && above == 0),
                peakMb <= 60.0 ? "met" : "MISSED");
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("All-VU download benchmark: VNPCBase against VantrelVuSim."));
    parser.addHelpOption();
    const QCommandLineOption days("days", "Days of activities (60).", "N", "60");
    const QCommandLineOption speed("speed-blocks", "Detailed-speed minutes (1500).", "N", "1500");
    const QCommandLineOption keep("keep", "Keep the temporary folder and print its path.");
    const QCommandLineOption engine("engine", "The engine to run (the one built beside this).",
                                    "FILE", kBin + "/VNPCBase");
    parser.addOptions({days, speed, keep, engine});
    parser.process(app);

    QTemporaryDir folder;
    folder.setAutoRemove(!parser.isSet(keep));
    const QString simLog = folder.filePath("sim.log");
    QProcess simulator;
    simulator.setProgram(kBin + "/VantrelVuSim");
    simulator.setArguments({"--root", folder.filePath("sim"), "--port", QString::number(kPort),
                            "--days", parser.value(days), "--speed-blocks", parser.value(speed),
                            "--log", simLog, "--once"});
    simulator.start();
    if (!simulator.waitForStarted() || !simulator.waitForReadyRead(10000)) {
        std::fprintf(stderr, "download_bench: the simulator did not start\n");
        return 2;
    }
    while (!simulator.readAllStandardOutput().contains("READY") &&
           simulator.waitForReadyRead(5000)) {
    }

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", folder.filePath("home"));
    environment.insert("XDG_DATA_HOME", folder.filePath("data"));
    environment.insert("XDG_CONFIG_HOME", folder.filePath("config"));
    environment.insert("XDG_RUNTIME_DIR", folder.filePath("runtime"));
    environment.insert("VANTREL_SYSFS_ROOT", folder.filePath("sim/sys"));
    environment.insert("VANTREL_DEV_ROOT", folder.filePath("sim/dev"));
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("VANTREL_NONINTERACTIVE", "1");
    const QString trace = folder.filePath("writes.txt");
    environment.insert("VANTREL_WIRE_TRACE", trace);
    for (const char* name : {"home", "runtime"})
        QDir().mkpath(folder.filePath(name));
    QFile::setPermissions(folder.filePath("runtime"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    const EngineRun run = runEngine(parser.value(engine), {"A E{600,3000}"}, environment);
    simulator.terminate();
    simulator.waitForFinished(5000);

    int violations = 0;
    const Analysis analysis = analyse(readSimLog(simLog, &violations), violations);
    const QString status = lastStatus(folder.filePath("data/Fenwright/Vantrel PC"));
    report(run, analysis, readWireTrace(trace, run.startNs), status);
    if (parser.isSet(keep)) std::printf("files kept in %s\n", qPrintable(folder.path()));
    return run.exitCode == 0 && status == QLatin1String("Complete") ? 0 : 1;
}
