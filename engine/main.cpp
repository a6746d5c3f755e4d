#include "EngineWindow.h"
#include "InstanceLock.h"
#include "TerminationSignal.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    keepInheritedDescriptorsHere();
    ignoreClosedPipes();
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);

    // The front end hands over its command as one argument; by hand it may come in pieces.
    QStringList arguments = app.arguments();
    arguments.removeFirst();
    const QString commandLineText = arguments.join(QLatin1Char(' '));

    EngineWindow window;
    onTerminationRequest([&window] { window.engine().closedByUser(); });
    window.engine().load(commandLineText);
    if (window.engine().ended()) return 0;
    return app.exec();
}
