// The headless download command (scripts/download.sh) against the simulated vehicle unit:
// it starts the simulator, runs the real engine, prints the saved file and the final status,
// and leaves no simulator behind.
#include "DownloadRun.h"

#include <QtTest>

namespace {
const QString kBin = QStringLiteral(VANTREL_BIN_DIR);
const QString kScript = QStringLiteral(VANTREL_SOURCE_DIR "/scripts/download.sh");
const QString kSamples = QStringLiteral(VANTREL_SAMPLES_DIR);
// QSerialPort locks by port name: this test's simulator has a number no other test uses.
const QString kPort = QStringLiteral("--port 140");

// What the saved file holds, measured against the blocks the simulator served.
enum class Saved {
    None,     // nothing saved
    Rotation, // vehicle-unit file: every served block, the technical data read first moved last
    Tail,     // card file: the card data that followed the technical data
};
} // namespace
Q_DECLARE_METATYPE(Saved)

class TestHeadless : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        if (!QFile::exists(kBin + "/VNPCBase") || !QFile::exists(kBin + "/VantrelVuSim"))
            QSKIP("VNPCBase and VantrelVuSim are not built");
    }

    void download_data() {
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QString>("simArgs");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<Saved>("saved");
        QTest::addColumn<QString>("status");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("all VU") << "A"
                                << ""
                                << "VU" << Saved::Rotation << "Complete" << 0;
        QTest::newRow("latest VU") << "L [001002005] 7"
                                   << ""
                                   << "VU" << Saved::Rotation << "Complete" << 0;
        QTest::newRow("card") << "C"
                              << ""
                              << "Card" << Saved::Tail << "Complete" << 0;
        QTest::newRow("sample file") << "A"
                                     << "--ddd " + kSamples + "/vu_gen1_000-anonymized.DDD"
                                     << "VU" << Saved::Rotation << "Complete" << 0;
        QTest::newRow("no answer") << "A"
                                   << "--fault silent"
                                   << "" << Saved::None << "Failed - Receive timeout" << 1;
    }
    void download() {
        QFETCH(QString, argument);
        QFETCH(QString, simArgs);
        QFETCH(QString, folder);
        QFETCH(Saved, saved);
        QFETCH(QString, status);
        QFETCH(int, exitCode);
        if (simArgs.contains(kSamples) && !QFile::exists(simArgs.section(' ', 1)))
            QSKIP("sample files are absent");
        DownloadHome home;
        const DownloadResult result =
            home.run("bash", {kScript, argument}, kPort + " " + simArgs, kBin);
        const char* output = result.output.constData();
        QVERIFY2(result.finished, output);
        QCOMPARE(result.status, status);
        QCOMPARE(result.exitCode, exitCode);
        QVERIFY2(home.simulatorFolders().isEmpty(), output);
        if (saved == Saved::None) {
            QVERIFY2(result.savedPaths.isEmpty(), output);
            return;
        }
        QCOMPARE(result.savedPaths.size(), 1);
        const QString path = result.savedPaths.first();
        QVERIFY2(path.startsWith(home.documents() + "/"), qPrintable(path));
        QVERIFY2(path.contains("/Data/" + folder + "/"), qPrintable(path));
        const QByteArray file = ReadAll(path);
        const QByteArray served = ReadAll(home.served());
        QVERIFY(!served.isEmpty());
        if (saved == Saved::Rotation) {
            QCOMPARE(file.size(), served.size());
            QVERIFY(file.startsWith("\x76\x01")); // the overview leads a vehicle-unit file
            QVERIFY((served + served).contains(file));
        } else {
            QVERIFY(file.size() > 1000);
            QVERIFY(served.startsWith("\x76\x05"));
            QVERIFY(served.endsWith(file));
        }
    }
};

QTEST_MAIN(TestHeadless)
#include "test_headless.moc"
