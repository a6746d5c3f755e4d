#pragma once

#include <QList>
#include <QString>
#include <optional>

// One entry of an archive as listed.
class ZipEntry {
public:
    explicit ZipEntry(const QString& name) : name_(name) {}
    QString name() const { return name_; }

private:
    QString name_;
};

// The zip component of the log archive: the few calls the front end makes, over libzip.
// Each call opens the archive, does its work and closes it again.
class ZipArchive {
public:
    // Adds the file to the archive (created when missing) under its file name alone,
    // deflated at the level given (1 to 9); an entry of that name is replaced. False when
    // nothing was added; a read-only archive is never changed.
    bool pack(const QString& filePath, const QString& archivePath, int compressionLevel = 9);

    // The archive's entries in their stored order; nothing when it cannot be read.
    std::optional<QList<ZipEntry>> list(const QString& archivePath);
};
