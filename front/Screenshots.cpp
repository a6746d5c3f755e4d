// Takes the README's pictures of the main window (idle, running, complete) on a real
// display, with a plain backdrop behind it so that the cut-out outline shows.
// Run under Xvfb: xvfb-run -a -s "-screen 0 640x600x24" front_screenshots <folder>
#include "Form1.h"
#include "Progress.h"

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
        const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(
            0, area.x(), area.y(), area.width(), area.height());
        const QString file = QDir(folder).filePath(QStringLiteral("front-%1.png").arg(state));
        if (!shot.save(file)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
            return 1;
        }
        std::printf("%s\n", qPrintable(file));
    }
    return 0;
}
