#pragma once

#include <QString>
#include <QStringList>

// The archive of the engine's log in the data folder; set by every archiveLog call.
inline QString logArchivePath;
inline const QString kLogArchiveName = QStringLiteral("VNPC_Log.zip");

// Moves the engine's log file (dataFolder/fileName) into the log archive of the data folder:
// packed first, deleted only once the archive lists it. Failures end it quietly: closing the
// front end must never stop on the archive.
void archiveLog(const QString& dataFolder, const QString& fileName);

// True when an entry of the archive is named exactly name.
bool archiveContains(const QString& name);

// The archive's entry names from index 1 on; index 0 is always empty text. Only that one
// element when the archive cannot be read.
QStringList listArchiveEntries();
