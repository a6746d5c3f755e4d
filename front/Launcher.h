#pragma once

#include "Numbers.h"

#include <QString>
#include <QtGlobal>
#include <chrono>
#include <optional>

class QFile;

// What the three buttons start; the numbers are also the lamp beside each button.
enum DownloadKindValue { kAllVU = 0, kLatestVU = 1, kCard = 2 };

inline const QString kEngineName = QStringLiteral("VNPCBase");
inline const QString kLatestVUFileName = QStringLiteral("VantrelPCLatestVU.ini");
inline const QString kEngineMissingText =
    QStringLiteral("Download application missing from 'deps' folder");

// " {top,left}" with both corners in twips; the engine puts its window there.
QString positionText(qint64 topTwips, qint64 leftTwips);

// The days part of the Latest VU selection: the number rounded half to even, written with
// a space before it when it is zero or more and with its minus sign otherwise.
QString daysText(const QString& secondLine);

// "[" + TREP list + "]" + days text, from the two lines of the Latest VU file.
QString latestTrepTextFromLines(const QString& firstLine, const QString& secondLine);

// Reads the Latest VU file; nothing when it is missing or cannot be read.
std::optional<QString> readLatestTrepText(const QString& filePath);

// One line of a text file without its line end, which is CR LF, LF or CR alone. Only the
// first kLongestLine bytes of a line are kept; the rest of a longer one is passed over, so
// that a broken file can neither fill the memory nor make an engine argument too long. At
// most kLongestScan bytes are read for one line.
inline constexpr qsizetype kLongestLine = 1024;
inline constexpr qint64 kLongestScan = 1 << 20;
QString readSettingsLine(QFile& file);

// The single argument handed to the engine for a download kind.
QString argumentText(int downloadKind, const QString& latestTrepText, const QString& position);

// The message (text, title) shown when a Latest VU start finds no selection file.
struct MessageText {
    QString text;
    QString title;
};
MessageText latestSettingsMissingMessage(const QString& language);

// Full path of the engine in folder: a regular executable file named like the engine in
// any letter case. Empty when there is none.
QString findEngine(const QString& folder);

// Starts the engine detached with the argument as its one argument; 0 when it failed.
// *startTime gets the new process's start time (see processStartTime).
qint64 startEngine(const QString& program, const QString& argument, qint64* startTime);

// When the system started process pid (in clock ticks since boot), or -1 if unknown. With
// the pid it tells the engine apart from a later process that was given the same pid.
qint64 processStartTime(qint64 pid);

// True while pid is a live process (not a zombie) and, when startTime is given, still the
// same process: a pid recycled by the system after the engine ended is left alone.
bool engineRunning(qint64 pid, qint64 startTime = -1);

// Asks the engine started last to end (SIGTERM, which it treats like its window being
// closed) and waits for it to go, at most for the time given. Nothing happens for pid 0.
void closeEngineWindows(qint64 pid, qint64 startTime = -1,
                        std::chrono::milliseconds wait = std::chrono::seconds(5));
