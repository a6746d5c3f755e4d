// The front end with the real engine against the simulated vehicle unit: a new start stops
// the engine that is still downloading, and the poll follows the new one's status file to
// the end.
#include "DownloadSettings.h"
#include "Form1.h"
#include "Launcher.h"
#include "MessageBox.h"
#include "Progress.h"
#include "SimulatorRun.h"
#include "SkinControls.h"

#include <QtTest>

class TestFrontEndToEnd : public QObject {
    Q_OBJECT

private slots:
    void cardStartedOverAllVu() {
        const QString bin = QStringLiteral(VANTREL_BIN_DIR);
        EngineHome home;
        SimulatorRun simulator(3, {});
        QVERIFY2(simulator.ready(), simulator.startOutput().constData());
        simulator.connect(home);
        home.exportEnvironment();
        QStringList boxes;
        SetMessageBoxHandler([&boxes](const QString& text, const QString&) { boxes << text; });

        Form1 window;
        window.setEngineFolder(bin);
        window.Form_Load();
        QTest::mouseClick(window.cmdAllVU, Qt::LeftButton);
        const qint64 first = window.EngineProcessId;
        const qint64 firstStart = window.EngineStartTime;
        QVERIFY(EngineRunning(first, firstStart));
        // Once the first engine is downloading, start the card download over it.
        QTRY_VERIFY_WITH_TIMEOUT(InterpretStatusLine(ReadStatusLine(window.statusFilePath())) ==
                                     PollAction::Progress,
                                 20000);
        const QStringList vuFiles = FilesIn(DownloadSettings::VUDataPath);
        const QStringList cardFiles = FilesIn(DownloadSettings::CardDataPath);
        QTest::mouseClick(window.cmdCard, Qt::LeftButton);
        QVERIFY(!EngineRunning(first, firstStart) && window.EngineProcessId != first);
        QTRY_VERIFY_WITH_TIMEOUT(window.Leds.LedMode != kLedRunning, 90000);
        QCOMPARE(window.Leds.LedMode + 100 * window.Leds.LedIndex, kLedComplete + 100 * kCard);
        QVERIFY2(boxes.isEmpty(), qPrintable(boxes.join(" | ")));
        QVERIFY(!window.timerActivity.isActive());
        QCOMPARE(window.PictureProgBar->image(), window.PictureProgBarBuffer.copy(0, 0, 61, 208));
        QTRY_VERIFY_WITH_TIMEOUT(!EngineRunning(window.EngineProcessId, window.EngineStartTime),
                                 10000);
        // The card's file as the unit served it; nothing of the stopped download.
        QCOMPARE(FilesIn(DownloadSettings::VUDataPath), vuFiles);
        QStringList added = FilesIn(DownloadSettings::CardDataPath);
        for (const QString& name : cardFiles)
            added.removeOne(name);
        QCOMPARE(added.size(), 1);
        QVERIFY(ReadAll(DownloadSettings::CardDataPath + "/" + added.first()) ==
                simulator.servedBlocks().last().bytes);
    }
};

QTEST_MAIN(TestFrontEndToEnd)
#include "test_front_e2e.moc"
