// Takes the README's pictures of the main window (idle, running, complete) and of the
// Latest VU selection window on a real display, with a plain backdrop behind them so that the
// cut-out outline shows. Run under Xvfb:
//   xvfb-run -a -s "-screen 0 1280x1100x24" front_screenshots <folder> [picture ...]
// Pictures: front-idle, front-running, front-complete, front-failed, latest-vu (the default
// five) and latest-vu-de (German captions, for checking them by eye). Under QT_SCALE_FACTOR the
// files are named with the scale, such as latest-vu@2x.png.
#include "DownloadSettings.h"
#include "LatestVuWindow.h"
#include "MainWindow.h"
#include "Progress.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>
#include <cstdio>

namespace {
// Until the windows are on the screen and painted.
void settle(const QWidget& window) {
    for (int i = 0; i < 100 && !(window.windowHandle() && window.windowHandle()->isExposed()); ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QEventLoop loop;
    QTimer::singleShot(100, &loop, &QEventLoop::quit);
    loop.exec();
}

bool save(const QRect& area, const QString& folder, const QString& name) {
    QScreen* screen = QGuiApplication::primaryScreen();
    const QPixmap shot = screen->grabWindow(0, area.x(), area.y(), area.width(), area.height());
    const qreal scale = screen->devicePixelRatio();
    const QString suffix = scale == 1 ? QString() : QStringLiteral("@%1x").arg(scale);
    const QString file = QDir(folder).filePath(name + suffix + QStringLiteral(".png"));
    if (!shot.save(file)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
        return false;
    }
    std::printf("%s\n", qPrintable(file));
    return true;
}

// The selection window opened by a right click on Latest VU, beside the main window.
bool shootSelection(const QString& folder, const QString& name, const QString& language) {
    MainWindow window;
    window.move(24, 24);
    window.load();
    DownloadSettings::language = language;
    auto* selection = new LatestVuWindow(&window);
    window.setLatestVuWindow(selection);
    window.latestVuPressed(Qt::RightButton);
    settle(*selection);
    const QRect both = window.frameGeometry().united(selection->frameGeometry());
    return save(both.adjusted(-24, -24, 24, 24), folder, name);
}

void writeStatus(const MainWindow& window, const QByteArray& line) {
    QFile file(window.statusFilePath());
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) file.write(line + "\r\n");
}

// Lamps and bar come from the window's own poll and lamp ticks, with the timers held. No
// engine runs: the download under way is drawn as its poll would draw it, and only a final
// status line goes through the poll.
void prepare(MainWindow& window, const QString& state) {
    window.lampTimer.stop();
    if (state == QLatin1String("idle")) {
        window.stepLamps(); // the idle scan lights lamp 1 first
        return;
    }
    window.leds.mode = kLedRunning;
    window.leds.index = state == QLatin1String("running")  ? 0
                        : state == QLatin1String("failed") ? 1
                                                           : 2;
    window.showProgress(QStringLiteral("0014/0028"));
    if (state != QLatin1String("running")) {
        writeStatus(window,
                    state == QLatin1String("failed") ? "Failed - Receive timeout" : "Complete");
        window.pollActivity();
    }
    window.stepLamps();
}

bool shootMain(const QString& folder, const QString& state) {
    MainWindow window;
    window.move(24, 24);
    window.load();
    prepare(window, state);
    settle(window);
    const QRect area = window.frameGeometry().adjusted(-24, -24, 24, 24);
    return save(area, folder, QStringLiteral("front-") + state);
}
} // namespace

int main(int argc, char* argv[]) {
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", home.filePath(QStringLiteral("data")).toUtf8());
    qputenv("HOME", home.path().toUtf8());
    QApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    const QString folder = arguments.value(0, QStringLiteral("."));
    QStringList pictures = arguments.mid(1);
    if (pictures.isEmpty())
        pictures = {QStringLiteral("front-idle"), QStringLiteral("front-running"),
                    QStringLiteral("front-complete"), QStringLiteral("front-failed"),
                    QStringLiteral("latest-vu")};
    QDir().mkpath(folder);

    QWidget backdrop(nullptr, Qt::FramelessWindowHint);
    backdrop.setStyleSheet(QStringLiteral("background: #d9dee4;"));
    backdrop.setGeometry(QGuiApplication::primaryScreen()->geometry());
    backdrop.show();

    for (const QString& picture : pictures) {
        bool saved = false;
        const QString state = picture.mid(6);
        if (picture.startsWith(QLatin1String("front-")) &&
            QStringList{QStringLiteral("idle"), QStringLiteral("running"),
                        QStringLiteral("complete"), QStringLiteral("failed")}
                .contains(state))
            saved = shootMain(folder, state);
        else if (picture == QLatin1String("latest-vu"))
            saved = shootSelection(folder, picture, QStringLiteral("EN"));
        else if (picture == QLatin1String("latest-vu-de"))
            saved = shootSelection(folder, picture, QStringLiteral("DE"));
        else
            std::fprintf(stderr, "unknown picture %s\n", qPrintable(picture));
        if (!saved) return 1;
    }
    return 0;
}
