#pragma once

// Runs the simulated vehicle unit (VantrelVuSim) as a process in a temporary root and reads
// back what it saw and sent: its requests with the speed each arrived at, its answers, its
// notes and violations, and the data blocks it served whole.

#include "EngineRun.h"
#include "SimLog.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>

using sim::SimLine;

// One block of served data: the TREP it answered and its bytes as a tester stores them.
struct ServedBlock {
    int trep = 0;
    QByteArray bytes;
};

class SimulatorRun {
public:
    SimulatorRun(int port, const QStringList& options) {
        QStringList arguments{"--root", root_.path(), "--port",   QString::number(port),
                              "--log",  logPath(),    "--served", servedPath()};
        // Nobody reads the pipe during a run: a full one would stall the unit.
        process_.setStandardErrorFile(root_.filePath("stderr.txt"));
        process_.start(QStringLiteral(VANTREL_BIN_DIR "/VantrelVuSim"), arguments + options);
        ready_ = waitForReady();
    }
    ~SimulatorRun() {
        process_.terminate();
        if (!process_.waitForFinished(5000)) process_.kill();
        process_.waitForFinished();
    }

    bool ready() const { return ready_; }
    QByteArray startOutput() const { return startOutput_; }
    QString sysfsRoot() const { return root_.filePath("sys"); }
    QString devRoot() const { return root_.filePath("dev"); }
    QString logPath() const { return root_.filePath("simulator.log"); }
    QString servedPath() const { return root_.filePath("served.bin"); }
    QByteArray served() const { return readWhole(servedPath()); }

    // Points an engine home at this unit's cable and tty.
    void connect(EngineHome& home) const {
        home.sysfsRoot = sysfsRoot();
        home.devRoot = devRoot();
    }

    bool waitForEnd(int timeoutMs) { return process_.waitForFinished(timeoutMs); }

    // The log's lines of a kind: RX, TX, NOTE, VIOLATION.
    QList<SimLine> lines(const QByteArray& kind) const {
        QList<SimLine> found = sim::parseSimLog(readWhole(logPath()));
        found.removeIf([&kind](const SimLine& line) { return line.kind != kind; });
        return found;
    }
    QList<SimLine> requests() const { return lines("RX"); }
    QList<SimLine> answers() const { return lines("TX"); }

    // Requests whose bytes begin with the given header and service bytes.
    QList<SimLine> requestsStartingWith(const QByteArray& start) const {
        QList<SimLine> found = requests();
        found.removeIf([&start](const SimLine& line) { return !line.bytes.startsWith(start); });
        return found;
    }

    // Violations other than the inter-byte pauses: those are measured where the simulator's
    // event loop reads the pty and move with its scheduling, not with the tester's pacing.
    QList<QByteArray> protocolViolations() const {
        QList<QByteArray> found;
        for (const SimLine& line : lines("VIOLATION"))
            if (!line.text.startsWith("inter-byte pause")) found << line.text;
        return found;
    }

    // The data blocks the unit sent whole, rebuilt from its answers as a tester stores them:
    // 0x76, TREP, data; card data bare. Pieces are joined, noise and pending answers left
    // out, and a sub-message sent again replaces the earlier copy.
    QList<ServedBlock> servedBlocks() const {
        QList<ServedBlock> blocks;
        QByteArray message;
        QMap<int, QByteArray> parts; // of the answer in sub-messages under way
        int partsTrep = -1;
        for (const SimLine& line : answers()) {
            if (QByteArrayList{"noise", "pending", "duplicate"}.contains(line.label)) continue;
            message += line.bytes;
            if (message.size() < 4 || message.size() < quint8(message[3]) + 5) continue;
            const QByteArray m = std::exchange(message, {});
            const int length = quint8(m[3]);
            if (length < 2 || quint8(m[4]) != 0x76) continue;
            const int trep = quint8(m[5]);
            const bool subMessage = length == 255 || (partsTrep >= 0 && length >= 4);
            if (!subMessage) {
                if (trep != 0x00) // the download interface version is no data
                    blocks << block(trep, m.mid(6, length - 2));
                continue;
            }
            const int number = quint8(m[6]) * 256 + quint8(m[7]);
            if (number == 1) parts.clear();
            partsTrep = trep;
            parts[number] = m.mid(8, length - 4);
            if (length == 255) continue;
            blocks << block(trep, QByteArrayList(parts.values()).join());
            parts.clear();
            partsTrep = -1;
        }
        return blocks;
    }

    static QByteArray join(const QList<ServedBlock>& blocks) {
        QByteArray all;
        for (const ServedBlock& block : blocks)
            all += block.bytes;
        return all;
    }

private:
    bool waitForReady() {
        const QDeadlineTimer deadline(15000);
        while (!deadline.hasExpired()) {
            process_.waitForReadyRead(100);
            startOutput_ += process_.readAllStandardOutput();
            if (startOutput_.contains("READY\n")) return true;
            if (process_.state() == QProcess::NotRunning) break;
        }
        startOutput_ += readWhole(root_.filePath("stderr.txt"));
        return false;
    }

    static ServedBlock block(int trep, const QByteArray& data) {
        const bool bare = trep == 0x06 || trep == 0x17;
        return {trep, bare ? data : QByteArray("\x76") + char(trep) + data};
    }

    QTemporaryDir root_;
    QProcess process_;
    QByteArray startOutput_;
    bool ready_ = false;
};

// A unit on its own port and the engine started against it at once: a test program starts
// its downloads side by side and so takes about as long as its longest one.
struct Download {
    // Without a command the caller finishes setting up the home and then starts the engine.
    Download(int port, const QStringList& unit, const QString& command,
             const QStringList& settings = {})
        : sim(port, unit) {
        sim.connect(home);
        const QStringList folders{"VUDataPath=" + home.vuFolder(),
                                  "CardDataPath=" + home.cardFolder()};
        if (sim.ready() && writeEngineSettings(home, folders + settings) && !command.isEmpty())
            start(command);
    }
    void start(const QString& command) {
        startedAt = QDateTime::currentDateTime();
        home.start(engine, {command});
    }
    // The engine's end; the first call waits for it.
    const EngineResult& result(int timeoutMs = 180000) {
        if (!finished_) result_ = EngineHome::finish(engine, timeoutMs);
        finished_ = true;
        return result_;
    }
    // Why the download did not come to a good end; empty when it did.
    QString problem() {
        if (!sim.ready()) return "simulator: " + QString::fromUtf8(sim.startOutput());
        const EngineResult& r = result();
        if (!r.finished) return QStringLiteral("the engine did not end");
        if (!r.messageBoxes.isEmpty()) return "boxes: " + r.messageBoxes.join(" | ");
        if (home.status() != "Complete\r\n") return "status: " + QString::fromUtf8(home.status());
        return QString::fromUtf8(sim.protocolViolations().join(" | "));
    }
    // The one file a folder holds; empty when it holds none or several.
    static QByteArray onlyFile(const QString& folder) {
        const QStringList files = filesIn(folder);
        return files.size() == 1 ? readWhole(folder + "/" + files.first()) : QByteArray();
    }

    SimulatorRun sim;
    EngineHome home;
    QProcess engine;
    QDateTime startedAt;

private:
    bool finished_ = false;
    EngineResult result_;
};
