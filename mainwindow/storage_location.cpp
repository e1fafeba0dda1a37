#include "mainwindow/storage_location.h"

#include "platform/data_file.h"
#include "platform/ini_file.h"
#include "platform/program_folder.h"

namespace {
constexpr const char* kSection = "setting";
constexpr const char* kKey = "location";
}  // namespace

std::string StorageSettingPath(const std::string& program_folder) { return program_folder + "/lang/setting.ini"; }

std::string ReadStorageLocationIn(const std::string& program_folder, size_t buffer_chars) {
    const std::string path = StorageSettingPath(program_folder);
    if (!platform::PathExists(path)) return "";
    return platform::GetProfileString(kSection, kKey, "", buffer_chars, path);
}

bool WriteStorageLocationIn(const std::string& program_folder, const std::string& folder) {
    const std::string path = StorageSettingPath(program_folder);
    // The INI writer would create a missing file; this setting must not.
    if (!platform::PathExists(path)) return false;
    return platform::WriteProfileString(kSection, kKey, folder, path);
}

std::string ReadStorageLocation(size_t buffer_chars) {
    return ReadStorageLocationIn(platform::ProgramFolder(), buffer_chars);
}

bool WriteStorageLocation(const std::string& folder) {
    return WriteStorageLocationIn(platform::ProgramFolder(), folder);
}
