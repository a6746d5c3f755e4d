// Whole download sessions end to end: the real engine against the simulated vehicle unit,
// with the saved files compared block for block with what the unit served.

#include "SimulatorRun.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QTest>
#include <QtEndian>

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

} // namespace

class TestE2eSession : public QObject {
    Q_OBJECT
private slots:
    void allVu_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("technicalTrep");
        QTest::addColumn<QByteArray>("treps");
        QTest::addColumn<bool>("technicalMoved");
        QTest::newRow("first generation") << QStringList{"--days", "5"} << 0x05
                                          << QByteArray::fromHex("050102020202020304") << true;
        // Three refusals of the first-generation number, then second-generation numbers. The
        // technical data is asked for again at its place: only TREP 5 itself counts as read.
        QTest::newRow("second generation")
            << QStringList{"--days", "5", "--gen2"} << 0x25
            << QByteArray::fromHex("05050525212222222222232425") << false;
    }
    void allVu() {
        QFETCH(QStringList, options);
        QFETCH(int, technicalTrep);
        QFETCH(QByteArray, treps);
        QFETCH(bool, technicalMoved);
        SimulatorRun sim(120, options);
        QVERIFY2(sim.ready(), sim.startOutput().constData());
        EngineHome home;
        sim.connect(home);
        QVERIFY(Prepare(home));

        const EngineResult result = home.run({"A E {0,0}"}, 60000);
        QVERIFY(result.finished);
        QCOMPARE(result.messageBoxes, QStringList{});
        QCOMPARE(home.status(), QByteArray("Complete\r\n"));
        QCOMPARE(RequestedTreps(sim).toHex(' '), treps.toHex(' '));
        const QList<ServedBlock> served = sim.servedBlocks();
        QVERIFY(!served.isEmpty());
        QCOMPARE(served.first().trep, technicalTrep);
        QCOMPARE(SimulatorRun::join(served), sim.served());
        CompareBlocks(OnlyFile(home.vuFolder()),
                      technicalMoved ? AllVuOrder(served) : served.mid(1));
        QCOMPARE(LogLines(home.log()).contains("TREP5 read previously"), technicalMoved);
        QCOMPARE(sim.protocolViolations(), QList<QByteArray>{});
    }

    // Seven days back from the last downloadable day, that day included.
    void latestVuSevenDays() {
        SimulatorRun sim(121, {"--today", "2024-01-28"});
        QVERIFY2(sim.ready(), sim.startOutput().constData());
        EngineHome home;
        sim.connect(home);
        QVERIFY(Prepare(home));

        const EngineResult result = home.run({"\"L [001002] 7 E {0,0}\""}, 60000);
        QVERIFY(result.finished);
        QCOMPARE(home.status(), QByteArray("Complete\r\n"));
        QStringList days;
        for (const SimLine& r : sim.requestsStartingWith(kTransferDataDated + '\x02')) {
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
        QCOMPARE(served.size(), 10);
        QCOMPARE(SimulatorRun::join(served), sim.served());
        CompareBlocks(OnlyFile(home.vuFolder()), served.mid(1));
    }

    // A VDO unit is asked for TREP 0x17 first; one that refuses it gets TREP 6.
    void cardThroughVdo_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QByteArray>("treps");
        QTest::newRow("0x17 taken") << QStringList{} << QByteArray::fromHex("0517");
        QTest::newRow("0x17 refused")
            << QStringList{"--fault", "reject:trep=17,code=FA"} << QByteArray::fromHex("051706");
    }
    void cardThroughVdo() {
        QFETCH(QStringList, options);
        QFETCH(QByteArray, treps);
        SimulatorRun sim(122, options);
        QVERIFY2(sim.ready(), sim.startOutput().constData());
        EngineHome home;
        sim.connect(home);
        QVERIFY(Prepare(home));

        const EngineResult result = home.run({"C E {0,0}"}, 60000);
        QVERIFY(result.finished);
        QCOMPARE(result.messageBoxes, QStringList{});
        QCOMPARE(home.status(), QByteArray("Complete\r\n"));
        QCOMPARE(RequestedTreps(sim).toHex(' '), treps.toHex(' '));
        const QList<ServedBlock> served = sim.servedBlocks();
        QCOMPARE(served.size(), 2);
        QCOMPARE(SimulatorRun::join(served), sim.served());
        QCOMPARE(FilesIn(home.vuFolder()), QStringList{});
        CompareBlocks(OnlyFile(home.cardFolder()), served.mid(1));
    }

    // Two response-pending answers ten seconds apart, then the card: the engine waits for
    // the first card answer far longer than for any other and asks nothing meanwhile.
    void cardPending() {
        SimulatorRun sim(124,
                         {"--maker", "A2", "--fault", "pending:trep=6,part=1,count=2,every=10000"});
        QVERIFY2(sim.ready(), sim.startOutput().constData());
        EngineHome home;
        sim.connect(home);
        QVERIFY(Prepare(home));

        const EngineResult result = home.run({"C E {0,0}"}, 90000);
        QVERIFY(result.finished);
        QCOMPARE(result.messageBoxes, QStringList{});
        QCOMPARE(home.status(), QByteArray("Complete\r\n"));
        QCOMPARE(RequestedTreps(sim).toHex(' '), QByteArray("05 06"));
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
        CompareBlocks(OnlyFile(home.cardFolder()), sim.servedBlocks().mid(1));
    }
};

QTEST_GUILESS_MAIN(TestE2eSession)
#include "test_e2e_session.moc"
