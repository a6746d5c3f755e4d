#include "InstanceLock.h"
#include "TerminationSignal.h"
#include "EngineWindow.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    KeepInheritedDescriptorsHere();
    IgnoreClosedPipes();
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);

    // The front end hands over its command as one argument; by hand it may come in pieces.
    QStringList arguments = app.arguments();
    arguments.removeFirst();
    const QString commandLineText = arguments.join(QLatin1Char(' '));

    frmDiagnostics window;
    OnTerminationRequest([&window] { window.engine().Form_Unload(); });
    window.engine().Form_Load(commandLineText);
    if (window.engine().ended()) return 0;
    return app.exec();
}
