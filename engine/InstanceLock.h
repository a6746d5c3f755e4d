#pragma once

#include <QString>

// One engine per data folder: two would share the log and the status file, and the second
// would truncate the first one's log and report its own failure as the first one's status.
// The lock is the kernel's, so it goes with the process however that ends.
class InstanceLock {
public:
    InstanceLock() = default;
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;
    ~InstanceLock();

    // False only when another engine holds the folder; a folder that cannot take a lock
    // file (unwritable, missing) does not stop the engine.
    bool take(const QString& folder);

private:
    int fd_ = -1;
};
