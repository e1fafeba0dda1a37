#pragma once
// The storage folder for snapshots and exports: key "location" of section
// "setting" in "lang/setting.ini" beside the program. The file is never
// created: without it nothing is stored and every reader gets "".
#include <cstddef>
#include <string>

inline constexpr size_t kStorageLocationChars = 200;   // the viewer's and the export dialogs' reader
inline constexpr size_t kStoragePageLocationChars = 256;  // the settings dialog's storage page

std::string StorageSettingPath(const std::string& program_folder);

// A stored value longer than buffer_chars - 1 characters comes back cut to that length.
std::string ReadStorageLocation(size_t buffer_chars = kStorageLocationChars);
// False when the settings file is missing (nothing is written) or cannot be written.
bool WriteStorageLocation(const std::string& folder);

// The same on the settings file under another program folder.
std::string ReadStorageLocationIn(const std::string& program_folder, size_t buffer_chars = kStorageLocationChars);
bool WriteStorageLocationIn(const std::string& program_folder, const std::string& folder);
