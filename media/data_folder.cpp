#include "media/data_folder.h"

#include "media/translate_text.h"
#include "platform/data_file.h"
#include "platform/message_box.h"

namespace {

// Counts and cuts in characters (UTF-8 code points), not bytes.
size_t CharCount(const std::string& s) {
    size_t n = 0;
    for (unsigned char c : s) n += (c & 0xC0) != 0x80;
    return n;
}

std::string LastChars(const std::string& s, size_t n) {
    size_t pos = s.size();
    size_t seen = 0;
    while (pos > 0 && seen < n) {
        --pos;
        if ((static_cast<unsigned char>(s[pos]) & 0xC0) != 0x80) ++seen;
    }
    return s.substr(pos);
}

int FindNewestDay(const std::string& folder, CivilDate date, int* year, int* month) {
    for (int i = 0; i < kNewestDaySearchDays; ++i) {
        if (platform::PathExists(DayIndexPath(folder, date.year, date.month, date.day))) {
            *year = date.year;
            *month = date.month;
            return 1;
        }
        date = StepBackOneDayForSearch(date);
    }
    return 0;
}

bool SearchBackup(const std::string& folder, int counter, int depth, std::string* found) {
    if (depth > kBackupSearchDepth) return false;
    for (const platform::FolderEntry& entry : platform::ListFolder(folder)) {
        // Links could lead back up the tree; the recorder never writes any.
        if (!entry.is_folder || entry.is_symlink) continue;
        const std::string sub = folder + "/" + entry.name;
        const size_t at = sub.find("/backup");
        if (at != std::string::npos && at > 0) {
            *found = sub;
            return true;
        }
        if (counter <= 2) {
            if (SearchBackup(sub, counter, depth + 1, found)) return true;
            ++counter;
        }
    }
    return false;
}

}  // namespace

int ScanDataFolder(const std::string& path, std::string* folder, int* year, int* month) {
    return ScanDataFolderFrom(path, TodayLocalDate(), folder, year, month);
}

int ScanDataFolderFrom(const std::string& path, CivilDate today, std::string* folder, int* year, int* month) {
    if (CharCount(path) <= 5) return 0;
    if (ScanDataFolderTellsRefusal(path)) {
        platform::ShowMessageBox(TranslateText("TXT_OPEN_ERROR", "It's not a data folder."),
                                 TranslateText("MSG_ERROR", "Error"));
        return 0;
    }
    *folder = path;
    return FindNewestDay(path, today, year, month);
}

bool ScanDataFolderTellsRefusal(const std::string& path) {
    return CharCount(path) > 5 && LastChars(path, 6).find("avdata") == std::string::npos;
}

int ScanBackupFolder(const std::string& path, std::string* folder, int* year, int* month) {
    return ScanBackupFolderFrom(path, TodayLocalDate(), folder, year, month);
}

int ScanBackupFolderFrom(const std::string& path, CivilDate today, std::string* folder, int* year, int* month) {
    const std::string found = FindBackupFolder(path);
    if (CharCount(path) <= 5) return 0;
    if (LastChars(found, 20).find("/backup") == std::string::npos) return 0;
    *folder = found;
    return FindNewestDay(found, today, year, month);
}

std::string FindBackupFolder(const std::string& path) {
    if (LastChars(path, 20).find("/backup") != std::string::npos) return path;
    std::string found;
    if (SearchBackup(path, 0, 0, &found)) return found;
    return path;
}

int ReadRecordListHeader(const std::string& folder, int year, int month, int day, DayIndexHeader* header) {
    platform::ReadOnlyFile file;
    if (!file.Open(DayIndexPath(folder, year, month, day))) return 0;
    header->bytes.fill(0);
    file.ReadAt(0, header->bytes.data(), header->bytes.size());
    return 1;
}

int ReadRecordList(const std::string& folder, int year, int month, int day, DayIndexEntry* entries, int capacity) {
    platform::ReadOnlyFile file;
    if (!file.Open(DayIndexPath(folder, year, month, day))) return 0;
    DayIndexHeader header;
    if (file.ReadAt(0, header.bytes.data(), header.bytes.size()) != header.bytes.size()) return 0;
    const int32_t n = header.count();
    if (n <= 0 || n > capacity) return 0;
    const size_t want = static_cast<size_t>(n) * diskformat::kDayIndexEntrySize;
    if (file.ReadAt(diskformat::kDayIndexHeaderSize, entries, want) != want) return 0;
    return n;
}
