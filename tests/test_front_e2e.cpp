// The front end with the real engine against the simulated vehicle unit: a new start stops
// the engine that is still downloading, and the poll follows the new one's status file to
// the end; the Latest VU selection chosen and saved in its window, downloaded, and the
// engine's log archived when the front end closes. A failed download is the poll of a Failed
// line: see poll and failureLooks in test_front_window, and noAnswer in test_e2e_link for the
// line a silent unit leads to.
#include "DownloadSettings.h"
#include "LatestVuWindow.h"
#include "Launcher.h"
#include "MainWindow.h"
#include "MessageBox.h"
#include "Progress.h"
#include "SimulatorRun.h"
#include "SkinControls.h"

#include <QLineEdit>
#include <QtTest>

class TestFrontEndToEnd : public QObject {
    Q_OBJECT

    // Each test's own home, unit on this program's port and window, and every box shown.
    std::unique_ptr<EngineHome> home_;
    std::unique_ptr<SimulatorRun> simulator_;
    std::unique_ptr<MainWindow> window_;
    QStringList boxes_;

private slots:
    void init() {
        home_ = std::make_unique<EngineHome>();
        simulator_ = std::make_unique<SimulatorRun>(3, QStringList());
        QVERIFY2(simulator_->ready(), simulator_->startOutput().constData());
        simulator_->connect(*home_);
        home_->exportEnvironment();
        boxes_.clear();
        setMessageBoxHandler([this](const QString& text, const QString&) { boxes_ << text; });
        window_ = std::make_unique<MainWindow>();
        window_->setEngineFolder(VANTREL_BIN_DIR);
        window_->load();
    }
    void cleanup() {
        window_.reset();
        simulator_.reset();
        QVERIFY2(boxes_.isEmpty(), qPrintable(boxes_.join(" | "))); // no download said a word
    }

    void cardStartedOverAllVu() {
        QTest::mouseClick(window_->allVuButton, Qt::LeftButton);
        const qint64 first = window_->engineProcessId, firstStart = window_->engineStartTime;
        QVERIFY(engineRunning(first, firstStart));
        // Once the first engine is downloading, start the card download over it.
        QTRY_VERIFY_WITH_TIMEOUT(interpretStatusLine(readStatusLine(window_->statusFilePath())) ==
                                     PollAction::Progress,
                                 20000);
        QTest::mouseClick(window_->cardButton, Qt::LeftButton);
        QVERIFY(!engineRunning(first, firstStart) && window_->engineProcessId != first);
        QTRY_VERIFY_WITH_TIMEOUT(window_->leds.mode != kLedRunning, 90000);
        QTRY_VERIFY_WITH_TIMEOUT(!engineRunning(window_->engineProcessId, window_->engineStartTime),
                                 10000);
        QCOMPARE(window_->leds.mode + 100 * window_->leds.index, kLedComplete + 100 * kCard);
        QCOMPARE(window_->progressBar->image(), window_->progressBarImage.copy(0, 0, 61, 208));
        // The card's file as the unit served it; nothing of the stopped download.
        QVERIFY(filesIn(DownloadSettings::vuDataPath).isEmpty());
        const QStringList saved = filesIn(DownloadSettings::cardDataPath);
        QVERIFY(saved.size() == 1 && readWhole(DownloadSettings::cardDataPath + "/" + saved[0]) ==
                                         simulator_->servedBlocks().last().bytes);
    }

    void savedSelectionIsDownloaded() {
        auto* selection = new LatestVuWindow(window_.get());
        window_->setLatestVuWindow(selection);
        const QString logFile = window_->appDataFolder + "/VNPC.log";
        // Chosen in the window: no events and faults, detailed speed, one and a half days.
        QTest::mousePress(window_->latestVuButton, Qt::RightButton);
        QTest::mouseClick(selection->checkBoxes[2], Qt::LeftButton);
        QTest::mouseClick(selection->checkBoxes[3], Qt::LeftButton);
        selection->daysEdit->setText("1.5");
        QTest::mouseClick(selection->saveButton, Qt::LeftButton);
        QCOMPARE(readWhole(window_->appDataFolder + "/" + kLatestVUFileName),
                 QByteArray("001002004005\r\n2\r\n"));

        QTest::mousePress(window_->latestVuButton, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(window_->leds.mode != kLedRunning, 90000);
        QTRY_VERIFY_WITH_TIMEOUT(!engineRunning(window_->engineProcessId, window_->engineStartTime),
                                 10000);
        QCOMPARE(window_->leds.mode, qint16(kLedComplete));
        const QByteArray log = readWhole(logFile);
        QVERIFY2(log.startsWith("\"L [001002004005] 2 E {"), log.left(80).constData());
        // The technical data read first, then the chosen blocks: overview, three days of
        // activities, detailed speed; the saved file holds them as served, the technical data
        // in its place at the end.
        const QList<ServedBlock> blocks = simulator_->servedBlocks();
        QList<int> treps;
        for (const ServedBlock& block : blocks)
            treps << block.trep;
        QCOMPARE(treps, (QList<int>{5, 1, 2, 2, 2, 4}));
        const QStringList saved = filesIn(DownloadSettings::vuDataPath);
        QVERIFY(saved.size() == 1 &&
                readWhole(DownloadSettings::vuDataPath + "/" + saved.first()) ==
                    SimulatorRun::join(blocks.mid(1) + blocks.mid(0, 1)));

        // Closing the front end moves that log into the archive.
        window_->close();
        window_.reset();
        QVERIFY(!QFile::exists(logFile));
        QProcess unzip;
        unzip.start("unzip", {"-p", QFileInfo(logFile).path() + "/VNPC_Log.zip", "VNPC.log"});
        QVERIFY(unzip.waitForFinished(10000) && unzip.readAllStandardOutput() == log);
    }
};

QTEST_MAIN(TestFrontEndToEnd)
#include "test_front_e2e.moc"
