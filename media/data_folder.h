#pragma once
// Validation of a chosen data or backup folder, the newest-day search, and
// reading of day indexes.
#include <cstdint>
#include <string>

#include "media/civil_date.h"
#include "media/disk_format.h"

// What the local reader and the preview engine are to play.
struct RecordSource {
    std::string path;  // data or backup folder, without trailing separator
    int32_t channel_mask = 0;
    int32_t start_second = 0;
    int32_t end_second = 0;  // inclusive
    int32_t year = 0;
    int32_t month = 0;
    int32_t day = 0;
    // Kept for the record selection dialog; the media core does not read them.
    std::string text1, text2, text3, text4;
    int32_t value = 0;
};

// How many days back from today the newest-day search looks.
constexpr int kNewestDaySearchDays = 1825;
// Folder levels the backup-folder search descends at most.
constexpr int kBackupSearchDepth = 16;

// 1 and the accepted folder, year and month of the newest day index; 0 otherwise.
// Shows "It's not a data folder." when the path does not end in "avdata".
int ScanDataFolder(const std::string& path, std::string* folder, int* year, int* month);
int ScanDataFolderFrom(const std::string& path, CivilDate today, std::string* folder, int* year, int* month);
// True when ScanDataFolder refuses path with a message box of its own (a path
// long enough whose end is not "avdata"), so its caller shows none.
bool ScanDataFolderTellsRefusal(const std::string& path);
int ScanBackupFolder(const std::string& path, std::string* folder, int* year, int* month);
int ScanBackupFolderFrom(const std::string& path, CivilDate today, std::string* folder, int* year, int* month);
// The path itself when it ends in a backup folder, else the first backup folder below it, else the path.
std::string FindBackupFolder(const std::string& path);

int ReadRecordListHeader(const std::string& folder, int year, int month, int day, DayIndexHeader* header);
// Number of entries read into entries (room for capacity); 0 on any failure,
// including a count that is negative or above capacity.
int ReadRecordList(const std::string& folder, int year, int month, int day, DayIndexEntry* entries, int capacity);
