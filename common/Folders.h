#pragma once

#include <QString>

// The two shell folders the programs ask for, by their historical ids.
enum SpecialFolderId {
    CSIDL_PERSONAL = 5,        // the user's documents folder
    CSIDL_COMMON_APPDATA = 35, // where the data folder lives
};

// Path of a special folder ("/" separated, no trailing "/"), empty when unknown.
QString getSpecialFolder(int folderId);

// The data folder of both programs: settings, log, status, Latest VU file, archive.
QString dataFolderPath();

// Creates every missing level of path. Levels that exist already (or cannot be
// folders because they exist as something else) are passed over; any other failure
// stops the walk, returns false and leaves the reason in *error.
bool makeFolderPath(const QString& path, QString* error = nullptr);

// One engine at a time per data folder: two would share its log and status file. The folder
// itself is locked (flock on a descriptor of the folder): no lock file is needed that another
// user could own, replace with a link or a FIFO, and the kernel drops the lock with the last
// process that holds it.
enum class FolderLock {
    Taken,      // the caller holds it now
    Held,       // another engine, or a program starting one, holds it
    Unlockable, // the folder is there but cannot be opened: never counted as free
    NoFolder,   // there is no such folder: nothing to share, nothing held
    NoLocks,    // the file system has no locks at all (an exclusive flock on NFS): not held
};

// Takes the lock on the folder, waiting briefly for a program that only looks. *fd gets the
// descriptor that holds it (Taken only); an inheritable one passes to the programs started
// next, which then hold the same lock.
FolderLock lockDataFolder(const QString& folder, bool inheritable, int* fd);

// A program that starts an engine claims the data folder before it touches the status file,
// and its engine takes the claim over (it inherits the descriptor), so that no other program
// can start an engine in between. Released when the object goes; the engine keeps it.
class DataFolderClaim {
public:
    explicit DataFolderClaim(const QString& folder);
    DataFolderClaim(const DataFolderClaim&) = delete;
    DataFolderClaim& operator=(const DataFolderClaim&) = delete;
    ~DataFolderClaim();

    // False when another holds the folder or it cannot be locked.
    bool taken() const { return result_ != FolderLock::Held && result_ != FolderLock::Unlockable; }

private:
    FolderLock result_ = FolderLock::NoFolder;
    int fd_ = -1;
};

// Whether an engine (this user's window, a headless download) or a program starting one
// holds the data folder now. A folder that cannot be looked at counts as held.
bool engineHoldsDataFolder(const QString& dataFolder);
