// The front end with the real engine against the simulated vehicle unit: a new start stops
// the engine that is still downloading, and the poll follows the new one's status file to
// the end; a download that fails ends the poll in the failed state.
#include "DownloadSettings.h"
#include "Launcher.h"
#include "MainWindow.h"
#include "MessageBox.h"
#include "Progress.h"
#include "SimulatorRun.h"
#include "SkinControls.h"

#include <QtTest>

namespace {
// The window with the engine beside it and a simulated unit with the options given.
struct Session {
    explicit Session(const QStringList& simulatorOptions) : simulator(3, simulatorOptions) {}

    // Loads the window where the unit answers; false when the unit did not start.
    bool load() {
        if (!simulator.ready()) return false;
        simulator.connect(home);
        home.exportEnvironment();
        setMessageBoxHandler([this](const QString& text, const QString&) { boxes << text; });
        window.setEngineFolder(VANTREL_BIN_DIR);
        window.load();
        return true;
    }

    EngineHome home;
    SimulatorRun simulator;
    QStringList boxes;
    MainWindow window;
};
} // namespace

class TestFrontEndToEnd : public QObject {
    Q_OBJECT

private slots:
    void cardStartedOverAllVu() {
        Session session({});
        QVERIFY2(session.load(), session.simulator.startOutput().constData());
        MainWindow& window = session.window;
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
        QVERIFY2(session.boxes.isEmpty(), qPrintable(session.boxes.join(" | ")));
        QCOMPARE(window.progressBar->image(), window.progressBarImage.copy(0, 0, 61, 208));
        QTRY_VERIFY_WITH_TIMEOUT(!engineRunning(window.engineProcessId, window.engineStartTime),
                                 10000);
        // The card's file as the unit served it; nothing of the stopped download.
        QVERIFY(filesIn(DownloadSettings::vuDataPath).isEmpty());
        const QStringList saved = filesIn(DownloadSettings::cardDataPath);
        QVERIFY(saved.size() == 1 && readWhole(DownloadSettings::cardDataPath + "/" + saved[0]) ==
                                         session.simulator.servedBlocks().last().bytes);
    }

    // Once the download is under way the unit falls silent: the lamp stays lit in the failed
    // look, the bar where it stopped, and the face says why. (An engine that dies is the same
    // poll of a status file; test_front_window covers it with a stand-in.)
    void failedDownload() {
        Session session({"--fault", "silent:on=data,trep=2"});
        QVERIFY2(session.load(), session.simulator.startOutput().constData());
        MainWindow& window = session.window;
        QTest::mouseClick(window.allVuButton, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!window.activityTimer.isActive(), 60000);
        QCOMPARE(window.leds.mode, qint16(kLedFailed));
        QCOMPARE(window.toolTip(), "Failed - Receive timeout");
        QTRY_VERIFY(!window.lampTimer.isActive()); // lit for good
        QVERIFY(window.lamps[kAllVU]->image() != window.lampOnImage);
        QVERIFY(window.progressBar->image() != window.progressBarImage.copy(0, 0, 61, 208));
        QVERIFY2(session.boxes.isEmpty(), qPrintable(session.boxes.join(" | ")));
    }
};

QTEST_MAIN(TestFrontEndToEnd)
#include "test_front_e2e.moc"
