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

    // "V" keeps the engine open after the cable check; SIGTERM then ends it like closing
    // its window: no further status.
    void terminationEndsAnOpenEngine() {
        EngineHome home;
        QVERIFY(AddFakeUsbSerialDevice(home.sysfsRoot, FakeUsbDevice{}));
        QFile node(home.devRoot + "/ttyUSB3");
        QVERIFY(node.open(QIODevice::WriteOnly));
        QProcess engine;
        home.start(engine, {"V E"});
        QTRY_COMPARE_WITH_TIMEOUT(home.status(), QByteArray("Complete\r\n"), 10000);
        QTest::qWait(200);
        QCOMPARE(engine.state(), QProcess::Running);
        ::kill(pid_t(engine.processId()), SIGTERM);
        const EngineResult result = EngineHome::finish(engine, 5000);
        QVERIFY(result.finished);
        QCOMPARE(result.exitStatus, QProcess::NormalExit);
        QCOMPARE(home.status(), QByteArray("Complete\r\n"));
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
