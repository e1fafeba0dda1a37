#pragma once
// The one door through which the data folder (disk copy) is read: local paths
// here, share paths ("\\host\share\..." or "//host/share/...") through
// network_share.h, with the same answers and refusals.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

namespace share_files {
class OpenFile;
}

struct FolderEntry {
    std::string name;
    bool is_folder = false;
    bool is_symlink = false;
};

bool PathExists(const std::string& path);
bool IsFolder(const std::string& path);
// Size of the regular file at path (a link followed) from its status alone,
// without opening it; -1 when there is none.
int64_t RegularFileSize(const std::string& path);
// Entries of a folder without "." and "..", sorted by name (byte order), so
// every file system gives the same order. Empty when the folder cannot be read.
std::vector<FolderEntry> ListFolder(const std::string& path);
// Only the names of a folder's entries (without "." and ".."), in the order
// the file system gives them, none looked at: one read of the folder where
// ListFolder looks at each entry. False when the folder cannot be read.
bool ListFolderNames(const std::string& path, std::vector<std::string>* names);
// Calls each(name, type) for the entries of the local folder open at fd,
// without "." and "..", type being the listing's DT_ value (DT_UNKNOWN where
// the file system does not give it). Read straight from the kernel: a
// directory stream adds a status call and two descriptor-flag calls per
// folder. False when the folder cannot be read whole.
bool ReadFolderEntries(int fd, const std::function<void(std::string_view name, unsigned char type)>& each);

class ReadOnlyFile {
public:
    ReadOnlyFile() = default;
    ~ReadOnlyFile();
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;
    ReadOnlyFile(ReadOnlyFile&& other) noexcept;
    ReadOnlyFile& operator=(ReadOnlyFile&& other) noexcept;

    // Regular files only: a folder, FIFO, socket or device is refused without
    // blocking.
    bool Open(const std::string& path);
    void Close();
    bool IsOpen() const { return fd_ >= 0 || share_ != nullptr; }
    // Reads up to size bytes at offset; returns the count read (short at end of file, 0 on error).
    size_t ReadAt(uint64_t offset, void* buffer, size_t size) const;
    // Size in bytes, or -1 when unknown.
    int64_t Size() const;
    // The size the file had when it was opened, without asking again.
    int64_t OpenedSize() const;
    // Copies up to size bytes at offset to the same offset of the file open
    // at out: inside the kernel where it can, else read into buffer and written.
    // Returns the count copied (short or 0 at the end of the file), -1 on an error.
    int64_t CopyTo(int out, uint64_t offset, size_t size, std::vector<uint8_t>* buffer) const;

private:
    int fd_ = -1;
    int64_t opened_size_ = -1;
    std::shared_ptr<share_files::OpenFile> share_;
};

}  // namespace platform
