// The Latest VU selection end to end: chosen and saved in the selection window, downloaded
// by the real engine from the simulated vehicle unit, and the engine's log archived when the
// front end closes.
#include "DownloadSettings.h"
#include "LatestVuWindow.h"
#include "Launcher.h"
#include "MainWindow.h"
#include "MessageBox.h"
#include "SimulatorRun.h"
#include "SkinControls.h"

#include <QLineEdit>
#include <QtTest>

class TestLatestEndToEnd : public QObject {
    Q_OBJECT

private slots:
    void savedSelectionIsDownloaded() {
        EngineHome home;
        // A port of its own: the other end-to-end tests run at the same time.
        SimulatorRun simulator(160, {});
        QVERIFY2(simulator.ready(), simulator.startOutput().constData());
        simulator.connect(home);
        home.exportEnvironment();
        QStringList boxes;
        setMessageBoxHandler([&boxes](const QString& text, const QString&) { boxes << text; });

        auto* window = new MainWindow;
        window->setEngineFolder(VANTREL_BIN_DIR);
        window->load();
        auto* selection = new LatestVuWindow(window);
        window->setLatestVuWindow(selection);
        const QString logFile = window->appDataFolder + "/VNPC.log";
        // Chosen in the window: no events and faults, detailed speed, one and a half days.
        QTest::mousePress(window->latestVuButton, Qt::RightButton);
        QTest::mouseClick(selection->checkBoxes[2], Qt::LeftButton);
        QTest::mouseClick(selection->checkBoxes[3], Qt::LeftButton);
        selection->daysEdit->setText("1.5");
        QTest::mouseClick(selection->saveButton, Qt::LeftButton);
        QCOMPARE(readWhole(window->appDataFolder + "/" + kLatestVUFileName),
                 QByteArray("001002004005\r\n2\r\n"));

        QTest::mousePress(window->latestVuButton, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(window->leds.mode != kLedRunning, 90000);
        QCOMPARE(window->leds.mode, qint16(kLedComplete));
        QVERIFY2(boxes.isEmpty(), qPrintable(boxes.join(" | ")));
        QTRY_VERIFY_WITH_TIMEOUT(!engineRunning(window->engineProcessId, window->engineStartTime),
                                 10000);
        const QByteArray log = readWhole(logFile);
        QVERIFY2(log.startsWith("\"L [001002004005] 2 E {"), log.left(80).constData());
        // The technical data read first, then the chosen blocks: overview, three days of
        // activities, detailed speed; the saved file holds them as served, the technical data
        // in its place at the end.
        const QList<ServedBlock> blocks = simulator.servedBlocks();
        QList<int> treps;
        for (const ServedBlock& block : blocks)
            treps << block.trep;
        QCOMPARE(treps, (QList<int>{5, 1, 2, 2, 2, 4}));
        const QStringList saved = filesIn(DownloadSettings::vuDataPath);
        QVERIFY(saved.size() == 1 &&
                readWhole(DownloadSettings::vuDataPath + "/" + saved.first()) ==
                    SimulatorRun::join(blocks.mid(1) + blocks.mid(0, 1)));

        // Closing the front end moves that log into the archive.
        window->close();
        delete window;
        QVERIFY(!QFile::exists(logFile));
        QProcess unzip;
        unzip.start("unzip", {"-p", QFileInfo(logFile).path() + "/VNPC_Log.zip", "VNPC.log"});
        QVERIFY(unzip.waitForFinished(10000));
        QCOMPARE(unzip.readAllStandardOutput(), log);
    }
};

QTEST_MAIN(TestLatestEndToEnd)
#include "test_latest_e2e.moc"
