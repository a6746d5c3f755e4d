#pragma once

#include <QByteArray>
#include <QString>

// Creating a download file on the system. A file is created only where none exists (never
// replacing one), written in full and flushed to disk before it takes its name.

// Returns 0, or the system's error number (EEXIST when the name is taken). On a failure
// nothing is left, neither under the name nor beside it.
int WriteNewFile(const QString& path, const QByteArray& data);

// The errors of a name the file system rejects or of a folder that is missing: those are
// worth a second attempt once the folder has been made.
bool IsNameOrFolderError(int error);

// The system's description of an error number.
QString ErrorDescription(int error);
