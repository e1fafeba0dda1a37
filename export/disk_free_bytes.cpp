#include "export/disk_free_bytes.h"

#include <sys/statvfs.h>

#include <limits>

uint64_t GetDiskFreeBytes(const std::string& path) {
    struct statvfs fs;
    if (path.empty() || statvfs(path.c_str(), &fs) != 0) return 0;
    const uint64_t blocks = fs.f_bavail;
    const uint64_t size = fs.f_frsize ? fs.f_frsize : fs.f_bsize;
    if (size != 0 && blocks > std::numeric_limits<uint64_t>::max() / size)
        return std::numeric_limits<uint64_t>::max();
    return blocks * size;
}
