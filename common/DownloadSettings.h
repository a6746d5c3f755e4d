#pragma once

#include <QString>
#include <QtGlobal>

// The settings shared by both programs, read once at start-up from "Settings.ini" in the
// data folder. Each program compiles this module with its own variant (defaults, the first
// line and [Options] entries of a written file, and whether rxTimeout and the pauses are
// read).
namespace DownloadSettings {

inline QString settingsFile;
inline QString language;
inline QString vuDataPath;
inline QString cardDataPath;
inline bool diagnosticsWindow = false;
inline bool closeDiagnosticsWindow = true;
inline QString fileNameStyle;
inline bool logging = true;
inline constexpr qint32 kDefaultRxTimeout = 1160;
inline qint32 rxTimeout = kDefaultRxTimeout; // read by the engine only
// Milliseconds between the bytes of a request, read by the engine only. A USB adapter moves
// bytes in 1 ms frames, so a gap on the wire may come out up to a frame shorter than between
// the writes; paying that frame on every byte is left to units that need it.
inline constexpr qint32 kDefaultInterBytePause = 5;
inline qint32 interBytePause = kDefaultInterBytePause;
// Milliseconds from the last byte of the unit's answer to the next request, read by the
// engine only and held to 10..5000: the unit may not listen again any sooner, and after 5 s
// without a request it drops the session.
inline constexpr qint32 kMinInterMessagePause = 10;
inline constexpr qint32 kMaxInterMessagePause = 5000;
inline qint32 interMessagePause = kMinInterMessagePause;

// Parameters of one engine run, taken from the command line and the cable.
inline qint16 comPort = 0;
inline QChar downloadType;
inline QString trepList;
inline qint32 latestDays = 0;

// True in the engine's variant of the module.
bool isEngineVariant();

// How a folder or file path is read wherever one is written down (Settings.ini, the log):
// outer spaces removed, then one pair of double quotes around the whole, as Windows users
// write paths with spaces; a relative path is taken from the current folder, so that what
// is shown is the place that is used. A lone quote is part of the name.
QString pathValue(const QString& text);

// Sets settingsFile and the defaults, then reads the file, or writes the defaults when
// there is no file.
void loadSettings(const QString& dataFolder);
void readSettingsFile();
void writeDefaultSettings();

} // namespace DownloadSettings
