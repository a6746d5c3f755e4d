#pragma once

#include "Folders.h"

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

    // Takes over the claim of the program that started this engine, or locks the folder.
    FolderLock take(const QString& folder);

private:
    int fd_ = -1;
};

// Marks every descriptor this process inherited close-on-exec, first thing in main: a helper
// that a library starts must not carry a claim on the data folder away and hold it for ever.
void keepInheritedDescriptorsHere();
