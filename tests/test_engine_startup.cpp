// The engine's start-up, run as the real program in a private home folder, and its window
// loaded offscreen.

#include "DiagnosticsLayout.h"
#include "EngineRun.h"
#include "FakeCable.h"
#include "MessageBox.h"
#include "frmDiagnostics.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QTest>
#include <csignal>

namespace {
QList<QByteArray> Lines(const QByteArray& text) {
    return text.split('\n');
}
} // namespace

class TestEngineStartup : public QObject {
    Q_OBJECT
private slots:
    void noCommandLineIsRefused() {
        EngineHome home;
        const EngineResult result = home.run({});
        QVERIFY(result.finished);
        QCOMPARE(result.exitStatus, QProcess::NormalExit);
        QCOMPARE(result.messageBoxes, QStringList{"Do not run this application alone"});
        QCOMPARE(home.status(), QByteArray("Failed\r\n"));
        const QByteArray expectedHeader = "\r\nVantrelPC Version " VANTREL_VERSION_TEXT
                                          "\r\nLog Folder " +
                                          home.dataFolder().toUtf8() + "\r\n";
        QVERIFY2(home.log().startsWith(expectedHeader), home.log().constData());
        // The engine's own variant of the settings file, since there was none.
        QVERIFY(home.settings().startsWith("#==============  Settings ==============#\r\n"));
    }

    void germanRefusal() {
        EngineHome home;
        QVERIFY(WriteEngineSettings(home, {"Language=DE"}));
        const EngineResult result = home.run({});
        QCOMPARE(result.messageBoxes,
                 QStringList{QString::fromUtf8("Führen Sie diese Anwendung nicht einzeln aus")});
        QCOMPARE(home.settings(), QByteArray("Language=DE\r\n")); // never rewritten
    }

    void cableCheck_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("withCable");
        QTest::addColumn<QByteArray>("status");
        QTest::addColumn<QStringList>("boxes");
        QTest::addColumn<QByteArrayList>("logLines");
        QTest::newRow("cable present") << QStringList{"E", "{4200,7500}"} << true
                                       << QByteArray("Complete\r\n") << QStringList{}
                                       << QByteArrayList{"VantrelPC cable at index 0 - Closed",
                                                         "FT_Open succeeded",
                                                         "Com port - 7",
                                                         "Language: EN",
                                                         "FileNameStyle:  ",
                                                         "DiagnosticsWindow: False",
                                                         "CloseDiagnosticsWindow: True",
                                                         "Positon: {4200,7500}",
                                                         "Complete"};
        QTest::newRow("no cable") << QStringList{"A E {0,0}"} << false << QByteArray("Failed\r\n")
                                  << QStringList{"Can't find a VantrelPC cable"}
                                  << QByteArrayList{
                                         "FT_CreateDeviceInfoList, number of devices - 0", "Failed",
                                         "Can't find a VantrelPC cable"};
        QTest::newRow("latest VU with a short list")
            << QStringList{"\"L [01] 5 E {0,0}\""} << true << QByteArray("Failed\r\n")
            << QStringList{"Invalid TREP list"} << QByteArrayList{"Com port - 7", "Failed"};
    }
    void cableCheck() {
        QFETCH(QStringList, arguments);
        QFETCH(bool, withCable);
        QFETCH(QByteArray, status);
        QFETCH(QStringList, boxes);
        QFETCH(QByteArrayList, logLines);
        EngineHome home;
        if (withCable) {
            FakeUsbDevice cable;
            cable.port = 7;
            QVERIFY(AddFakeUsbSerialDevice(home.sysfsRoot, cable));
            QFile node(home.devRoot + "/ttyUSB7");
            QVERIFY(node.open(QIODevice::WriteOnly));
        }
        const EngineResult result = home.run(arguments);
        QVERIFY(result.finished);
        QCOMPARE(result.exitStatus, QProcess::NormalExit);
        QCOMPARE(home.status(), status);
        QCOMPARE(result.messageBoxes, boxes);
        const QList<QByteArray> lines = Lines(home.log());
        QVERIFY(lines.first().startsWith(arguments.join(' ').toUtf8()));
        qsizetype at = 0;
        for (const QByteArray& expected : logLines) {
            at = lines.indexOf(expected + '\r', at);
            QVERIFY2(at >= 0, "missing or out of order: " + expected + "\n" + home.log());
        }
    }

    // A data folder that cannot be made: the engine says so once and goes on with its work.
    void unwritableDataFolder() {
        EngineHome home;
        QFile blocker(home.home.filePath("data"));
        QVERIFY(blocker.open(QIODevice::WriteOnly)); // a file where the folder should be
        blocker.close();
        const EngineResult result = home.run({"A E {0,0}"});
        QVERIFY(result.finished);
        QCOMPARE(result.exitStatus, QProcess::NormalExit);
        QCOMPARE(result.messageBoxes.size(), 3);
        QVERIFY(result.messageBoxes[0].startsWith("Can't write the log file"));
        QCOMPARE(result.messageBoxes[1], QString("Can't find a VantrelPC cable"));
        QCOMPARE(result.messageBoxes[2], QString("Disk not available to write status"));
    }

    // A request to end (the front end's SIGTERM, a closed terminal's SIGHUP) ends the engine
    // like closing its window: at once, with no status of its own, even while a start-up box
    // waits for its OK (then nothing after the box may happen).
    void endRequest_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("cable"); // "", "present" or "held"
        QTest::addColumn<int>("signal");
        QTest::addColumn<QByteArray>("waitForLog"); // the box is open (or the engine idle)
        QTest::addColumn<QByteArray>("status");
        QTest::newRow("open after the check, SIGTERM")
            << QStringList{"V E"} << "present" << SIGTERM << QByteArray("\r\nComplete\r\n")
            << QByteArray("Complete\r\n");
        QTest::newRow("open after the check, SIGHUP")
            << QStringList{"V E"} << "present" << SIGHUP << QByteArray("\r\nComplete\r\n")
            << QByteArray("Complete\r\n");
        QTest::newRow("box: no command line")
            << QStringList{} << "" << SIGTERM << QByteArray("Log Folder ") << QByteArray();
        QTest::newRow("box: no cable") << QStringList{"A E"} << "" << SIGTERM
                                       << QByteArray("number of devices - 0") << QByteArray();
        QTest::newRow("box: cable held open")
            << QStringList{"E"} << "held" << SIGTERM << QByteArray("is held by") << QByteArray();
    }
    void endRequest() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, cable);
        QFETCH(int, signal);
        QFETCH(QByteArray, waitForLog);
        QFETCH(QByteArray, status);
        EngineHome home;
        QProcess holder;
        if (!cable.isEmpty()) {
            QVERIFY(AddFakeUsbSerialDevice(home.sysfsRoot, FakeUsbDevice{}));
            QFile node(home.devRoot + "/ttyUSB3");
            QVERIFY(node.open(QIODevice::WriteOnly));
        }
        if (cable == "held") {
            holder.setStandardInputFile(home.devRoot + "/ttyUSB3");
            holder.start("sleep", {"30"});
            QVERIFY(holder.waitForStarted());
        }
        QProcessEnvironment env = home.environment();
        if (status.isEmpty()) // a real box, which waits under the offscreen platform too
            env.remove("VANTREL_NONINTERACTIVE");
        QProcess engine;
        engine.setProcessEnvironment(env);
        engine.start(QStringLiteral(VANTREL_BIN_DIR "/VNPCBase"), arguments);
        QTRY_VERIFY_WITH_TIMEOUT(home.log().contains(waitForLog), 10000);
        QTest::qWait(300);
        QCOMPARE(engine.state(), QProcess::Running);
        ::kill(pid_t(engine.processId()), signal);
        const EngineResult result = EngineHome::finish(engine, 5000);
        holder.kill();
        holder.waitForFinished();
        QVERIFY(result.finished);
        QCOMPARE(result.exitStatus, QProcess::NormalExit);
        QCOMPARE(home.status(), status);
        // Nothing was logged after the line before the box.
        const QList<QByteArray> lines = LogLines(home.log().trimmed());
        QVERIFY2(lines.last().contains(waitForLog.trimmed()), home.log().constData());
    }

    // In process: "D" shows the window, the position is applied, and the layout follows
    // the outer size.
    void windowShownAndLaidOut() {
        EngineHome home;
        QVERIFY(AddFakeUsbSerialDevice(home.sysfsRoot, FakeUsbDevice{}));
        QFile node(home.devRoot + "/ttyUSB3");
        QVERIFY(node.open(QIODevice::WriteOnly));
        const QProcessEnvironment env = home.environment();
        for (const QString& key : env.keys())
            qputenv(key.toUtf8(), env.value(key).toUtf8());
        QStringList boxes;
        SetMessageBoxHandler([&boxes](const QString& text, const QString&) { boxes << text; });

        frmDiagnostics window;
        window.engine().Form_Load("D V E {1500,3000}");
        QVERIFY(boxes.isEmpty());
        QVERIFY(window.isVisible());
        QVERIFY(!window.engine().ended());
        QCOMPARE(window.pos(), QPoint(200, 100));
        QVERIFY(
            window.findChild<QLabel*>("lblRev")->text().endsWith("Version " VANTREL_VERSION_TEXT));
        QCOMPARE(window.findChild<QLabel*>("lblStatus")->text(), QString("Complete"));
        // The message area shows the log once the window is seen, the newest line last.
        QTRY_VERIFY(window.findChild<QPlainTextEdit*>("tbMessages")
                        ->toPlainText()
                        .contains("Positon: {1500,3000}"));

        // An outer height of 6000 twips, frame included.
        const int frame = window.frameGeometry().height() - window.height();
        window.resize(window.width(), 6000 / 15 - frame);
        QCOMPARE(window.findChild<QLabel*>("lblStatus")->y(), 5030 / 15);
        QCOMPARE(window.findChild<QPlainTextEdit*>("tbMessages")->height(), 4620 / 15);
        window.close();
        QVERIFY(window.engine().ended());
        SetMessageBoxHandler({});
    }
};

QTEST_MAIN(TestEngineStartup)
#include "test_engine_startup.moc"
