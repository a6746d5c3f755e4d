#pragma once

#include <QString>

// Moves the engine's log file (dataFolder/fileName) into the log archive of the data folder.
// Failures end it quietly: closing the front end must never stop on the archive.
void ArchiveLog(const QString& dataFolder, const QString& fileName);
