// The front end's main window, offscreen: its controls and outline, the poll and the bar,
// and the launcher driven by clicks, with a small stand-in for the engine that records the
// argument it was given.
#include "Artwork.h"
#include "Form1.h"
#include "Launcher.h"
#include "MessageBox.h"
#include "Progress.h"
#include "SkinControls.h"

#include "TestFiles.h"

#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <sys/file.h>

namespace {
struct Box {
    QString text;
    QString title;
};

// The same rows of two images.
bool SameRows(const QImage& a, const QImage& b, int first, int last) {
    for (int y = first; y <= last; ++y) {
        for (int x = 0; x < a.width(); ++x) {
            if (a.pixel(x, y) != b.pixel(x, y)) return false;
        }
    }
    return true;
}

// A window whose drag the system takes over, as under Wayland or a window manager, and which
// may never deliver the release that ends it.
class SystemMovedForm : public Form1 {
    bool StartSystemMove() override { return true; }
};

// The key colour or a shade of it, such as a frame drawn darker than the window's colour.
bool KeyLike(QRgb p) {
    return qGreen(p) < 64 && qRed(p) > 96 && qBlue(p) > 96 && qAbs(qRed(p) - qBlue(p)) < 64;
}
} // namespace

class TestFrontWindow : public QObject {
    Q_OBJECT

    QTemporaryDir home_;
    QTemporaryDir engineDir_;
    std::vector<Box> boxes_;
    QString argsFile_;
    QProcess xvfb_;
    QString display_;

    // One X server for every display scale; empty when Xvfb is not installed.
    QString Display() {
        if (!display_.isEmpty() || xvfb_.state() != QProcess::NotRunning) return display_;
        const QString xvfb = QStandardPaths::findExecutable("Xvfb");
        if (xvfb.isEmpty()) return QString();
        xvfb_.start(xvfb, {"-displayfd", "1", "-screen", "0", "1280x1100x24", "-nolisten", "tcp"});
        if (xvfb_.waitForStarted(5000) &&
            QTest::qWaitFor([&] { return xvfb_.canReadLine(); }, 10000))
            display_ = ':' + QString::fromLatin1(xvfb_.readLine().trimmed());
        return display_.isEmpty() ? QStringLiteral("(Xvfb did not start)") : display_;
    }

    // A stand-in engine: records how many arguments it got and the first one, then either
    // ends or stays (exec sleep) like an engine still busy with a download.
    void InstallStandIn(const QString& name, bool stays) {
        argsFile_ = engineDir_.filePath("args.txt");
        QByteArray script = "#!/bin/sh\nprintf '%s\\n%s\\n' \"$#\" \"$1\" > \"" +
                            argsFile_.toUtf8() + ".tmp\"\nmv \"" + argsFile_.toUtf8() +
                            ".tmp\" \"" + argsFile_.toUtf8() + "\"\n";
        if (stays) script += "exec sleep 30\n";
        QVERIFY(WriteFile(engineDir_.filePath(name), script, kExecutable));
    }

    // The argument the stand-in received, once it has run.
    QString ReceivedArgument() {
        if (!QTest::qWaitFor([&] { return QFile::exists(argsFile_); }, 5000))
            return QStringLiteral("(stand-in not started)");
        const QList<QByteArray> lines = ReadAll(argsFile_).split('\n');
        QFile::remove(argsFile_);
        if (lines.size() < 2 || lines.at(0) != "1") return QStringLiteral("(not one argument)");
        return QString::fromUtf8(lines.at(1));
    }

private slots:
    void initTestCase() {
        qputenv("HOME", home_.path().toUtf8());
        qputenv("XDG_DATA_HOME", home_.filePath("data").toUtf8());
        SetMessageBoxHandler([this](const QString& text, const QString& title) {
            boxes_.push_back({text, title});
        });
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

    void controlsAtTheirPlaces_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("geometry");
        QTest::newRow("cmdAllVU") << "cmdAllVU" << QRect(80, 174, 57, 57);
        QTest::newRow("cmdLatestVU") << "cmdLatestVU" << QRect(80, 246, 57, 57);
        QTest::newRow("cmdCard") << "cmdCard" << QRect(80, 318, 57, 57);
        QTest::newRow("Button0Pressed") << "Button0Pressed" << QRect(80, 174, 57, 57);
        QTest::newRow("Button1Pressed") << "Button1Pressed" << QRect(80, 246, 57, 57);
        QTest::newRow("Button2Pressed") << "Button2Pressed" << QRect(79, 318, 57, 57);
        QTest::newRow("PictureLED0") << "PictureLED0" << QRect(151, 191, 24, 24);
        QTest::newRow("PictureLED1") << "PictureLED1" << QRect(151, 263, 24, 24);
        QTest::newRow("PictureLED2") << "PictureLED2" << QRect(151, 333, 24, 24);
        QTest::newRow("PictureProgBar") << "PictureProgBar" << QRect(2, 170, 61, 208);
        QTest::newRow("Close") << "Close" << QRect(152, 24, 16, 16);
        QTest::newRow("lblRev") << "lblRev" << QRect(120, 448, 89, 17);
        QTest::newRow("lblCopyright") << "lblCopyright" << QRect(4, 448, 137, 25);
    }
    void controlsAtTheirPlaces() {
        QFETCH(QString, name);
        QFETCH(QRect, geometry);
        Form1 window;
        window.Form_Load();
        QCOMPARE(window.size(), QSize(215, 479));
        const QWidget* control = window.findChild<QWidget*>(name);
        QVERIFY(control);
        QCOMPARE(control->geometry(), geometry);
    }

    void startUp() {
        Form1 window;
        window.Form_Load();
        QCOMPARE(window.windowTitle(), QStringLiteral("VantrelPC"));
        QCOMPARE(window.windowIcon().pixmap(48).toImage(), // the desktop entry's icon
                 Artwork::AppIcon(48).convertToFormat(QImage::Format_ARGB32_Premultiplied));
        QVERIFY(window.AppDataFolder.endsWith("/Fenwright/Vantrel PC"));
        QVERIFY(QFileInfo(window.AppDataFolder + "/Settings.ini").isFile());
        QVERIFY(QRegularExpression("^Version \\d+\\.\\d+\\.\\d+$")
                    .match(window.lblRev->text())
                    .hasMatch());
        QVERIFY(window.lblCopyright->text().endsWith(' ' +
                                                     QString::number(QDate::currentDate().year())));
        QVERIFY(window.tmrLEDs.isActive());
        QVERIFY(!window.timerActivity.isActive());
        QCOMPARE(window.Leds.LedMode, qint16(kLedIdle));
        QCOMPARE(window.Leds.LitLed, -1);
        const QImage dark = window.PictureLEDOffBuffer.copy(0, 0, 24, 24);
        for (PictureBox* lamp : window.PictureLED)
            QCOMPARE(lamp->image(), dark);
        QCOMPARE(window.PictureProgBar->image(), window.PictureProgBgBuffer.copy(0, 0, 61, 208));
        window.tmrLEDs_Timer();
        QCOMPARE(window.PictureLED[1]->image(), window.PictureLEDOnBuffer);
        QCOMPARE(window.tmrLEDs.interval(), 150);
    }

    void outlineCutByKeyColour() {
        Form1 window;
        window.Form_Load();
        const QRegion mask = window.mask();
        QVERIFY(!mask.isEmpty());
        for (QPoint inside : {QPoint(108, 200), QPoint(30, 300), QPoint(163, 203), QPoint(107, 80)})
            QVERIFY2(mask.contains(inside),
                     qPrintable(QStringLiteral("%1,%2").arg(inside.x()).arg(inside.y())));
        for (QPoint outside : {QPoint(0, 0), QPoint(214, 0), QPoint(0, 449), QPoint(210, 476)})
            QVERIFY2(!mask.contains(outside),
                     qPrintable(QStringLiteral("%1,%2").arg(outside.x()).arg(outside.y())));
        // The version text below the skin stays visible.
        QVERIFY(mask.intersects(QRect(120, 451, 89, 14)));
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
        const QString display = Display();
        if (display.isEmpty())
            QSKIP("Xvfb is not installed: the outline on a display is unchecked");
        QTemporaryDir shots;
        QProcess tool;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", display);
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
            QVERIFY2(qAbs(shot.width() - logical.width() * scale) <= 1, qPrintable(files.at(i)));
            QVERIFY2(qAbs(shot.height() - logical.height() * scale) <= 1, qPrintable(files.at(i)));
            const QRgb backdrop = shot.pixel(0, 0);
            qint64 face = 0;
            for (int y = 0; y < shot.height(); ++y) {
                for (int x = 0; x < shot.width(); ++x) {
                    const QRgb p = shot.pixel(x, y);
                    QVERIFY2(
                        !KeyLike(p),
                        qPrintable(QStringLiteral("%1 at %2,%3").arg(files.at(i)).arg(x).arg(y)));
                    face += p != backdrop;
                }
            }
            QVERIFY(face > qint64(shot.width()) * shot.height() / 2); // the windows are there
        }
    }

    // The pictures in their design sizes (a blend towards the key colour anywhere on the
    // screen is caught by outlineAtDisplayScales).
    void artworkSizes() {
        QCOMPARE(Artwork::Skin().size(), QSize(216, 450));
        QCOMPARE(Artwork::ButtonPressed(2).size(), QSize(57, 57));
        QCOMPARE(Artwork::LedOn().size(), QSize(24, 24));
        QCOMPARE(Artwork::LedOff().size(), QSize(26, 25));
        QCOMPARE(Artwork::BarFull().size(), QSize(64, 211));
        QCOMPARE(Artwork::BarEmpty().size(), QSize(64, 211));
        QCOMPARE(Artwork::CloseImage().size(), QSize(16, 16));
        QVERIFY(Artwork::LedOn() != Artwork::LedOff().copy(0, 0, 24, 24));
        QVERIFY(Artwork::BarFull() != Artwork::BarEmpty());
    }

    void poll_data() {
        QTest::addColumn<bool>("fileExists");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("ledMode");
        QTest::addColumn<bool>("polling");
        QTest::addColumn<QString>("bar"); // "full", "empty", "kept" or a first filled row
        QTest::newRow("Complete") << true << QByteArray("Complete\r\n") << 5 << false << "full";
        QTest::newRow("Failed") << true << QByteArray("Failed\r\n") << 6 << false << "kept";
        QTest::newRow("Failed - open")
            << true << QByteArray("Failed - maybe USB device is open\r\n") << 6 << false << "kept";
        QTest::newRow("Downloading")
            << true << QByteArray("Downloading\r\n") << 4 << true << "kept";
        QTest::newRow("USB Error") << true << QByteArray("USB Error\r\n") << 6 << false << "kept";
        // The engine's last word after repeated integrity errors: it writes nothing more.
        QTest::newRow("Aborted") << true << QByteArray("Aborted\r\n") << 6 << false << "kept";
        QTest::newRow("lower case") << true << QByteArray("complete\r\n") << 4 << true << "kept";
        QTest::newRow("empty file") << true << QByteArray() << 4 << true << "kept";
        QTest::newRow("no file") << false << QByteArray() << 4 << true << "kept";
        QTest::newRow("3 of 28") << true << QByteArray("0003/0028\r\n") << 4 << true << "176";
        QTest::newRow("counter and comment")
            << true << QByteArray("0003/0028 x\r\n") << 4 << true << "176";
        QTest::newRow("five digits") << true << QByteArray("12345/0028\r\n") << 4 << true << "kept";
        QTest::newRow("nothing yet") << true << QByteArray("0000/0028\r\n") << 4 << true << "empty";
        QTest::newRow("beyond total") << true << QByteArray("0029/0028\r\n") << 4 << true << "full";
    }
    void poll() {
        QFETCH(bool, fileExists);
        QFETCH(QByteArray, content);
        QFETCH(int, ledMode);
        QFETCH(bool, polling);
        QFETCH(QString, bar);
        Form1 window;
        window.Form_Load();
        window.tmrLEDs.stop();
        window.Leds.LedMode = kLedRunning;
        window.timerActivity.start();
        window.ShowProgress("0001/0028"); // what the bar showed before this poll
        const QImage before = window.PictureProgBar->image();
        QFile::remove(window.statusFilePath());
        if (fileExists) QVERIFY(WriteFile(window.statusFilePath(), content));
        window.timerActivity_Timer();
        QCOMPARE(int(window.Leds.LedMode), ledMode);
        QCOMPARE(window.timerActivity.isActive(), polling);
        const QImage shown = window.PictureProgBar->image();
        const QImage full = window.PictureProgBarBuffer.copy(0, 0, 61, 208);
        const QImage empty = window.PictureProgBgBuffer.copy(0, 0, 61, 208);
        if (bar == "full")
            QCOMPARE(shown, full);
        else if (bar == "empty")
            QCOMPARE(shown, empty);
        else if (bar == "kept")
            QCOMPARE(shown, before);
        else {
            const int row = bar.toInt();
            QVERIFY(SameRows(shown, full, row, 207));
            QVERIFY(SameRows(shown, before, 0, row - 1));
            QVERIFY(!SameRows(shown, before, row, 207));
        }
    }

    // Another program's engine (a headless download) holds the data folder: a start and a
    // close leave its status and its log alone.
    void otherEngineRunning_data() {
        QTest::addColumn<bool>("close");
        QTest::newRow("start") << false;
        QTest::newRow("close") << true;
    }
    void otherEngineRunning() {
        QFETCH(bool, close);
        InstallStandIn("VNPCBase", true);
        Form1 window;
        window.setEngineFolder(engineDir_.path());
        window.Form_Load();
        const QString folder = window.AppDataFolder;
        QVERIFY(WriteFile(folder + "/VNPCstatus.txt", "0003/0010\r\n"));
        QVERIFY(WriteFile(folder + "/VNPC.log", "other engine's log\r\n"));
        QFile lock(folder + "/VNPCBase.lock");
        QVERIFY(lock.open(QIODevice::WriteOnly));
        QVERIFY(::flock(lock.handle(), LOCK_EX | LOCK_NB) == 0);
        if (close)
            window.close();
        else
            QTest::mouseClick(window.cmdAllVU, Qt::LeftButton);
        QCOMPARE(ReadAll(folder + "/VNPCstatus.txt", kNoFile), QByteArray("0003/0010\r\n"));
        QCOMPARE(ReadAll(folder + "/VNPC.log", kNoFile), QByteArray("other engine's log\r\n"));
        QVERIFY(!EngineRunning(window.EngineProcessId, window.EngineStartTime));
        lock.remove();
    }

    // Without an engine every start shows its message and ends in the failure state, also
    // while a download runs; a double-click is one start.
    void missingEngine_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("doubleClick");
        QTest::addColumn<bool>("running");
        QTest::newRow("All VU") << int(kAllVU) << false << false;
        QTest::newRow("All VU, double-click") << int(kAllVU) << true << false;
        QTest::newRow("Latest VU, double-click") << int(kLatestVU) << true << false;
        QTest::newRow("Card, double-click") << int(kCard) << true << false;
        QTest::newRow("Card, while a download runs") << int(kCard) << false << true;
    }
    void missingEngine() {
        QFETCH(int, kind);
        QFETCH(bool, doubleClick);
        QFETCH(bool, running);
        Form1 window;
        window.setEngineFolder(engineDir_.path());
        window.Form_Load();
        if (running) {
            InstallStandIn("VNPCBase", true);
            QTest::mouseClick(window.cmdAllVU, Qt::LeftButton);
            QCOMPARE(ReceivedArgument().left(3), QStringLiteral("A E"));
            QVERIFY(window.timerActivity.isActive());
        }
        QFile::remove(engineDir_.filePath("VNPCBase"));
        QVERIFY(WriteFile(window.AppDataFolder + "/" + kLatestVUFileName, "001002005\r\n7\r\n"));
        QWidget* button =
            std::array<QWidget*, 3>{window.cmdAllVU, window.cmdLatestVU, window.cmdCard}[kind];
        if (doubleClick) // as the system delivers it: two clicks, the second one a double-click
            QTest::mouseDClick(window.windowHandle(), Qt::LeftButton, {},
                               button->geometry().center());
        else
            QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(boxes_.size(), size_t(1));
        QCOMPARE(boxes_[0].text, QStringLiteral("Download application missing from 'deps' folder"));
        QCOMPARE(boxes_[0].title, QStringLiteral("VantrelPC"));
        QCOMPARE(window.Leds.LedMode, qint16(kLedFailed));
        QVERIFY(!EngineRunning(window.EngineProcessId, window.EngineStartTime));
        QVERIFY(!window.timerActivity.isActive());
        QVERIFY(window.ButtonPressed[kind]->isHidden());
        window.tmrLEDs_Timer();
        QVERIFY(!window.tmrLEDs.isActive());
        QCOMPARE(window.PictureLED[kind]->image(), window.PictureLEDOnBuffer);
    }

    void latestWithoutSelectionFile() {
        InstallStandIn("VNPCBase", false);
        Form1 window;
        window.setEngineFolder(engineDir_.path());
        window.Form_Load();
        QFile::remove(window.AppDataFolder + "/" + kLatestVUFileName);
        QTest::mousePress(window.cmdLatestVU, Qt::LeftButton);
        QCOMPARE(boxes_.size(), size_t(1));
        QCOMPARE(boxes_[0].title, QStringLiteral("VantrelPC - Latest VU Settings"));
        QVERIFY(window.ButtonPressed[1]->isHidden());
        QCOMPARE(window.EngineProcessId, qint64(0));
        QCOMPARE(window.Leds.LedMode, qint16(kLedIdle));
        QVERIFY(!window.timerActivity.isActive());
        QTest::qWait(200);
        QVERIFY(!QFile::exists(argsFile_));
    }

    // Only the face drags the window, by the system's move where there is one; the selection
    // window is hidden on the way and comes back at its offset when the move ends, also when
    // the system swallows the release. The lamps, the bar and the label lines do not drag.
    void drag_data() {
        QTest::addColumn<QString>("part");  // pressed in its middle, or the face
        QTest::addColumn<QString>("mover"); // "" the window itself, or "system"
        QTest::addColumn<bool>("released");
        QTest::newRow("face") << ""
                              << "" << true;
        QTest::newRow("face, by the system") << ""
                                             << "system" << true;
        QTest::newRow("face, by the system, no release") << ""
                                                         << "system" << false;
        QTest::newRow("lamp") << "PictureLED1"
                              << "" << true;
        QTest::newRow("bar") << "PictureProgBar"
                             << "" << true;
        QTest::newRow("version line") << "lblRev"
                                      << "" << true;
        QTest::newRow("copyright line") << "lblCopyright"
                                        << "" << true;
    }
    void drag() {
        QFETCH(QString, part);
        QFETCH(QString, mover);
        QFETCH(bool, released);
        std::unique_ptr<Form1> form(mover.isEmpty() ? new Form1 : new SystemMovedForm);
        Form1& window = *form;
        window.Form_Load();
        QWidget selection;
        window.setLatestSettingsWindow(&selection);
        window.move(100, 50);
        QTest::mouseClick(window.cmdLatestVU, Qt::RightButton); // opens it, starts nothing
        QVERIFY(selection.isVisible());
        QCOMPARE(window.EngineProcessId, qint64(0));
        QVERIFY(boxes_.empty());
        const QPoint at = part.isEmpty() ? QPoint(108, 100)
                                         : window.findChild<QWidget*>(part)->geometry().center();
        QWindow* handle = window.windowHandle();
        QTest::mousePress(handle, Qt::LeftButton, {}, at);
        const bool drags = part.isEmpty();
        QCOMPARE(selection.isVisible(), !drags);
        QTest::mouseMove(handle, at + QPoint(30, 20));
        const QPoint moved = drags && mover.isEmpty() ? QPoint(130, 70) : QPoint(100, 50);
        QCOMPARE(window.pos(), moved);
        QCOMPARE(selection.isVisible(), !drags);
        // Released where the pointer is on the screen, wherever the window went.
        const QPoint end = at + QPoint(30, 20) - (moved - QPoint(100, 50));
        if (released) {
            QTest::mouseRelease(handle, Qt::LeftButton, {}, end);
        } else {
            QMouseEvent buttonUp(QEvent::MouseMove, end, window.mapToGlobal(end), Qt::NoButton,
                                 Qt::NoButton, Qt::NoModifier);
            QApplication::sendEvent(&window, &buttonUp);
        }
        QVERIFY(selection.isVisible());
        QCOMPARE(selection.pos(), moved + QPoint(175, 81));
    }

    void commandLines_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("mouseButton");
        QTest::addColumn<QPoint>("position");
        QTest::addColumn<QString>("argument");
        QTest::addColumn<int>("kind");
        QTest::newRow("All VU") << "cmdAllVU" << int(Qt::LeftButton) << QPoint(320, 160)
                                << "A E {3000,8100}" << 0;
        QTest::newRow("Card") << "cmdCard" << int(Qt::LeftButton) << QPoint(320, 160)
                              << "C E {3000,8100}" << 2;
        QTest::newRow("Latest VU") << "cmdLatestVU" << int(Qt::LeftButton) << QPoint(320, 160)
                                   << "\"L [001002005] 7 E {3000,8100}\"" << 1;
        QTest::newRow("Latest VU, middle button")
            << "cmdLatestVU" << int(Qt::MiddleButton) << QPoint(320, 160)
            << "\"L [001002005] 7 E {3000,8100}\"" << 1;
        QTest::newRow("left of the screen")
            << "cmdAllVU" << int(Qt::LeftButton) << QPoint(-20, 0) << "A E {600,3000}" << 0;
    }
    void commandLines() {
        QFETCH(QString, button);
        QFETCH(int, mouseButton);
        QFETCH(QPoint, position);
        QFETCH(QString, argument);
        QFETCH(int, kind);
        InstallStandIn("vnpcBASE", false); // found whatever its letter case
        Form1 window;
        window.setEngineFolder(engineDir_.path());
        window.Form_Load();
        window.move(position);
        QCOMPARE(window.pos(), position);
        QVERIFY(WriteFile(window.AppDataFolder + "/" + kLatestVUFileName, "001002005\r\n7\r\n"));
        // A status line left from an earlier run must not reach the new download's poll.
        QVERIFY(WriteFile(window.statusFilePath(), "Complete\r\n"));
        window.ShowProgress("0028/0028");
        QWidget selection; // hidden by every start
        window.setLatestSettingsWindow(&selection);
        selection.show();
        QWidget* hitArea = window.findChild<QWidget*>(button);
        if (button == "cmdLatestVU")
            QTest::mousePress(hitArea, Qt::MouseButton(mouseButton));
        else
            QTest::mouseClick(hitArea, Qt::MouseButton(mouseButton));
        QCOMPARE(ReceivedArgument(), argument);
        QVERIFY(boxes_.empty());
        QVERIFY(window.EngineProcessId > 0);
        QCOMPARE(window.DownloadKind, kind);
        QCOMPARE(window.Leds.LedIndex, kind);
        QCOMPARE(window.Leds.LedMode, qint16(kLedRunning));
        QCOMPARE(window.Leds.LitLed, -1);
        QVERIFY(window.timerActivity.isActive());
        QVERIFY(!QFile::exists(window.statusFilePath()));
        QCOMPARE(window.PictureProgBar->image(), window.PictureProgBgBuffer.copy(0, 0, 61, 208));
        for (SkinControl* pressed : window.ButtonPressed)
            QVERIFY(pressed->isHidden());
        QVERIFY(!selection.isVisible());
    }

    void newStartStopsRunningEngine() {
        InstallStandIn("VNPCBase", true);
        qint64 second = 0;
        qint64 secondStart = -1;
        {
            Form1 window;
            window.setEngineFolder(engineDir_.path());
            window.Form_Load();
            QTest::mouseClick(window.cmdAllVU, Qt::LeftButton);
            QCOMPARE(ReceivedArgument().left(3), QStringLiteral("A E"));
            const qint64 first = window.EngineProcessId;
            const qint64 firstStart = window.EngineStartTime;
            QVERIFY(EngineRunning(first, firstStart));
            window.tmrLEDs.start(1000);
            QTest::qWait(50);
            const int beat = window.tmrLEDs.remainingTime();
            QTest::mouseClick(window.cmdCard, Qt::LeftButton);
            // The lamps keep their beat: the start does not restart the running lamp timer.
            QVERIFY(window.tmrLEDs.remainingTime() <= beat);
            QVERIFY(!EngineRunning(first, firstStart));
            QCOMPARE(ReceivedArgument().left(3), QStringLiteral("C E"));
            second = window.EngineProcessId;
            secondStart = window.EngineStartTime;
            QVERIFY(second != first);
            QVERIFY(EngineRunning(second, secondStart));
        }
        // Closing the front end ends the engine it started last.
        QVERIFY(!EngineRunning(second, secondStart));
    }
};

QTEST_MAIN(TestFrontWindow)
#include "test_front_window.moc"
