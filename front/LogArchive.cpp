#include "LogArchive.h"

// The zip archive of the log is not built yet; until it is, the log stays where it is.
void ArchiveLog(const QString& dataFolder, const QString& fileName) {
    Q_UNUSED(dataFolder);
    Q_UNUSED(fileName);
}
