#include "LogArchive.h"

#include "ZipArchive.h"

#include <QFile>

void ArchiveLog(const QString& dataFolder, const QString& fileName) {
    if (dataFolder.isEmpty()) return;
    LogArchivePath = dataFolder + QLatin1Char('/') + kLogArchiveName;
    const QString logPath = dataFolder + QLatin1Char('/') + fileName;
    if (!ZipArchive().Pack(logPath, LogArchivePath, 9)) return;
    if (ArchiveContains(fileName)) QFile::remove(logPath);
}

bool ArchiveContains(const QString& name) {
    // From index 1: index 0 is the list's empty placeholder, not an entry.
    return ListArchiveEntries().indexOf(name, 1) >= 0;
}

QStringList ListArchiveEntries() {
    QStringList entries{QString()};
    const std::optional<QList<ZipEntry>> contents = ZipArchive().Contents(LogArchivePath);
    if (!contents) return entries;
    for (const ZipEntry& entry : *contents)
        entries.append(entry.Name());
    return entries;
}
