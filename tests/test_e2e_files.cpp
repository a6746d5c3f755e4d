// The files a download leaves behind, end to end: names from the downloaded data, contents
// equal to what the simulated unit served, real samples saved byte for byte. The downloads
// all run at once.

#include "SimulatorRun.h"

#include <QTest>
#include <QtEndian>
#include <map>
#include <memory>

namespace {

// The generated unit's vehicle and card, as the naming fields see them.
const QString kVrn = QStringLiteral("VT-SIM 42    ");
const QString kVin = QStringLiteral("WDB9066331S123456");

// The names a pattern gives for every minute from the start of a download until now; {D8}
// and {T4} stand for the local date and time.
QStringList NamesSince(const QString& pattern, const QDateTime& from) {
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
int DaysHeld(const QByteArray& file) {
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

QStringList Samples() {
    return QDir(VANTREL_SAMPLES_DIR).entryList({"vu_gen1_*.DDD"}, QDir::Files);
}

} // namespace

class TestE2eFiles : public QObject {
    Q_OBJECT

    std::map<QString, std::unique_ptr<Download>> downloads_;

    Download& add(const QString& name, int port, const QStringList& unit, const QString& command,
                  const QStringList& settings = {"FileNameStyle=EU"}) {
        return *(downloads_[name] = std::make_unique<Download>(port, unit, command, settings));
    }
    // A download that must have come to a good end, with the one file it saved in `folder`.
    QString savedName(const QString& name, const QString& folder) {
        const QString problem = downloads_.at(name)->problem();
        [&] { QCOMPARE(problem, QString()); }();
        const QStringList files = FilesIn(folder);
        return files.size() == 1 ? files.first() : QString();
    }

private slots:
    void initTestCase() {
        add("LD", 130, {}, "\"L [001002006] 2 E {0,0}\"", {"FileNameStyle=LD"});
        int port = 135;
        for (const QString& sample : Samples()) {
            const int days = DaysHeld(ReadAll(VANTREL_SAMPLES_DIR "/" + sample));
            add(sample, port++, {"--ddd", VANTREL_SAMPLES_DIR "/" + sample},
                QStringLiteral("\"L [001002003004005] %1 E {0,0}\"").arg(days));
        }
    }

    // A vehicle-unit file and a card file from one session, named from the data downloaded,
    // holding what the unit served; the card of a VDO unit is asked for as TREP 0x17.
    void vuAndCardNamedFromTheirData() {
        const QString vuName = "M_D__" + kVrn + "_" + kVin + "_{D8}_{T4}.DDD";
        const QString cardName = "C_" + QStringLiteral("Muster").leftJustified(35) +
                                 "_M_D____DSIM000012345600_{D8}_{T4}.DDD";
        Download& download = *downloads_.at("LD");
        const EngineHome& home = download.home;
        const QString vuFile = savedName("LD", home.vuFolder());
        const QString cardFile = savedName("LD", home.cardFolder());
        QVERIFY2(NamesSince(vuName, download.startedAt).contains(vuFile), qPrintable(vuFile));
        QVERIFY2(NamesSince(cardName, download.startedAt).contains(cardFile), qPrintable(cardFile));
        // Technical data, overview, three days, card.
        const QList<ServedBlock> served = download.sim.servedBlocks();
        QCOMPARE(served.size(), 6);
        QCOMPARE(served.last().trep, 0x17);
        QCOMPARE(SimulatorRun::join(served), download.sim.served());
        QVERIFY(ReadAll(home.vuFolder() + "/" + vuFile) == SimulatorRun::join(served.mid(1, 4)));
        QVERIFY(ReadAll(home.cardFolder() + "/" + cardFile) == served.last().bytes);
    }

    // The engine downloads each real first-generation file from a unit that serves it, and
    // saves it byte for byte. The unit holds a year of activities and answers every day of
    // its period, so the download asks for exactly the days the file holds (a Latest VU
    // download reaching back to its first day) rather than for all of them.
    void realSamples_data() {
        QTest::addColumn<QString>("sample");
        for (const QString& name : Samples())
            QTest::newRow(qPrintable(name)) << name;
    }
    void realSamples() {
        QFETCH(QString, sample);
        Download& download = *downloads_.at(sample);
        const QString saved = savedName(sample, download.home.vuFolder());
        QVERIFY(ReadAll(download.home.vuFolder() + "/" + saved) ==
                ReadAll(VANTREL_SAMPLES_DIR "/" + sample));
    }
};

QTEST_GUILESS_MAIN(TestE2eFiles)
#include "test_e2e_files.moc"
