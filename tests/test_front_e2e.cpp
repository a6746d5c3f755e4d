// The front end with the real engine against the simulated vehicle unit: a new start stops
// the engine that is still downloading, and the poll follows the new one's status file to
// the end; a download that fails ends the poll in the failed state.
#include "DownloadSettings.h"
#include "MainWindow.h"
#include "Launcher.h"
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
        SetMessageBoxHandler([this](const QString& text, const QString&) { boxes << text; });
        window.setEngineFolder(VANTREL_BIN_DIR);
        window.Form_Load();
        return true;
    }

    EngineHome home;
    SimulatorRun simulator;
    QStringList boxes;
    Form1 window;
};
} // namespace

class TestFrontEndToEnd : public QObject {
    Q_OBJECT

private slots:
    void cardStartedOverAllVu() {
        Session session({});
        QVERIFY2(session.load(), session.simulator.startOutput().constData());
        Form1& window = session.window;
        QTest::mouseClick(window.cmdAllVU, Qt::LeftButton);
        const qint64 first = window.EngineProcessId;
        const qint64 firstStart = window.EngineStartTime;
        QVERIFY(EngineRunning(first, firstStart));
        // Once the first engine is downloading, start the card download over it.
        QTRY_VERIFY_WITH_TIMEOUT(InterpretStatusLine(ReadStatusLine(window.statusFilePath())) ==
                                     PollAction::Progress,
                                 20000);
        QTest::mouseClick(window.cmdCard, Qt::LeftButton);
        QVERIFY(!EngineRunning(first, firstStart) && window.EngineProcessId != first);
        QTRY_VERIFY_WITH_TIMEOUT(window.Leds.LedMode != kLedRunning, 90000);
        QCOMPARE(window.Leds.LedMode + 100 * window.Leds.LedIndex, kLedComplete + 100 * kCard);
        QVERIFY2(session.boxes.isEmpty(), qPrintable(session.boxes.join(" | ")));
        QCOMPARE(window.PictureProgBar->image(), window.PictureProgBarBuffer.copy(0, 0, 61, 208));
        QTRY_VERIFY_WITH_TIMEOUT(!EngineRunning(window.EngineProcessId, window.EngineStartTime),
                                 10000);
        // The card's file as the unit served it; nothing of the stopped download.
        QVERIFY(FilesIn(DownloadSettings::VUDataPath).isEmpty());
        const QStringList saved = FilesIn(DownloadSettings::CardDataPath);
        QVERIFY(saved.size() == 1 && ReadAll(DownloadSettings::CardDataPath + "/" + saved[0]) ==
                                         session.simulator.servedBlocks().last().bytes);
    }

    // Once the download is under way the unit falls silent: the lamp stays lit in the failed
    // look, the bar where it stopped, and the face says why. (An engine that dies is the same
    // poll of a status file; test_front_window covers it with a stand-in.)
    void failedDownload() {
        Session session({"--fault", "silent:on=data,trep=2"});
        QVERIFY2(session.load(), session.simulator.startOutput().constData());
        Form1& window = session.window;
        QTest::mouseClick(window.cmdAllVU, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!window.timerActivity.isActive(), 60000);
        QCOMPARE(window.Leds.LedMode, qint16(kLedFailed));
        QCOMPARE(window.toolTip(), "Failed - Receive timeout");
        QTRY_VERIFY(!window.tmrLEDs.isActive()); // lit for good
        QVERIFY(window.PictureLED[kAllVU]->image() != window.PictureLEDOnBuffer);
        QVERIFY(window.PictureProgBar->image() != window.PictureProgBarBuffer.copy(0, 0, 61, 208));
        QVERIFY2(session.boxes.isEmpty(), qPrintable(session.boxes.join(" | ")));
    }
};

QTEST_MAIN(TestFrontEndToEnd)
#include "test_front_e2e.moc"
