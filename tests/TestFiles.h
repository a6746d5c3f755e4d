#pragma once

// Reading and writing the small files the tests set up and check, and the user they are
// checked as.

#include <QFile>
#include <QProcess>
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

// Writes a file whole and gives it the permissions; false when any step fails.
inline bool writeFile(const QString& path, const QByteArray& bytes,
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
inline QByteArray readWhole(const QString& path, const QByteArray& missing = QByteArray()) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : missing;
}

// A user who is not root ("nobody"), for the tests about permissions: CI runs as root.
struct OtherUser {
    uid_t uid = 0;
    gid_t gid = 0;
    explicit operator bool() const { return uid != 0; }
};

inline OtherUser findOtherUser() {
    const passwd* user = ::getpwnam("nobody");
    return user ? OtherUser{user->pw_uid, user->pw_gid} : OtherUser{};
}

// Makes the process run as that user; false (and unchanged) when there is none.
inline bool runAsOtherUser(QProcess& process) {
    const OtherUser user = findOtherUser();
    if (!user) return false;
    process.setChildProcessModifier([user] {
        if (::setgroups(0, nullptr) != 0 || ::setgid(user.gid) != 0 || ::setuid(user.uid) != 0)
            _exit(126);
    });
    return true;
}
