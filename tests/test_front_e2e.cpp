// The front end with the real engine against the simulated vehicle unit: the buttons start
// VNPCBase, the poll follows its status file to the end, and a new start stops the engine
// that is still running.
#include "DownloadSettings.h"
#include "Form1.h"
#include "Launcher.h"
#include "MessageBox.h"
#include "Progress.h"
#include "SimulatorRun.h"
#include "SkinControls.h"

#include <QDir>
#include <QFile>
#include <QtTest>
#include <memory>

namespace {
const QString kBin = QStringLiteral(VANTREL_BIN_DIR);

} // namespace

class TestFrontEndToEnd : public QObject {
    Q_OBJECT

    EngineHome home_;
    std::unique_ptr<SimulatorRun> simulator_;
    QStringList boxes_;

private slots:
    void initTestCase() {
        if (!QFile::exists(kBin + "/VNPCBase") || !QFile::exists(kBin + "/VantrelVuSim"))
            QSKIP("VNPCBase and VantrelVuSim are not built");
        simulator_ = std::make_unique<SimulatorRun>(3, QStringList{});
        QVERIFY2(simulator_->ready(), simulator_->startOutput().constData());
        simulator_->connect(home_);
        home_.exportEnvironment();
        SetMessageBoxHandler([this](const QString& text, const QString&) { boxes_ << text; });
    }

    void cleanupTestCase() { simulator_.reset(); }

    void init() { boxes_.clear(); }

    // The cable check (a command without a download letter) through the launcher alone.
    void cableCheck() {
        const QString engine = FindEngine(kBin);
        QVERIFY(!engine.isEmpty());
        const QString status = home_.dataFolder() + "/" + kStatusFileName;
        QFile::remove(status);
        qint64 startTime = -1;
        const qint64 pid = StartEngine(engine, "E {600,3000}", &startTime);
        QVERIFY(pid > 0);
        QTRY_COMPARE_WITH_TIMEOUT(ReadStatusLine(status), QStringLiteral("Complete"), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!EngineRunning(pid, startTime), 10000);
    }

    void downloads_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("folder");
        QTest::newRow("All VU") << "cmdAllVU"
                                << "VU";
        QTest::newRow("Latest VU") << "cmdLatestVU"
                                   << "VU";
        QTest::newRow("Card") << "cmdCard"
                              << "Card";
    }
    void downloads() {
        QFETCH(QString, button);
        QFETCH(QString, folder);
        Form1 window;
        window.setEngineFolder(kBin);
        window.Form_Load();
        QVERIFY(WriteFile(window.AppDataFolder + "/VantrelPCLatestVU.ini", "001002005\r\n7\r\n"));
        // Whichever program wrote the settings file first chose the folders.
        const QString target =
            folder == "VU" ? DownloadSettings::VUDataPath : DownloadSettings::CardDataPath;
        const qsizetype before = FilesIn(target).size();
        QWidget* hitArea = window.findChild<QWidget*>(button);
        if (button == "cmdLatestVU")
            QTest::mousePress(hitArea, Qt::LeftButton);
        else
            QTest::mouseClick(hitArea, Qt::LeftButton);
        QVERIFY(window.EngineProcessId > 0);
        QCOMPARE(window.Leds.LedMode, qint16(kLedRunning));
        QTRY_VERIFY_WITH_TIMEOUT(window.Leds.LedMode != kLedRunning, 90000);
        QCOMPARE(window.Leds.LedMode, qint16(kLedComplete));
        QVERIFY2(boxes_.isEmpty(), qPrintable(boxes_.join(" | ")));
        QVERIFY(!window.timerActivity.isActive());
        QCOMPARE(window.PictureProgBar->image(), window.PictureProgBarBuffer.copy(0, 0, 61, 208));
        QTRY_VERIFY_WITH_TIMEOUT(!EngineRunning(window.EngineProcessId, window.EngineStartTime),
                                 10000);
        QCOMPARE(FilesIn(target).size(), before + 1);
    }

    void newStartStopsRunningEngine() {
        Form1 window;
        window.setEngineFolder(kBin);
        window.Form_Load();
        QTest::mouseClick(window.cmdAllVU, Qt::LeftButton);
        const qint64 first = window.EngineProcessId;
        const qint64 firstStart = window.EngineStartTime;
        QVERIFY(first > 0);
        // Once the first engine is downloading, start the card download over it.
        QTRY_VERIFY_WITH_TIMEOUT(ReadStatusLine(window.statusFilePath()).startsWith("Downlo") ||
                                     InterpretStatusLine(ReadStatusLine(window.statusFilePath())) ==
                                         PollAction::Progress,
                                 20000);
        QTest::mouseClick(window.cmdCard, Qt::LeftButton);
        QVERIFY(!EngineRunning(first, firstStart));
        QVERIFY(window.EngineProcessId != first);
        QTRY_VERIFY_WITH_TIMEOUT(window.Leds.LedMode != kLedRunning, 90000);
        QCOMPARE(window.Leds.LedMode, qint16(kLedComplete));
        QCOMPARE(window.Leds.LedIndex, 2);
    }
};

QTEST_MAIN(TestFrontEndToEnd)
#include "test_front_e2e.moc"
