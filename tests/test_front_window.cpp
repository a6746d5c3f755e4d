// The front end's main window, offscreen: its controls and outline, the poll and the bar,
// dragging, and the launcher driven by clicks, with a small stand-in for the engine that
// records the argument it was given.
#include "Artwork.h"
#include "Form1.h"
#include "Launcher.h"
#include "MessageBox.h"
#include "Progress.h"
#include "SkinControls.h"

#include "TestFiles.h"

#include <QPainter>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>

namespace {
// A window whose drag the system takes over, as under Wayland or a window manager, and which
// may never deliver the release that ends it.
class SystemMovedForm : public Form1 {
    bool StartSystemMove() override { return true; }
};

enum Stand { kNone, kEnds, kStays }; // the stand-in engine: missing, ends at once, stays busy

QImage Bar(const QImage& buffer) {
    return buffer.copy(0, 0, 61, 208);
}

QWidget* Button(const Form1& window, int kind) {
    return std::array<QWidget*, 3>{window.cmdAllVU, window.cmdLatestVU, window.cmdCard}[kind];
}
} // namespace

class TestFrontWindow : public QObject {
    Q_OBJECT

    QTemporaryDir home_;
    QTemporaryDir engineDir_;
    QStringList boxes_; // "title: text"
    QString argsFile_ = engineDir_.filePath("args.txt");
    QProcess xvfb_;
    QString display_; // one X server for every display scale, when Xvfb is installed

    // A stand-in engine that records the number of its arguments and the first one, then
    // ends or stays (exec sleep) like an engine still busy with a download.
    void StandIn(Stand stand, const QString& name) {
        if (stand != kNone)
            QVERIFY(WriteFile(
                engineDir_.filePath(name),
                "#!/bin/sh\nprintf '%s:%s' \"$#\" \"$1\" > \"$0.tmp\"\nmv \"$0.tmp\" \"" +
                    argsFile_.toUtf8() + "\"\n" + (stand == kStays ? "exec sleep 30\n" : ""),
                kExecutable));
    }

    std::unique_ptr<Form1> Window(Stand stand, const QString& name = "VNPCBase",
                                  Form1* form = new Form1) {
        StandIn(stand, name);
        form->setEngineFolder(engineDir_.path());
        form->Form_Load();
        WriteFile(form->AppDataFolder + "/" + kLatestVUFileName, "001002005\r\n7\r\n");
        return std::unique_ptr<Form1>(form);
    }

    // What the stand-in received, once it has run: "count:first argument".
    QString ReceivedArgument() {
        if (!QTest::qWaitFor([&] { return QFile::exists(argsFile_); }, 5000)) return "(none)";
        const QString received = QString::fromUtf8(ReadAll(argsFile_));
        QFile::remove(argsFile_);
        return received;
    }

private slots:
    void initTestCase() {
        qputenv("HOME", home_.path().toUtf8());
        qputenv("XDG_DATA_HOME", home_.filePath("data").toUtf8());
        SetMessageBoxHandler(
            [this](const QString& text, const QString& title) { boxes_ << title + ": " + text; });
        const QString xvfb = QStandardPaths::findExecutable("Xvfb");
        if (xvfb.isEmpty()) return;
        xvfb_.start(xvfb, {"-displayfd", "1", "-screen", "0", "1280x1100x24", "-nolisten", "tcp"});
        QVERIFY(QTest::qWaitFor([&] { return xvfb_.canReadLine(); }, 10000));
        display_ = ':' + QString::fromLatin1(xvfb_.readLine().trimmed());
    }

    void cleanupTestCase() {
        xvfb_.terminate();
        xvfb_.waitForFinished(5000);
    }

    void init() {
        boxes_.clear();
        for (const QString& name : QDir(engineDir_.path()).entryList(QDir::Files))
            QFile::remove(engineDir_.filePath(name));
    }

    // As it opens: every control at its place, the version line below the skin inside the
    // outline, the lamps dark until the idle scan lights one, the bar empty.
    void openedWindow() {
        const std::unique_ptr<Form1> window = Window(kNone);
        QCOMPARE(window->size(), QSize(215, 479));
        QCOMPARE(window->windowIcon().pixmap(48).toImage(), // the desktop entry's icon
                 Artwork::AppIcon(48).convertToFormat(QImage::Format_ARGB32_Premultiplied));
        const std::pair<const char*, QRect> places[] = {
            {"cmdAllVU", {80, 174, 57, 57}},       {"cmdLatestVU", {80, 246, 57, 57}},
            {"cmdCard", {80, 318, 57, 57}},        {"Button0Pressed", {80, 174, 57, 57}},
            {"Button1Pressed", {80, 246, 57, 57}}, {"Button2Pressed", {79, 318, 57, 57}},
            {"PictureLED0", {151, 191, 24, 24}},   {"PictureLED1", {151, 263, 24, 24}},
            {"PictureLED2", {151, 333, 24, 24}},   {"PictureProgBar", {2, 170, 61, 208}},
            {"Close", {152, 24, 16, 16}},          {"lblRev", {120, 448, 89, 17}},
            {"lblCopyright", {4, 448, 137, 25}}};
        for (const auto& [name, geometry] : places)
            QCOMPARE(window->findChild<QWidget*>(name)->geometry(), geometry);
        QVERIFY(window->mask().intersects(QRect(120, 451, 89, 14)));
        for (PictureBox* lamp : window->PictureLED)
            QCOMPARE(lamp->image(), window->PictureLEDOffBuffer.copy(0, 0, 24, 24));
        QCOMPARE(window->PictureProgBar->image(), Bar(window->PictureProgBgBuffer));
        window->tmrLEDs_Timer();
        QCOMPARE(window->PictureLED[1]->image(), window->PictureLEDOnBuffer);
        QCOMPARE(window->tmrLEDs.interval(), 150);
    }

    // On a real display at every scale, the screen around each window shows the skin and the
    // backdrop, and no pixel of the key colour or a shade of it.
    void outlineAtDisplayScales_data() {
        QTest::addColumn<double>("scale");
        // At 4/3 the system rounds the outline and the drawn face a pixel apart.
        for (double scale : {1.0, 1.25, 4.0 / 3, 1.5, 2.0})
            QTest::addRow("%g", scale) << scale;
    }
    void outlineAtDisplayScales() {
        QFETCH(double, scale);
        if (display_.isEmpty())
            QSKIP("Xvfb is not installed: the outline on a display is unchecked");
        QTemporaryDir shots;
        QProcess tool;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", display_);
        env.insert("QT_QPA_PLATFORM", "xcb");
        env.insert("QT_SCALE_FACTOR", QString::number(scale));
        tool.setProcessEnvironment(env);
        tool.start(VANTREL_SCREENSHOTS, {shots.path(), "front-idle", "latest-vu"});
        QVERIFY(tool.waitForFinished(60000));
        QVERIFY2(tool.exitCode() == 0, tool.readAllStandardError().constData());
        const QStringList files = QString::fromLocal8Bit(tool.readAllStandardOutput()).split('\n');
        QCOMPARE(files.size(), 3);
        for (int i = 0; i < 2; ++i) {
            const QImage shot(files.at(i));
            const QSize logical = i == 0 ? QSize(263, 527) : QSize(407, 527); // 24 px around
            QVERIFY2(qAbs(shot.width() - logical.width() * scale) <= 1 &&
                         qAbs(shot.height() - logical.height() * scale) <= 1,
                     qPrintable(files.at(i)));
            qint64 face = 0;
            for (int y = 0; y < shot.height(); ++y) {
                for (int x = 0; x < shot.width(); ++x) {
                    const QRgb p = shot.pixel(x, y);
                    // The key colour, or a shade of it such as a frame drawn darker.
                    const bool key = qGreen(p) < 64 && qRed(p) > 96 && qBlue(p) > 96 &&
                                     qAbs(qRed(p) - qBlue(p)) < 64;
                    QVERIFY2(
                        !key,
                        qPrintable(QStringLiteral("%1 at %2,%3").arg(files.at(i)).arg(x).arg(y)));
                    face += p != shot.pixel(0, 0);
                }
            }
            QVERIFY(face > qint64(shot.width()) * shot.height() / 2); // the windows are there
        }
    }

    // One poll of the status file during a download whose bar showed 1 of 28.
    void poll_data() {
        QTest::addColumn<QByteArray>("content"); // null: no file
        QTest::addColumn<int>("ledMode");
        QTest::addColumn<QString>("bar"); // "full", "empty", "kept" or a first filled row
        QTest::newRow("Complete") << QByteArray("Complete\r\n") << 5 << "full";
        QTest::newRow("Failed") << QByteArray("Failed - maybe USB device is open\r\n") << 6
                                << "kept";
        QTest::newRow("USB Error") << QByteArray("USB Error\r\n") << 6 << "kept";
        // The engine's last word after repeated integrity errors: it writes nothing more.
        QTest::newRow("Aborted") << QByteArray("Aborted\r\n") << 6 << "kept";
        QTest::newRow("Downloading") << QByteArray("Downloading\r\n") << 4 << "kept";
        QTest::newRow("lower case") << QByteArray("complete\r\n") << 4 << "kept";
        QTest::newRow("empty file: being rewritten") << QByteArray("") << 4 << "kept";
        QTest::newRow("no file") << QByteArray() << 4 << "kept";
        QTest::newRow("3 of 28") << QByteArray("0003/0028\r\n") << 4 << "176";
        QTest::newRow("nothing yet") << QByteArray("0000/0028\r\n") << 4 << "empty";
        QTest::newRow("beyond total") << QByteArray("0029/0028\r\n") << 4 << "full";
        QTest::newRow("no count") << QByteArray("abcd/0028\r\n") << 4 << "empty";
    }
    void poll() {
        QFETCH(QByteArray, content);
        QFETCH(int, ledMode);
        QFETCH(QString, bar);
        const std::unique_ptr<Form1> window = Window(kNone);
        window->tmrLEDs.stop();
        window->Leds.LedMode = kLedRunning;
        window->timerActivity.start();
        window->ShowProgress("0001/0028");
        const QImage before = window->PictureProgBar->image();
        if (!content.isNull()) QVERIFY(WriteFile(window->statusFilePath(), content));
        window->timerActivity_Timer();
        QCOMPARE(int(window->Leds.LedMode), ledMode);
        QCOMPARE(window->timerActivity.isActive(), ledMode == kLedRunning);
        window->tmrLEDs_Timer(); // the first beat of the lamp pattern: lit for 250 or 50 ms
        QCOMPARE(window->PictureLED[0]->image(), window->PictureLEDOnBuffer);
        QCOMPARE(window->tmrLEDs.interval(), ledMode == kLedRunning    ? 250
                                             : ledMode == kLedComplete ? 50
                                                                       : 1000);
        const QImage full = Bar(window->PictureProgBarBuffer);
        QImage expected = bar == "kept"   ? before
                          : bar == "full" ? full
                                          : Bar(window->PictureProgBgBuffer);
        if (bar.toInt() > 0) { // rows from there down from the full bar, those above kept
            expected = before;
            QPainter(&expected).drawImage(QPoint(0, bar.toInt()),
                                          full.copy(0, bar.toInt(), 61, 208));
        }
        QCOMPARE(window->PictureProgBar->image(), expected);
        QFile::remove(window->statusFilePath());
    }

    // Another program's engine (a headless download) holds the data folder: a start and a
    // close leave its status and its log alone.
    void otherEngineRunning() {
        const std::unique_ptr<Form1> window = Window(kStays);
        const QString folder = window->AppDataFolder;
        QVERIFY(WriteFile(folder + "/VNPCstatus.txt", "0003/0010\r\n"));
        QVERIFY(WriteFile(folder + "/VNPC.log", "other engine's log\r\n"));
        // The folder itself is what an engine, or the command starting one, locks.
        const int lock = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
        QVERIFY(lock >= 0 && ::flock(lock, LOCK_EX | LOCK_NB) == 0);
        QTest::mouseClick(window->cmdAllVU, Qt::LeftButton);
        QVERIFY(!EngineRunning(window->EngineProcessId, window->EngineStartTime));
        window->close();
        QCOMPARE(ReadAll(folder + "/VNPCstatus.txt") + ReadAll(folder + "/VNPC.log"),
                 QByteArray("0003/0010\r\nother engine's log\r\n"));
        ::close(lock);
    }

    // Only the face drags the window, by the system's move where there is one; the selection
    // window is hidden on the way and comes back at its offset when the move ends, also when
    // the system swallows the release. The lamps, the bar and the label lines do not drag.
    void drag_data() {
        QTest::addColumn<QString>("part"); // pressed in its middle; empty: the face
        QTest::addColumn<bool>("bySystem");
        QTest::addColumn<bool>("released");
        QTest::newRow("face") << QString() << false << true;
        QTest::newRow("face, by the system") << QString() << true << true;
        QTest::newRow("face, by the system, no release") << QString() << true << false;
        QTest::newRow("lamp") << "PictureLED1" << false << true;
        QTest::newRow("bar") << "PictureProgBar" << false << true;
        QTest::newRow("version line") << "lblRev" << false << true;
        QTest::newRow("copyright line") << "lblCopyright" << false << true;
    }
    void drag() {
        QFETCH(QString, part);
        QFETCH(bool, bySystem);
        QFETCH(bool, released);
        const std::unique_ptr<Form1> window =
            Window(kEnds, "VNPCBase", bySystem ? new SystemMovedForm : new Form1);
        QWidget selection;
        window->setLatestSettingsWindow(&selection);
        window->move(100, 50);
        QTest::mouseClick(window->cmdLatestVU, Qt::RightButton); // opens it, starts nothing
        QVERIFY(selection.isVisible());
        const bool drags = part.isEmpty();
        const QPoint at =
            drags ? QPoint(108, 100) : window->findChild<QWidget*>(part)->geometry().center();
        QTest::mousePress(window->windowHandle(), Qt::LeftButton, {}, at);
        QTest::mouseMove(window->windowHandle(), at + QPoint(30, 20));
        const QPoint moved = drags && !bySystem ? QPoint(130, 70) : QPoint(100, 50);
        QCOMPARE(window->pos(), moved);
        QCOMPARE(selection.isVisible(), !drags);
        // Released where the pointer is on the screen, wherever the window went.
        const QPoint end = at + QPoint(30, 20) - (moved - QPoint(100, 50));
        QMouseEvent buttonUp(QEvent::MouseMove, end, window->mapToGlobal(end), Qt::NoButton,
                             Qt::NoButton, Qt::NoModifier);
        if (released)
            QTest::mouseRelease(window->windowHandle(), Qt::LeftButton, {}, end);
        else
            QApplication::sendEvent(window.get(), &buttonUp);
        QVERIFY(selection.isVisible());
        QCOMPARE(selection.pos(), moved + QPoint(175, 81));
        QVERIFY(boxes_.isEmpty() && !QFile::exists(argsFile_)); // the right click started nothing
    }

    // Each start ends the engine still running and starts the new one with its one argument;
    // it hides the selection window, darkens the lamps and clears the bar and the status left
    // from the run before.
    void startsInTurn() {
        std::unique_ptr<Form1> window = Window(kStays, "vnpcBASE"); // any letter case
        QWidget selection;
        window->setLatestSettingsWindow(&selection);
        const std::tuple<int, Qt::MouseButton, QPoint, QString> starts[] = {
            {kAllVU, Qt::LeftButton, {320, 160}, "A E {3000,8100}"},
            {kCard, Qt::LeftButton, {320, 160}, "C E {3000,8100}"},
            {kLatestVU, Qt::LeftButton, {320, 160}, "\"L [001002005] 7 E {3000,8100}\""},
            {kLatestVU, Qt::MiddleButton, {-20, 0}, "\"L [001002005] 7 E {600,3000}\""}};
        qint64 previous = 0;
        qint64 previousStart = -1;
        for (const auto& [kind, mouseButton, position, argument] : starts) {
            window->move(position);
            QVERIFY(WriteFile(window->statusFilePath(), "Complete\r\n"));
            window->ShowProgress("0028/0028");
            selection.show();
            window->tmrLEDs_Timer(); // a lamp lit
            window->tmrLEDs.start(1000);
            QTest::qWait(50);
            const int beat = window->tmrLEDs.remainingTime();
            QTest::mouseClick(Button(*window, kind), mouseButton);
            const int left = window->tmrLEDs.remainingTime(); // the lamps keep their beat
            QVERIFY(left >= 0 && left <= beat);
            QCOMPARE(window->Leds.LedIndex, kind);
            QCOMPARE(window->Leds.LedMode, qint16(kLedRunning));
            QCOMPARE(window->Leds.LitLed, -1);
            QVERIFY(window->timerActivity.isActive() && !selection.isVisible());
            QVERIFY(!QFile::exists(window->statusFilePath()));
            QCOMPARE(window->PictureProgBar->image(), Bar(window->PictureProgBgBuffer));
            QVERIFY(window->ButtonPressed[kind]->isHidden());
            QVERIFY(!EngineRunning(previous, previousStart));
            QCOMPARE(ReceivedArgument(), "1:" + argument);
            previous = window->EngineProcessId;
            previousStart = window->EngineStartTime;
            QVERIFY(EngineRunning(previous, previousStart));
        }
        // Without a selection file Latest VU asks for one and leaves the download running.
        QFile::remove(window->AppDataFolder + "/" + kLatestVUFileName);
        QTest::mouseClick(window->cmdLatestVU, Qt::LeftButton);
        QCOMPARE(boxes_.size(), 1);
        QVERIFY(boxes_.takeFirst().startsWith("VantrelPC - Latest VU Settings: Please set"));
        QVERIFY(window->ButtonPressed[kLatestVU]->isHidden());
        QVERIFY(EngineRunning(previous, previousStart));
        // Without an engine a start ends the running one, says so and shows the failure; a
        // quick double-click, as the system delivers it (a click, then a double-click), is one
        // start.
        QFile::remove(engineDir_.filePath("vnpcBASE"));
        QVERIFY(WriteFile(window->AppDataFolder + "/" + kLatestVUFileName, "001\r\n1\r\n"));
        for (int kind : {kCard, kLatestVU}) {
            window->tmrLEDs.start(1000);
            QTest::mouseDClick(window->windowHandle(), Qt::LeftButton, {},
                               Button(*window, kind)->geometry().center());
            QCOMPARE(boxes_,
                     QStringList{"VantrelPC: Download application missing from 'deps' folder"});
            boxes_.clear();
            QVERIFY(!EngineRunning(previous, previousStart));
            QCOMPARE(window->Leds.LedMode, qint16(kLedFailed));
            QVERIFY(!window->timerActivity.isActive() && window->ButtonPressed[kind]->isHidden());
            window->tmrLEDs_Timer();
            QVERIFY(!window->tmrLEDs.isActive());
            QCOMPARE(window->PictureLED[kind]->image(), window->PictureLEDOnBuffer);
        }
        // Closing the front end ends the engine it started last.
        StandIn(kStays, "VNPCBase");
        QTest::mouseClick(window->cmdAllVU, Qt::LeftButton);
        QVERIFY(ReceivedArgument().startsWith("1:A E"));
        previous = window->EngineProcessId;
        previousStart = window->EngineStartTime;
        window.reset();
        QVERIFY(!EngineRunning(previous, previousStart));
    }
};

QTEST_MAIN(TestFrontWindow)
#include "test_front_window.moc"
