#pragma once

#include <QString>

inline const QString kStatusFileName = QStringLiteral("VNPCstatus.txt");

// The first line of the engine's status file, without its line end. A file that is
// missing, unreadable or empty at this moment gives empty text: the engine truncates the
// file before each write, so an empty read only means "no news yet".
QString readStatusLine(const QString& filePath);

// What one poll of the status file does.
enum class PollAction {
    Continue,    // nothing changes, the poll goes on
    Progress,    // draw the bar for the line, the poll goes on
    Complete,    // full bar, complete lamps, the poll stops
    Failed,      // failed lamp, the poll stops (also when the engine aborted)
    EngineEnded, // as Failed: the engine ended without a final line and will write none
};
PollAction interpretStatusLine(const QString& line);

// The action for a line read after asking whether the engine had ended: an engine gone
// before the read has written its last line, so a line that is not final stays so.
PollAction interpretPoll(const QString& line, bool engineEnded);
inline const QString kEngineEndedText =
    QStringLiteral("Failed - the engine ended without a result");

// How the bar is drawn for a progress counter such as "0014/0028".
struct BarFill {
    enum Kind { Empty, Full, Strip } kind;
    int firstRow = 0; // Strip: rows firstRow .. barHeight-1 come from the full bar
};
BarFill computeBarFill(const QString& progress, int barHeight);
