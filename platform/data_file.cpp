#include "platform/data_file.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string_view>

#include "platform/network_share.h"

namespace platform {

bool PathExists(const std::string& path) {
    if (IsSharePath(path)) return share_files::Exists(path);
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

bool IsFolder(const std::string& path) {
    if (IsSharePath(path)) return share_files::IsFolder(path);
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int64_t RegularFileSize(const std::string& path) {
    if (IsSharePath(path)) {
        ReadOnlyFile file;
        return file.Open(path) ? file.Size() : -1;
    }
    struct stat st;
    if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return st.st_size;
}

std::vector<FolderEntry> ListFolder(const std::string& path) {
    if (IsSharePath(path)) return share_files::List(path);
    std::vector<FolderEntry> entries;
    DIR* dir = ::opendir(path.c_str());
    if (!dir) return entries;
    while (dirent* d = ::readdir(dir)) {
        std::string name = d->d_name;
        if (name == "." || name == "..") continue;
        FolderEntry entry;
        entry.name = name;
        std::string full = path + "/" + name;
        struct stat lst;
        if (::lstat(full.c_str(), &lst) == 0) {
            entry.is_symlink = S_ISLNK(lst.st_mode);
            struct stat st;
            entry.is_folder = entry.is_symlink ? (::stat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
                                               : S_ISDIR(lst.st_mode);
        }
        entries.push_back(std::move(entry));
    }
    ::closedir(dir);
    std::sort(entries.begin(), entries.end(),
              [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
    return entries;
}

bool ListFolderNames(const std::string& path, std::vector<std::string>* names) {
    names->clear();
    if (IsSharePath(path)) {
        bool listed = false;
        for (FolderEntry& entry : share_files::List(path, &listed)) names->push_back(std::move(entry.name));
        return listed;
    }
    const int fd = path.empty() ? -1 : ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    const bool whole = ReadFolderEntries(fd, [&](std::string_view name, unsigned char) { names->emplace_back(name); });
    ::close(fd);
    return whole;
}

bool ReadFolderEntries(int fd, const std::function<void(std::string_view name, unsigned char type)>& each) {
    alignas(dirent64) char buffer[32768];
    for (;;) {
        const ssize_t n = ::getdents64(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        for (ssize_t at = 0; at < n;) {
            const auto* d = reinterpret_cast<const dirent64*>(buffer + at);
            at += d->d_reclen;
            const std::string_view name = d->d_name;
            if (name != "." && name != "..") each(name, d->d_type);
        }
    }
}

ReadOnlyFile::~ReadOnlyFile() { Close(); }

ReadOnlyFile::ReadOnlyFile(ReadOnlyFile&& other) noexcept
    : fd_(other.fd_), opened_size_(other.opened_size_), share_(std::move(other.share_)) {
    other.fd_ = -1;
    other.opened_size_ = -1;
}

ReadOnlyFile& ReadOnlyFile::operator=(ReadOnlyFile&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = other.fd_;
        opened_size_ = other.opened_size_;
        other.fd_ = -1;
        other.opened_size_ = -1;
        share_ = std::move(other.share_);
    }
    return *this;
}

bool ReadOnlyFile::Open(const std::string& path) {
    Close();
    if (path.empty()) return false;
    if (IsSharePath(path)) {
        share_ = share_files::Open(path);
        return share_ != nullptr;
    }
    // Opened without blocking, so a FIFO or a device in a disk copy is
    // refused at once instead of waiting for a writer that never comes.
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd_ < 0) return false;
    struct stat st;
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        Close();
        return false;
    }
    // O_NONBLOCK stays: reads and copies of a regular file never wait on it,
    // so clearing it would cost two calls per file for nothing.
    opened_size_ = st.st_size;
    return true;
}

void ReadOnlyFile::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    opened_size_ = -1;
    share_.reset();
}

size_t ReadOnlyFile::ReadAt(uint64_t offset, void* buffer, size_t size) const {
    if (share_) return share_files::ReadAt(*share_, offset, buffer, size);
    if (fd_ < 0 || offset > static_cast<uint64_t>(INT64_MAX)) return 0;
    size_t done = 0;
    auto* out = static_cast<char*>(buffer);
    while (done < size) {
        ssize_t n = ::pread(fd_, out + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    return done;
}

int64_t ReadOnlyFile::Size() const {
    if (share_) return share_files::Size(*share_);
    struct stat st;
    if (fd_ < 0 || ::fstat(fd_, &st) != 0) return -1;
    return st.st_size;
}

int64_t ReadOnlyFile::OpenedSize() const { return share_ ? share_files::Size(*share_) : opened_size_; }

int64_t ReadOnlyFile::CopyTo(int out, uint64_t offset, size_t size, std::vector<uint8_t>* buffer) const {
    if (offset > static_cast<uint64_t>(INT64_MAX)) return -1;
    if (fd_ >= 0) {
        loff_t from = static_cast<loff_t>(offset), to = static_cast<loff_t>(offset);
        for (;;) {
            const ssize_t n = ::copy_file_range(fd_, &from, out, &to, size, 0);
            if (n >= 0) return n;
            if (errno != EINTR) break;
        }
        // Refused between these two file systems (or by this kernel): copied through user memory.
        if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return -1;
    }
    buffer->resize(size);
    const size_t got = ReadAt(offset, buffer->data(), size);
    for (size_t done = 0; done < got;) {
        const ssize_t n = ::pwrite(out, buffer->data() + done, got - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return -1;
        done += static_cast<size_t>(n);
    }
    return static_cast<int64_t>(got);
}

}  // namespace platform
