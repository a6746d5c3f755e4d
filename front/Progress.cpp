#include "Progress.h"

#include "Launcher.h"

#include <QFile>
#include <cmath>

QString readStatusLine(const QString& filePath) {
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly)) return QString();
    return readSettingsLine(file);
}

PollAction interpretStatusLine(const QString& line) {
    const QString head = line.left(6);
    if (head == QLatin1String("Comple")) return PollAction::Complete;
    // "Aborted" is final too: the engine gave up and will not write again.
    if (head == QLatin1String("Failed") || head == QLatin1String("USB Er") ||
        head == QLatin1String("Aborte"))
        return PollAction::Failed;
    if (head == QLatin1String("Downlo")) return PollAction::Continue;
    if (line.size() >= 5 && line.at(4) == QLatin1Char('/')) return PollAction::Progress;
    return PollAction::Continue;
}

PollAction interpretPoll(const QString& line, bool engineEnded) {
    const PollAction action = interpretStatusLine(line);
    const bool final = action == PollAction::Complete || action == PollAction::Failed;
    return engineEnded && !final ? PollAction::EngineEnded : action;
}

BarFill computeBarFill(const QString& progress, int barHeight) {
    const double done = leadingNumber(progress.left(4));
    if (done <= 0) return {BarFill::Empty};
    const double total = leadingNumber(progress.mid(5, 4));
    // The engine never writes a total of 0 with progress above it; show such a line as
    // done rather than dividing by zero. A negative total comes out below as an empty bar.
    if (total == 0) return {BarFill::Full};
    // The bottom 5 % shows as soon as anything has arrived.
    const double y = std::nearbyint((1.0 - done / total) * barHeight * 0.95);
    if (y < 0) return {BarFill::Full};
    if (y > barHeight) return {BarFill::Empty};
    return {BarFill::Strip, int(y)};
}
