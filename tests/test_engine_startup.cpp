// The engine's start-up, run as the real program in a private home folder, and its window
// loaded offscreen.

#include "EngineRun.h"
#include "EngineWindow.h"
#include "EngineWindowLayout.h"
#include "FakeCable.h"
#include "Folders.h"
#include "MessageBox.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTest>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

// A minor number of the misc character devices that no driver has taken: opening a node
// with it fails with "No such device".
int unusedMiscMinor() {
    const QByteArray taken = '\n' + readWhole("/proc/misc");
    for (int minor = 254; minor > 130; --minor)
        if (!taken.contains('\n' + QByteArray::number(minor).rightJustified(3) + ' ')) return minor;
    return 0;
}

// The cable at ttyUSB3 and, as asked, its node: "file" (a plain file stands in), "dead" (a
// node left behind by an adapter that is gone: the kernel has no device for it) or "".
bool addCable(const EngineHome& home, const QString& node) {
    const QByteArray path = (home.devRoot + "/ttyUSB3").toLocal8Bit();
    if (!addFakeUsbSerialDevice(home.sysfsRoot, FakeUsbDevice{})) return false;
    if (node == "file") return QFile(path).open(QIODevice::WriteOnly);
    const int minor = unusedMiscMinor();
    return node != "dead" ||
           (minor && ::mknod(path.constData(), S_IFCHR | 0600, makedev(10, minor)) == 0);
}

} // namespace

struct StartRow {
    const char* name;
    QStringList arguments;
    const char* cable;    // its node, as addCable takes it; "none": no cable
    const char* language; // in the settings before the run; "": no settings
    const char* status;   // what the status file starts with
    QStringList boxes;
    QByteArrayList log; // lines in this order
};
// clang-format off
const StartRow kStartRows[] = {
    {"no command line", {}, "none", "", "Failed\r\n", {"Do not run this application alone"}, {}},
    {"German", {}, "none", "DE", "Failed\r\n",
     {"F\u00fchren Sie diese Anwendung nicht einzeln aus"}, {}},
    {"cable without its node", {"A E {0,0}"}, "", "", "Failed\r\n",
     {"Can't find a VantrelPC cable"}, {"Open Failed", "No VantrelPC cable"}},
    // A description follows.
    {"node without a device", {"A E {0,0}"}, "dead", "", "Failed - ",
     {"Error: Selected Com port not available"}, {}},
    {"node not a tty, the command in two words", {"A", "E {4200,7500}"}, "file", "", "Failed - ",
     {"Error: Inappropriate ioctl for device (7)"}, {"Positon: {4200,7500}"}},
    {"latest VU with a short list", {"\"L [01] 5 E {0,0}\""}, "file", "", "Failed\r\n",
     {"Invalid TREP list"}, {"Com port - 3", "Failed"}},
};

// A request to end, and the log line after which it comes: the engine is idle, or a box
// waits for its OK (then no status is expected).
struct EndRow {
    const char* name;
    QStringList arguments;
    const char* cable; // "", "present" or "held" (by another process)
    int signal;
    const char* waitForLog;
    const char* status;
};
const EndRow kEndRows[] = {
    {"open after the check, SIGTERM", {"V E"}, "present", SIGTERM, "\r\nComplete\r\n", "Complete\r\n"},
    {"box: no command line", {}, "", SIGTERM, "Log Folder ", ""},
    {"box: no cable", {"A E"}, "", SIGTERM, "number of devices - 0", ""},
    {"box: cable held open", {"E"}, "held", SIGTERM, "is held by", ""},
};

// clang-format on

class TestEngineStartup : public QObject {
    Q_OBJECT
private slots:
    // The checks before a download: the command line, the settings' language, the cable and
    // its port. The engine writes its own settings only when there are none.
    void startUp_data() { addRows(kStartRows); }
    void startUp() {
        QFETCH(int, row);
        const StartRow& r = kStartRows[row];
        const QByteArray status = r.status;
        EngineHome home;
        if (QString(r.cable) != "none" && !addCable(home, r.cable))
            QSKIP("the cable cannot be made here");
        if (*r.language) QVERIFY(writeEngineSettings(home, {QString("Language=") + r.language}));
        QProcess engine;
        home.start(engine, r.arguments);
        // Whether the engine ends by itself or waits to be closed, closing it ends it.
        QTRY_VERIFY_WITH_TIMEOUT(home.status().startsWith(status.left(6)), 10000);
        if (!engine.waitForFinished(3000)) engine.terminate();
        const EngineResult result = EngineHome::finish(engine, 10000);
        QVERIFY(result.endedNormally());
        QVERIFY2(home.status().startsWith(status), home.status().constData());
        if (status.endsWith(' ')) QVERIFY(home.status().size() > status.size() + 2);
        QCOMPARE(result.messageBoxes, r.boxes);
        const QByteArray log = home.log();
        QVERIFY2(log.startsWith(r.arguments.join(' ').toUtf8() +
                                "\r\nVantrelPC Version " VANTREL_VERSION_TEXT "\r\nLog Folder " +
                                home.dataFolder().toUtf8() + "\r\n"),
                 log.constData());
        const QList<QByteArray> lines = logLines(log);
        qsizetype at = 0;
        for (const QByteArray& expected : r.log) {
            at = lines.indexOf(expected, at);
            QVERIFY2(at >= 0, "missing or out of order: " + expected + "\n" + log);
        }
        if (*r.language)
            QCOMPARE(home.settings(), QByteArray("Language=") + r.language + "\r\n");
        else
            QVERIFY(home.settings().startsWith("#==============  Settings ==============#\r\n"));
    }

    // A data folder that cannot be made: the engine says so once and goes on with its work.
    void unwritableDataFolder() {
        EngineHome home;
        QVERIFY(writeFile(home.home.filePath("data"), {})); // a file where the folder should be
        const EngineResult result = home.run({"A E {0,0}"});
        QVERIFY(result.endedNormally());
        // The first box goes on with the log file's path.
        QCOMPARE(result.messageBoxes.value(0).left(24) + '|' + result.messageBoxes.mid(1).join('|'),
                 "Can't write the log file|Can't find a VantrelPC cable|Disk not available to "
                 "write status");
    }

    // A data folder the engine cannot open (root's, left by a run with sudo) cannot be
    // locked: the engine says so and does nothing, for another engine may be using it.
    void unreadableDataFolder() {
        EngineHome home;
        QVERIFY(QDir().mkpath(home.dataFolder()) && writeFile(home.dataFolder() + "/x", {}));
        QVERIFY(::chmod(QFile::encodeName(home.home.path()).constData(), 0755) == 0 &&
                ::chmod(QFile::encodeName(home.dataFolder()).constData(), 0700) == 0);
        QProcess engine;
        if (::getuid() != 0 || !runAsOtherUser(engine)) QSKIP("needs root and a second user");
        home.start(engine, {"A E"});
        const EngineResult result = EngineHome::finish(engine, 10000);
        QVERIFY(result.finished);
        QCOMPARE(result.messageBoxes,
                 QStringList{"Can't lock the data folder\\n" + home.dataFolder()});
        QCOMPARE(filesIn(home.dataFolder()), QStringList{"x"});
    }

    // A request to end (the front end's SIGTERM, a closed terminal's SIGHUP) ends the engine
    // like closing its window: at once, with no status of its own, even while a start-up box
    // waits for its OK (then nothing after the box may happen).
    void endRequest_data() { addRows(kEndRows); }
    void endRequest() {
        QFETCH(int, row);
        const EndRow& r = kEndRows[row];
        const QByteArray waitForLog = r.waitForLog, status = r.status;
        EngineHome home;
        QProcess holder;
        if (*r.cable) QVERIFY(addCable(home, "file"));
        if (QString(r.cable) == "held") {
            holder.setStandardInputFile(home.devRoot + "/ttyUSB3");
            holder.start("sleep", {"30"});
            QVERIFY(holder.waitForStarted());
        }
        QProcess engine;
        home.start(engine, r.arguments, status.isEmpty()); // a real box waits
        QTRY_VERIFY_WITH_TIMEOUT(home.log().contains(waitForLog), 10000);
        QTest::qWait(300);
        QCOMPARE(engine.state(), QProcess::Running);
        ::kill(pid_t(engine.processId()), r.signal);
        const EngineResult result = EngineHome::finish(engine, 5000);
        holder.kill();
        holder.waitForFinished();
        QVERIFY(result.endedNormally());
        QCOMPARE(home.status(), status);
        // Nothing was logged after the line before the box.
        const QList<QByteArray> lines = logLines(home.log().trimmed());
        QVERIFY2(lines.last().contains(waitForLog.trimmed()), home.log().constData());
    }

    // The data folder counts as held, by another engine (waiting at a box), whatever an older
    // version or another user left under the old lock file's name, or by a program that
    // claimed it to start an engine: a second engine is refused at once and leaves the first
    // one's log and status alone, and the window's check sees the folder held. A claim handed
    // over (its descriptor inherited) lets its engine run.
    void dataFolderHeld_data() {
        // The holder ("engine" or "claim"), then what lies under the old lock file's name.
        QTest::addColumn<QString>("holder");
        QTest::newRow("engine; lock file a FIFO") << "engine fifo";
        QTest::newRow("engine; lock file a dangling link") << "engine dangling link";
        QTest::newRow("engine; lock file another user's") << "engine other user's";
        QTest::newRow("claim kept") << "claim";
        QTest::newRow("claim handed over") << "claim handed over";
    }
    void dataFolderHeld() {
        QFETCH(QString, holder);
        const bool handedOver = holder == "claim handed over";
        EngineHome home;
        QVERIFY(QDir().mkpath(home.dataFolder()));
        QProcess first;
        int claim = -1, beside = -1;
        if (holder.startsWith("engine")) {
            home.start(first, {"A E"}, true); // it waits at its box
            QTRY_VERIFY_WITH_TIMEOUT(home.log().contains("number of devices - 0"), 10000);
        } else {
            claim = ::open(QFile::encodeName(home.dataFolder()).constData(),
                           O_RDONLY | O_DIRECTORY | (handedOver ? 0 : O_CLOEXEC));
            QVERIFY(claim >= 0 && ::flock(claim, LOCK_EX | LOCK_NB) == 0);
            // A folder beside it that the engine inherits is no claim of the data folder.
            beside = ::open(QFile::encodeName(home.home.path()).constData(), O_RDONLY);
            QVERIFY(addCable(home, "file"));
            QVERIFY(writeFile(home.dataFolder() + "/VNPC.log", "first\r\n"));
            QVERIFY(writeFile(home.dataFolder() + "/VNPCstatus.txt", "0001/0028\r\n"));
        }
        const QByteArray lock = QFile::encodeName(home.dataFolder() + "/VNPCBase.lock");
        ::unlink(lock.constData());
        if (holder.endsWith("fifo")) QVERIFY(::mkfifo(lock.constData(), 0666) == 0);
        if (holder.endsWith("dangling link")) QVERIFY(::symlink("gone", lock.constData()) == 0);
        if (holder.endsWith("other user's")) {
            const OtherUser other = findOtherUser();
            QVERIFY(writeFile(lock, {}));
            if (other) QVERIFY(::chown(lock.constData(), other.uid, other.gid) == 0);
        }
        QVERIFY(engineHoldsDataFolder(home.dataFolder()));
        const QByteArray log = home.log(), status = home.status();

        const EngineResult second = home.run({"E"}, 10000);
        for (const int fd : {claim, beside})
            if (fd >= 0) ::close(fd);
        first.kill();
        first.waitForFinished();
        QVERIFY(second.finished);
        QCOMPARE(second.messageBoxes,
                 handedOver ? QStringList() : QStringList{"A download is already running"});
        QCOMPARE(home.status(), handedOver ? QByteArray("Complete\r\n") : status);
        if (!handedOver) QCOMPARE(home.log(), log);
        // Free again, and the probe itself keeps no hold on it.
        QVERIFY(!engineHoldsDataFolder(home.dataFolder()) &&
                DataFolderClaim(home.dataFolder()).taken());
    }

    // Hidden temporary files that a killed engine left while saving go at the next start,
    // from the data folder and the download folders: not one that a writer still holds
    // locked, nor a new one, nor anything that is not a regular file, nor a download.
    void leftoverTemporariesRemoved() {
        EngineHome home;
        QVERIFY(addCable(home, "file") && QDir().mkpath(home.vuFolder()));
        QVERIFY(writeEngineSettings(home, {"VUDataPath=" + home.vuFolder() + "/"}));
        const QString vu = home.vuFolder() + "/", data = home.dataFolder() + "/";
        const QStringList old = {vu + ".VNPC-a1.part", vu + ".VNPC-b2.part", vu + "M_X.DDD",
                                 data + ".VNPC-c3.part"};
        for (const QString& path : old + QStringList{vu + ".VNPC-d4.part"})
            QVERIFY(writeFile(path, "data"));
        QVERIFY(::mkfifo(QFile::encodeName(vu + ".VNPC-e5.part").constData(), 0666) == 0);
        const timespec aMinuteAgo[2] = {{::time(nullptr) - 60, 0}, {::time(nullptr) - 60, 0}};
        for (const QString& path : old + QStringList{vu + ".VNPC-e5.part"})
            QVERIFY(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), aMinuteAgo, 0) == 0);
        QFile writing(vu + ".VNPC-b2.part");
        QVERIFY(writing.open(QIODevice::ReadOnly) && ::flock(writing.handle(), LOCK_EX) == 0);
        QVERIFY(home.run({"E"}).finished);
        QCOMPARE(QDir(vu).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                    QDir::NoDotAndDotDot),
                 QStringList({".VNPC-b2.part", ".VNPC-d4.part", ".VNPC-e5.part", "M_X.DDD"}));
        QVERIFY(!QFileInfo::exists(data + ".VNPC-c3.part"));
        QVERIFY2(home.log().contains("\r\nUnfinished temporary files removed - 2\r\n"),
                 home.log().constData());
    }

    // In process: "D" shows the window, the position is applied, the layout follows the
    // outer size, and the message area catches up with the log once, not over and over.
    void windowShownAndLaidOut() {
        EngineHome home;
        QVERIFY(addCable(home, "file"));
        home.exportEnvironment();
        QStringList boxes;
        setMessageBoxHandler([&boxes](const QString& text, const QString&) { boxes << text; });

        EngineWindow window;
        window.engine().load("D V E {1500,3000}");
        QVERIFY(boxes.isEmpty() && window.isVisible() && !window.engine().ended());
        QCOMPARE(window.pos(), QPoint(200, 100));
        QCOMPARE(window.findChild<QLabel*>("versionLabel")->text().section(' ', -2),
                 QString("Version " VANTREL_VERSION_TEXT));
        QCOMPARE(window.findChild<QLabel*>("statusLabel")->text(), QString("Complete"));
        auto* messages = window.findChild<QPlainTextEdit*>("messages");
        QTRY_VERIFY(messages->toPlainText().contains("Positon: {1500,3000}"));
        window.engine().log().line("a line while the window is seen");
        QTRY_VERIFY(messages->toPlainText().contains("a line while the window is seen"));
        // With the log still, the area is left alone: a reader may scroll it.
        QSignalSpy refreshed(messages->document(), &QTextDocument::contentsChanged);
        QTest::qWait(350);
        QCOMPARE(refreshed.count(), 0);

        // An outer height of 6000 twips, frame included.
        const int frame = window.frameGeometry().height() - window.height();
        window.resize(window.width(), 6000 / 15 - frame);
        QCOMPARE(window.findChild<QLabel*>("statusLabel")->y(), 5030 / 15);
        QCOMPARE(messages->height(), 4620 / 15);
        QCOMPARE(messages->pos(), QPoint(240 / 15, 240 / 15));
        window.close();
        QVERIFY(window.engine().ended());
        setMessageBoxHandler({});
    }
};

QTEST_MAIN(TestEngineStartup)
#include "test_engine_startup.moc"
