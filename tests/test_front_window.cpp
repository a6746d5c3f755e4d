// The front end's main window, offscreen: its controls and outline, the poll and the bar,
// dragging, and the launcher driven by clicks, with a small stand-in for the engine that
// records the argument it was given.
#include "Artwork.h"
#include "LatestVuWindow.h"
#include "Launcher.h"
#include "MainWindow.h"
#include "MessageBox.h"
#include "Progress.h"
#include "SkinControls.h"

#include "TestFiles.h"

#include <QPainter>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QToolTip>
#include <QtTest>
#include <csignal>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>

namespace {
// A window whose drag the system takes over, as under Wayland or a window manager, and which
// may never deliver the release that ends it.
class SystemMovedForm : public MainWindow {
    bool beginSystemMove() override { return true; }
};

enum Stand { kNone, kEnds, kStays }; // the stand-in engine: missing, ends at once, stays busy
} // namespace

class TestFrontWindow : public QObject {
    Q_OBJECT

    QTemporaryDir home_;
    QTemporaryDir engineDir_;
    QStringList boxes_;              // "title: text"
    std::function<void()> underBox_; // what goes on while a box is open
    QString argsFile_ = engineDir_.filePath("args.txt");
    QProcess xvfb_;
    QString display_; // one X server for every display scale, when Xvfb is installed
    const QString missingText_ = "Download application missing from 'deps' folder";

    static QImage barImage(const QImage& buffer) { return buffer.copy(0, 0, 61, 208); }
    static QWidget* buttonOf(const MainWindow& w, int kind) {
        return std::array<QWidget*, 3>{w.allVuButton, w.latestVuButton, w.cardButton}[kind];
    }
    // The lamp as the window draws it.
    static QImage lookOf(MainWindow& w, int i) { return w.grab(w.lamps[i]->geometry()).toImage(); }
    // Waits until the engine the window started has ended.
    static bool engineGone(const MainWindow& w) {
        return QTest::qWaitFor([&] { return !engineRunning(w.engineProcessId, w.engineStartTime); },
                               20000);
    }

    // Where two images of one size differ.
    static QList<QPoint> changedPixels(const QImage& a, const QImage& b) {
        QList<QPoint> changes;
        for (int y = 0; y < a.height(); ++y)
            for (int x = 0; x < a.width(); ++x)
                if (a.pixel(x, y) != b.pixel(x, y)) changes << QPoint(x, y);
        return changes;
    }

    // A failed download on the face, once the lamps took their next beat: the lamp of `kind`
    // in the failure's look, the other two as `dark`, the poll and the beat stopped.
    static void checkFailed(MainWindow& w, int kind, const QImage& dark, const QString& toolTip) {
        w.stepLamps();
        QCOMPARE(QString::number(w.leds.mode) + ' ' + w.toolTip(), "6 " + toolTip); // failed
        QVERIFY(!w.activityTimer.isActive() && !w.lampTimer.isActive());
        QCOMPARE(w.lamps[kind]->image(), w.lampFailedImage);
        QVERIFY(lookOf(w, (kind + 1) % 3) == dark && lookOf(w, (kind + 2) % 3) == dark);
    }

    // A stand-in engine that records the number of its arguments and the first one, then
    // ends or stays (exec sleep) like an engine still busy with a download.
    void standIn(Stand stand, const QString& name) {
        if (stand != kNone)
            QVERIFY(writeFile(
                engineDir_.filePath(name),
                "#!/bin/sh\nprintf '%s:%s' \"$#\" \"$1\" > \"$0.tmp\"\nmv \"$0.tmp\" \"" +
                    argsFile_.toUtf8() + "\"\n" + (stand == kStays ? "exec sleep 30\n" : ""),
                kExecutable));
    }

    std::unique_ptr<MainWindow> makeWindow(Stand stand, const QString& name = "VNPCBase",
                                           MainWindow* form = new MainWindow) {
        standIn(stand, name);
        form->setEngineFolder(engineDir_.path());
        form->load();
        writeFile(form->appDataFolder + "/" + kLatestVUFileName, "001002005\r\n7\r\n");
        return std::unique_ptr<MainWindow>(form);
    }

    // What the stand-in received, once it has run: "count:first argument".
    QString receivedArgument() {
        if (!QTest::qWaitFor([&] { return QFile::exists(argsFile_); }, 5000)) return "(none)";
        const QString received = QString::fromUtf8(readWhole(argsFile_));
        QFile::remove(argsFile_);
        return received;
    }

private slots:
    void initTestCase() {
        qputenv("HOME", home_.path().toUtf8());
        qputenv("XDG_DATA_HOME", home_.filePath("data").toUtf8());
        setMessageBoxHandler([this](const QString& text, const QString& title) {
            boxes_ << title + ": " + text;
            if (underBox_) underBox_();
        });
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
        underBox_ = nullptr;
        for (const QString& name : QDir(engineDir_.path()).entryList(QDir::Files))
            QFile::remove(engineDir_.filePath(name));
    }

    // As it opens: every control at its place, the version line below the skin inside the
    // outline, the lamps dark until the idle scan lights one, the bar empty. The simulated
    // unit's window carries a mark on its face and says so in its title; any other window
    // looks as ever.
    void openedWindow() {
        const std::unique_ptr<MainWindow> window = makeWindow(kNone);
        const QImage plain = window->grab().toImage();
        for (const char* demo : {"1", "0"}) {
            qputenv("VANTREL_DEMO", demo);
            const std::unique_ptr<MainWindow> shown = makeWindow(kNone);
            qunsetenv("VANTREL_DEMO");
            const bool marked = demo == QByteArray("1");
            const int changed = changedPixels(shown->grab().toImage(), plain).size();
            // Plain to see, and small beside the face.
            QVERIFY2(marked ? changed > 150 && changed < plain.width() * plain.height() / 20
                            : changed == 0,
                     QByteArray(demo) + ": " + QByteArray::number(changed));
            QCOMPARE(shown->windowTitle(), marked ? "VantrelPC - simulated unit" : "VantrelPC");
        }
        QCOMPARE(window->windowTitle(), "VantrelPC");
        QCOMPARE(window->size(), QSize(215, 479));
        QCOMPARE(window->windowIcon().pixmap(48).toImage(), // the desktop entry's icon
                 Artwork::appIcon(48).convertToFormat(QImage::Format_ARGB32_Premultiplied));
        const std::pair<const char*, QRect> places[] = {
            {"allVuButton", {80, 174, 57, 57}},    {"latestVuButton", {80, 246, 57, 57}},
            {"cardButton", {80, 318, 57, 57}},     {"pressedButton0", {80, 174, 57, 57}},
            {"pressedButton1", {80, 246, 57, 57}}, {"pressedButton2", {79, 318, 57, 57}},
            {"lamp0", {151, 191, 24, 24}},         {"lamp1", {151, 263, 24, 24}},
            {"lamp2", {151, 333, 24, 24}},         {"progressBar", {2, 170, 61, 208}},
            {"closeButton", {152, 24, 16, 16}},    {"versionLabel", {120, 448, 89, 17}},
            {"copyrightLabel", {4, 448, 137, 25}}};
        for (const auto& [name, geometry] : places)
            QCOMPARE(window->findChild<QWidget*>(name)->geometry(), geometry);
        QVERIFY(window->mask().intersects(QRect(120, 451, 89, 14)));
        QCOMPARE(window->progressBar->image(), barImage(window->progressBackgroundImage));
        // The idle scan from dark: each lamp in turn lit for 150 ms, then all dark for 1100 ms.
        const QImage off = window->lampOffImage.copy(0, 0, 24, 24);
        for (const auto& [lit, interval] : {std::pair{-1, 0}, {1, 150}, {-1, 1100}, {2, 150}}) {
            if (interval > 0) window->stepLamps();
            for (int lamp = 0; lamp < 3; ++lamp)
                QCOMPARE(window->lamps[lamp]->image(), lamp == lit ? window->lampOnImage : off);
            QVERIFY(interval == 0 || window->lampTimer.interval() == interval);
        }
        // The lamp timer drives the scan.
        window->lampTimer.start(1);
        QTRY_VERIFY(window->lamps[2]->image() != window->lampOnImage);
    }

    // On a real display at every scale, the screen around each window shows the skin and the
    // backdrop, and no pixel of the key colour or a shade of it.
    void outlineAtDisplayScales() {
        if (display_.isEmpty())
            QSKIP("Xvfb is not installed: the outline on a display is unchecked");
        // At 4/3 the system rounds the outline and the drawn face a pixel apart.
        for (double scale : {1.0, 1.25, 4.0 / 3, 1.5, 2.0}) {
            QTemporaryDir shots;
            QProcess tool;
            tool.start("env", {"DISPLAY=" + display_, "QT_QPA_PLATFORM=xcb",
                               "QT_SCALE_FACTOR=" + QString::number(scale), VANTREL_SCREENSHOTS,
                               shots.path(), "front-idle", "latest-vu"});
            QVERIFY2(
                tool.waitForFinished(60000) && tool.exitCode() == 0,
                qPrintable(QStringLiteral("at %1: ").arg(scale) + tool.readAllStandardError()));
            const QStringList files =
                QString::fromLocal8Bit(tool.readAllStandardOutput()).split('\n');
            QCOMPARE(files.size(), 3);
            // Each window with 24 px around it.
            for (const auto& [file, logical] :
                 {std::pair{files[0], QSize(263, 527)}, {files[1], QSize(407, 527)}}) {
                const QImage shot(file);
                const QSizeF off = QSizeF(shot.size()) - QSizeF(logical) * scale;
                qint64 face = 0, key = 0;
                for (int y = 0; y < shot.height(); ++y)
                    for (int x = 0; x < shot.width(); ++x) {
                        const QRgb p = shot.pixel(x, y);
                        // The key colour, or a shade of it such as a frame drawn darker.
                        key += qGreen(p) < 64 && qRed(p) > 96 && qBlue(p) > 96 &&
                               qAbs(qRed(p) - qBlue(p)) < 64;
                        face += p != shot.pixel(0, 0);
                    }
                // Its size, no key colour, and the windows are there.
                QVERIFY2(qAbs(off.width()) <= 1 && qAbs(off.height()) <= 1 && key == 0 &&
                             face > qint64(shot.width()) * shot.height() / 2,
                         qPrintable(QString::asprintf("%s at %g: %dx%d, key %lld, face %lld",
                                                      qPrintable(file), scale, shot.width(),
                                                      shot.height(), key, face)));
            }
        }
    }

    // One poll of the status file during a download whose bar showed 1 of 28, with the engine
    // still running or already gone before the poll: an engine that ended without a final line
    // will never write one. A final state says on the face what it was.
    void poll() {
        // What the status file holds (null: no file), whether the engine ended, the bar ("full",
        // "empty", "kept" or a first filled row) and the face: the lamp mode, whether the poll
        // goes on, the first two beats of the lamp pattern (250 ms each, or lit 50 ms and dark
        // 1250 ms) and the tool tip.
        const QString ended = "6 0 1000/1000 Failed - the engine ended without a result";
        const std::tuple<const char*, QByteArray, bool, QString, QString> rows[] = {
            {"Complete", "Complete\r\n", false, "full", "5 0 50/1250 Complete"},
            {"Failed", "Failed - maybe USB device is open\r\n", false, "kept",
             "6 0 1000/1000 Failed - maybe USB device is open"},
            {"USB Error", "USB Error\r\n", false, "kept", "6 0 1000/1000 USB Error"},
            // The engine's last word after repeated integrity errors: it writes nothing more.
            {"Aborted", "Aborted\r\n", false, "kept", "6 0 1000/1000 Aborted"},
            {"Downloading", "Downloading\r\n", false, "kept", "4 1 250/250"},
            {"lower case", "complete\r\n", false, "kept", "4 1 250/250"},
            {"empty file: being rewritten", "", false, "kept", "4 1 250/250"},
            {"no file", QByteArray(), false, "kept", "4 1 250/250"},
            {"3 of 28", "0003/0028\r\n", false, "176", "4 1 250/250"},
            {"nothing yet", "0000/0028\r\n", false, "empty", "4 1 250/250"},
            {"beyond total", "0029/0028\r\n", false, "full", "4 1 250/250"},
            {"no count", "abcd/0028\r\n", false, "empty", "4 1 250/250"},
            {"ended at 3 of 28", "0003/0028\r\n", true, "176", ended},
            {"ended before its first line", QByteArray(), true, "kept", ended},
            // A final line is the engine's word, however it ended after writing it.
            {"ended after Complete", "Complete\r\n", true, "full", "5 0 50/1250 Complete"},
            {"ended after Failed", "Failed - Receive timeout\r\n", true, "kept",
             "6 0 1000/1000 Failed - Receive timeout"}};
        for (const auto& [name, content, engineEnded, bar, face] : rows) {
            const std::unique_ptr<MainWindow> window = makeWindow(kStays);
            QTest::mouseClick(window->allVuButton, Qt::LeftButton);
            window->lampTimer.stop();
            QVERIFY(window->activityTimer.isActive());
            window->showProgress("0001/0028");
            const QImage before = window->progressBar->image();
            if (!content.isNull()) QVERIFY(writeFile(window->statusFilePath(), content));
            // Ended as a crash would end it.
            if (engineEnded)
                QVERIFY(::kill(pid_t(window->engineProcessId), SIGKILL) == 0 &&
                        engineGone(*window));
            window->pollActivity();
            const int mode = window->leds.mode, polling = window->activityTimer.isActive();
            window->stepLamps();
            const int firstBeat = window->lampTimer.interval();
            QVERIFY2(window->lamps[0]->image() ==
                         (mode == kLedFailed ? window->lampFailedImage : window->lampOnImage),
                     name);
            window->stepLamps();
            const QString shown = QString::asprintf("%s: %d %d %d/%d ", name, mode, polling,
                                                    firstBeat, window->lampTimer.interval());
            QCOMPARE((shown + window->toolTip()).trimmed(), name + QString(": ") + face);
            const QImage full = barImage(window->progressBarImage);
            const int row = bar.toInt(); // rows from there down from the full bar, those above kept
            QImage expected = bar == "kept" || row > 0 ? before
                              : bar == "full"          ? full
                                                       : barImage(window->progressBackgroundImage);
            if (row > 0) QPainter(&expected).drawImage(0, row, full, 0, row);
            QVERIFY2(window->progressBar->image() == expected, name);
        }
    }

    // However a download fails, the lamp beside the button pressed stays lit in a look that no
    // moment of a complete download shows, the other lamps are dark and the face says why:
    // here the engine is missing, and the idle scan goes on under its modal box. (An engine
    // that ends without a final line, and a Failed line from it, end the poll alike: see poll
    // and startsInTurn; the engine's own failure on a silent unit is test_e2e_link's noAnswer.)
    void failureLooks() {
        const std::unique_ptr<MainWindow> window = makeWindow(kNone);
        const QImage dark = lookOf(*window, kAllVU);
        underBox_ = [&] {
            for (int beat = 0; beat < 3; ++beat)
                window->stepLamps();
        };
        QTest::mouseClick(window->allVuButton, Qt::LeftButton);
        checkFailed(*window, kAllVU, dark, "Failed - " + missingText_);
        // Shown with the pointer on the lamp, or anywhere on the face.
        QWidget* lamp = window->lamps[kAllVU];
        QHelpEvent help(QEvent::ToolTip, QPoint(12, 12), lamp->mapToGlobal(QPoint(12, 12)));
        QApplication::sendEvent(lamp, &help);
        QTRY_COMPARE(QToolTip::text(), window->toolTip());
        QToolTip::hideText();
        // Lit and dark are every look of a download that goes well (see poll): a whole part of
        // the lamp differs from each, not a few pixels.
        const QImage failed = lookOf(*window, kAllVU);
        for (const QImage& look : {window->lampOnImage, dark})
            QVERIFY(changedPixels(failed, look).size() > failed.width() * failed.height() / 4);
    }

    // Another program's engine (a headless download) holds the data folder: a start and a
    // close leave its status and its log alone, and the refused button shows a failure, not
    // the look of the download before.
    void otherEngineRunning() {
        // What the window's last download left: nothing, or its final line.
        for (const QString before : {"", "Complete", "Failed - Receive timeout"}) {
            const std::unique_ptr<MainWindow> window = makeWindow(kEnds);
            const QString folder = window->appDataFolder;
            const QImage dark = lookOf(*window, kAllVU);
            if (!before.isEmpty()) {
                QTest::mouseClick(window->allVuButton, Qt::LeftButton);
                QVERIFY(engineGone(*window) &&
                        writeFile(window->statusFilePath(), before.toUtf8() + "\r\n"));
                window->pollActivity();
                window->stepLamps();
            }
            QVERIFY(writeFile(folder + "/VNPCstatus.txt", "0003/0010\r\n") &&
                    writeFile(folder + "/VNPC.log", "other engine's log\r\n"));
            // The folder itself is what an engine, or the command starting one, locks.
            const int lock = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
            const auto unlock = qScopeGuard([lock] { ::close(lock); });
            QVERIFY(lock >= 0 && ::flock(lock, LOCK_EX | LOCK_NB) == 0);
            QTest::mouseClick(window->cardButton, Qt::LeftButton);
            QVERIFY(!engineRunning(window->engineProcessId, window->engineStartTime));
            QCOMPARE(std::exchange(boxes_, {}),
                     QStringList{"VantrelPC: A download is already running"});
            checkFailed(*window, kCard, dark, "Failed - another download is running");
            window->close();
            QCOMPARE(readWhole(folder + "/VNPCstatus.txt") + readWhole(folder + "/VNPC.log"),
                     QByteArray("0003/0010\r\nother engine's log\r\n"));
        }
    }

    // Only the face drags the window, by the system's move where there is one; the selection
    // window is hidden on the way and comes back at its offset when the move ends, also when
    // the system swallows the release. The lamps, the bar, a button (the press is its own) and
    // the label lines do not drag.
    void drag() {
        // The face, moved by the mouse or by the system, or the middle of a part; the release
        // that never comes last, as the test's mouse still holds the button then.
        for (const QString pressed :
             {"face", "face, by the system", "lamp1", "cardButton", "versionLabel",
              "copyrightLabel", "face, by the system, no release"}) {
            const bool drags = pressed.startsWith("face"), bySystem = pressed.contains("system");
            const std::unique_ptr<MainWindow> window =
                makeWindow(kEnds, "VNPCBase", bySystem ? new SystemMovedForm : new MainWindow);
            QWidget selection;
            window->setLatestVuWindow(&selection);
            window->move(100, 50);
            QTest::mouseClick(window->latestVuButton, Qt::RightButton); // opens it, starts nothing
            QVERIFY2(selection.isVisible(), qPrintable(pressed));
            const QPoint at = drags ? QPoint(108, 100)
                                    : window->findChild<QWidget*>(pressed)->geometry().center();
            QTest::mousePress(window->windowHandle(), Qt::LeftButton, {}, at);
            QTest::mouseMove(window->windowHandle(), at + QPoint(30, 20));
            const QPoint moved = drags && !bySystem ? QPoint(130, 70) : QPoint(100, 50);
            QVERIFY2(window->pos() == moved && selection.isVisible() == !drags,
                     qPrintable(pressed));
            // Released where the pointer is on the screen, wherever the window went.
            const QPoint end = at + QPoint(30, 20) - (moved - QPoint(100, 50));
            QMouseEvent buttonUp(QEvent::MouseMove, end, window->mapToGlobal(end), Qt::NoButton,
                                 Qt::NoButton, Qt::NoModifier);
            if (!pressed.endsWith("no release"))
                QTest::mouseRelease(window->windowHandle(), Qt::LeftButton, {}, end);
            else
                QApplication::sendEvent(window.get(), &buttonUp);
            // The drag's cursor goes with the drag.
            QVERIFY(selection.isVisible() && window->cursor().shape() == Qt::ArrowCursor);
            QCOMPARE(selection.pos(), moved + QPoint(175, 81));
            // Wherever the system puts the window later (some window managers end their move after
            // the release), the selection window follows; once closed, it stays closed.
            window->move(200, 120);
            QCOMPARE(selection.pos(), QPoint(375, 201));
            selection.hide();
            window->move(100, 50);
            QVERIFY(!selection.isVisible());
            QVERIFY(boxes_.isEmpty() &&
                    !QFile::exists(argsFile_)); // the right click started nothing
        }
    }

    // A right click on Latest VU brings the selection window forward with the keyboard, every
    // time. It belongs to the main window (goes with it, no task-bar entry of its own), and the
    // main window's letters do nothing in it.
    void selectionWindowComesForward() {
        const std::unique_ptr<MainWindow> window = makeWindow(kEnds);
        auto* selection = new LatestVuWindow(window.get());
        window->setLatestVuWindow(selection);
        // Not qWaitForWindowActive(): it counts a window of the active one's as active too.
        for (int click = 0; click < 2; ++click) {
            window->activateWindow();
            QTRY_COMPARE(QGuiApplication::focusWindow(), window->windowHandle());
            QTest::mouseClick(window->latestVuButton, Qt::RightButton);
            QTRY_COMPARE(QGuiApplication::focusWindow(), selection->windowHandle());
        }
        QCOMPARE(selection->windowType(), Qt::Tool);
        QCOMPARE(selection->windowHandle()->transientParent(), window->windowHandle());
        QTest::keyClick(selection->windowHandle(), Qt::Key_A);
        QCOMPARE(window->engineProcessId, 0);
    }

    // Without a mouse: Tab goes round the three buttons (none has the focus before), Enter or
    // Space starts the one that has it, and A, L and C start theirs, also from a button. Escape
    // leaves a download running and the window open.
    void keyboard() {
        const QString all = "1:A E {3000,8100}", card = "1:C E {3000,8100}";
        const QString latest = "1:\"L [001002005] 7 E {3000,8100}\"";
        // The keys and what the engine got (empty: nothing started). Tab goes round again
        // after the third button; Escape comes mid-download.
        // clang-format off
        const std::pair<QString, QString> rows[] = {
            {"Tab Return", all}, {"Tab Tab Space", latest}, {"Tab Tab Tab Enter", card},
            {"Tab Tab Tab Tab Space", all}, {"Backtab Return", card}, {"A", all}, {"L", latest},
            {"C", card}, {"Tab C", card}, {"Space Return Enter", QString()}, {"C Esc", card}};
        // clang-format on
        for (const auto& [keys, argument] : rows) {
            const std::unique_ptr<MainWindow> window = makeWindow(kStays);
            window->move(320, 160);
            window->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(window.get()));
            for (const QString& key : keys.split(' '))
                QTest::keyClick(window->windowHandle(), Qt::Key(QKeySequence(key)[0].key()));
            QCOMPARE(keys + ": " + (window->engineProcessId == 0 ? QString() : receivedArgument()),
                     keys + ": " + argument);
            // The key held down repeats: that starts nothing more.
            const qint64 engine = window->engineProcessId;
            QKeyEvent held(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QString(), true);
            QApplication::sendEvent(QApplication::focusWidget(), &held);
            QVERIFY2(window->engineProcessId == engine && window->isVisible() &&
                         engineRunning(engine, window->engineStartTime) == !argument.isEmpty(),
                     qPrintable(keys));
        }
    }

    // The focus mark shows on the button Tab reached, in the face's orange, and nowhere else;
    // before the first Tab and after a click on the face the window looks as it did.
    void focusMark() {
        const std::unique_ptr<MainWindow> window = makeWindow(kNone);
        window->lampTimer.stop();
        const QImage plain = window->grab().toImage();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        QCOMPARE(window->grab().toImage(), plain);
        for (int kind : {kAllVU, kLatestVU, kCard}) {
            QTest::keyClick(window->windowHandle(), Qt::Key_Tab);
            const QImage marked = window->grab().toImage();
            const QRect button = buttonOf(*window, kind)->geometry();
            int orange = 0;
            for (const QPoint& at : changedPixels(marked, plain)) {
                QVERIFY2(button.contains(at),
                         qPrintable(QStringLiteral("%1,%2").arg(at.x()).arg(at.y())));
                const QRgb p = marked.pixel(at);
                orange += qRed(p) > 200 && qGreen(p) > 110 && qGreen(p) < 190 && qBlue(p) < 90;
            }
            QVERIFY2(orange > 100, qPrintable(QString::number(orange)));
        }
        QTest::mouseClick(window->windowHandle(), Qt::LeftButton, {}, QPoint(108, 100));
        QCOMPARE(window->grab().toImage(), plain);
    }

    // Each start ends the engine still running and starts the new one with its one argument;
    // it hides the selection window, darkens the lamps and clears the bar and the status left
    // from the run before.
    void startsInTurn() {
        std::unique_ptr<MainWindow> window = makeWindow(kStays, "vnpcBASE"); // any letter case
        // A file of the exact name that cannot run is no engine.
        QVERIFY(writeFile(engineDir_.filePath("VNPCBase"), "#!/bin/sh\n"));
        QWidget selection;
        window->setLatestVuWindow(&selection);
        const std::tuple<int, Qt::MouseButton, QPoint, QString> starts[] = {
            {kAllVU, Qt::LeftButton, {320, 160}, "A E {3000,8100}"},
            {kCard, Qt::LeftButton, {320, 160}, "C E {3000,8100}"},
            {kLatestVU, Qt::LeftButton, {320, 160}, "\"L [001002005] 7 E {3000,8100}\""},
            {kLatestVU, Qt::MiddleButton, {-20, 0}, "\"L [001002005] 7 E {600,3000}\""}};
        qint64 previous = 0, previousStart = -1;
        for (const auto& [kind, mouseButton, position, argument] : starts) {
            window->move(position);
            QVERIFY(writeFile(window->statusFilePath(), "Complete\r\n"));
            window->showProgress("0028/0028");
            selection.show();
            window->stepLamps(); // a lamp lit
            window->lampTimer.start(1000);
            QTest::qWait(50);
            const int beat = window->lampTimer.remainingTime();
            QTest::mouseClick(buttonOf(*window, kind), mouseButton);
            const int left = window->lampTimer.remainingTime(); // the lamps keep their beat
            QVERIFY(left >= 0 && left <= beat);
            QCOMPARE(QList<int>({window->leds.index, window->leds.mode, window->leds.litLamp}),
                     QList<int>({kind, kLedRunning, -1}));
            QVERIFY(window->activityTimer.isActive() && !selection.isVisible() &&
                    !QFile::exists(window->statusFilePath()) &&
                    window->pressedButtons[kind]->isHidden());
            QCOMPARE(window->progressBar->image(), barImage(window->progressBackgroundImage));
            QVERIFY(!engineRunning(previous, previousStart));
            QCOMPARE(receivedArgument(), "1:" + argument);
            std::tie(previous, previousStart) =
                std::pair(window->engineProcessId, window->engineStartTime);
            QVERIFY(engineRunning(previous, previousStart));
        }
        // Without a selection file Latest VU asks for one and leaves the download running.
        QFile::remove(window->appDataFolder + "/" + kLatestVUFileName);
        QTest::mouseClick(window->latestVuButton, Qt::LeftButton);
        QVERIFY(boxes_.size() == 1 &&
                boxes_.takeFirst().startsWith("VantrelPC - Latest VU Settings: Please set"));
        QVERIFY(window->pressedButtons[kLatestVU]->isHidden() &&
                engineRunning(previous, previousStart));
        // Without an engine a start ends the running one, says so and shows the failure; a
        // quick double-click, as the system delivers it (a click, then a double-click), is one
        // start.
        QFile::remove(engineDir_.filePath("vnpcBASE"));
        QVERIFY(writeFile(window->appDataFolder + "/" + kLatestVUFileName, "001\r\n1\r\n"));
        const QImage dark = lookOf(*window, kAllVU);
        for (int kind : {kCard, kLatestVU}) {
            window->lampTimer.start(1000);
            QTest::mouseDClick(window->windowHandle(), Qt::LeftButton, {},
                               buttonOf(*window, kind)->geometry().center());
            QCOMPARE(std::exchange(boxes_, {}), QStringList{"VantrelPC: " + missingText_});
            QVERIFY(!engineRunning(previous, previousStart) &&
                    window->pressedButtons[kind]->isHidden());
            checkFailed(*window, kind, dark, "Failed - " + missingText_);
        }
        // Closing the front end ends the engine it started last.
        standIn(kStays, "VNPCBase");
        QTest::mouseClick(window->allVuButton, Qt::LeftButton);
        QVERIFY(receivedArgument().startsWith("1:A E"));
        std::tie(previous, previousStart) =
            std::pair(window->engineProcessId, window->engineStartTime);
        window.reset();
        QVERIFY(!engineRunning(previous, previousStart));
    }
};

QTEST_MAIN(TestFrontWindow)
#include "test_front_window.moc"
