// The serial link end to end: the real engine against the simulated vehicle unit on a pty,
// judged by what the unit saw (requests, speeds, times) and what the engine left behind.

#include "SimulatorRun.h"
#include "WireTrace.h"

#include <QElapsedTimer>
#include <QTest>

#include <csignal>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

const QByteArray kStartCommunication = QByteArray::fromHex("81EEF081E0");
const QByteArray kVerifyBaudRate = QByteArray::fromHex("80EEF004870101");
const QByteArray kTransitionBaudRate = QByteArray::fromHex("80EEF003870203");
const QByteArray kRequestUpload = QByteArray::fromHex("80EEF00A35");

// A short session: technical data and the overview.
const QString kOverviewOnly = QStringLiteral("\"L [001] 0 E {0,0}\"");

bool Prepare(const EngineHome& home, const QStringList& extra = {}) {
    return WriteEngineSettings(home, QStringList{"VUDataPath=" + home.vuFolder()} + extra);
}

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

bool WaitForStatus(const EngineHome& home, const QByteArray& start, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        if (home.status().startsWith(start)) return true;
        QTest::qWait(50);
    }
    return false;
}

} // namespace

class TestE2eLink : public QObject {
    Q_OBJECT
private slots:
    void noAnswer_data() {
        QTest::addColumn<int>("rxTimeout");
        QTest::newRow("600 ms") << 600;
        QTest::newRow("2000 ms") << 2000;
    }
    // Start Communication three times, each time-out counted from the end of the request.
    void noAnswer() {
        QFETCH(int, rxTimeout);
        SimulatorRun sim(110, {"--fault", "silent"});
        QVERIFY2(sim.ready(), sim.startOutput().constData());
        EngineHome home;
        sim.connect(home);
        QVERIFY(Prepare(home, {"RXTIMEOUT=" + QString::number(rxTimeout)}));

        const EngineResult result = home.run({"A E {0,0}"}, 30000);
        QVERIFY(result.finished);
        QCOMPARE(result.exitStatus, QProcess::NormalExit);
        QCOMPARE(home.status(), QByteArray("Failed - Receive timeout\r\n"));
        int timeouts = 0;
        for (const QByteArray& line : LogLines(home.log()))
            timeouts += line.startsWith("Rx Timeout - ") ? 1 : 0;
        QCOMPARE(timeouts, 3);

        const QList<SimLine> sends = sim.requests();
        QCOMPARE(sends.size(), 3);
        for (const SimLine& send : sends) {
            QCOMPARE(SimulatorRun::hex(send.bytes), SimulatorRun::hex(kStartCommunication));
            QCOMPARE(send.baud, 9600);
        }
        // Five bytes at 5 ms each lie between the armed timer and the next request's end.
        for (int i = 1; i < sends.size(); ++i) {
            const double interval = sends[i].ms - sends[i - 1].ms;
            QVERIFY2(interval >= rxTimeout - 150 && interval <= rxTimeout + 400,
                     qPrintable(QStringLiteral("interval %1 ms").arg(interval)));
        }
    }

    void speeds_data() {
        QTest::addColumn<QStringList>("faults");
        QTest::addColumn<QByteArray>("verifyCodes");
        QTest::addColumn<int>("sessionBaud");
        QTest::newRow("57600 taken") << QStringList{} << QByteArray("\x04") << 57600;
        QTest::newRow("code 4 refused as sub-function")
            << QStringList{"--fault", "maxbaud:code=3"} << QByteArray("\x04\x03") << 38400;
        QTest::newRow("refused down to 9600 as out of range")
            << QStringList{"--fault", "maxbaud:code=1,reply=31"} << QByteArray("\x04\x03\x02\x01")
            << 9600;
    }
    // Verify Baud Rate steps down as refused; Transition Baud Rate leaves at 9600 and every
    // request after it goes out at the new speed.
    void speeds() {
        QFETCH(QStringList, faults);
        QFETCH(QByteArray, verifyCodes);
        QFETCH(int, sessionBaud);
        SimulatorRun sim(111, faults);
        QVERIFY2(sim.ready(), sim.startOutput().constData());
        EngineHome home;
        sim.connect(home);
        QVERIFY(Prepare(home));

        const EngineResult result = home.run({kOverviewOnly}, 30000);
        QVERIFY(result.finished);
        QCOMPARE(home.status(), QByteArray("Complete\r\n"));
        QCOMPARE(result.messageBoxes, QStringList{});

        const QList<SimLine> requests = sim.requests();
        QByteArray codes;
        qsizetype transition = -1;
        for (qsizetype i = 0; i < requests.size(); ++i) {
            const SimLine& r = requests[i];
            if (r.bytes.startsWith(kVerifyBaudRate) && r.bytes.size() > 7) {
                codes += r.bytes[7];
                QCOMPARE(r.baud, 9600);
            }
            if (r.bytes.startsWith(kTransitionBaudRate)) {
                QCOMPARE(transition, -1);
                transition = i;
                QCOMPARE(r.baud, 9600);
            }
        }
        QCOMPARE(codes.toHex(), verifyCodes.toHex());
        QVERIFY(transition > 0 && transition + 1 < requests.size());
        QVERIFY(requests[transition + 1].bytes.startsWith(kRequestUpload));
        for (qsizetype i = transition + 1; i < requests.size(); ++i)
            QCOMPARE(requests[i].baud, sessionBaud);
        QCOMPARE(sim.protocolViolations(), QList<QByteArray>{});
    }

    void faultsOnTheLine_data() {
        QTest::addColumn<QStringList>("faults");
        QTest::addColumn<QByteArray>("label");  // of an answer the fault changed
        QTest::addColumn<QByteArray>("resent"); // the request answered during its resend
        QTest::addColumn<QStringList>("settings");
        QTest::addColumn<double>("pauseMs");
        const QByteArray none;
        QTest::newRow("noise before every answer")
            << QStringList{"--fault", "noise"} << QByteArray("noise") << none << QStringList{}
            << 5.0;
        QTest::newRow("answers in three pieces")
            << QStringList{"--fault", "split:pieces=3,pause=20"} << QByteArray("piece 3") << none
            << QStringList{} << 5.0;
        QTest::newRow("noise and four pieces")
            << QStringList{"--fault", "noise:bytes=F0EE7F", "--fault", "split:pieces=4,pause=10"}
            << QByteArray("piece 4") << none << QStringList{} << 5.0;
        QTest::newRow("Request Upload answered in its resend")
            << QStringList{"--fault", "late:on=upload,times=1"} << none << kRequestUpload
            << QStringList{} << 5.0;
        // The third copy's answer lands in the first TREP request, which is no resend.
        QTest::newRow("every interface version answer late")
            << QStringList{"--fault", "late:trep=0"} << none << none << QStringList{} << 5.0;
        // Its second half comes after the resend is out, before the answer to the resend.
        QTest::newRow("overview answer ending after its resend, longer pause")
            << QStringList{"--fault", "late:trep=1,times=1",
                           "--fault", "split:trep=1,times=1,pieces=2,pause=40",
                           "--fault", "delay:trep=1,after=1,times=1,ms=100"}
            << QByteArray("piece 2") << QByteArray::fromHex("80EEF0023601")
            << QStringList{"InterBytePause=7"} << 7.0;
    }
    // The saved file holds exactly the data the unit served: nothing of the noise, nothing
    // lost at the piece boundaries, nothing taken twice. An answer that comes only after the
    // time-out, while the request's second copy is being written, waits until that copy is
    // out and is then dropped, as the unit answers the copy too: the unit never sees two
    // requests run into each other. Every pause between request bytes, taken at the
    // engine's write calls, is at least the setting.
    void faultsOnTheLine() {
        QFETCH(QStringList, faults);
        QFETCH(QByteArray, label);
        QFETCH(QByteArray, resent);
        QFETCH(QStringList, settings);
        QFETCH(double, pauseMs);
        SimulatorRun sim(112, faults);
        QVERIFY2(sim.ready(), sim.startOutput().constData());
        EngineHome home;
        sim.connect(home);
        QVERIFY(Prepare(home, QStringList{"RXTIMEOUT=500"} + settings));
        const QString trace = home.home.filePath("writes.txt");
        qputenv("VANTREL_WIRE_TRACE", trace.toLocal8Bit());
        const EngineResult result = home.run({"\"L [001002003] 1 E {0,0}\""}, 60000);
        qunsetenv("VANTREL_WIRE_TRACE");
        QVERIFY(result.finished);
        QCOMPARE(result.messageBoxes.join(" | "), QString());
        QCOMPARE(home.status(), QByteArray("Complete\r\n"));
        QCOMPARE(sim.protocolViolations().join(" | "), QByteArray());

        bool faultActed = label.isEmpty();
        for (const SimLine& answer : sim.answers())
            faultActed = faultActed || answer.label == label;
        QVERIFY(faultActed);
        const QList<ServedBlock> blocks = sim.servedBlocks();
        QVERIFY(blocks.size() >= 5);
        QCOMPARE(blocks.first().trep, 5);
        QCOMPARE(FilesIn(home.vuFolder()), QStringList{"saved.ddd"});
        const QByteArray saved = ReadAll(home.vuFolder() + "/saved.ddd");
        QVERIFY(saved == SimulatorRun::join(blocks.mid(1)));

        if (!resent.isEmpty()) {
            const QList<SimLine> copies = sim.requestsStartingWith(resent);
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
        const QList<QList<TracedWrite>> written = TracedRequests(ReadAll(trace));
        QCOMPARE(written.size(), sim.requests().size());
        for (const QList<TracedWrite>& bytes : written)
            for (qsizetype i = 1; i < bytes.size(); ++i) {
                const double pause = double(bytes[i].startNs - bytes[i - 1].startNs) / 1e6;
                QVERIFY2(
                    pause >= pauseMs,
                    qPrintable(QStringLiteral("pause %1 ms before byte %2").arg(pause).arg(i)));
            }
    }

    void unusableAnswer_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QStringList>("boxes");
        QTest::newRow("wrong checksum on Request Upload")
            << "checksum:on=upload"
            << QStringList{"lResult - 4096", "Request Upload - invalid response"};
        QTest::newRow("wrong checksum on the overview")
            << "checksum:trep=1,part=1"
            << QStringList{"lResult - 4096", "Receive TREP data - invalid response"};
    }
    // The session fails at once: "Failed", the boxes, the engine ends and nothing is saved.
    void unusableAnswer() {
        QFETCH(QString, fault);
        QFETCH(QStringList, boxes);
        SimulatorRun sim(113, {"--fault", fault});
        QVERIFY2(sim.ready(), sim.startOutput().constData());
        EngineHome home;
        sim.connect(home);
        QVERIFY(Prepare(home));

        const EngineResult result = home.run({"A E {0,0}"}, 30000);
        QVERIFY(result.finished);
        QCOMPARE(result.exitStatus, QProcess::NormalExit);
        QCOMPARE(result.messageBoxes, boxes);
        QCOMPARE(home.status(), QByteArray("Failed\r\n"));
        QCOMPARE(FilesIn(home.vuFolder()), QStringList{});
        // Nothing is asked after the unusable answer.
        const SimLine last = sim.requests().last();
        const QList<SimLine> answers = sim.answers();
        QVERIFY(!answers.isEmpty());
        QVERIFY2(last.ms < answers.last().ms, SimulatorRun::hex(last.bytes).constData());
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
        SimulatorRun sim(114, {});
        QVERIFY2(sim.ready(), sim.startOutput().constData());
        EngineHome home;
        home.sysfsRoot = sim.sysfsRoot(); // the cable is there, its ttyUSB114 is not
        QVERIFY(Prepare(home));
        if (deviceNode) {
            const int minor = UnusedMiscMinor();
            QVERIFY(minor > 0);
            const QByteArray node = QDir(home.devRoot).filePath("ttyUSB114").toLocal8Bit();
            if (::mknod(node.constData(), S_IFCHR | 0600, makedev(10, minor)) != 0)
                QSKIP("device nodes cannot be made here (mknod not permitted)");
        }

        QProcess engine;
        home.start(engine, {"A E {0,0}"});
        QVERIFY(WaitForStatus(home, "Failed", 20000));
        // Whether the engine ends by itself or waits to be closed, closing it ends it.
        const bool endedAlone =
            engine.state() == QProcess::NotRunning || engine.waitForFinished(3000);
        if (!endedAlone) engine.terminate();
        const EngineResult result = EngineHome::finish(engine, 10000);
        QVERIFY(endedAlone || result.finished);
        QCOMPARE(result.messageBoxes, boxes);
        QVERIFY2(home.status().startsWith(status), home.status().constData());
        if (status.endsWith(' ')) // a description follows
            QVERIFY2(home.status().size() > status.size() + 2, home.status().constData());
        QCOMPARE(sim.requests().size(), 0);
    }

    // Told to end while the unit is silent: in the middle of the download it is a failure;
    // once everything is in (Transfer Exit unanswered), the download is saved.
    void endRequestDuringSession_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QByteArray>("silentRequest"); // the request left unanswered
        QTest::addColumn<QByteArray>("status");
        QTest::addColumn<int>("files");
        QTest::newRow("downloading") << "silent:on=data,trep=1" << QByteArray("80EEF0023601")
                                     << QByteArray("Failed - Download stopped\r\n") << 0;
        QTest::newRow("closing exchange")
            << "silent:on=exit" << QByteArray("80EEF00137") << QByteArray("Complete\r\n") << 1;
    }
    void endRequestDuringSession() {
        QFETCH(QString, fault);
        QFETCH(QByteArray, silentRequest);
        QFETCH(QByteArray, status);
        QFETCH(int, files);
        SimulatorRun sim(116, {"--fault", fault});
        QVERIFY2(sim.ready(), sim.startOutput().constData());
        EngineHome home;
        sim.connect(home);
        QVERIFY(Prepare(home, {"RXTIMEOUT=5000"}));
        QProcess engine;
        home.start(engine, {kOverviewOnly});
        QTRY_VERIFY_WITH_TIMEOUT(
            !sim.requestsStartingWith(QByteArray::fromHex(silentRequest)).isEmpty(), 15000);
        ::kill(pid_t(engine.processId()), SIGTERM);
        const EngineResult result = EngineHome::finish(engine, 5000);
        QVERIFY(result.finished);
        QCOMPARE(home.status(), status);
        QCOMPARE(FilesIn(home.vuFolder()).size(), files);
    }

    // The unit goes away in the middle of an answer: the engine reports it once and ends,
    // without spinning on the lost port.
    void hangUp() {
        SimulatorRun sim(115, {"--fault", "hangup:trep=1,part=2"});
        QVERIFY2(sim.ready(), sim.startOutput().constData());
        EngineHome home;
        sim.connect(home);
        QVERIFY(Prepare(home));

        QProcess engine;
        home.start(engine, {"A E {0,0}"});
        QVERIFY(engine.waitForStarted());
        const qint64 pid = engine.processId();
        QElapsedTimer clock;
        clock.start();
        double cpu = 0;
        qint64 unitGoneAt = -1;
        bool ended = false;
        while (!ended && clock.elapsed() < 30000) {
            cpu = qMax(cpu, CpuSeconds(pid));
            if (unitGoneAt < 0 && sim.waitForEnd(0)) unitGoneAt = clock.elapsed();
            ended = engine.state() == QProcess::NotRunning || engine.waitForFinished(20);
        }
        const qint64 engineEndedAt = clock.elapsed();
        const EngineResult result = EngineHome::finish(engine, 5000);
        QVERIFY(ended);
        QCOMPARE(result.exitStatus, QProcess::NormalExit);
        if (unitGoneAt < 0 && sim.waitForEnd(5000)) unitGoneAt = engineEndedAt;
        QVERIFY(unitGoneAt >= 0);
        QVERIFY2(engineEndedAt - unitGoneAt < 5000,
                 qPrintable(
                     QStringLiteral("ended %1 ms after the unit").arg(engineEndedAt - unitGoneAt)));
        // A whole download takes well under half a second of CPU; a spin takes all there is.
        QVERIFY2(cpu < 1.5, qPrintable(QStringLiteral("CPU %1 s").arg(cpu)));
        const QByteArray status = home.status();
        QVERIFY2(status.startsWith("Failed - ") && status.size() > 11, status.constData());
        QCOMPARE(FilesIn(home.vuFolder()), QStringList{});
    }
};

QTEST_GUILESS_MAIN(TestE2eLink)
#include "test_e2e_link.moc"
