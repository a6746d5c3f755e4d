// The serial link end to end: the real engine against the simulated vehicle unit on a pty,
// judged by what the unit saw (requests, speeds, times) and what the engine left behind.
// The downloads that need no hand during their run all start at once.

#include "SimulatorRun.h"
#include "WireTrace.h"

#include <QTest>

#include <csignal>
#include <map>
#include <memory>
#include <sys/times.h>

namespace {

const QByteArray kStartCommunication = QByteArray::fromHex("81EEF081E0");
const QByteArray kVerifyBaudRate = QByteArray::fromHex("80EEF004870101");
const QByteArray kTransitionBaudRate = QByteArray::fromHex("80EEF003870203");
const QByteArray kRequestUpload = QByteArray::fromHex("80EEF00A35");

// "--fault" before each of the space-separated faults.
QStringList faultList(const QString& faults) {
    return ("--fault " + QString(faults).replace(' ', " --fault ")).split(' ');
}

// Faults on the line (simulator faults, space-separated), each run also stepping the speed
// down as refused.
struct LineRow {
    const char* name;
    const char* faults;
    const char* label;           // of an answer the fault changed
    const char* resent;          // the request answered during its resend, hex
    int pauseMs, messagePauseMs; // the interBytePause and interMessagePause settings
    const char* verifyCodes;
    int sessionBaud;
};
const LineRow kLineRows[] = {
    {"noise before every answer, longer pause after answers", "noise", "noise", "", 5, 30, "04",
     57600},
    {"answers in three pieces, code 4 refused as sub-function",
     "split:pieces=3,pause=20 maxbaud:code=3", "piece 3", "", 5, 10, "04 03", 38400},
    {"noise and four pieces, down to 9600 as out of range",
     "noise:bytes=F0EE7F split:pieces=4,pause=10 maxbaud:code=1,reply=31", "piece 4", "", 5, 10,
     "04 03 02 01", 9600},
    {"Request Upload answered in its resend", "late:on=upload,times=1", "", "80EEF00A35", 5, 10,
     "04", 57600},
    // The third copy's answer lands in the first TREP request, which is no resend.
    {"every interface version answer late", "late:trep=0", "", "", 5, 10, "04", 57600},
    // Its second half comes after the resend is out, before the answer to the resend.
    {"overview answer ending after its resend, longer pause",
     "late:trep=1,times=1 split:trep=1,times=1,pieces=2,pause=40 "
     "delay:trep=1,after=1,times=1,ms=100",
     "piece 2", "80EEF0023601", 7, 10, "04", 57600},
};

} // namespace

class TestE2eLink : public QObject {
    Q_OBJECT

    std::map<QString, std::unique_ptr<Download>> downloads_;
    int port_ = 110;

    // A download from a unit showing the faults, known by them unless named.
    Download& add(const QString& faults, const QString& command, const QStringList& settings,
                  const QString& name = {}) {
        auto& download = downloads_[name.isEmpty() ? faults : name];
        download = std::make_unique<Download>(port_, faultList(faults), command, settings);
        port_ = port_ == 119 ? 150 : port_ + 1; // 120 on are another program's
        return *download;
    }
    void startLine(const LineRow& row) {
        const QString pause = QStringLiteral("InterBytePause=%1").arg(row.pauseMs);
        const QString messagePause = QStringLiteral("InterMessagePause=%1").arg(row.messagePauseMs);
        Download& download = add(row.faults, QString(),
                                 {"RXTIMEOUT=500", row.pauseMs == 5 ? "" : pause,
                                  row.messagePauseMs == 10 ? "" : messagePause},
                                 row.name);
        // Every byte the engine writes, with the time of the write call.
        qputenv("VANTREL_WIRE_TRACE", download.home.home.filePath("writes.txt").toLocal8Bit());
        download.start("\"L [001002003] 1 E {0,0}\"");
        qunsetenv("VANTREL_WIRE_TRACE");
    }
    static bool late(const LineRow& row) { return QByteArray(row.faults).contains("late"); }

private slots:
    void initTestCase() {
        for (const LineRow& row : kLineRows)
            if (!late(row)) startLine(row);
        for (const char* rxTimeout : {"600", "2000"})
            add("silent", "A E {0,0}", {QString("RXTIMEOUT=") + rxTimeout}, rxTimeout);
        for (const char* silent : {"silent:on=data,trep=1", "silent:on=exit"})
            add(silent, "\"L [001] 0 E {0,0}\"", {"RXTIMEOUT=60000"});
        // A late answer has to land within the few milliseconds of a resend: those runs start
        // once the other line runs are over, so that fewer processes compete with them.
        for (const LineRow& row : kLineRows)
            if (!late(row)) downloads_.at(row.name)->result();
        for (const LineRow& row : kLineRows)
            if (late(row)) startLine(row);
    }

    // Start Communication three times, each time-out counted from the end of the request.
    void noAnswer() {
        for (const int rxTimeout : {600, 2000}) {
            Download& download = *downloads_.at(QString::number(rxTimeout));
            QVERIFY(download.result().endedNormally());
            QCOMPARE(download.home.status(), QByteArray("Failed - Receive timeout\r\n"));
            QCOMPARE(download.home.log().count("\nRx Timeout - "), 3);
            const QList<SimLine> sends = download.sim.requests();
            QCOMPARE(sends.size(), 3);
            for (qsizetype i = 0; i < sends.size(); ++i) {
                QCOMPARE(sends[i].bytes.toHex() + ' ' + QByteArray::number(sends[i].baud),
                         kStartCommunication.toHex() + " 9600");
                // Five bytes at 5 ms each lie between the armed timer and the next request's end.
                const double interval = i ? sends[i].ms - sends[i - 1].ms : rxTimeout;
                QVERIFY2(interval >= rxTimeout - 150 && interval <= rxTimeout + 400,
                         qPrintable(QStringLiteral("interval %1 ms").arg(interval)));
            }
        }
    }

    // The saved file holds exactly the data the unit served: nothing of the noise, nothing
    // lost at the piece boundaries, nothing taken twice. An answer that comes only after the
    // time-out, while the request's second copy is being written, waits until that copy is
    // out and is then dropped, as the unit answers the copy too: the unit never sees two
    // requests run into each other, nor a request sooner than 10 ms after an answer. Every
    // pause between request bytes, from the end of one write call to the start of the next,
    // is at least the setting. Verify Baud Rate steps down as refused; Transition Baud Rate
    // leaves at 9600 and every request after it goes out at the new speed.
    void faultsOnTheLine_data() { addRows(kLineRows, "index"); }
    void faultsOnTheLine() {
        QFETCH(int, index);
        const LineRow& row = kLineRows[index];
        Download& download = *downloads_.at(row.name);
        QCOMPARE(download.problem(), QString());
        const SimulatorRun& sim = download.sim;
        QVERIFY(!*row.label || std::ranges::any_of(sim.answers(), [&row](const SimLine& answer) {
            return answer.label == row.label;
        }));
        const QList<ServedBlock> blocks = sim.servedBlocks();
        QVERIFY(blocks.size() >= 5 && blocks.first().trep == 5);
        QVERIFY(Download::onlyFile(download.home.vuFolder()) == SimulatorRun::join(blocks.mid(1)));

        const QList<SimLine> requests = sim.requests();
        QByteArray codes;
        qsizetype transition = -1;
        for (qsizetype i = 0; i < requests.size(); ++i) {
            const SimLine& r = requests[i];
            if (r.bytes.startsWith(kVerifyBaudRate) && r.bytes.size() > 7) codes += r.bytes[7];
            if (r.bytes.startsWith(kTransitionBaudRate)) {
                QCOMPARE(transition, -1);
                transition = i;
            }
            QCOMPARE(r.baud, transition < 0 || i == transition ? 9600 : row.sessionBaud);
        }
        QCOMPARE(codes.toHex(' '), QByteArray(row.verifyCodes));
        QVERIFY(transition > 0 && transition + 1 < requests.size());
        QVERIFY(requests[transition + 1].bytes.startsWith(kRequestUpload));

        if (*row.resent) {
            const QList<SimLine> copies = sim.requestsStartingWith(QByteArray::fromHex(row.resent));
            QVERIFY(copies.size() == 2 && copies[1].bytes == copies[0].bytes);
            const QList<SimLine> answers = sim.answers();
            const auto answer = std::ranges::find_if(
                answers, [&copies](const SimLine& line) { return line.ms > copies[0].ms; });
            QVERIFY2(answer != answers.end() && answer->ms < copies[1].ms,
                     qPrintable(QString("copy done at %1 ms").arg(copies[1].ms)));
        }
        const QList<QList<TracedWrite>> written =
            tracedRequests(readWhole(download.home.home.filePath("writes.txt")));
        QCOMPARE(written.size(), requests.size());
        // Every request but the one after Transition Baud Rate follows an answer (or a
        // time-out) to the request before it, so at least the pause lies between the two,
        // where no answer comes while a request is still being written.
        for (qsizetype r = 1; r < written.size() && !late(row); ++r) {
            const double gap = double(written[r][0].startNs - written[r - 1].last().endNs) / 1e6;
            QVERIFY2(r == transition + 1 || gap >= row.messagePauseMs,
                     qPrintable(QStringLiteral("%1 ms before request %2").arg(gap).arg(r)));
        }
        for (const QList<TracedWrite>& bytes : written)
            for (qsizetype i = 1; i < bytes.size(); ++i) {
                const double pause = double(bytes[i].startNs - bytes[i - 1].endNs) / 1e6;
                QVERIFY2(pause >= row.pauseMs, qPrintable(QString("%1 ms").arg(pause)));
            }
    }

    // Told to end while the unit is silent (waitFor: the request it leaves unanswered): in
    // the middle of the download it is a failure; once everything is in (Transfer Exit
    // unanswered), the download is saved.
    void endRequestDuringSession() {
        const std::tuple<const char*, const char*, QByteArray> rows[] = {
            {"silent:on=data,trep=1", "80EEF0023601", "Failed - Download stopped\r\n"},
            {"silent:on=exit", "80EEF00137", "Complete\r\n"}};
        for (const auto& [faults, waitFor, status] : rows) {
            Download& download = *downloads_.at(faults);
            QTRY_VERIFY_WITH_TIMEOUT(
                !download.sim.requestsStartingWith(QByteArray::fromHex(waitFor)).isEmpty(), 20000);
            ::kill(pid_t(download.engine.processId()), SIGTERM);
            QVERIFY(download.result(5000).endedNormally() && download.home.status() == status);
            QCOMPARE(filesIn(download.home.vuFolder()).size(), status == "Complete\r\n" ? 1 : 0);
        }
    }

    // The unit goes away in the middle of an answer: the engine reports it once and ends,
    // without spinning on the lost port.
    void hangUp() {
        tms before{}, after{};
        ::times(&before);
        {
            Download download(156, faultList("hangup:trep=1,part=2"), "A E {0,0}");
            QVERIFY(download.sim.waitForEnd(30000));
            QVERIFY(download.result(5000).endedNormally()); // soon after the unit
            const QByteArray status = download.home.status();
            QVERIFY2(status.startsWith("Failed - ") && status.size() > 11, status.constData());
            QCOMPARE(filesIn(download.home.vuFolder()), QStringList{});
        }
        ::times(&after);
        // A whole download takes well under half a second of CPU; a spin takes all there is.
        const double cpu =
            double(after.tms_cutime + after.tms_cstime - before.tms_cutime - before.tms_cstime) /
            double(::sysconf(_SC_CLK_TCK));
        QVERIFY2(cpu > 0 && cpu < 1.5, qPrintable(QStringLiteral("CPU %1 s").arg(cpu)));
    }
};

QTEST_GUILESS_MAIN(TestE2eLink)
#include "test_e2e_link.moc"
