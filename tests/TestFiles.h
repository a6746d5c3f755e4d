#pragma once

// Reading and writing the small files the tests set up and check.

#include <QFile>

// Writes a file whole and gives it the permissions; false when any step fails.
inline bool WriteFile(const QString& path, const QByteArray& bytes,
                      QFileDevice::Permissions permissions = QFileDevice::ReadOwner |
                                                             QFileDevice::WriteOwner) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        return false;
    file.close();
    return file.setPermissions(permissions);
}

// What a test reads instead of a file that is not there, where that must not pass for an
// empty file.
inline const QByteArray kNoFile = "<no file>";

inline const QFileDevice::Permissions kExecutable =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;

// A file's bytes, or `missing` when it cannot be read: a test that must tell a missing file
// from an empty one passes a marker.
inline QByteArray ReadAll(const QString& path, const QByteArray& missing = QByteArray()) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : missing;
}
