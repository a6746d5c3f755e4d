// The front end's deciding logic, without its window: launcher texts, the Latest VU file,
// the engine lookup and its process handling, status lines, the bar, lamps and scaling.
#include "Launcher.h"
#include "Leds.h"
#include "Progress.h"
#include "Scaling.h"

#include "TestFiles.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

Q_DECLARE_METATYPE(BarFill::Kind)

namespace {
QString Step(const LedStep& step) {
    return QStringLiteral("%1%2%3")
        .arg(step.lamp)
        .arg(step.lit ? '+' : '-')
        .arg(step.stopTimer ? QStringLiteral("stop") : QString::number(step.interval));
}
} // namespace

class TestFrontLogic : public QObject {
    Q_OBJECT

private slots:
    void positionText_data() {
        QTest::addColumn<qint64>("top");
        QTest::addColumn<qint64>("left");
        QTest::addColumn<QString>("text");
        QTest::newRow("320,160 px") << qint64(2400) << qint64(4800) << " {3000,8100}";
        QTest::newRow("left -300") << qint64(0) << qint64(-300) << " {600,3000}";
        QTest::newRow("left -4000") << qint64(0) << qint64(-4000) << " {600,-700}";
        QTest::newRow("top -1000") << qint64(-1000) << qint64(0) << " {-400,3300}";
    }
    void positionText() {
        QFETCH(qint64, top);
        QFETCH(qint64, left);
        QFETCH(QString, text);
        QCOMPARE(PositionText(top, left), text);
    }

    void daysText_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("text");
        QTest::newRow("0") << "0"
                           << " 0";
        QTest::newRow("6.5 to even 6") << "6.5"
                                       << " 6";
        QTest::newRow("-2.5 to even -2") << "-2.5"
                                         << "-2";
        QTest::newRow("-0.4 is 0") << "-0.4"
                                   << " 0";
        QTest::newRow("leading spaces, trailing text") << "  12 days"
                                                       << " 12";
        QTest::newRow("no number") << "x"
                                   << " 0";
        QTest::newRow("exponent") << "2.5e1"
                                  << " 25";
        QTest::newRow("beyond 32 bits") << "99999999999"
                                        << " 2147483647";
    }
    void daysText() {
        QFETCH(QString, line);
        QFETCH(QString, text);
        QCOMPARE(DaysText(line), text);
    }

    void latestFileMissing() {
        QTemporaryDir dir; // a folder in the file's place
        QVERIFY(QDir(dir.path()).mkdir(kLatestVUFileName));
        QVERIFY(!ReadLatestTrepText(dir.filePath(kLatestVUFileName)).has_value());
    }

    void latestMissingMessage_data() {
        QTest::addColumn<QString>("language");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("text");
        const QString english = "Please set the 'Latest VU' files to be downloaded.\n\n"
                                "Right-click on the 'Latest VU' button, make your\n"
                                "selection then click 'Save'.";
        QTest::newRow("EN") << "EN"
                            << "VantrelPC - Latest VU Settings" << english;
        QTest::newRow("FR is English") << "FR"
                                       << "VantrelPC - Latest VU Settings" << english;
        QTest::newRow("DE") << "DE"
                            << "VantrelPC"
                            << QString::fromUtf8(
                                   "Einstellungen für \"Latest VU:\"\n"
                                   "Klicken Sie mit der rechten Maustaste auf den Button"
                                   "\"Latest VU:\"\nund nehmen die gewünschten Einstellungen vor");
    }
    void latestMissingMessage() {
        QFETCH(QString, language);
        QFETCH(QString, title);
        QFETCH(QString, text);
        const MessageText message = LatestSettingsMissingMessage(language);
        QCOMPARE(message.title, title);
        QCOMPARE(message.text, text);
    }

    void findEngine_data() {
        QTest::addColumn<QStringList>("executables");
        QTest::addColumn<QStringList>("plainFiles");
        QTest::addColumn<QStringList>("folders");
        QTest::addColumn<QString>("found");
        QTest::newRow("exact name")
            << QStringList{"VNPCBase"} << QStringList() << QStringList() << "VNPCBase";
        QTest::newRow("other letter case")
            << QStringList{"vnpcbase"} << QStringList() << QStringList() << "vnpcbase";
        QTest::newRow("missing") << QStringList{"VNPCBase2"} << QStringList() << QStringList()
                                 << "";
        QTest::newRow("Windows name")
            << QStringList{"VNPCBase.exe"} << QStringList() << QStringList() << "";
        QTest::newRow("not executable")
            << QStringList() << QStringList{"VNPCBase"} << QStringList() << "";
        QTest::newRow("a folder of that name")
            << QStringList() << QStringList() << QStringList{"VNPCBase"} << "";
        QTest::newRow("executable beside a plain file")
            << QStringList{"VnpcBase"} << QStringList{"VNPCBase"} << QStringList() << "VnpcBase";
    }
    void findEngine() {
        QFETCH(QStringList, executables);
        QFETCH(QStringList, plainFiles);
        QFETCH(QStringList, folders);
        QFETCH(QString, found);
        QTemporaryDir dir;
        for (const QString& name : executables)
            QVERIFY(WriteFile(dir.filePath(name), "#!/bin/sh\n", kExecutable));
        for (const QString& name : plainFiles)
            QVERIFY(WriteFile(dir.filePath(name), "#!/bin/sh\n"));
        for (const QString& name : folders)
            QVERIFY(QDir(dir.path()).mkdir(name));
        QCOMPARE(FindEngine(dir.path()), found.isEmpty() ? QString() : dir.filePath(found));
    }

    void findEngineThroughLink() {
        QTemporaryDir dir;
        QVERIFY(WriteFile(dir.filePath("real"), "#!/bin/sh\n", kExecutable));
        QVERIFY(QFile::link(dir.filePath("real"), dir.filePath("VNPCBASE")));
        QCOMPARE(FindEngine(dir.path()), dir.filePath("VNPCBASE"));
    }

    void readStatusLine_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("line");
        QTest::newRow("one line") << QByteArray("Complete\r\n") << "Complete";
        QTest::newRow("first line only") << QByteArray("0012/0028\r\nmore\r\n") << "0012/0028";
        QTest::newRow("no line end") << QByteArray("Downloading") << "Downloading";
        QTest::newRow("empty: being rewritten") << QByteArray() << "";
    }
    void readStatusLine() {
        QFETCH(QByteArray, content);
        QFETCH(QString, line);
        QTemporaryDir dir;
        QVERIFY(WriteFile(dir.filePath(kStatusFileName), content));
        QCOMPARE(ReadStatusLine(dir.filePath(kStatusFileName)), line);
    }

    void readStatusLineUnreadable() {
        QTemporaryDir dir;
        QCOMPARE(ReadStatusLine(dir.filePath(kStatusFileName)), QString());
        QVERIFY(QDir(dir.path()).mkdir(kStatusFileName));
        QCOMPARE(ReadStatusLine(dir.filePath(kStatusFileName)), QString());
    }

    void barFill_data() {
        QTest::addColumn<QString>("progress");
        QTest::addColumn<int>("height");
        QTest::addColumn<BarFill::Kind>("kind");
        QTest::addColumn<int>("firstRow");
        QTest::newRow("3 of 28") << "0003/0028" << 208 << BarFill::Strip << 176;
        QTest::newRow("14 of 28") << "0014/0028" << 208 << BarFill::Strip << 99;
        QTest::newRow("27 of 28") << "0027/0028" << 208 << BarFill::Strip << 7;
        QTest::newRow("28 of 28") << "0028/0028" << 208 << BarFill::Strip << 0;
        QTest::newRow("1 of 1") << "0001/0001" << 208 << BarFill::Strip << 0;
        QTest::newRow("1 of 77") << "0001/0077" << 208 << BarFill::Strip << 195;
        QTest::newRow("nothing yet") << "0000/0028" << 208 << BarFill::Empty << 0;
        QTest::newRow("beyond total") << "0029/0028" << 208 << BarFill::Full << 0;
        QTest::newRow("half rounds to even") << "0001/0002" << 60 << BarFill::Strip << 28;
        QTest::newRow("not a number") << "abcd/0028" << 208 << BarFill::Empty << 0;
        QTest::newRow("total 0") << "0005/0000" << 208 << BarFill::Full << 0;
        QTest::newRow("negative total") << "0003/-001" << 208 << BarFill::Empty << 0;
    }
    void barFill() {
        QFETCH(QString, progress);
        QFETCH(int, height);
        QFETCH(BarFill::Kind, kind);
        QFETCH(int, firstRow);
        const BarFill fill = ComputeBarFill(progress, height);
        QCOMPARE(fill.kind, kind);
        if (kind == BarFill::Strip) QCOMPARE(fill.firstRow, firstRow);
    }

    void ledPattern_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("litLed");
        QTest::addColumn<QStringList>("steps");
        QTest::newRow("idle scan from start-up")
            << int(kLedIdle) << 0 << -1
            << QStringList{"1+150", "1-1100", "2+150", "2-1100", "0+150", "0-1100", "1+150"};
        QTest::newRow("running") << int(kLedRunning) << 2 << -1
                                 << QStringList{"2+250", "2-250", "2+250", "2-250"};
        QTest::newRow("complete") << int(kLedComplete) << 1 << -1
                                  << QStringList{"1+50", "1-1250", "1+50"};
        QTest::newRow("complete while lit")
            << int(kLedComplete) << 1 << 1 << QStringList{"1-1250", "1+50"};
        QTest::newRow("failed") << int(kLedFailed) << 0 << -1 << QStringList{"0+stop"};
        QTest::newRow("failed, other lamp lit")
            << int(kLedFailed) << 2 << 1 << QStringList{"2+stop"};
    }
    void ledPattern() {
        QFETCH(int, mode);
        QFETCH(int, index);
        QFETCH(int, litLed);
        QFETCH(QStringList, steps);
        LedAnimator leds;
        leds.LedMode = qint16(mode);
        leds.LedIndex = index;
        leds.LitLed = litLed;
        QStringList seen;
        for (qsizetype i = 0; i < steps.size(); ++i) {
            const LedStep step = leds.Tick();
            seen << Step(step);
            QCOMPARE(leds.LitLed, step.lit ? step.lamp : -1);
        }
        QCOMPARE(seen, steps);
    }

    void scaling_data() {
        QTest::addColumn<double>("twipsPerPixel");
        QTest::addColumn<QString>("control");
        QTest::addColumn<QRectF>("twips");
        QTest::newRow("15: button") << 15.0 << "cmdAllVU" << QRectF(1200, 2610, 855, 855);
        QTest::newRow("12: button") << 12.0 << "cmdAllVU" << QRectF(960, 2088, 684, 684);
        QTest::newRow("10: button") << 10.0 << "cmdAllVU" << QRectF(800, 1740, 570, 570);
        QTest::newRow("12: close, top and width kept")
            << 12.0 << "Close" << QRectF(1824, 360, 240, 192);
        QTest::newRow("10: version, height kept")
            << 10.0 << "lblRev" << QRectF(1200, 4480, 890, 255);
        QTest::newRow("12: pressed card, size kept")
            << 12.0 << "Button2Pressed" << QRectF(948, 3816, 855, 855);
        QTest::newRow("10: window") << 10.0 << "Form1" << QRectF(0, 0, 2150, 4790);
        QTest::newRow("12: lamp") << 12.0 << "PictureLED2" << QRectF(1812, 3996, 288, 288);
    }
    void scaling() {
        QFETCH(double, twipsPerPixel);
        QFETCH(QString, control);
        QFETCH(QRectF, twips);
        const auto layout = setLargeDPICompatibleDimensions(twipsPerPixel);
        const auto it = std::find_if(layout.begin(), layout.end(),
                                     [&](const DesignControl& c) { return c.name == control; });
        QVERIFY(it != layout.end());
        QCOMPARE(it->twips, twips);
    }

    // Every converted value keeps its design size in pixels on every display.
    void scalingKeepsPixels() {
        for (double twipsPerPixel : {15.0, 12.0, 10.0, 7.5}) {
            for (const DesignControl& control : setLargeDPICompatibleDimensions(twipsPerPixel)) {
                const QRect px = TwipsToPixels(control.twips, twipsPerPixel);
                const QRect design = DesignPixels(control.name);
                const QString what =
                    QStringLiteral("%1 at %2").arg(control.name).arg(twipsPerPixel);
                if (control.scaled & kLeft) QVERIFY2(px.x() == design.x(), qPrintable(what));
                if (control.scaled & kTop) QVERIFY2(px.y() == design.y(), qPrintable(what));
                if (control.scaled & kWidth)
                    QVERIFY2(px.width() == design.width(), qPrintable(what));
                if (control.scaled & kHeight)
                    QVERIFY2(px.height() == design.height(), qPrintable(what));
            }
        }
        QCOMPARE(DesignPixels("PictureProgBar"), QRect(2, 170, 61, 208));
    }

    void closeEndsEngine() {
        qint64 startTime = -1;
        const qint64 pid = StartEngine("/bin/sleep", "30", &startTime);
        QVERIFY(pid > 0);
        QVERIFY(startTime > 0);
        QVERIFY(EngineRunning(pid, startTime));
        QElapsedTimer clock;
        clock.start();
        CloseEngineWindows(pid, startTime);
        QVERIFY(clock.elapsed() < 3000);
        QVERIFY(!EngineRunning(pid, startTime));
    }

    void closeLeavesOtherProcess() {
        // Same pid, another start time: the pid was given to a new process meanwhile.
        qint64 startTime = -1;
        const qint64 pid = StartEngine("/bin/sleep", "30", &startTime);
        QVERIFY(pid > 0);
        CloseEngineWindows(pid, startTime + 1);
        QVERIFY(EngineRunning(pid, startTime));
        ::kill(pid_t(pid), SIGKILL);
        QTRY_VERIFY(!EngineRunning(pid, startTime));
    }

    void closeWaitIsBounded() {
        qint64 pid = 0;
        QVERIFY(QProcess::startDetached("/bin/sh", {"-c", "trap '' TERM; exec sleep 30"}, QString(),
                                        &pid));
        QTRY_COMPARE(QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(pid)),
                     QFileInfo("/bin/sleep").canonicalFilePath());
        QElapsedTimer clock;
        clock.start();
        CloseEngineWindows(pid, -1, std::chrono::milliseconds(300));
        QVERIFY(clock.elapsed() >= 300);
        QVERIFY(clock.elapsed() < 2000);
        QVERIFY(EngineRunning(pid));
        ::kill(pid_t(pid), SIGKILL);
        QTRY_VERIFY(!EngineRunning(pid));
    }

    void closeNothingStarted() {
        QVERIFY(!EngineRunning(0));
        QElapsedTimer clock;
        clock.start();
        CloseEngineWindows(0);
        QVERIFY(clock.elapsed() < 100);
    }
};

QTEST_GUILESS_MAIN(TestFrontLogic)
#include "test_front_logic.moc"
