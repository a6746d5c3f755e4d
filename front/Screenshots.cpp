// Takes the README's pictures of the main window (idle, running, complete) and of the
// Latest VU selection window on a real display, with a plain backdrop behind them so that the
// cut-out outline shows. Run under Xvfb:
//   xvfb-run -a -s "-screen 0 640x600x24" front_screenshots <folder> [German picture file]
#include "DownloadSettings.h"
#include "Form1.h"
#include "Progress.h"
#include "frmLatestSettings.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

namespace {
void Settle(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool Save(const QRect& area, const QString& file) {
    const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(),
                                                                      area.width(), area.height());
    if (!shot.save(file)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
        return false;
    }
    std::printf("%s\n", qPrintable(file));
    return true;
}

// The selection window opened by a right click on Latest VU, beside the main window.
bool ShootSelection(const QString& file, const QString& language) {
    Form1 window;
    window.move(24, 24);
    window.Form_Load();
    DownloadSettings::Language = language;
    auto* selection = new frmLatestSettings(&window);
    window.setLatestSettingsWindow(selection);
    window.cmdLatestVU_MouseDown(Qt::RightButton);
    Settle(400);
    const QRect both = window.frameGeometry().united(selection->frameGeometry());
    return Save(both.adjusted(-24, -24, 24, 24), file);
}

void WriteStatus(const Form1& window, const QByteArray& line) {
    QFile file(window.statusFilePath());
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) file.write(line + "\r\n");
}

// Lamps and bar come from the window's own poll and lamp ticks, with the timers held.
void Prepare(Form1& window, const QString& state) {
    window.tmrLEDs.stop();
    if (state == QLatin1String("idle")) {
        window.tmrLEDs_Timer(); // the idle scan lights lamp 1 first
        return;
    }
    window.Leds.LedMode = kLedRunning;
    window.Leds.LedIndex = state == QLatin1String("running") ? 0 : 2;
    WriteStatus(window, state == QLatin1String("running") ? "0014/0028" : "Complete");
    window.timerActivity_Timer();
    window.tmrLEDs_Timer();
}
} // namespace

int main(int argc, char* argv[]) {
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", home.filePath(QStringLiteral("data")).toUtf8());
    qputenv("HOME", home.path().toUtf8());
    QApplication app(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QDir().mkpath(folder);

    QWidget backdrop(nullptr, Qt::FramelessWindowHint);
    backdrop.setStyleSheet(QStringLiteral("background: #d9dee4;"));
    backdrop.setGeometry(QGuiApplication::primaryScreen()->geometry());
    backdrop.show();

    for (const QString& state :
         {QStringLiteral("idle"), QStringLiteral("running"), QStringLiteral("complete")}) {
        Form1 window;
        window.move(24, 24);
        window.Form_Load();
        Prepare(window, state);
        Settle(400);
        const QRect area = window.frameGeometry().adjusted(-24, -24, 24, 24);
        if (!Save(area, QDir(folder).filePath(QStringLiteral("front-%1.png").arg(state)))) return 1;
    }
    if (!ShootSelection(QDir(folder).filePath(QStringLiteral("latest-vu.png")), "EN")) return 1;
    // The German captions and layout, for checking them by eye (not in the README).
    if (argc > 2 && !ShootSelection(QString::fromLocal8Bit(argv[2]), "DE")) return 1;
    return 0;
}
