#include "platform/owner_only_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

OwnerOnly MakeOwnerOnly(const std::string& path, bool create) {
    if (path.empty()) return OwnerOnly::kMissing;
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) {
        // A device is never opened; a FIFO is refused before an open could wait for a writer.
        if (!S_ISREG(st.st_mode)) return OwnerOnly::kNotRegularFile;
    } else if (errno == ENOENT && !create) {
        return OwnerOnly::kMissing;
    }
    // O_NONBLOCK: whatever took the name since the look above must not hold the caller either.
    int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
    if (create) flags |= O_CREAT;
    const int fd = ::open(path.c_str(), flags, 0600);
    if (fd < 0) return errno == ENOENT && !create ? OwnerOnly::kMissing : OwnerOnly::kFailed;
    OwnerOnly result = OwnerOnly::kDone;
    if (::fstat(fd, &st) != 0) {
        result = OwnerOnly::kFailed;
    } else if (!S_ISREG(st.st_mode)) {
        result = OwnerOnly::kNotRegularFile;
    } else {
        // Only taken away: a file its owner made read-only stays so.
        const mode_t wanted = st.st_mode & 0600;
        if ((st.st_mode & 07777) != wanted && ::fchmod(fd, wanted) != 0) result = OwnerOnly::kFailed;
    }
    ::close(fd);
    return result;
}

}  // namespace platform
