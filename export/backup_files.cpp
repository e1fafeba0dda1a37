#include "export/backup_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string_view>
#include <utility>

#include "export/disk_free_bytes.h"
#include "platform/data_file.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kEntriesPerRead = 4096;
constexpr size_t kCopyChunk = 1 << 20;

// Streams the entries of an open day index to each(entry), a chunk at a time,
// so a damaged count never sizes an allocation. False when the header or any
// entry the count promises is missing.
template <typename Each>
bool ScanDayIndex(const platform::ReadOnlyFile& file, DayIndexHeader* header, Each&& each) {
    if (file.ReadAt(0, header->bytes.data(), header->bytes.size()) != header->bytes.size()) return false;
    const int64_t n = header->count();
    if (n <= 0) return false;
    const int64_t size = file.Size();
    if (size >= 0 && n > (size - diskformat::kDayIndexHeaderSize) / diskformat::kDayIndexEntrySize) return false;
    std::vector<DayIndexEntry> chunk(static_cast<size_t>(std::min<int64_t>(n, kEntriesPerRead)));
    uint64_t offset = diskformat::kDayIndexHeaderSize;
    for (int64_t done = 0; done < n;) {
        const size_t count = static_cast<size_t>(std::min<int64_t>(n - done, kEntriesPerRead));
        const size_t want = count * diskformat::kDayIndexEntrySize;
        if (file.ReadAt(offset, chunk.data(), want) != want) return false;
        for (size_t i = 0; i < count; ++i) each(chunk[i]);
        offset += want;
        done += static_cast<int64_t>(count);
    }
    return true;
}

int64_t KeptEntries(const platform::ReadOnlyFile& file, const BackupJob& job, DayIndexHeader* header) {
    int64_t kept = 0;
    // The entries are dated by the header, which is read before the first entry arrives.
    const bool whole = ScanDayIndex(file, header, [&](const DayIndexEntry& entry) {
        const int64_t date = DateKey({header->year(), header->month(), header->day()});
        if (BackupEntryKept(job.range, job.channel_mask, date, entry)) ++kept;
    });
    return whole ? kept : 0;
}

// A destination file written under "<path>.part" and renamed over path on Commit.
class PartFile {
public:
    explicit PartFile(std::string path) : path_(std::move(path)), part_(path_ + kBackupPartSuffix) {
        // A link planted where the file goes is never written through.
        fd_ = ::open(part_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    }
    ~PartFile() {
        if (fd_ >= 0) ::close(fd_);
        if (!committed_) ::unlink(part_.c_str());
    }
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    int Descriptor() const { return fd_; }

    bool WriteAt(uint64_t offset, const void* data, size_t size) {
        const auto* p = static_cast<const uint8_t*>(data);
        while (size > 0) {
            const ssize_t n = ::pwrite(fd_, p, size, static_cast<off_t>(offset));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            p += n;
            offset += static_cast<uint64_t>(n);
            size -= static_cast<size_t>(n);
        }
        return true;
    }

    bool Commit() {
        // close reports a write the file system could not finish (quota, network).
        const int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0) return false;
        if (::rename(part_.c_str(), path_.c_str()) != 0) return false;
        committed_ = true;
        return true;
    }

private:
    std::string path_;
    std::string part_;
    int fd_ = -1;
    bool committed_ = false;
};

// False unless path is now a folder of its own (not a link to one).
bool MakeFolder(const std::string& path) {
    ::mkdir(path.c_str(), 0755);
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

uint64_t RoundUpToBlock(uint64_t bytes) {
    const uint64_t rest = bytes % kBackupBlockBytes;
    return rest == 0 ? bytes : bytes + (kBackupBlockBytes - rest);
}

double BackupGigabytes(uint64_t bytes) { return static_cast<double>(bytes >> 20) * 0.0009765625; }

int DayIndexMatches(const std::string& path, const BackupJob& job, uint64_t* size) {
    platform::ReadOnlyFile file;
    if (!file.Open(path)) return 0;
    DayIndexHeader header;
    const int64_t kept = KeptEntries(file, job, &header);
    if (kept < 1) return 0;
    *size = diskformat::kDayIndexHeaderSize + static_cast<uint64_t>(kept) * diskformat::kDayIndexEntrySize;
    return 1;
}

namespace {

// Bit n for each name that is prefix, two digits n below count, suffix;
// false (every bit set) when the folder cannot be listed.
bool ListSlots(const std::string& folder, std::string_view prefix, std::string_view suffix, int count,
               uint64_t* slots) {
    *slots = ~uint64_t{0};
    std::vector<std::string> names;
    if (!platform::ListFolderNames(folder, &names)) return false;
    uint64_t listed = 0;
    for (const std::string& name : names) {
        if (name.size() != prefix.size() + 2 + suffix.size()) continue;
        if (::strncasecmp(name.c_str(), prefix.data(), prefix.size()) != 0 ||
            ::strncasecmp(name.c_str() + prefix.size() + 2, suffix.data(), suffix.size()) != 0)
            continue;
        const char tens = name[prefix.size()], ones = name[prefix.size() + 1];
        if (tens < '0' || tens > '9' || ones < '0' || ones > '9') continue;
        const int slot = (tens - '0') * 10 + (ones - '0');
        if (slot < count) listed |= uint64_t{1} << slot;
    }
    *slots = listed;
    return true;
}

}  // namespace

uint64_t ListedHours(const std::string& day_folder) {
    uint64_t listed = 0;
    ListSlots(day_folder, "", "", 24, &listed);
    return listed;
}

bool ListHourFolder(const std::string& hour_folder, uint64_t* listed) {
    return ListSlots(hour_folder, "REC", ".db", 60, listed) || platform::IsFolder(hour_folder);
}

std::string DayFolderPath(const std::string& root, CivilDate date) {
    char tail[40];
    std::snprintf(tail, sizeof tail, "/%d/%.2d/%.2d", date.year, date.month, date.day);
    return root + tail;
}

std::string HourFolderPath(const std::string& root, CivilDate date, int hour) {
    char tail[48];
    std::snprintf(tail, sizeof tail, "/%d/%.2d/%.2d/%.2d", date.year, date.month, date.day, hour);
    return root + tail;
}

uint64_t RequiredSpace(const BackupJob& job) {
    uint64_t total = 0;
    ForEachDaySlot(job.range, [&](CivilDate date) {
        uint64_t index_size = 0;
        if (!DayIndexMatches(DayIndexPath(job.source, date.year, date.month, date.day), job, &index_size)) return true;
        total += RoundUpToBlock(index_size);
        const uint64_t listed_hours = ListedHours(DayFolderPath(job.source, date));
        const ClockSpan hours = HourSpan(job.range, date);
        for (int h = hours.first; h <= hours.last; ++h) {
            // An hour without its folder has no minute files: 60 lookups saved.
            uint64_t listed_minutes = 0;
            if (!SlotListed(listed_hours, h) || !ListHourFolder(HourFolderPath(job.source, date, h), &listed_minutes))
                continue;
            const ClockSpan minutes = MinuteSpan(job.range, date, h);
            for (int m = minutes.first; m <= minutes.last; ++m) {
                if (!SlotListed(listed_minutes, m)) continue;
                const int64_t size =
                    platform::RegularFileSize(MinuteFilePath(job.source, date.year, date.month, date.day, h, m));
                if (size > 0) total += RoundUpToBlock(static_cast<uint64_t>(size));
            }
        }
        return true;
    });
    return total;
}

BackupWrite RewriteDayIndex(const BackupJob& job, CivilDate date) {
    platform::ReadOnlyFile source;
    if (!source.Open(DayIndexPath(job.source, date.year, date.month, date.day))) return BackupWrite::kSkipped;
    DayIndexHeader header;
    if (KeptEntries(source, job, &header) < 1) return BackupWrite::kSkipped;

    if (!MakeFolder(job.destination)) return BackupWrite::kFailed;
    char part[16];
    std::string folder = job.destination;
    const int values[3] = {date.year, date.month, date.day};
    const char* formats[3] = {"/%d", "/%.2d", "/%.2d"};
    for (int i = 0; i < 3; ++i) {
        std::snprintf(part, sizeof part, formats[i], values[i]);
        folder += part;
        if (!MakeFolder(folder)) return BackupWrite::kFailed;
    }
    PartFile out(DayIndexPath(job.destination, date.year, date.month, date.day));
    if (!out.IsOpen()) return BackupWrite::kFailed;

    // The header is written last, with the count of what was written: the
    // source may change between the two passes.
    // The kept entries go out a batch at a time: one write per entry cost
    // more than the rest of a sparse day's backup.
    const int64_t date_key = DateKey({header.year(), header.month(), header.day()});
    int64_t written = 0;
    bool ok = true;
    std::vector<uint8_t> batch;
    batch.reserve(kEntriesPerRead * diskformat::kDayIndexEntrySize);
    uint64_t batch_at = diskformat::kDayIndexHeaderSize;
    const auto flush = [&] {
        if (ok && !batch.empty()) ok = out.WriteAt(batch_at, batch.data(), batch.size());
        batch_at += batch.size();
        batch.clear();
    };
    const bool whole = ScanDayIndex(source, &header, [&](const DayIndexEntry& entry) {
        if (!ok || !BackupEntryKept(job.range, job.channel_mask, date_key, entry)) return;
        const DayIndexEntry rewritten = BackupEntryRewritten(job.range, job.channel_mask, date_key, entry);
        batch.insert(batch.end(), rewritten.bytes.begin(), rewritten.bytes.end());
        if (batch.size() >= kEntriesPerRead * diskformat::kDayIndexEntrySize) flush();
        ++written;
    });
    flush();
    if (!whole || written == 0) return BackupWrite::kSkipped;
    diskformat::WriteI32(&header.bytes[4], static_cast<int32_t>(written));
    if (!ok || !out.WriteAt(0, header.bytes.data(), header.bytes.size()) || !out.Commit()) return BackupWrite::kFailed;
    return BackupWrite::kWritten;
}

BackupWrite CopyBackupFile(const std::string& source, const std::string& destination,
                           const std::atomic<int>& running, std::vector<uint8_t>* buffer) {
    platform::ReadOnlyFile in;
    if (!in.Open(source)) return platform::PathExists(source) ? BackupWrite::kUnreadable : BackupWrite::kSkipped;
    const int64_t size = in.OpenedSize();
    PartFile out(destination);
    if (!out.IsOpen()) return BackupWrite::kFailed;
    uint64_t offset = 0;
    for (;;) {
        if (running.load() == 0) return BackupWrite::kSkipped;
        const int64_t n = in.CopyTo(out.Descriptor(), offset, kCopyChunk, buffer);
        if (n < 0) return BackupWrite::kFailed;
        if (n == 0) break;
        offset += static_cast<uint64_t>(n);
    }
    // A read that ends before the size the file had is an error, not its end; a file whose size
    // could not be told (a share gone meanwhile) cannot be shown whole.
    if (size < 0 || offset < static_cast<uint64_t>(size)) return BackupWrite::kUnreadable;
    return out.Commit() ? BackupWrite::kWritten : BackupWrite::kFailed;
}

namespace {

// Empties the folder open at fd. Entries are looked at without following
// links and folders opened with O_NOFOLLOW, so a link (or a folder swapped
// for one meanwhile) is removed itself and nothing behind it is touched.
void DeleteFolderContents(int fd, int depth) {
    constexpr int kMaxDepth = 64;
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
        ::close(fd);
        return;
    }
    std::vector<std::string> names;
    while (dirent* d = ::readdir(dir)) {
        const std::string name = d->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    for (const std::string& name : names) {
        struct stat st;
        if (::fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            if (depth < kMaxDepth) {
                // Owner write permission, so a read-only folder can be emptied.
                ::fchmodat(fd, name.c_str(), (st.st_mode | S_IRWXU) & 07777, 0);
                const int child = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
                if (child >= 0) DeleteFolderContents(child, depth + 1);
            }
            ::unlinkat(fd, name.c_str(), AT_REMOVEDIR);
        } else {
            ::unlinkat(fd, name.c_str(), 0);
        }
    }
    ::closedir(dir);
}

using FolderId = std::pair<dev_t, ino_t>;

// The folders on the way to path, from the root to the last one that exists,
// as the file system knows them (device and inode), whatever name or alias
// (link, bind mount) the path reaches them by.
std::set<FolderId> FoldersOnPath(const std::string& path) {
    std::set<FolderId> ids;
    std::error_code ec;
    fs::path p = fs::absolute(fs::path(path), ec).lexically_normal();
    if (ec) return ids;
    struct stat st;
    while (::stat(p.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        if (p == p.root_path() || p.empty()) return ids;
        p = p.parent_path();
    }
    const fs::path real = fs::canonical(p, ec);
    if (ec) return ids;
    fs::path prefix;
    for (const fs::path& part : real) {
        prefix /= part;
        if (::stat(prefix.c_str(), &st) == 0) ids.insert({st.st_dev, st.st_ino});
    }
    return ids;
}

// Whether the folders of the file system at fd count their subfolders in
// their link count (2 + subfolders), as these keep it, so a folder counting 2
// holds none and needs no listing. Others (one that gives 1 for every folder,
// a network file system whose count is not kept) are listed.
bool CountsSubfolders(int fd) {
    constexpr long kExt = 0xEF53, kXfs = 0x58465342, kTmpfs = 0x01021994;
    struct statfs fs;
    if (::fstatfs(fd, &fs) != 0) return false;
    const long type = static_cast<long>(fs.f_type);
    return type == kExt || type == kXfs || type == kTmpfs;
}

// Every folder of the tree at path (itself included), links not followed.
// False when the tree is too large or too deep to be sure of. A folder that
// counts no subfolder (see CountsSubfolders) is known by its status alone:
// opening and listing every hour folder of a data folder cost more than the
// rest of the check.
bool FoldersInTree(int fd, int depth, std::set<FolderId>* ids) {
    constexpr int kMaxDepth = 16;
    constexpr size_t kMaxFolders = 1000000;
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        return false;
    }
    ids->insert({st.st_dev, st.st_ino});
    const dev_t device = st.st_dev;
    const bool counts_subfolders = CountsSubfolders(fd);
    bool sure = true;
    std::vector<std::string> subfolders;
    // The entry's type from the listing where the file system gives it: no look at every file.
    // A listing cut short by an error counts what it gave, as a directory stream's end would.
    platform::ReadFolderEntries(fd, [&](std::string_view name, unsigned char type) {
        if (type == DT_DIR || type == DT_UNKNOWN) subfolders.emplace_back(name);
    });
    for (const std::string& name : subfolders) {
        if (::fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode)) continue;
        if (depth >= kMaxDepth || ids->size() >= kMaxFolders) {
            sure = false;
            break;
        }
        // On the same file system (not a mount) and without subfolders: nothing below to list.
        if (counts_subfolders && st.st_dev == device && st.st_nlink == 2) {
            ids->insert({st.st_dev, st.st_ino});
            continue;
        }
        const int child = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (child >= 0 && !FoldersInTree(child, depth + 1, ids)) {
            sure = false;
            break;
        }
    }
    ::close(fd);
    return sure;
}

// True when a folder on the way to inner is outer or lies in outer's tree.
bool PathReachesTree(const std::string& inner, const std::string& outer) {
    const int fd = ::open(outer.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;  // no tree there: nothing to meet
    std::set<FolderId> tree;
    if (!FoldersInTree(fd, 0, &tree)) return true;
    for (const FolderId& id : FoldersOnPath(inner))
        if (tree.count(id)) return true;
    return false;
}

}  // namespace

void DeleteFolderTree(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) DeleteFolderContents(fd, 0);
}

bool RemoveOldBackup(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT;
    // A link is removed as a link: what it points to is not the old backup's.
    if (!S_ISDIR(st.st_mode)) return ::unlink(path.c_str()) == 0;
    DeleteFolderTree(path);
    return ::rmdir(path.c_str()) == 0;
}

uint64_t FolderTreeBytes(const std::string& path) {
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(path, ec);
    if (ec) return 0;
    if (fs::is_regular_file(status)) {
        const uintmax_t size = fs::file_size(path, ec);
        return ec ? 0 : RoundUpToBlock(size);
    }
    if (!fs::is_directory(status)) return 0;
    uint64_t total = 0;
    for (fs::recursive_directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code entry_ec;
        if (it->is_symlink(entry_ec) || !it->is_regular_file(entry_ec)) continue;
        const uintmax_t size = it->file_size(entry_ec);
        if (!entry_ec) total += RoundUpToBlock(size);
    }
    return total;
}

uint64_t GetBackupFreeBytes(const std::string& path) { return GetDiskFreeBytes(path); }

bool BackupPathsOverlap(const std::string& a, const std::string& b) {
    return PathReachesTree(a, b) || PathReachesTree(b, a);
}
