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
    const QStringList entries = ListArchiveEntries();
    for (qsizetype index = 1; index < entries.size(); ++index) {
        if (entries.at(index) == name) return true;
    }
    return false;
}

QStringList ListArchiveEntries() {
    QStringList entries{QString()};
    const std::optional<QList<ZipEntry>> contents = ZipArchive().Contents(LogArchivePath);
    if (!contents) return entries;
    for (const ZipEntry& entry : *contents)
        entries.append(entry.Name());
    return entries;
}
