#pragma once
// Files that hold saved passwords (the stores, the recent list) are readable
// and writable by their owner alone.
#include <string>

namespace platform {

enum class OwnerOnly {
    kDone,            // a regular file now readable and writable by its owner only
    kMissing,         // nothing there, and nothing was to be created
    kNotRegularFile,  // a folder, FIFO or device: left alone
    kFailed,          // could not be created or narrowed (another user's file, a read-only folder)
};

// Narrows a regular file's permissions to its owner's read and write bits
// (0644 becomes 0600; execute and set-id bits go; nothing is added). With create, a missing file is made empty
// at 0600, so what is written into it later was never readable by others.
// Never blocks, whatever path names.
OwnerOnly MakeOwnerOnly(const std::string& path, bool create);

}  // namespace platform
