// The engine's start-up, run as the real program in a private home folder, and its window
// loaded offscreen.

#include "DiagnosticsLayout.h"
#include "EngineRun.h"
#include "FakeCable.h"
#include "MessageBox.h"
#include "frmDiagnostics.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTest>
#include <csignal>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

// A minor number of the misc character devices that no driver has taken: opening a node
// with it fails with "No such device".
int UnusedMiscMinor() {
    QList<int> taken;
    for (const QByteArray& line : ReadAll("/proc/misc").split('\n'))
        taken << line.trimmed().split(' ').first().toInt();
    for (int minor = 254; minor > 130; --minor)
        if (!taken.contains(minor)) return minor;
    return 0;
}

// The cable at ttyUSB3 and, as asked, its node: "file" (a plain file stands in), "dead" (a
// node left behind by an adapter that is gone: the kernel has no device for it) or "".
bool AddCable(const EngineHome& home, const QString& node) {
    const QByteArray path = (home.devRoot + "/ttyUSB3").toLocal8Bit();
    if (!AddFakeUsbSerialDevice(home.sysfsRoot, FakeUsbDevice{})) return false;
    if (node == "file") return QFile(path).open(QIODevice::WriteOnly);
    const int minor = UnusedMiscMinor();
    return node != "dead" ||
           (minor && ::mknod(path.constData(), S_IFCHR | 0600, makedev(10, minor)) == 0);
}

} // namespace

class TestEngineStartup : public QObject {
    Q_OBJECT
private slots:
    // Started alone the engine refuses in the language of the settings, which it writes only
    // when there are none.
    void refusedWithoutCommandLine_data() {
        QTest::addColumn<QString>("language");
        QTest::addColumn<QString>("box");
        QTest::newRow("no settings") << ""
                                     << "Do not run this application alone";
        QTest::newRow("German") << "DE"
                                << QString::fromUtf8(
                                       "Führen Sie diese Anwendung nicht einzeln aus");
    }
    void refusedWithoutCommandLine() {
        QFETCH(QString, language);
        QFETCH(QString, box);
        EngineHome home;
        if (!language.isEmpty()) QVERIFY(WriteEngineSettings(home, {"Language=" + language}));
        const EngineResult result = home.run({});
        QCOMPARE(result.exitStatus, QProcess::NormalExit);
        QCOMPARE(result.messageBoxes, QStringList{box});
        QCOMPARE(home.status(), QByteArray("Failed\r\n"));
        const QByteArray header = "\r\nVantrelPC Version " VANTREL_VERSION_TEXT "\r\nLog Folder " +
                                  home.dataFolder().toUtf8() + "\r\n";
        QVERIFY2(home.log().startsWith(header), home.log().constData());
        if (language.isEmpty())
            QVERIFY(home.settings().startsWith("#==============  Settings ==============#\r\n"));
        else
            QCOMPARE(home.settings(), "Language=" + language.toUtf8() + "\r\n");
    }

    void cableCheck_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("cable"); // its node, as AddCable takes it; "none": no cable
        QTest::addColumn<QByteArray>("status");
        QTest::addColumn<QStringList>("boxes");
        QTest::addColumn<QByteArrayList>("logLines"); // in this order
        QTest::newRow("cable present") << QStringList{"E", "{4200,7500}"} << "file"
                                       << QByteArray("Complete\r\n") << QStringList{}
                                       << QByteArrayList{"VantrelPC cable at index 0 - Closed",
                                                         "FT_Open succeeded",
                                                         "Com port - 3",
                                                         "Language: EN",
                                                         "DiagnosticsWindow: False",
                                                         "CloseDiagnosticsWindow: True",
                                                         "Positon: {4200,7500}",
                                                         "Complete"};
        QTest::newRow("no cable") << QStringList{"A E {0,0}"} << "none" << QByteArray("Failed\r\n")
                                  << QStringList{"Can't find a VantrelPC cable"}
                                  << QByteArrayList{
                                         "FT_CreateDeviceInfoList, number of devices - 0", "Failed",
                                         "Can't find a VantrelPC cable"};
        // Without a node the cable cannot even be opened to read its port number.
        QTest::newRow("no node") << QStringList{"A E {0,0}"} << "" << QByteArray("Failed\r\n")
                                 << QStringList{"Can't find a VantrelPC cable"}
                                 << QByteArrayList{"Failed"};
        QTest::newRow("node without a device")
            << QStringList{"A E {0,0}"} << "dead" << QByteArray("Failed - ")
            << QStringList{"Error: Selected Com port not available"} << QByteArrayList{};
        QTest::newRow("latest VU with a short list")
            << QStringList{"\"L [01] 5 E {0,0}\""} << "file" << QByteArray("Failed\r\n")
            << QStringList{"Invalid TREP list"} << QByteArrayList{"Com port - 3", "Failed"};
    }
    void cableCheck() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, cable);
        QFETCH(QByteArray, status);
        QFETCH(QStringList, boxes);
        QFETCH(QByteArrayList, logLines);
        EngineHome home;
        if (cable != "none" && !AddCable(home, cable)) QSKIP("the cable cannot be made here");
        QProcess engine;
        home.start(engine, arguments);
        // Whether the engine ends by itself or waits to be closed, closing it ends it.
        QTRY_VERIFY_WITH_TIMEOUT(home.status().startsWith(status.left(6)), 10000);
        if (!engine.waitForFinished(3000)) engine.terminate();
        const EngineResult result = EngineHome::finish(engine, 10000);
        QVERIFY(result.finished);
        QCOMPARE(result.exitStatus, QProcess::NormalExit);
        QVERIFY2(home.status().startsWith(status), home.status().constData());
        if (status.endsWith(' ')) // a description follows
            QVERIFY2(home.status().size() > status.size() + 2, home.status().constData());
        QCOMPARE(result.messageBoxes, boxes);
        const QList<QByteArray> lines = LogLines(home.log());
        QVERIFY(lines.first().startsWith(arguments.join(' ').toUtf8()));
        qsizetype at = 0;
        for (const QByteArray& expected : logLines) {
            at = lines.indexOf(expected, at);
            QVERIFY2(at >= 0, "missing or out of order: " + expected + "\n" + home.log());
        }
    }

    // A data folder that cannot be made: the engine says so once and goes on with its work.
    void unwritableDataFolder() {
        EngineHome home;
        QVERIFY(WriteFile(home.home.filePath("data"), {})); // a file where the folder should be
        const EngineResult result = home.run({"A E {0,0}"});
        QCOMPARE(result.exitStatus, QProcess::NormalExit);
        QCOMPARE(result.messageBoxes.size(), 3);
        QVERIFY(result.messageBoxes[0].startsWith("Can't write the log file"));
        QCOMPARE(result.messageBoxes.mid(1), QStringList({"Can't find a VantrelPC cable",
                                                          "Disk not available to write status"}));
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
        if (!cable.isEmpty()) QVERIFY(AddCable(home, "file"));
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

    // In process: "D" shows the window, the position is applied, the layout follows the
    // outer size, and the message area catches up with the log once, not over and over.
    void windowShownAndLaidOut() {
        EngineHome home;
        QVERIFY(AddCable(home, "file"));
        home.exportEnvironment();
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
        auto* messages = window.findChild<QPlainTextEdit*>("tbMessages");
        QTRY_VERIFY(messages->toPlainText().contains("Positon: {1500,3000}"));
        // With the log still, the area is left alone: a reader may scroll it.
        QSignalSpy refreshed(messages->document(), &QTextDocument::contentsChanged);
        QTest::qWait(350);
        QCOMPARE(refreshed.count(), 0);

        // An outer height of 6000 twips, frame included.
        const int frame = window.frameGeometry().height() - window.height();
        window.resize(window.width(), 6000 / 15 - frame);
        QCOMPARE(window.findChild<QLabel*>("lblStatus")->y(), 5030 / 15);
        QCOMPARE(messages->height(), 4620 / 15);
        window.close();
        QVERIFY(window.engine().ended());
        SetMessageBoxHandler({});
    }
};

QTEST_MAIN(TestEngineStartup)
#include "test_engine_startup.moc"
