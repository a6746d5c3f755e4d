#include "LogArchive.h"

#include "ZipArchive.h"

#include <QFile>

void archiveLog(const QString& dataFolder, const QString& fileName) {
    if (dataFolder.isEmpty()) return;
    logArchivePath = dataFolder + QLatin1Char('/') + kLogArchiveName;
    const QString logPath = dataFolder + QLatin1Char('/') + fileName;
    if (!ZipArchive().pack(logPath, logArchivePath, 9)) return;
    if (archiveContains(fileName)) QFile::remove(logPath);
}

bool archiveContains(const QString& name) {
    // From index 1: index 0 is the list's empty placeholder, not an entry.
    return listArchiveEntries().indexOf(name, 1) >= 0;
}

QStringList listArchiveEntries() {
    QStringList entries{QString()};
    const std::optional<QList<ZipEntry>> contents = ZipArchive().list(logArchivePath);
    if (!contents) return entries;
    for (const ZipEntry& entry : *contents)
        entries.append(entry.name());
    return entries;
}
