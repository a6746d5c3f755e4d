// The front end with the real engine against the simulated vehicle unit: the buttons start
// VNPCBase, the poll follows its status file to the end, and a new start stops the engine
// that is still running.
#include "DownloadSettings.h"
#include "Form1.h"
#include "Launcher.h"
#include "MessageBox.h"
#include "Progress.h"
#include "SkinControls.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {
const QString kBin = QStringLiteral(VANTREL_BIN_DIR);

int FileCount(const QString& folder) {
    return int(QDir(folder).entryList(QDir::Files).size());
}
} // namespace

class TestFrontEndToEnd : public QObject {
    Q_OBJECT

    QTemporaryDir home_;
    QProcess simulator_;
    QStringList boxes_;

    QString dataFolder() const { return home_.filePath("data/Fenwright/Vantrel PC"); }

private slots:
    void initTestCase() {
        if (!QFile::exists(kBin + "/VNPCBase") || !QFile::exists(kBin + "/VantrelVuSim"))
            QSKIP("VNPCBase and VantrelVuSim are not built");
        // The engine is started detached and inherits this environment.
        qputenv("HOME", home_.path().toUtf8());
        qputenv("XDG_DATA_HOME", home_.filePath("data").toUtf8());
        qputenv("XDG_CONFIG_HOME", home_.filePath("config").toUtf8());
        qputenv("VANTREL_SYSFS_ROOT", home_.filePath("sim/sys").toUtf8());
        qputenv("VANTREL_DEV_ROOT", home_.filePath("sim/dev").toUtf8());
        simulator_.setProgram(kBin + "/VantrelVuSim");
        simulator_.setArguments(
            {"--root", home_.filePath("sim"), "--log", home_.filePath("sim.log")});
        simulator_.start();
        QVERIFY(simulator_.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(simulator_.readAllStandardOutput().contains("READY") ||
                                     QFile::exists(home_.filePath("sim/dev/ttyUSB3")),
                                 10000);
        SetMessageBoxHandler([this](const QString& text, const QString&) { boxes_ << text; });
    }

    void cleanupTestCase() {
        simulator_.terminate();
        simulator_.waitForFinished(3000);
    }

    void init() { boxes_.clear(); }

    // The cable check (a command without a download letter) through the launcher alone.
    void cableCheck() {
        const QString engine = FindEngine(kBin);
        QVERIFY(!engine.isEmpty());
        const QString status = dataFolder() + "/" + kStatusFileName;
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
        QFile latest(window.AppDataFolder + "/VantrelPCLatestVU.ini");
        QVERIFY(latest.open(QIODevice::WriteOnly | QIODevice::Truncate));
        latest.write("001002005\r\n7\r\n");
        latest.close();
        // Whichever program wrote the settings file first chose the folders.
        const QString target =
            folder == "VU" ? DownloadSettings::VUDataPath : DownloadSettings::CardDataPath;
        const int before = FileCount(target);
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
        QCOMPARE(FileCount(target), before + 1);
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
