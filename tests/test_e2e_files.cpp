// The files a download leaves behind, end to end: names in the four styles, contents equal
// to what the simulated unit served, numbered names, the fallback folder, real samples.

#include "SimulatorRun.h"

#include <QDateTime>
#include <QTest>
#include <QtEndian>

namespace {

// The generated unit's vehicle and card, as the naming fields see them.
const QString kVrn = QStringLiteral("VT-SIM 42    ");
const QString kVin = QStringLiteral("WDB9066331S123456");
const QString kCardNumber = QStringLiteral("DSIM000012345600");
const QString kSurname = QStringLiteral("Muster").leftJustified(35, QLatin1Char(' '));

bool Prepare(const EngineHome& home, const QString& style) {
    return WriteEngineSettings(home,
                               {"VUDataPath=" + home.vuFolder(),
                                "CardDataPath=" + home.cardFolder(), "FileNameStyle=" + style});
}

// The names a pattern gives for every minute of a run; {D8}, {D6} and {T4} stand for the
// local date and time.
QStringList NamesDuring(const QString& pattern, const QDateTime& from, const QDateTime& to) {
    QStringList names;
    QDateTime minute(from.date(), QTime(from.time().hour(), from.time().minute()));
    for (; minute <= to; minute = minute.addSecs(60))
        names << QString(pattern)
                     .replace("{D8}", minute.toString("yyyyMMdd"))
                     .replace("{D6}", minute.toString("yyMMdd"))
                     .replace("{T4}", minute.toString("HHmm"));
    return names;
}

bool HasLine(const QList<QByteArray>& lines, const QString& line) {
    return lines.contains(line.toUtf8());
}

// Runs the engine against a unit and returns the result; the run's clock span is kept for
// the names.
struct TimedRun {
    EngineResult result;
    QDateTime from;
    QDateTime to;
};
TimedRun Run(const EngineHome& home, const QString& command, int timeoutMs = 60000) {
    TimedRun run;
    run.from = QDateTime::currentDateTime();
    run.result = home.run({command}, timeoutMs);
    run.to = QDateTime::currentDateTime();
    return run;
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

} // namespace

class TestE2eFiles : public QObject {
    Q_OBJECT
private slots:
    // A vehicle-unit file and then a card file from one session, in each style.
    void vuAndCardInEachStyle_data() {
        QTest::addColumn<QString>("style");
        QTest::addColumn<QString>("vuName");
        QTest::addColumn<QString>("cardName");
        QTest::newRow("EU") << "EU"
                            << "M_{D8}_{T4}_" + kVrn + "_" + kVin + ".DDD"
                            << "C_{D8}_{T4}_M_" + kSurname + "_" + kCardNumber + ".DDD";
        QTest::newRow("FR") << "FR"
                            << "D__" + kVrn + "{D6}{T4}.V1B"
                            << "D__" + kCardNumber + "{D6}{T4}.C1A";
        QTest::newRow("ES") << "ES"
                            << "V_VT-SIM 42_D_{D8}_{T4}.TGD"
                            << "C_" + kCardNumber + "_D_{D8}_{T4}.TGD";
        QTest::newRow("LD") << "LD"
                            << "M_D__" + kVrn + "_" + kVin + "_{D8}_{T4}.DDD"
                            << "C_" + kSurname + "_M_D____" + kCardNumber + "_{D8}_{T4}.DDD";
    }
    void vuAndCardInEachStyle() {
        QFETCH(QString, style);
        QFETCH(QString, vuName);
        QFETCH(QString, cardName);
        SimulatorRun sim(130, {});
        QVERIFY2(sim.ready(), sim.startOutput().constData());
        EngineHome home;
        sim.connect(home);
        QVERIFY(Prepare(home, style));

        const TimedRun run = Run(home, "\"L [001002006] 2 E {0,0}\"");
        QVERIFY(run.result.finished);
        QCOMPARE(run.result.messageBoxes, QStringList{});
        QCOMPARE(home.status(), QByteArray("Complete\r\n"));

        // Technical data, overview, three days, card.
        const QList<ServedBlock> served = sim.servedBlocks();
        QCOMPARE(served.size(), 6);
        QCOMPARE(SimulatorRun::join(served), sim.served());
        const QStringList vuFiles = FilesIn(home.vuFolder());
        const QStringList cardFiles = FilesIn(home.cardFolder());
        QCOMPARE(vuFiles.size(), 1);
        QCOMPARE(cardFiles.size(), 1);
        QVERIFY2(NamesDuring(vuName, run.from, run.to).contains(vuFiles.first()),
                 qPrintable(vuFiles.first()));
        QVERIFY2(NamesDuring(cardName, run.from, run.to).contains(cardFiles.first()),
                 qPrintable(cardFiles.first()));
        QVERIFY(ReadAll(home.vuFolder() + "/" + vuFiles.first()) ==
                SimulatorRun::join(served.mid(1, 4)));
        QVERIFY(ReadAll(home.cardFolder() + "/" + cardFiles.first()) == served.last().bytes);

        const QList<QByteArray> log = LogLines(home.log());
        QVERIFY(HasLine(log, "VU Path/File Name - " + home.vuFolder() + "/" + vuFiles.first()));
        QVERIFY(
            HasLine(log, "Card Path/File Name - " + home.cardFolder() + "/" + cardFiles.first()));
        QCOMPARE(log.count("File saved"), 2);
    }

    // A second-generation unit's registration reaches the name whole: every one of its
    // 13 characters is different, so a shifted read would show.
    void secondGenerationRegistration_data() {
        QTest::addColumn<QString>("style");
        QTest::addColumn<QString>("vuName");
        QTest::newRow("EU") << "EU"
                            << "M_{D8}_{T4}_GEN2-REG-0013_" + kVin + ".DDD";
        QTest::newRow("ES") << "ES"
                            << "V_GEN2-REG-0013_____{D8}_{T4}.TGD";
    }
    void secondGenerationRegistration() {
        QFETCH(QString, style);
        QFETCH(QString, vuName);
        SimulatorRun sim(135, {"--gen2", "--vrn", "GEN2-REG-0013"});
        QVERIFY2(sim.ready(), sim.startOutput().constData());
        EngineHome home;
        sim.connect(home);
        QVERIFY(Prepare(home, style));

        const TimedRun run = Run(home, "\"L [001002] 1 E {0,0}\"");
        QVERIFY(run.result.finished);
        QCOMPARE(home.status(), QByteArray("Complete\r\n"));
        const QStringList vuFiles = FilesIn(home.vuFolder());
        QCOMPARE(vuFiles.size(), 1);
        QVERIFY2(NamesDuring(vuName, run.from, run.to).contains(vuFiles.first()),
                 qPrintable(vuFiles.first()));
        // Technical data first, then the overview and the days that the file holds.
        const QList<ServedBlock> served = sim.servedBlocks();
        QCOMPARE(served.first().trep, 0x25);
        QVERIFY(ReadAll(home.vuFolder() + "/" + vuFiles.first()) ==
                SimulatorRun::join(served.mid(1)));
        QVERIFY(!LogLines(home.log()).contains("Registration number missing from the overview"));
    }

    // The same download again: the name is taken, so the file gets the next number and the
    // first file stays as it was.
    void secondRunIsNumbered() {
        EngineHome home;
        QVERIFY(Prepare(home, "EU"));
        // Only the overview: no data kind, so the prefix is a lone "_".
        const QString pattern = "_{D8}_{T4}_" + kVrn + "_" + kVin + ".DDD";
        QByteArray first;
        {
            SimulatorRun sim(131, {});
            QVERIFY2(sim.ready(), sim.startOutput().constData());
            sim.connect(home);
            const TimedRun run = Run(home, "\"L [001] 0 E {0,0}\"");
            QVERIFY(run.result.finished);
            QCOMPARE(FilesIn(home.vuFolder()).size(), 1);
            first = ReadAll(home.vuFolder() + "/" + FilesIn(home.vuFolder()).first());
            QVERIFY(!first.isEmpty());
        }
        // Names carry the minute: the second run finds its name taken whenever it runs.
        const QDateTime now = QDateTime::currentDateTime();
        for (const QString& name : NamesDuring(pattern, now, now.addSecs(180))) {
            QFile copy(home.vuFolder() + "/" + name);
            if (!copy.exists()) QVERIFY(copy.open(QIODevice::WriteOnly) && copy.write(first));
        }
        const QStringList before = FilesIn(home.vuFolder());

        SimulatorRun sim(131, {});
        QVERIFY2(sim.ready(), sim.startOutput().constData());
        sim.connect(home);
        const TimedRun run = Run(home, "\"L [001] 0 E {0,0}\"");
        QVERIFY(run.result.finished);
        QCOMPARE(home.status(), QByteArray("Complete\r\n"));
        QStringList added = FilesIn(home.vuFolder());
        for (const QString& name : before)
            added.removeOne(name);
        QCOMPARE(added.size(), 1);
        QStringList numbered = NamesDuring(pattern, run.from, run.to);
        for (QString& name : numbered)
            name.insert(name.size() - 4, "_1");
        QVERIFY2(numbered.contains(added.first()), qPrintable(added.first()));
        QVERIFY(ReadAll(home.vuFolder() + "/" + added.first()) ==
                SimulatorRun::join(sim.servedBlocks().mid(1)));
        for (const QString& name : before)
            QVERIFY(ReadAll(home.vuFolder() + "/" + name) == first);
    }

    // Every data request refused: no file, and the session counts as failed.
    void noData() {
        SimulatorRun sim(132, {"--fault", "reject:on=data,code=FA"});
        QVERIFY2(sim.ready(), sim.startOutput().constData());
        EngineHome home;
        sim.connect(home);
        QVERIFY(Prepare(home, "EU"));

        const TimedRun run = Run(home, "A E {0,0}");
        QVERIFY(run.result.finished);
        QCOMPARE(run.result.messageBoxes, QStringList{});
        QCOMPARE(home.status(), QByteArray("Failed\r\n"));
        QCOMPARE(FilesIn(home.vuFolder()), QStringList{});
        QCOMPARE(FilesIn(home.cardFolder()), QStringList{});
        const QList<QByteArray> log = LogLines(home.log());
        QVERIFY(HasLine(log, "VU Path/File Name - " + home.vuFolder() + "/saved.ddd"));
        QVERIFY(!log.contains("File saved"));
    }

    // The VU folder lies below a plain file, so it can neither be used nor made: the file
    // goes to the data folder and the log says where.
    void vuFolderUnusable() {
        SimulatorRun sim(133, {});
        QVERIFY2(sim.ready(), sim.startOutput().constData());
        EngineHome home;
        sim.connect(home);
        // The configured folder and the default one both lie below the blocking file.
        const QString blocker = home.documents() + "/VantrelPC";
        QVERIFY(QDir().mkpath(home.documents()));
        QFile file(blocker);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        const QString vuFolder = blocker + "/Data/VU";
        QVERIFY(WriteEngineSettings(home, {"VUDataPath=" + vuFolder, "FileNameStyle=EU"}));

        const TimedRun run = Run(home, "\"L [001] 0 E {0,0}\"");
        QVERIFY(run.result.finished);
        QCOMPARE(home.status(), QByteArray("Complete\r\n"));
        // Only the overview: no data kind, so the prefix is a lone "_".
        const QString pattern = "_{D8}_{T4}_" + kVrn + "_" + kVin + ".DDD";
        QString saved;
        for (const QString& name : NamesDuring(pattern, run.from, run.to))
            if (QFileInfo(home.dataFolder() + "/" + name).isFile()) saved = name;
        QVERIFY2(!saved.isEmpty(), qPrintable(FilesIn(home.dataFolder()).join('\n')));
        QVERIFY(ReadAll(home.dataFolder() + "/" + saved) ==
                SimulatorRun::join(sim.servedBlocks().mid(1)));

        const QList<QByteArray> log = LogLines(home.log());
        QVERIFY(HasLine(log, "VU Path/File Name - " + vuFolder + "/" + saved));
        bool errorLogged = false;
        for (const QByteArray& line : log)
            errorLogged = errorLogged || line.startsWith("File error no. ");
        QVERIFY(errorLogged);
        const QByteArray fallback =
            ("VU Path/File Name - " + home.dataFolder() + "/" + saved).toUtf8();
        const qsizetype at = log.indexOf(fallback);
        QVERIFY2(at >= 0 && at + 1 < log.size() && log[at + 1] == "File saved",
                 home.log().constData());
    }

    // The engine downloads each real first-generation file from a unit that serves it, and
    // saves it byte for byte. The unit holds a year of activities and answers every day of
    // its period, so the download asks for exactly the days the file holds (a Latest VU
    // download reaching back to its first day) rather than for all of them.
    void realSamples_data() {
        QTest::addColumn<QString>("sample");
        const QDir samples(QStringLiteral(VANTREL_SAMPLES_DIR));
        if (!samples.exists()) QTest::newRow("no samples") << QString();
        for (const QString& name : samples.entryList({"vu_gen1_*.DDD"}, QDir::Files))
            QTest::newRow(qPrintable(name)) << samples.filePath(name);
    }
    void realSamples() {
        QFETCH(QString, sample);
        if (sample.isEmpty()) QSKIP("no sample files: " VANTREL_SAMPLES_DIR " is absent");
        const QByteArray expected = ReadAll(sample);
        const int days = DaysHeld(expected);
        QVERIFY2(days >= 0, qPrintable(sample));
        SimulatorRun sim(134, {"--ddd", sample});
        QVERIFY2(sim.ready(), sim.startOutput().constData());
        EngineHome home;
        sim.connect(home);
        QVERIFY(Prepare(home, "EU"));

        const TimedRun run =
            Run(home, QStringLiteral("\"L [001002003004005] %1 E {0,0}\"").arg(days), 180000);
        QVERIFY(run.result.finished);
        QCOMPARE(run.result.messageBoxes, QStringList{});
        QCOMPARE(home.status(), QByteArray("Complete\r\n"));
        const QStringList files = FilesIn(home.vuFolder());
        QCOMPARE(files.size(), 1);
        const QByteArray saved = ReadAll(home.vuFolder() + "/" + files.first());
        QCOMPARE(saved.size(), expected.size());
        QVERIFY(saved == expected);
    }
};

QTEST_GUILESS_MAIN(TestE2eFiles)
#include "test_e2e_files.moc"
