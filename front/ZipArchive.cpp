#include "ZipArchive.h"

#include <QFile>
#include <QFileInfo>
#include <zip.h>

bool ZipArchive::pack(const QString& filePath, const QString& archivePath, int compressionLevel) {
    const QFileInfo file(filePath);
    // libzip reads the file only when the archive is written: look before changing anything.
    if (!file.isFile() || !file.isReadable()) return false;
    // libzip writes a new archive and renames it over the old one, which the folder allows
    // even when the archive itself may not be written; and root may write any file. So a
    // read-only archive, or one without any write permission, is left as it is.
    const QFileInfo existing(archivePath);
    const auto writeBits =
        QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;
    if (existing.exists() && (!existing.isWritable() || !(existing.permissions() & writeBits)))
        return false;
    int error = 0;
    zip_t* archive = zip_open(QFile::encodeName(archivePath).constData(), ZIP_CREATE, &error);
    if (!archive) return false;
    zip_source_t* source = zip_source_file(archive, QFile::encodeName(filePath).constData(), 0, 0);
    if (!source) {
        zip_discard(archive);
        return false;
    }
    const zip_int64_t index = zip_file_add(archive, file.fileName().toUtf8().constData(), source,
                                           ZIP_FL_OVERWRITE | ZIP_FL_ENC_UTF_8);
    if (index < 0) {
        zip_source_free(source);
        zip_discard(archive);
        return false;
    }
    if (zip_set_file_compression(archive, zip_uint64_t(index), ZIP_CM_DEFLATE,
                                 zip_uint32_t(compressionLevel)) != 0 ||
        zip_close(archive) != 0) {
        zip_discard(archive);
        return false;
    }
    return true;
}

std::optional<QList<ZipEntry>> ZipArchive::list(const QString& archivePath) {
    int error = 0;
    zip_t* archive = zip_open(QFile::encodeName(archivePath).constData(), ZIP_RDONLY, &error);
    if (!archive) return std::nullopt;
    QList<ZipEntry> entries;
    const zip_int64_t count = zip_get_num_entries(archive, 0);
    for (zip_int64_t index = 0; index < count; ++index) {
        const char* name = zip_get_name(archive, zip_uint64_t(index), ZIP_FL_ENC_GUESS);
        if (name) entries.append(ZipEntry(QString::fromUtf8(name)));
    }
    zip_discard(archive);
    return entries;
}
