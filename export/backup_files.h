#pragma once
// File work of the backup: sizing, the day index rewrite, the per-minute copy
// and clearing an old backup. Sources are read through the data-folder file
// layer; destination files are written under a temporary name and renamed, so
// a failed or stopped copy never leaves a half file under the real name.
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "export/backup_range.h"

struct BackupJob {
    std::string source;       // data folder holding the year folders
    std::string destination;  // the new "avdata" folder
    BackupRange range;
    int32_t channel_mask = 0;
};

constexpr uint64_t kBackupBlockBytes = 4096;
// Suffix of a destination file while it is being written.
inline constexpr const char* kBackupPartSuffix = ".part";

uint64_t RoundUpToBlock(uint64_t bytes);
// Whole mebibytes divided by 1024, as the space message shows them.
double BackupGigabytes(uint64_t bytes);

// 1 and 56 + 16 x kept entries in size when the day index at path keeps at
// least one entry; 0 when it keeps none, is missing or is damaged (a count
// below 1 or beyond the file's end).
int DayIndexMatches(const std::string& path, const BackupJob& job, uint64_t* size);

// The hour folders ("00"-"23") a day folder names, or the minute files
// ("REC00.db"-"REC59.db") an hour folder names, as bit n for hour or minute n,
// from one listing of the folder, so a walk looks up only what may be there.
// Names match ignoring case, as a case-blind disk or share finds them. Every
// bit is set when the folder cannot be listed: each name is then looked up.
uint64_t ListedHours(const std::string& day_folder);
// Whether hour_folder is a folder (a listing that succeeds tells it without
// a look of its own), with its minute files in *listed.
bool ListHourFolder(const std::string& hour_folder, uint64_t* listed);
inline bool SlotListed(uint64_t listed, int n) { return (listed >> n) & 1; }
// root + "/YYYY/MM/DD" and root + "/YYYY/MM/DD/HH".
std::string DayFolderPath(const std::string& root, CivilDate date);
std::string HourFolderPath(const std::string& root, CivilDate date, int hour);

// Bytes the backup will occupy, each file rounded up to whole 4096-byte blocks.
uint64_t RequiredSpace(const BackupJob& job);

// kUnreadable: the source is there but could not be read whole (a share gone
// away, a file that shrank while read): a failure, not a gap.
enum class BackupWrite { kSkipped, kWritten, kFailed, kUnreadable };

// Writes the day's narrowed index under job.destination, creating its folders.
// kSkipped when the source keeps nothing (nothing is created then).
BackupWrite RewriteDayIndex(const BackupJob& job, CivilDate date);

// Byte-for-byte copy, overwriting. kSkipped when the source is missing or the
// stop flag fell to 0 during the copy (the partial file is removed);
// kUnreadable when it is there but does not open or ends short of its size.
BackupWrite CopyBackupFile(const std::string& source, const std::string& destination,
                           const std::atomic<int>& running, std::vector<uint8_t>* buffer);

// Removes everything inside folder without following links (a link is
// removed itself); failures are ignored. A folder that is a link is left alone.
void DeleteFolderTree(const std::string& folder);
// Removes an old backup folder: a link as a link, a folder with its tree.
// True when nothing is left at path.
bool RemoveOldBackup(const std::string& path);
// Sum of the files below path (or of path itself), each rounded to whole blocks.
uint64_t FolderTreeBytes(const std::string& path);
// Free bytes where path lies; 0 when that cannot be asked.
uint64_t GetBackupFreeBytes(const std::string& path);
// True when one folder is, or lies inside, the other, judged by device and
// inode of every folder on both paths, so links and bind mounts cannot hide
// it: a backup there would copy onto its own source or delete it when covering.
// A tree too large to be sure of counts as overlapping.
bool BackupPathsOverlap(const std::string& a, const std::string& b);
