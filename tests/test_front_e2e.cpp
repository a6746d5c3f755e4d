// The front end with the real engine against the simulated vehicle unit: a new start stops
// the engine that is still downloading, and the poll follows the new one's status file to
// the end. A failed download is the poll of a Failed line: see poll and failureLooks in
// test_front_window, and noAnswer in test_e2e_link for the line a silent unit leads to.
#include "DownloadSettings.h"
#include "Launcher.h"
#include "MainWindow.h"
#include "MessageBox.h"
#include "Progress.h"
#include "SimulatorRun.h"
#include "SkinControls.h"

#include <QtTest>

class TestFrontEndToEnd : public QObject {
    Q_OBJECT

private slots:
    void cardStartedOverAllVu() {
        EngineHome home;
        SimulatorRun simulator(3, {});
        QVERIFY2(simulator.ready(), simulator.startOutput().constData());
        simulator.connect(home);
        home.exportEnvironment();
        QStringList boxes;
        setMessageBoxHandler([&boxes](const QString& text, const QString&) { boxes << text; });
        MainWindow window;
        window.setEngineFolder(VANTREL_BIN_DIR);
        window.load();
        QTest::mouseClick(window.allVuButton, Qt::LeftButton);
        const qint64 first = window.engineProcessId;
        const qint64 firstStart = window.engineStartTime;
        QVERIFY(engineRunning(first, firstStart));
        // Once the first engine is downloading, start the card download over it.
        QTRY_VERIFY_WITH_TIMEOUT(interpretStatusLine(readStatusLine(window.statusFilePath())) ==
                                     PollAction::Progress,
                                 20000);
        QTest::mouseClick(window.cardButton, Qt::LeftButton);
        QVERIFY(!engineRunning(first, firstStart) && window.engineProcessId != first);
        QTRY_VERIFY_WITH_TIMEOUT(window.leds.mode != kLedRunning, 90000);
        QCOMPARE(window.leds.mode + 100 * window.leds.index, kLedComplete + 100 * kCard);
        QVERIFY2(boxes.isEmpty(), qPrintable(boxes.join(" | ")));
        QCOMPARE(window.progressBar->image(), window.progressBarImage.copy(0, 0, 61, 208));
        QTRY_VERIFY_WITH_TIMEOUT(!engineRunning(window.engineProcessId, window.engineStartTime),
                                 10000);
        // The card's file as the unit served it; nothing of the stopped download.
        QVERIFY(filesIn(DownloadSettings::vuDataPath).isEmpty());
        const QStringList saved = filesIn(DownloadSettings::cardDataPath);
        QVERIFY(saved.size() == 1 && readWhole(DownloadSettings::cardDataPath + "/" + saved[0]) ==
                                         simulator.servedBlocks().last().bytes);
    }
};

QTEST_MAIN(TestFrontEndToEnd)
#include "test_front_e2e.moc"
