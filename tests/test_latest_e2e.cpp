// The Latest VU selection end to end: chosen and saved in the selection window, downloaded
// by the real engine from the simulated vehicle unit, and the engine's log archived when the
// front end closes.
#include "Form1.h"
#include "Launcher.h"
#include "MessageBox.h"
#include "SimulatorRun.h"
#include "SkinControls.h"
#include "frmLatestSettings.h"

#include "TestFiles.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>
#include <memory>

namespace {
const QString kBin = QStringLiteral(VANTREL_BIN_DIR);

// The TREP of every Transfer Data request the engine logged, in order.
QStringList RequestedTreps(const QString& log) {
    static const QRegularExpression request(
        QStringLiteral("^80 EE F0 [0-9A-F]{2} 36 ([0-9A-F]{2})"),
        QRegularExpression::MultilineOption);
    QStringList treps;
    for (const QRegularExpressionMatch& match : request.globalMatch(log))
        treps << match.captured(1);
    return treps;
}

QDate LoggedDate(const QString& log, const QString& label) {
    const QRegularExpression line(label + QStringLiteral("(?: -)? (\\d{4}-\\d{2}-\\d{2}) "));
    return QDate::fromString(line.match(log).captured(1), Qt::ISODate);
}
} // namespace

class TestLatestEndToEnd : public QObject {
    Q_OBJECT

    EngineHome home_;
    std::unique_ptr<SimulatorRun> simulator_;
    QStringList boxes_;

private slots:
    void initTestCase() {
        if (!QFile::exists(kBin + "/VNPCBase") || !QFile::exists(kBin + "/VantrelVuSim"))
            QSKIP("VNPCBase and VantrelVuSim are not built");
        // A port of its own: the other end-to-end tests run at the same time.
        simulator_ = std::make_unique<SimulatorRun>(160, QStringList{});
        QVERIFY2(simulator_->ready(), simulator_->startOutput().constData());
        simulator_->connect(home_);
        home_.exportEnvironment();
        SetMessageBoxHandler([this](const QString& text, const QString&) { boxes_ << text; });
    }

    void cleanupTestCase() { simulator_.reset(); }

    void savedSelectionIsDownloaded() {
        auto* window = new Form1;
        window->setEngineFolder(kBin);
        window->Form_Load();
        auto* selection = new frmLatestSettings(window);
        window->setLatestSettingsWindow(selection);
        const QString latestFile = window->AppDataFolder + "/" + kLatestVUFileName;
        const QString logFile = window->AppDataFolder + "/VNPC.log";
        QVERIFY(!QFile::exists(latestFile));

        // Chosen in the window: no events and faults, detailed speed, one and a half days.
        QTest::mousePress(window->cmdLatestVU, Qt::RightButton);
        QVERIFY(selection->isVisible());
        QTest::mouseClick(selection->Check1[2], Qt::LeftButton);
        QTest::mouseClick(selection->Check1[3], Qt::LeftButton);
        selection->tbDays->setText("1.5");
        QTest::mouseClick(selection->cmdSave, Qt::LeftButton);
        QVERIFY(!selection->isVisible());
        QCOMPARE(ReadAll(latestFile), QByteArray("001002004005\r\n2\r\n"));

        QTest::mousePress(window->cmdLatestVU, Qt::LeftButton);
        QVERIFY(window->EngineProcessId > 0);
        QTRY_VERIFY_WITH_TIMEOUT(window->Leds.LedMode != kLedRunning, 90000);
        QCOMPARE(window->Leds.LedMode, qint16(kLedComplete));
        QVERIFY2(boxes_.isEmpty(), qPrintable(boxes_.join(" | ")));
        QTRY_VERIFY_WITH_TIMEOUT(!EngineRunning(window->EngineProcessId, window->EngineStartTime),
                                 10000);

        const QString log = QString::fromUtf8(ReadAll(logFile));
        QVERIFY2(log.startsWith("\"L [001002004005] 2 E {"), qPrintable(log.left(80)));
        // The download interface version (refused), the technical data, then the chosen
        // blocks, one activities request per day; the technical data asked for again is taken
        // from the first read.
        const QStringList treps = RequestedTreps(log);
        QStringList blocks = treps;
        blocks.erase(std::unique(blocks.begin(), blocks.end()), blocks.end());
        QCOMPARE(blocks, (QStringList{"00", "05", "01", "02", "04"}));
        QVERIFY(log.contains("TREP5 read previously"));
        QCOMPARE(treps.count("02"), 3);
        const QDate latest = LoggedDate(log, "Latest date");
        QVERIFY(latest.isValid());
        QCOMPARE(LoggedDate(log, "Download from"), latest.addDays(-2));

        // Closing the front end moves that log into the archive.
        window->close();
        delete window;
        QVERIFY(!QFile::exists(logFile));
        QProcess unzip;
        unzip.start("unzip", {"-p", QFileInfo(logFile).path() + "/VNPC_Log.zip", "VNPC.log"});
        QVERIFY(unzip.waitForFinished(10000));
        QCOMPARE(QString::fromUtf8(unzip.readAllStandardOutput()), log);
    }
};

QTEST_MAIN(TestLatestEndToEnd)
#include "test_latest_e2e.moc"
