#include "Form1.h"
#include "frmLatestSettings.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("VantrelPC"));
    QApplication::setApplicationVersion(QStringLiteral(VANTREL_VERSION));
    Form1 window;
    window.setLatestSettingsWindow(new frmLatestSettings(&window));
    window.Form_Load();
    return app.exec();
}
