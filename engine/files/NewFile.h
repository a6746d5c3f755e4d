#pragma once

#include <QByteArray>
#include <QString>

// Creating a download file on the system. A file is created only where none exists (never
// replacing one), written in full and flushed to disk before it takes its name.

// How the written file gets its name, in the order tried: a file system that lacks one way
// (FAT has no hard links; some FUSE file systems cannot rename without replacing) passes
// the file on to the next. None of them replaces an existing file.
enum class Naming {
    HardLink,        // link() of the written temporary file
    RenameNoReplace, // renameat2() with RENAME_NOREPLACE
    CreateInPlace,   // an exclusive create of the name itself, written and synced there
};

// Returns 0, or the system's error number (EEXIST when the name is taken). On a failure
// nothing is left, neither under the name nor beside it. `first` is the first way tried.
int writeNewFile(const QString& path, const QByteArray& data, Naming first = Naming::HardLink);

// Removes the hidden temporary files that writers killed half-way left in folder: only
// those that no writer holds any more. Returns how many went.
int removeLeftoverTemporaries(const QString& folder);

// The errors of a name the file system rejects or of a folder that is missing: those are
// worth a second attempt once the folder has been made.
bool isNameOrFolderError(int error);

// The system's description of an error number.
QString errorDescription(int error);
