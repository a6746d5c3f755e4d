// The serial link end to end: the real engine against the simulated vehicle unit on a pty,
// judged by what the unit saw (requests, speeds, times) and what the engine left behind.
// The downloads that need no hand during their run all start at once.

#include "SimulatorRun.h"
#include "WireTrace.h"

#include <QElapsedTimer>
#include <QTest>

#include <csignal>
#include <map>
#include <memory>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

const QByteArray kStartCommunication = QByteArray::fromHex("81EEF081E0");
const QByteArray kVerifyBaudRate = QByteArray::fromHex("80EEF004870101");
const QByteArray kTransitionBaudRate = QByteArray::fromHex("80EEF003870203");
const QByteArray kRequestUpload = QByteArray::fromHex("80EEF00A35");

// CPU seconds (user and system) the process has used so far, or -1.
double CpuSeconds(qint64 pid) {
    const QByteArray stat = ReadAll(QStringLiteral("/proc/%1/stat").arg(pid));
    const qsizetype nameEnd = stat.lastIndexOf(')');
    if (nameEnd < 0) return -1;
    const QList<QByteArray> fields = stat.mid(nameEnd + 2).split(' ');
    // fields[0] is the state, field 3 of the file; utime and stime are fields 14 and 15.
    if (fields.size() < 13) return -1;
    return double(fields[11].toLongLong() + fields[12].toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

// A minor number of the misc character devices that no driver has taken: opening a node
// with it fails with "No such device".
int UnusedMiscMinor() {
    QList<int> taken;
    for (const QByteArray& line : ReadAll("/proc/misc").split('\n'))
        taken << line.trimmed().split(' ').first().toInt();
    for (int minor = 254; minor > 130; --minor)
        if (!taken.contains(minor)) return minor;
    return 0;
}

struct LineRow {
    QStringList unit;
    QByteArray label;  // of an answer the fault changed
    QByteArray resent; // the request answered during its resend
    int pauseMs;       // the InterBytePause setting
    QByteArray verifyCodes;
    int sessionBaud;
};

// Faults on the line, each run also stepping the speed down as refused.
const std::map<QString, LineRow>& LineRows() {
    static const std::map<QString, LineRow> rows{
        {"noise before every answer, 57600 taken",
         {{"--fault", "noise"}, "noise", {}, 5, "04", 57600}},
        {"answers in three pieces, code 4 refused as sub-function",
         {{"--fault", "split:pieces=3,pause=20", "--fault", "maxbaud:code=3"},
          "piece 3",
          {},
          5,
          "04 03",
          38400}},
        {"noise and four pieces, refused down to 9600 as out of range",
         {{"--fault", "noise:bytes=F0EE7F", "--fault", "split:pieces=4,pause=10", "--fault",
           "maxbaud:code=1,reply=31"},
          "piece 4",
          {},
          5,
          "04 03 02 01",
          9600}},
        {"Request Upload answered in its resend",
         {{"--fault", "late:on=upload,times=1"}, {}, kRequestUpload, 5, "04", 57600}},
        // The third copy's answer lands in the first TREP request, which is no resend.
        {"every interface version answer late",
         {{"--fault", "late:trep=0"}, {}, {}, 5, "04", 57600}},
        // Its second half comes after the resend is out, before the answer to the resend.
        {"overview answer ending after its resend, longer pause",
         {{"--fault", "late:trep=1,times=1", "--fault", "split:trep=1,times=1,pieces=2,pause=40",
           "--fault", "delay:trep=1,after=1,times=1,ms=100"},
          "piece 2",
          QByteArray::fromHex("80EEF0023601"),
          7,
          "04",
          57600}},
    };
    return rows;
}

} // namespace

class TestE2eLink : public QObject {
    Q_OBJECT

    std::map<QString, std::unique_ptr<Download>> downloads_;

    Download& add(const QString& name, int port, const QStringList& unit, const QString& command,
                  const QStringList& settings) {
        return *(downloads_[name] = std::make_unique<Download>(port, unit, command, settings));
    }

private slots:
    void initTestCase() {
        int port = 110;
        for (const auto& [name, row] : LineRows()) {
            Download& download =
                add(name, port++, row.unit, QString(),
                    {"RXTIMEOUT=500", row.pauseMs == 5
                                          ? QString() // the default
                                          : QStringLiteral("InterBytePause=%1").arg(row.pauseMs)});
            // Every byte the engine writes, with the time of the write call.
            qputenv("VANTREL_WIRE_TRACE", download.home.home.filePath("writes.txt").toLocal8Bit());
            download.start("\"L [001002003] 1 E {0,0}\"");
            qunsetenv("VANTREL_WIRE_TRACE");
        }
        for (const int rxTimeout : {600, 2000})
            add(QString::number(rxTimeout), port++, {"--fault", "silent"}, "A E {0,0}",
                {"RXTIMEOUT=" + QString::number(rxTimeout)});
        add("checksum:on=upload", port++, {"--fault", "checksum:on=upload"}, "A E {0,0}", {});
        add("checksum:trep=1,part=1", 150, {"--fault", "checksum:trep=1,part=1"}, "A E {0,0}", {});
        add("silent:on=data,trep=1", 151, {"--fault", "silent:on=data,trep=1"},
            "\"L [001] 0 E {0,0}\"", {"RXTIMEOUT=60000"});
        add("silent:on=exit", 152, {"--fault", "silent:on=exit"}, "\"L [001] 0 E {0,0}\"",
            {"RXTIMEOUT=60000"});
    }

    // Start Communication three times, each time-out counted from the end of the request.
    void noAnswer_data() {
        QTest::addColumn<int>("rxTimeout");
        QTest::newRow("600") << 600;
        QTest::newRow("2000") << 2000;
    }
    void noAnswer() {
        QFETCH(int, rxTimeout);
        Download& download = *downloads_.at(QTest::currentDataTag());
        QVERIFY(download.result().finished);
        QCOMPARE(download.result().exitStatus, QProcess::NormalExit);
        QCOMPARE(download.home.status(), QByteArray("Failed - Receive timeout\r\n"));
        int timeouts = 0;
        for (const QByteArray& line : LogLines(download.home.log()))
            timeouts += line.startsWith("Rx Timeout - ") ? 1 : 0;
        QCOMPARE(timeouts, 3);
        const QList<SimLine> sends = download.sim.requests();
        QCOMPARE(sends.size(), 3);
        for (qsizetype i = 0; i < sends.size(); ++i) {
            QCOMPARE(sends[i].bytes.toHex(), kStartCommunication.toHex());
            QCOMPARE(sends[i].baud, 9600);
            if (i == 0) continue;
            // Five bytes at 5 ms each lie between the armed timer and the next request's end.
            const double interval = sends[i].ms - sends[i - 1].ms;
            QVERIFY2(interval >= rxTimeout - 150 && interval <= rxTimeout + 400,
                     qPrintable(QStringLiteral("interval %1 ms").arg(interval)));
        }
    }

    // The saved file holds exactly the data the unit served: nothing of the noise, nothing
    // lost at the piece boundaries, nothing taken twice. An answer that comes only after the
    // time-out, while the request's second copy is being written, waits until that copy is
    // out and is then dropped, as the unit answers the copy too: the unit never sees two
    // requests run into each other. Every pause between request bytes, taken at the
    // engine's write calls, is at least the setting. Verify Baud Rate steps down as refused;
    // Transition Baud Rate leaves at 9600 and every request after it goes out at the new
    // speed.
    void faultsOnTheLine_data() {
        QTest::addColumn<QString>("name");
        for (const auto& [name, row] : LineRows())
            QTest::newRow(qPrintable(name)) << name;
    }
    void faultsOnTheLine() {
        QFETCH(QString, name);
        const LineRow& row = LineRows().at(name);
        Download& download = *downloads_.at(name);
        QCOMPARE(download.problem(), QString());
        const SimulatorRun& sim = download.sim;
        bool faultActed = row.label.isEmpty();
        for (const SimLine& answer : sim.answers())
            faultActed = faultActed || answer.label == row.label;
        QVERIFY(faultActed);
        const QList<ServedBlock> blocks = sim.servedBlocks();
        QVERIFY(blocks.size() >= 5);
        QCOMPARE(blocks.first().trep, 5);
        QCOMPARE(FilesIn(download.home.vuFolder()), QStringList{"saved.ddd"});
        QVERIFY(ReadAll(download.home.vuFolder() + "/saved.ddd") ==
                SimulatorRun::join(blocks.mid(1)));

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
        QCOMPARE(codes.toHex(' '), row.verifyCodes);
        QVERIFY(transition > 0 && transition + 1 < requests.size());
        QVERIFY(requests[transition + 1].bytes.startsWith(kRequestUpload));

        if (!row.resent.isEmpty()) {
            const QList<SimLine> copies = sim.requestsStartingWith(row.resent);
            QCOMPARE(copies.size(), 2);
            QCOMPARE(copies[1].bytes, copies[0].bytes);
            double answeredAt = -1;
            for (const SimLine& answer : sim.answers())
                if (answeredAt < 0 && answer.ms > copies[0].ms) answeredAt = answer.ms;
            QVERIFY2(answeredAt > 0 && answeredAt < copies[1].ms,
                     qPrintable(QStringLiteral("answer at %1 ms, copy done at %2 ms")
                                    .arg(answeredAt)
                                    .arg(copies[1].ms)));
        }
        const QList<QList<TracedWrite>> written =
            TracedRequests(ReadAll(download.home.home.filePath("writes.txt")));
        QCOMPARE(written.size(), requests.size());
        for (const QList<TracedWrite>& bytes : written)
            for (qsizetype i = 1; i < bytes.size(); ++i) {
                const double pause = double(bytes[i].startNs - bytes[i - 1].startNs) / 1e6;
                QVERIFY2(
                    pause >= row.pauseMs,
                    qPrintable(QStringLiteral("pause %1 ms before byte %2").arg(pause).arg(i)));
            }
    }

    // The session fails at once: "Failed", the boxes, the engine ends, nothing is saved and
    // nothing is asked after the unusable answer.
    void unusableAnswer_data() {
        QTest::addColumn<QStringList>("boxes");
        QTest::newRow("checksum:on=upload")
            << QStringList{"lResult - 4096", "Request Upload - invalid response"};
        QTest::newRow("checksum:trep=1,part=1")
            << QStringList{"lResult - 4096", "Receive TREP data - invalid response"};
    }
    void unusableAnswer() {
        QFETCH(QStringList, boxes);
        Download& download = *downloads_.at(QTest::currentDataTag());
        QVERIFY(download.result().finished);
        QCOMPARE(download.result().exitStatus, QProcess::NormalExit);
        QCOMPARE(download.result().messageBoxes, boxes);
        QCOMPARE(download.home.status(), QByteArray("Failed\r\n"));
        QCOMPARE(FilesIn(download.home.vuFolder()), QStringList{});
        const QList<SimLine> answers = download.sim.answers();
        QVERIFY(!answers.isEmpty());
        QVERIFY(download.sim.requests().last().ms < answers.last().ms);
    }

    // Told to end while the unit is silent: in the middle of the download it is a failure;
    // once everything is in (Transfer Exit unanswered), the download is saved.
    void endRequestDuringSession_data() {
        QTest::addColumn<QByteArray>("silentRequest"); // the request left unanswered
        QTest::addColumn<QByteArray>("status");
        QTest::addColumn<int>("files");
        QTest::newRow("silent:on=data,trep=1")
            << QByteArray("80EEF0023601") << QByteArray("Failed - Download stopped\r\n") << 0;
        QTest::newRow("silent:on=exit")
            << QByteArray("80EEF00137") << QByteArray("Complete\r\n") << 1;
    }
    void endRequestDuringSession() {
        QFETCH(QByteArray, silentRequest);
        QFETCH(QByteArray, status);
        QFETCH(int, files);
        Download& download = *downloads_.at(QTest::currentDataTag());
        QTRY_VERIFY_WITH_TIMEOUT(
            !download.sim.requestsStartingWith(QByteArray::fromHex(silentRequest)).isEmpty(),
            20000);
        ::kill(pid_t(download.engine.processId()), SIGTERM);
        QVERIFY(download.result(5000).finished);
        QCOMPARE(download.home.status(), status);
        QCOMPARE(FilesIn(download.home.vuFolder()).size(), files);
    }

    void missingPort_data() {
        QTest::addColumn<bool>("deviceNode");
        QTest::addColumn<QStringList>("boxes");
        QTest::addColumn<QByteArray>("status");
        // A node left behind by an adapter that is gone: the kernel has no device for it.
        QTest::newRow("node without a device")
            << true << QStringList{"Error: Selected Com port not available"}
            << QByteArray("Failed - ");
        // Without a node the cable cannot even be opened to read its port number.
        QTest::newRow("no node") << false << QStringList{"Can't find a VantrelPC cable"}
                                 << QByteArray("Failed\r\n");
    }
    void missingPort() {
        QFETCH(bool, deviceNode);
        QFETCH(QStringList, boxes);
        QFETCH(QByteArray, status);
        SimulatorRun sim(153, {});
        QVERIFY2(sim.ready(), sim.startOutput().constData());
        EngineHome home;
        home.sysfsRoot = sim.sysfsRoot(); // the cable is there, its ttyUSB153 is not
        if (deviceNode) {
            const int minor = UnusedMiscMinor();
            QVERIFY(minor > 0);
            const QByteArray node = QDir(home.devRoot).filePath("ttyUSB153").toLocal8Bit();
            if (::mknod(node.constData(), S_IFCHR | 0600, makedev(10, minor)) != 0)
                QSKIP("device nodes cannot be made here (mknod not permitted)");
        }
        QProcess engine;
        home.start(engine, {"A E {0,0}"});
        QTRY_VERIFY_WITH_TIMEOUT(home.status().startsWith("Failed"), 20000);
        // Whether the engine ends by itself or waits to be closed, closing it ends it.
        if (engine.state() != QProcess::NotRunning && !engine.waitForFinished(3000))
            engine.terminate();
        const EngineResult result = EngineHome::finish(engine, 10000);
        QVERIFY(result.finished);
        QCOMPARE(result.messageBoxes, boxes);
        QVERIFY2(home.status().startsWith(status), home.status().constData());
        if (status.endsWith(' ')) // a description follows
            QVERIFY2(home.status().size() > status.size() + 2, home.status().constData());
        QCOMPARE(sim.requests().size(), 0);
    }

    // The unit goes away in the middle of an answer: the engine reports it once and ends,
    // without spinning on the lost port.
    void hangUp() {
        Download download(154, {"--fault", "hangup:trep=1,part=2"}, "A E {0,0}");
        QVERIFY(download.engine.waitForStarted());
        const qint64 pid = download.engine.processId();
        QElapsedTimer clock;
        clock.start();
        double cpu = 0;
        qint64 unitGoneAt = -1;
        while (download.engine.state() != QProcess::NotRunning && clock.elapsed() < 30000) {
            cpu = qMax(cpu, CpuSeconds(pid));
            if (unitGoneAt < 0 && download.sim.waitForEnd(0)) unitGoneAt = clock.elapsed();
            download.engine.waitForFinished(20);
        }
        const qint64 engineEndedAt = clock.elapsed();
        QCOMPARE(download.result(5000).exitStatus, QProcess::NormalExit);
        if (unitGoneAt < 0 && download.sim.waitForEnd(5000)) unitGoneAt = engineEndedAt;
        QVERIFY(unitGoneAt >= 0);
        QVERIFY2(engineEndedAt - unitGoneAt < 5000,
                 qPrintable(
                     QStringLiteral("ended %1 ms after the unit").arg(engineEndedAt - unitGoneAt)));
        // A whole download takes well under half a second of CPU; a spin takes all there is.
        QVERIFY2(cpu < 1.5, qPrintable(QStringLiteral("CPU %1 s").arg(cpu)));
        const QByteArray status = download.home.status();
        QVERIFY2(status.startsWith("Failed - ") && status.size() > 11, status.constData());
        QCOMPARE(FilesIn(download.home.vuFolder()), QStringList{});
    }
};

QTEST_GUILESS_MAIN(TestE2eLink)
#include "test_e2e_link.moc"
