// Whole download sessions end to end: the real engine against the simulated vehicle unit,
// with the saved files compared block for block with what the unit served. The downloads
// all run at once, so the program takes as long as its longest one.

#include "SimulatorRun.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QTest>
#include <QtEndian>
#include <map>
#include <memory>

namespace {

const QByteArray kTransferData = QByteArray::fromHex("80EEF00236");
const QByteArray kTransferDataDated = QByteArray::fromHex("80EEF00636");

bool Prepare(const EngineHome& home) {
    return WriteEngineSettings(home, {"VUDataPath=" + home.vuFolder(),
                                      "CardDataPath=" + home.cardFolder(), "FileNameStyle=EU"});
}

// The one file a folder holds, or nothing when it holds none or several.
QByteArray OnlyFile(const QString& folder) {
    const QStringList files = FilesIn(folder);
    return files.size() == 1 ? ReadAll(folder + "/" + files.first()) : QByteArray();
}

// The TREP byte of every Transfer Data request, in order.
QByteArray RequestedTreps(const SimulatorRun& sim) {
    QByteArray treps;
    for (const SimLine& r : sim.requests())
        if ((r.bytes.startsWith(kTransferData) || r.bytes.startsWith(kTransferDataDated)) &&
            r.bytes.size() > 5)
            treps += r.bytes[5];
    return treps;
}

// Compares a saved file with the blocks it must consist of, one block at a time, so that a
// difference names its block.
void CompareBlocks(const QByteArray& saved, const QList<ServedBlock>& blocks) {
    qsizetype at = 0;
    for (qsizetype i = 0; i < blocks.size(); ++i) {
        const QByteArray& expected = blocks[i].bytes;
        QVERIFY2(saved.mid(at, expected.size()) == expected,
                 qPrintable(QStringLiteral("block %1 (TREP %2) at byte %3 differs")
                                .arg(i)
                                .arg(blocks[i].trep, 2, 16, QLatin1Char('0'))
                                .arg(at)));
        at += expected.size();
    }
    QCOMPARE(saved.size(), at);
}

// The technical data read first goes to its place at the end of an all-VU file.
QList<ServedBlock> AllVuOrder(const QList<ServedBlock>& served) {
    return served.mid(1) + served.mid(0, 1);
}

// "00 35 31", then the activities TREP once for each day, then the rest.
QByteArray Treps(const char* before, int days, const char* activities, const char* after) {
    QByteArray list = QByteArray::fromHex(before);
    for (int day = 0; day < days; ++day)
        list += QByteArray::fromHex(activities);
    return list + QByteArray::fromHex(after);
}

const QString kSamples = QStringLiteral(VANTREL_SAMPLES_DIR "/");

// A simulated unit on its own port and the engine started against it at once.
struct Download {
    Download(int port, const QStringList& options, const QString& command) : sim(port, options) {
        sim.connect(home);
        if (sim.ready() && Prepare(home)) home.start(engine, {command});
    }
    // The engine's end; the first call waits for it.
    const EngineResult& result() {
        if (!finished) result_ = EngineHome::finish(engine, 180000);
        finished = true;
        return result_;
    }

    SimulatorRun sim;
    EngineHome home;
    QProcess engine;
    bool finished = false;

private:
    EngineResult result_;
};

} // namespace

class TestE2eSession : public QObject {
    Q_OBJECT

    std::map<QString, std::unique_ptr<Download>> downloads_;

    // The download of a test (and of its data row); it must have come to a good end.
    Download& finished(const QString& name) {
        Download& download = *downloads_.at(name);
        const EngineResult& result = download.result();
        if (!download.sim.ready()) qWarning() << download.sim.startOutput();
        [&] {
            QVERIFY(download.sim.ready());
            QVERIFY(result.finished);
            QCOMPARE(result.messageBoxes, QStringList{});
            QCOMPARE(download.home.status(), QByteArray("Complete\r\n"));
            QCOMPARE(download.sim.protocolViolations(), QList<QByteArray>{});
        }();
        return download;
    }

private slots:
    void initTestCase() {
        const auto add = [this](const QString& name, int port, const QStringList& options,
                                const QString& command) {
            downloads_[name] = std::make_unique<Download>(port, options, command);
        };
        add("first generation", 120, {"--days", "5"}, "A E {0,0}");
        add("second generation", 123, {"--days", "5", "--gen2"}, "A E {0,0}");
        add("version 2", 125, {"--days", "5", "--gen2v2"}, "A E {0,0}");
        for (const auto& [name, port] : {std::pair{"003", 126}, std::pair{"004", 127}}) {
            const QString file = kSamples + "vu_gen2v2_" + name + "-anonymized.DDD";
            if (QFile::exists(file))
                add(QString("version 2 sample ") + name, port, {"--ddd", file}, "A E {0,0}");
        }
        add("latest", 121, {"--today", "2024-01-28", "--gen2v2"}, "\"L [001002003] 7 E {0,0}\"");
        add("0x17 taken", 122, {}, "C E {0,0}");
        add("0x17 refused", 128, {"--fault", "reject:trep=17,code=FA"}, "C E {0,0}");
        add("card pending", 124,
            {"--maker", "A2", "--fault", "pending:trep=6,part=1,count=2,every=10000"}, "C E {0,0}");
    }

    // Every unit is first asked for its download interface version (TRTP 00); only a version 2
    // unit knows it, and is then asked with its own TREPs.
    void allVu_data() {
        QTest::addColumn<int>("technicalTrep");
        QTest::addColumn<QByteArray>("treps");
        QTest::addColumn<bool>("technicalMoved");
        QTest::addColumn<int>("sampleDays"); // activities blocks of the sample served
        QTest::newRow("first generation") << 0x05 << Treps("000501", 5, "02", "0304") << true << 0;
        // Three refusals of the first-generation number, then second-generation numbers. The
        // technical data is asked for again at its place: only TREP 5 itself counts as read.
        QTest::newRow("second generation")
            << 0x25 << Treps("0005050525 21", 5, "22", "232425") << false << 0;
        QTest::newRow("version 2") << 0x35 << Treps("003531", 5, "32", "3324") << true << 0;
        // The samples' periods hold 103 and 104 days; the days beyond the file's own blocks
        // are served as days without activities.
        QTest::newRow("version 2 sample 003")
            << 0x35 << Treps("003531", 103, "32", "3324") << true << 96;
        QTest::newRow("version 2 sample 004")
            << 0x35 << Treps("003531", 104, "32", "3324") << true << 3;
    }
    void allVu() {
        QFETCH(int, technicalTrep);
        QFETCH(QByteArray, treps);
        QFETCH(bool, technicalMoved);
        QFETCH(int, sampleDays);
        const QString name = QTest::currentDataTag();
        if (!downloads_.count(name)) QSKIP("sample files (../shared/samples) are not here");
        Download& download = finished(name);
        if (QTest::currentTestFailed()) return;
        const SimulatorRun& sim = download.sim;
        QCOMPARE(RequestedTreps(sim).toHex(' '), treps.toHex(' '));
        const QList<ServedBlock> served = sim.servedBlocks();
        QVERIFY(!served.isEmpty());
        QCOMPARE(served.first().trep, technicalTrep);
        QCOMPARE(SimulatorRun::join(served), sim.served());
        const QList<ServedBlock> saved = technicalMoved ? AllVuOrder(served) : served.mid(1);
        CompareBlocks(OnlyFile(download.home.vuFolder()), saved);
        const QList<QByteArray> log = LogLines(download.home.log());
        QCOMPARE(log.contains("TREP5 read previously"), technicalMoved);
        QCOMPARE(log.contains("VU download interface version 2.2 - version 2 TREPs"),
                 technicalTrep == 0x35);
        if (sampleDays == 0) return;
        // Without the days the unit added, the file is the sample, byte for byte; its name is
        // the overview's registration and VIN.
        QList<ServedBlock> sampleBlocks;
        int days = 0;
        for (const ServedBlock& block : saved)
            if (block.trep != 0x32 || ++days <= sampleDays) sampleBlocks << block;
        QVERIFY(SimulatorRun::join(sampleBlocks) ==
                ReadAll(kSamples + "vu_gen2v2_" + name.right(3) + "-anonymized.DDD"));
        QVERIFY(FilesIn(download.home.vuFolder())
                    .first()
                    .endsWith(QString(13, '*') + "_" + QString(17, '*') + ".DDD"));
    }

    // Seven days back from the last downloadable day, that day included; a version 2 unit is
    // asked only for the chosen TREPs, in its own numbers.
    void latestVuSevenDays() {
        Download& download = finished("latest");
        if (QTest::currentTestFailed()) return;
        const SimulatorRun& sim = download.sim;
        QCOMPARE(RequestedTreps(sim).toHex(' '), Treps("003531", 8, "32", "33").toHex(' '));
        QStringList days;
        for (const SimLine& r : sim.requestsStartingWith(kTransferDataDated + '\x32')) {
            QCOMPARE(r.bytes.size(), 11);
            const quint32 seconds = qFromBigEndian<quint32>(r.bytes.constData() + 6);
            days << QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC).toString(Qt::ISODate);
        }
        const QStringList expected{"2024-01-21T00:00:00Z", "2024-01-22T00:00:00Z",
                                   "2024-01-23T00:00:00Z", "2024-01-24T00:00:00Z",
                                   "2024-01-25T00:00:00Z", "2024-01-26T00:00:00Z",
                                   "2024-01-27T00:00:00Z", "2024-01-28T00:00:00Z"};
        QCOMPARE(days, expected);
        // The technical data read first has no place in a list without 005.
        const QList<ServedBlock> served = sim.servedBlocks();
        QCOMPARE(served.size(), 11);
        QCOMPARE(SimulatorRun::join(served), sim.served());
        CompareBlocks(OnlyFile(download.home.vuFolder()), served.mid(1));
    }

    // A VDO unit is asked for TREP 0x17 first; one that refuses it gets TREP 6.
    void cardThroughVdo_data() {
        QTest::addColumn<QByteArray>("treps");
        QTest::newRow("0x17 taken") << QByteArray::fromHex("000517");
        QTest::newRow("0x17 refused") << QByteArray::fromHex("00051706");
    }
    void cardThroughVdo() {
        QFETCH(QByteArray, treps);
        Download& download = finished(QTest::currentDataTag());
        if (QTest::currentTestFailed()) return;
        const SimulatorRun& sim = download.sim;
        QCOMPARE(RequestedTreps(sim).toHex(' '), treps.toHex(' '));
        const QList<ServedBlock> served = sim.servedBlocks();
        QCOMPARE(served.size(), 2);
        QCOMPARE(SimulatorRun::join(served), sim.served());
        QCOMPARE(FilesIn(download.home.vuFolder()), QStringList{});
        CompareBlocks(OnlyFile(download.home.cardFolder()), served.mid(1));
    }

    // Two response-pending answers ten seconds apart, then the card: the engine waits for
    // the first card answer far longer than for any other and asks nothing meanwhile.
    void cardPending() {
        Download& download = finished("card pending");
        if (QTest::currentTestFailed()) return;
        const SimulatorRun& sim = download.sim;
        QCOMPARE(RequestedTreps(sim).toHex(' '), QByteArray("00 05 06"));
        int pending = 0;
        double firstPendingAt = -1;
        double answerAt = -1;
        for (const SimLine& answer : sim.answers()) {
            if (answer.label == "pending") {
                ++pending;
                if (firstPendingAt < 0) firstPendingAt = answer.ms;
            } else if (firstPendingAt >= 0 && answerAt < 0) {
                answerAt = answer.ms;
            }
        }
        QCOMPARE(pending, 2);
        QVERIFY(answerAt - firstPendingAt >= 19900);
        // Nothing was sent between the card request and its answer.
        for (const SimLine& r : sim.requests())
            QVERIFY2(r.ms < firstPendingAt || r.ms > answerAt,
                     SimulatorRun::hex(r.bytes).constData());
        CompareBlocks(OnlyFile(download.home.cardFolder()), sim.servedBlocks().mid(1));
    }
};

QTEST_GUILESS_MAIN(TestE2eSession)
#include "test_e2e_session.moc"
