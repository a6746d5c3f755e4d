// VantrelVuSim: a vehicle unit on a pseudo-terminal, for tests and demonstrations.

#include "FakeCable.h"
#include "SimPty.h"
#include "SimSession.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <limits>
#include <map>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

using namespace sim;

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char c = 1;
    [[maybe_unused]] auto n = ::write(signalPipe[1], &c, 1);
}

// Drives the line: reads requests, hands them to the session, writes what it answers when
// it is due, and follows the tester opening and closing its end.
class Runner : public QObject {
public:
    Runner(Pty& pty, VuSession& session, bool once, QFile* log, QFile* served)
        : pty_(pty), session_(session), once_(once), log_(log), served_(served),
          reader_(pty.fd(), QSocketNotifier::Read), writer_(pty.fd(), QSocketNotifier::Write) {
        clock_.start();
        writer_.setEnabled(false);
        connect(&reader_, &QSocketNotifier::activated, this, &Runner::readLine);
        connect(&writer_, &QSocketNotifier::activated, this, &Runner::flush);
        // While no one holds the slave the master reports a hang-up on every poll: look
        // again a few milliseconds later instead of spinning.
        peerWatch_.setInterval(5);
        peerWatch_.setTimerType(Qt::PreciseTimer);
        connect(&peerWatch_, &QTimer::timeout, this, &Runner::watchPeer);
        due_.setSingleShot(true);
        due_.setTimerType(Qt::PreciseTimer);
        connect(&due_, &QTimer::timeout, this, &Runner::sendDue);
        if (pty_.peerAbsent()) waitForPeer();
    }

    // The format SimLog.h reads back.
    void logLine(const QString& kind, const QString& text) {
        const QByteArray line =
            QStringLiteral("%1 %2 %3\n").arg(nowMs(), 10, 'f', 3).arg(kind, text).toUtf8();
        if (log_) {
            log_->write(line);
            log_->flush();
        } else {
            fputs(line.constData(), stderr);
        }
    }

private:
    double nowMs() const { return clock_.nsecsElapsed() / 1e6; }

    void waitForPeer() {
        reader_.setEnabled(false);
        peerWatch_.start();
    }

    void watchPeer() {
        if (pty_.peerAbsent()) {
            if (closedSince_.isValid() && closedSince_.elapsed() > kGoneAfterMs)
                QCoreApplication::quit();
            return;
        }
        closedSince_.invalidate();
        peerWatch_.stop();
        peerOpen_ = true;
        justOpened_ = true;
        logLine(QStringLiteral("NOTE"), QStringLiteral("tester opened the line"));
        reader_.setEnabled(true);
    }

    void peerGone() {
        if (peerOpen_) logLine(QStringLiteral("NOTE"), QStringLiteral("tester closed the line"));
        peerOpen_ = false;
        waitForPeer();
        // The tester also closes its end to change the speed: a session has ended only
        // after Stop Communication, or when the line stays closed.
        if (once_ && stopSeen_)
            QCoreApplication::quit();
        else if (once_ && session_.sessionSeen())
            closedSince_.start();
    }

    void readLine() {
        char buffer[4096];
        const ssize_t n = ::read(pty_.fd(), buffer, sizeof buffer);
        if (n < 0 && errno == EAGAIN) return;
        if (n <= 0) {
            peerGone();
            return;
        }
        const double at = nowMs();
        // A late answer goes out while the next request is still arriving.
        for (const Output& o : std::exchange(held_, {}))
            queue_.emplace(at + o.atMs, o);
        armDue();
        const int baud = pty_.testerBaud();
        for (ssize_t i = 0; i < n; ++i)
            requests_.feed(buffer[i], at, baud, !justOpened_);
        justOpened_ = false;
        for (const Request& r : requests_.takeRequests())
            handle(r);
    }

    void handle(const Request& r) {
        QString gaps;
        if (r.minGapMs >= 0)
            gaps = QStringLiteral(" [gaps %1-%2 ms]")
                       .arg(r.minGapMs, 0, 'f', 2)
                       .arg(r.maxGapMs, 0, 'f', 2);
        logLine(QStringLiteral("RX"),
                QStringLiteral("%1 %2%3").arg(r.baud).arg(spacedHex(r.bytes), gaps));
        const QList<Output> outputs = session_.handle(r);
        for (const QString& note : session_.takeNotes()) {
            const bool violation = note.startsWith(QLatin1String("VIOLATION"));
            logLine(violation ? QStringLiteral("VIOLATION") : QStringLiteral("NOTE"),
                    violation ? note.mid(10) : note);
        }
        if (served_)
            for (const QByteArray& block : session_.takeServed()) {
                served_->write(block);
                served_->flush();
            }
        for (const Output& o : outputs) {
            if (o.untilNextRequest)
                held_.append(o);
            else
                queue_.emplace(nowMs() + o.atMs, o);
        }
        if (session_.stopped()) stopSeen_ = true;
        armDue();
    }

    void armDue() {
        if (queue_.empty()) return;
        due_.start(int(qMax(0.0, queue_.begin()->first - nowMs())));
    }

    void sendDue() {
        while (!queue_.empty() && queue_.begin()->first <= nowMs() + 0.5) {
            const Output o = queue_.begin()->second;
            queue_.erase(queue_.begin());
            if (o.hangUp) {
                logLine(QStringLiteral("NOTE"), QStringLiteral("hanging up"));
                pty_.close();
                QCoreApplication::quit();
                return;
            }
            logLine(QStringLiteral("TX"),
                    spacedHex(o.bytes) +
                        (o.label.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(o.label)));
            pending_.append(o.bytes);
            lastOutput_ = o;
        }
        flush();
        armDue();
        if (once_ && stopSeen_ && queue_.empty() && pending_.isEmpty())
            // Leave the tester time to read the last answer before the line goes away.
            QTimer::singleShot(2000, qApp, &QCoreApplication::quit);
    }

    void flush() {
        double writtenAt = -1; // before the call: the tester may read the bytes at once
        while (!pending_.isEmpty()) {
            writtenAt = nowMs();
            const ssize_t n = ::write(pty_.fd(), pending_.constData(), size_t(pending_.size()));
            if (n <= 0) break;
            pending_.remove(0, n);
        }
        writer_.setEnabled(!pending_.isEmpty());
        if (writtenAt >= 0 && pending_.isEmpty()) session_.outputSent(lastOutput_, writtenAt);
    }

    Pty& pty_;
    VuSession& session_;
    bool once_;
    QFile* log_;
    QFile* served_;
    QSocketNotifier reader_;
    QSocketNotifier writer_;
    QTimer peerWatch_;
    QTimer due_;
    QElapsedTimer clock_;
    RequestReader requests_;
    std::multimap<double, Output> queue_;
    QList<Output> held_; // sent once the next request begins
    QByteArray pending_;
    Output lastOutput_; // the last one handed to pending_
    static constexpr qint64 kGoneAfterMs = 3000;
    QElapsedTimer closedSince_;
    bool peerOpen_ = false;
    bool justOpened_ = false;
    bool stopSeen_ = false;
};

int fail(const QString& text) {
    fprintf(stderr, "VantrelVuSim: %s\n", qPrintable(text));
    return 2;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("VantrelVuSim"));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("A simulated tachograph vehicle unit on a pseudo-terminal.\n\n") +
        faultHelp());
    parser.addHelpOption();
    const QCommandLineOption root(
        "root", "Folder for the fake sysfs (DIR/sys) and devices (DIR/dev).", "DIR");
    const QCommandLineOption port("port", "Port number N of ttyUSB<N> (3).", "N", "3");
    const QCommandLineOption description("description", "USB description of the cable.", "TEXT",
                                         "Vantrel PC Cable");
    const QCommandLineOption serial("serial", "USB serial number of the cable.", "TEXT",
                                    "VT000001");
    const QCommandLineOption ddd("ddd", "Serve the blocks of this vehicle-unit file.", "FILE");
    const QCommandLineOption card("card", "Serve this card file chain for TREP 6.", "FILE");
    const QCommandLineOption days("days", "Days of generated activities (28).", "N", "28");
    const QCommandLineOption today("today", "The unit's date (yyyy-MM-dd, clock at 12:00 UTC).",
                                   "DATE");
    const QCommandLineOption speed("speed-blocks", "Generated detailed-speed minutes (75).", "N",
                                   "75");
    const QCommandLineOption gen2("gen2", "A second-generation unit (generated data).");
    const QCommandLineOption gen2v2("gen2v2",
                                    "A second-generation version 2 unit (generated data).");
    const QCommandLineOption vrn("vrn", "Registration number of generated data (VT-SIM 42).",
                                 "TEXT", "VT-SIM 42");
    const QCommandLineOption maker("maker", "Manufacturer code of generated data (0xA1).", "HEX",
                                   "0xA1");
    const QCommandLineOption delay("delay", "Pause before every answer.", "MS", "0");
    const QCommandLineOption fault("fault", "A fault, repeatable (grammar above).", "SPEC");
    const QCommandLineOption once("once", "End after one session.");
    const QCommandLineOption log("log", "Write the traffic log here instead of stderr.", "FILE");
    const QCommandLineOption served("served", "Append every block served whole to FILE.", "FILE");
    parser.addOptions({root, port, description, serial, ddd, card, days, today, speed, gen2, gen2v2,
                       vrn, maker, delay, fault, once, log, served});
    parser.process(app);

    if (!parser.isSet(root)) return fail(QStringLiteral("--root DIR is required"));
    const QDir rootDir(parser.value(root));
    constexpr int kNoLimit = std::numeric_limits<int>::max();
    const auto portNumber = parseNumber(parser.value(port), 10, kNoLimit);
    if (!portNumber) return fail(QStringLiteral("bad --port"));
    const auto delayMs = parseNumber(parser.value(delay), 10, kNoLimit);
    if (!delayMs) return fail(QStringLiteral("bad --delay"));

    QList<Fault> faults;
    for (const QString& spec : parser.values(fault)) {
        QString error;
        const auto f = Fault::parse(spec, &error);
        if (!f) return fail(QStringLiteral("--fault %1: %2").arg(spec, error));
        faults.append(*f);
    }

    VuData data;
    if (parser.isSet(ddd)) {
        QFile file(parser.value(ddd));
        if (!file.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("cannot read %1").arg(file.fileName()));
        QString error;
        data = VuData::fromFile(file.readAll(), &error);
        if (data.blocks().isEmpty())
            return fail(QStringLiteral("%1: %2").arg(file.fileName(), error));
        data.setCard(generateCardChain(data.latestTime(), 0x0D));
    } else {
        GenerateOptions o;
        const auto dayCount = parseNumber(parser.value(days), 10, 3650);
        if (!dayCount || *dayCount < 1) return fail(QStringLiteral("bad --days"));
        o.days = *dayCount;
        const auto speedBlocks = parseNumber(parser.value(speed), 10, 65535);
        if (!speedBlocks) return fail(QStringLiteral("bad --speed-blocks"));
        o.speedBlocks = *speedBlocks;
        const auto code = parseNumber(parser.value(maker), 16, 0xFF);
        if (!code) return fail(QStringLiteral("bad --maker"));
        o.maker = quint8(*code);
        o.gen2 = parser.isSet(gen2);
        o.version2 = parser.isSet(gen2v2);
        o.vrn = parser.value(vrn).toLatin1();
        if (o.vrn.size() > 13) return fail(QStringLiteral("bad --vrn (13 characters at most)"));
        o.now = QDateTime::currentDateTimeUtc();
        if (parser.isSet(today)) {
            const QDate date = QDate::fromString(parser.value(today), Qt::ISODate);
            if (!date.isValid()) return fail(QStringLiteral("bad --today"));
            o.now = QDateTime(date, QTime(12, 0), Qt::UTC);
        }
        data = VuData::generate(o);
    }
    if (parser.isSet(card)) {
        QFile file(parser.value(card));
        if (!file.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("cannot read %1").arg(file.fileName()));
        QString error;
        const QByteArray chain = file.readAll();
        if (splitCardChain(chain, &error).isEmpty())
            return fail(
                QStringLiteral("%1: %2").arg(file.fileName(), error.isEmpty() ? "empty" : error));
        data.setCard(chain);
    }

    QFile logFile(parser.value(log));
    if (parser.isSet(log) && !logFile.open(QIODevice::WriteOnly | QIODevice::Append))
        return fail(QStringLiteral("cannot write %1").arg(logFile.fileName()));
    QFile servedFile(parser.value(served));
    if (parser.isSet(served) && !servedFile.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return fail(QStringLiteral("cannot write %1").arg(servedFile.fileName()));

    const QString sysRoot = rootDir.filePath(QStringLiteral("sys"));
    const QString devRoot = rootDir.filePath(QStringLiteral("dev"));
    FakeUsbDevice device;
    device.description = parser.value(description);
    device.serial = parser.value(serial);
    device.port = *portNumber;
    QString error;
    if (!addFakeUsbSerialDevice(sysRoot, device, &error))
        return fail(QStringLiteral("fake sysfs: %1").arg(error));
    Pty pty;
    if (!pty.open(&error) || !pty.link(devRoot, *portNumber, &error)) return fail(error);

    if (::pipe(signalPipe) != 0) return fail(QStringLiteral("pipe"));
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);
    QSocketNotifier signalNotifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);

    VuSession session(data, faults, *delayMs);
    Runner runner(pty, session, parser.isSet(once), parser.isSet(log) ? &logFile : nullptr,
                  parser.isSet(served) ? &servedFile : nullptr);
    runner.logLine(
        QStringLiteral("NOTE"),
        QStringLiteral("unit: %1, %2 blocks, maker %3, period %4 to %5, line %6")
            .arg(data.version2() ? "second generation version 2"
                 : data.gen2()   ? "second generation"
                                 : "first generation")
            .arg(data.blocks().size())
            .arg(data.maker(), 2, 16, QLatin1Char('0'))
            .arg(QDateTime::fromSecsSinceEpoch(data.oldestTime(), Qt::UTC).toString(Qt::ISODate),
                 QDateTime::fromSecsSinceEpoch(data.latestTime(), Qt::UTC).toString(Qt::ISODate),
                 pty.slavePath()));

    printf("VANTREL_SYSFS_ROOT=%s\nVANTREL_DEV_ROOT=%s\nREADY\n", qPrintable(sysRoot),
           qPrintable(devRoot));
    fflush(stdout);
    const int rc = app.exec();
    pty.close();
    return rc;
}
