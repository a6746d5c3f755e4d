#pragma once

#include <QString>
#include <QtGlobal>

// The settings shared by both programs, read once at start-up from "Settings.ini" in the
// data folder. Each program compiles this module with its own variant (defaults, the first
// line and [Options] entries of a written file, and whether RXTIMEOUT is read).
namespace DownloadSettings {

inline QString SettingsFile;
inline QString Language;
inline QString VUDataPath;
inline QString CardDataPath;
inline bool DiagnosticsWindow = false;
inline bool CloseDiagnosticsWindow = true;
inline QString FileNameStyle;
inline bool Log = true;
inline constexpr qint32 kDefaultRxTimeout = 1160;
inline qint32 RXTIMEOUT = kDefaultRxTimeout; // read by the engine only

// Parameters of one engine run, taken from the command line and the cable.
inline qint16 ComPort = 0;
inline QChar DownloadType;
inline QString TrepList;
inline qint32 LatestDays = 0;

// True in the engine's variant of the module.
bool IsEngineVariant();

// Sets SettingsFile and the defaults, then reads the file, or writes the defaults when
// there is no file.
void LoadSettings(const QString& dataFolder);
void ReadSettingsFile();
void WriteDefaultSettings();

} // namespace DownloadSettings
