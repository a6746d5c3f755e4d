// Whole download sessions end to end: the real engine against the simulated vehicle unit,
// the saved files compared with what the unit served, real samples byte for byte, names
// from the downloaded data. The downloads all run at once, so the program takes as long as
// its longest one.

#include "SimulatorRun.h"

#include <QDateTime>
#include <QTest>
#include <QtEndian>
#include <map>
#include <memory>

namespace {

const QByteArray kTransferData = QByteArray::fromHex("80EEF00236");
const QByteArray kTransferDataDated = QByteArray::fromHex("80EEF00636");
const QString kSamples = QStringLiteral(VANTREL_SAMPLES_DIR "/");

// The TREP byte of every Transfer Data request, in order.
QByteArray requestedTreps(const SimulatorRun& sim) {
    QByteArray treps;
    for (const SimLine& r : sim.requests())
        if ((r.bytes.startsWith(kTransferData) || r.bytes.startsWith(kTransferDataDated)) &&
            r.bytes.size() > 5)
            treps += r.bytes[5];
    return treps.toHex(' ');
}

// "00 35 31", then the activities TREP once for each day, then the rest.
QByteArray trepsWith(const char* before, int days, const char* activities, const char* after) {
    const QByteArray list =
        QByteArray::fromHex(before) + QByteArray::fromHex(activities).repeated(days);
    return (list + QByteArray::fromHex(after)).toHex(' ');
}

// The generated unit's vehicle and card, as the naming fields see them.
const QString kVrn = QStringLiteral("VT-SIM 42    ");
const QString kVin = QStringLiteral("WDB9066331S123456");

// The names a pattern gives for every minute from the start of a download until now; {D8}
// and {T4} stand for the local date and time.
QStringList namesSince(const QString& pattern, const QDateTime& from) {
    QStringList names;
    QDateTime minute(from.date(), QTime(from.time().hour(), from.time().minute()));
    for (; minute <= QDateTime::currentDateTime(); minute = minute.addSecs(60))
        names << QString(pattern)
                     .replace("{D8}", minute.toString("yyyyMMdd"))
                     .replace("{T4}", minute.toString("HHmm"));
    return names;
}

// How many days back from the last downloadable day a Latest VU download must reach to
// ask for exactly the days a first-generation file holds: from its overview's latest time
// and its first activities block (layout in the samples' README).
int daysHeld(const QByteArray& file) {
    constexpr qsizetype kOverviewFixed = 2 + 491;
    if (file.size() < kOverviewFixed + 1 || file.left(2) != QByteArray("\x76\x01")) return -1;
    qsizetype at = kOverviewFixed;
    at += 1 + quint8(file[at]) * 98; // company locks
    if (at >= file.size()) return -1;
    at += 1 + quint8(file[at]) * 31 + 128; // controls, signature
    if (at + 6 > file.size() || file.mid(at, 2) != QByteArray("\x76\x02")) return -1;
    const auto day = [](quint32 seconds) { return qint64(seconds) / 86400; };
    const quint32 latest = qFromBigEndian<quint32>(file.constData() + 430);
    const quint32 firstDay = qFromBigEndian<quint32>(file.constData() + at + 2);
    return int(day(latest) - day(firstDay));
}

// A unit that answers in 20 ms, late or twice once: every answer that cannot be placed is
// dropped, and the file is the one a unit without faults gives.
const QStringList kQuickUnit{"--days", "28", "--today", "2024-01-28", "--delay", "20"};
const std::pair<const char*, const char*> kMisplaced[] = {
    {"late sub-message", "late:on=ack,ms=1500,times=1"},
    {"late first part", "late:trep=1,ms=1500,times=1"},
    {"late day", "late:trep=2,ms=1500,times=1"},
    {"late answer between a resend and its own", "late:trep=3,ms=20,times=1"},
    {"duplicated last sub-message", "duplicate:trep=1,part=3,delay=30"},
    {"duplicated answer", "duplicate:trep=3,delay=45"}};

QStringList samples() {
    return QDir(VANTREL_SAMPLES_DIR).entryList({"vu_gen1_*.DDD"}, QDir::Files);
}

} // namespace

class TestE2eSession : public QObject {
    Q_OBJECT

    std::map<QString, std::unique_ptr<Download>> downloads_;

private slots:
    void initTestCase() {
        const auto add = [this](const QString& name, int port, const QStringList& unit,
                                const QString& command, const QString& style = "EU") {
            downloads_[name] = std::make_unique<Download>(port, unit, command,
                                                          QStringList{"FileNameStyle=" + style});
        };
        add("LD", 130, {}, "\"L [001002006] 2 E {0,0}\"", "LD");
        int port = 135;
        for (const QString& sample : samples())
            add(sample, port++, {"--ddd", kSamples + sample},
                QStringLiteral("\"L [001002003004005] %1 E {0,0}\"")
                    .arg(daysHeld(readWhole(kSamples + sample))));
        add("first generation", 120, {"--days", "3"}, "A E {0,0}");
        add("second generation", 123, {"--days", "3", "--gen2", "--vrn", "GEN2-REG-0013"},
            "A E {0,0}");
        if (QFile::exists(kSamples + "vu_gen2v2_004-anonymized.DDD"))
            add("version 2 sample", 127, {"--ddd", kSamples + "vu_gen2v2_004-anonymized.DDD"},
                "A E {0,0}");
        add("reference", 180, kQuickUnit, "A E {0,0}");
        int misplacedPort = 181;
        for (const auto& [name, fault] : kMisplaced)
            add(name, misplacedPort++, kQuickUnit + QStringList{"--fault", fault}, "A E {0,0}");
        add("latest", 121, {"--today", "2024-01-28", "--gen2v2"}, "\"L [001002003] 7 E {0,0}\"");
        const QString card = kSamples + "card_gen2_004-anonymized.DDD";
        if (QFile::exists(card))
            add("0x17 refused", 128, {"--card", card, "--fault", "reject:trep=17,code=FA"},
                "C E {0,0}");
    }

    // Every unit is first asked for its download interface version (TRTP 00); only a version 2
    // unit knows it, and is then asked with its own TREPs. Rows: the download, the TREP its
    // technical data comes as, the TREPs asked for, the end of the file's name (the overview's
    // registration and VIN).
    void allVu() {
        const QString vin = "_WDB9066331S123456.DDD";
        const std::tuple<QString, int, QByteArray, QString> rows[] = {
            {"first generation", 0x05, trepsWith("000501", 3, "02", "0304"),
             "_VT-SIM 42    " + vin},
            // Three refusals of the first-generation number, then second-generation numbers.
            // The technical data is asked for again at its place: only TREP 5 itself counts as
            // read. Every character of the registration differs, so a shifted read would show.
            {"second generation", 0x25, trepsWith("0005050525 21", 3, "22", "232425"),
             "_GEN2-REG-0013" + vin},
            // The sample's period holds 104 days; the days beyond the file's own three blocks
            // are served as days without activities.
            {"version 2 sample", 0x35, trepsWith("003531", 104, "32", "3324"),
             "_" + QString(13, '*') + "_" + QString(17, '*') + ".DDD"}};
        for (const auto& [name, technicalTrep, treps, nameEnd] : rows) {
            if (!downloads_.count(name)) QSKIP("sample files (../shared/samples) are not here");
            Download* download = downloads_.at(name).get();
            QCOMPARE(name + download->problem(), name);
            const SimulatorRun& sim = download->sim;
            QCOMPARE(requestedTreps(sim), treps);
            const QList<ServedBlock> served = sim.servedBlocks();
            QVERIFY(!served.isEmpty() && served.first().trep == technicalTrep);
            QCOMPARE(SimulatorRun::join(served), sim.served());
            // The technical data read first goes to its place at the end of the file.
            const bool moved = technicalTrep != 0x25;
            const QList<ServedBlock> saved =
                moved ? served.mid(1) + served.mid(0, 1) : served.mid(1);
            QVERIFY(Download::onlyFile(download->home.vuFolder()) == SimulatorRun::join(saved));
            const QList<QByteArray> log = logLines(download->home.log());
            QVERIFY(log.contains("Com Port Settings: DTR Enable: True  RTS Holding: True") &&
                    log.contains("Command Parameters - A E {0,0}"));
            QCOMPARE(log.contains("TREP5 read previously"), moved);
            QCOMPARE(log.contains("VU download interface version 2.2 - version 2 TREPs"),
                     technicalTrep == 0x35);
            QVERIFY2(filesIn(download->home.vuFolder()).value(0).endsWith(nameEnd),
                     qPrintable(filesIn(download->home.vuFolder()).value(0)));
            if (technicalTrep != 0x35) continue;
            // Without the days the unit added, and with the one day the sample gives all its
            // blocks (after 0x76 0x32 and the array header), the file is the sample, byte for
            // byte.
            const QByteArray sample = readWhole(kSamples + "vu_gen2v2_004-anonymized.DDD");
            constexpr qsizetype kDayAt = 7;
            const QByteArray sampleDay = sample.mid(sample.indexOf("\x76\x32") + kDayAt, 4);
            QByteArray file;
            int days = 0;
            for (ServedBlock block : saved) {
                if (block.trep == 0x32 && ++days > 3) continue; // the sample's activities blocks
                if (block.trep == 0x32) block.bytes.replace(kDayAt, 4, sampleDay);
                file += block.bytes;
            }
            QVERIFY(file == sample);
        }
    }

    // Seven days back from the last downloadable day, that day included; a version 2 unit is
    // asked only for the chosen TREPs, in its own numbers.
    void latestVuSevenDays() {
        Download* download = downloads_.at("latest").get();
        QCOMPARE(download->problem(), QString());
        const SimulatorRun& sim = download->sim;
        QCOMPARE(requestedTreps(sim), trepsWith("003531", 8, "32", "33"));
        QStringList days, expected;
        for (const SimLine& r : sim.requestsStartingWith(kTransferDataDated + '\x32')) {
            QCOMPARE(r.bytes.size(), 11);
            const quint32 seconds = qFromBigEndian<quint32>(r.bytes.constData() + 6);
            days << QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC).toString(Qt::ISODate);
            expected << QStringLiteral("2024-01-%1T00:00:00Z").arg(21 + expected.size());
        }
        QCOMPARE(days, expected); // eight requests, by the TREP list above
        // The technical data read first has no place in a list without 005.
        const QList<ServedBlock> served = sim.servedBlocks();
        QCOMPARE(served.size(), 11);
        QCOMPARE(SimulatorRun::join(served), sim.served());
        QVERIFY(Download::onlyFile(download->home.vuFolder()) == SimulatorRun::join(served.mid(1)));
    }

    void misplacedAnswers() {
        Download& reference = *downloads_.at("reference");
        QCOMPARE(reference.problem(), QString());
        const QByteArray expected = Download::onlyFile(reference.home.vuFolder());
        QVERIFY(expected.size() > 1000);
        for (const auto& [name, fault] : kMisplaced) {
            Download& download = *downloads_.at(name);
            QCOMPARE(name + download.problem(), QString(name));
            bool acted = false;
            for (const SimLine& line : download.sim.lines("NOTE") + download.sim.answers())
                acted = acted || line.text.startsWith("fault:") || line.label == "duplicate";
            QVERIFY2(acted && Download::onlyFile(download.home.vuFolder()) == expected, name);
        }
    }

    // A VDO unit is asked for TREP 0x17 first and, refusing it, for TREP 6: the real card
    // sample is saved byte for byte.
    void cardSampleThroughVdo() {
        if (!downloads_.count("0x17 refused"))
            QSKIP("sample files (../shared/samples) are not here");
        Download* download = downloads_.at("0x17 refused").get();
        QCOMPARE(download->problem(), QString());
        QCOMPARE(requestedTreps(download->sim), QByteArray("00 05 17 06"));
        QCOMPARE(filesIn(download->home.vuFolder()), QStringList{});
        QVERIFY(Download::onlyFile(download->home.cardFolder()) ==
                readWhole(kSamples + "card_gen2_004-anonymized.DDD"));
    }
    // A vehicle-unit file and a card file from one session, named from the data downloaded,
    // holding what the unit served; the card of a VDO unit is asked for as TREP 0x17.
    void vuAndCardNamedFromTheirData() {
        const QString vuName = "M_D__" + kVrn + "_" + kVin + "_{D8}_{T4}.DDD";
        const QString cardName = "C_" + QStringLiteral("Muster").leftJustified(35) +
                                 "_M_D____DSIM000012345600_{D8}_{T4}.DDD";
        Download& download = *downloads_.at("LD");
        QCOMPARE(download.problem(), QString());
        const EngineHome& home = download.home;
        const QString vuFile = filesIn(home.vuFolder()).value(0);
        const QString cardFile = filesIn(home.cardFolder()).value(0);
        QVERIFY2(namesSince(vuName, download.startedAt).contains(vuFile), qPrintable(vuFile));
        QVERIFY2(namesSince(cardName, download.startedAt).contains(cardFile), qPrintable(cardFile));
        // Technical data, overview, three days, card.
        const QList<ServedBlock> served = download.sim.servedBlocks();
        QVERIFY(served.size() == 6 && served.last().trep == 0x17);
        QCOMPARE(SimulatorRun::join(served), download.sim.served());
        QVERIFY(readWhole(home.vuFolder() + "/" + vuFile) == SimulatorRun::join(served.mid(1, 4)));
        QVERIFY(readWhole(home.cardFolder() + "/" + cardFile) == served.last().bytes);
    }

    // The engine downloads each real first-generation file from a unit that serves it, and
    // saves it byte for byte. The unit holds a year of activities and answers every day of
    // its period, so the download asks for exactly the days the file holds (a Latest VU
    // download reaching back to its first day) rather than for all of them.
    void realSamples() {
        if (samples().isEmpty()) QSKIP("sample files (../shared/samples) are not here");
        for (const QString& sample : samples()) {
            Download& download = *downloads_.at(sample);
            QCOMPARE(sample + download.problem(), sample);
            QVERIFY2(Download::onlyFile(download.home.vuFolder()) == readWhole(kSamples + sample),
                     qPrintable(sample));
        }
    }
};

QTEST_GUILESS_MAIN(TestE2eSession)
#include "test_e2e_session.moc"
