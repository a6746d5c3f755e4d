#include "LatestVuWindow.h"
#include "MainWindow.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("VantrelPC"));
    QApplication::setApplicationVersion(QStringLiteral(VANTREL_VERSION));
    // The desktop shows the window under its launcher: by this entry name on Wayland, by the
    // window class (the application name, StartupWMClass in the entry) on X11.
    QGuiApplication::setDesktopFileName(QStringLiteral("vantrel-pc"));
    MainWindow window;
    window.setLatestVuWindow(new LatestVuWindow(&window));
    window.load();
    return app.exec();
}
