#include "mainwindow/storage_location.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/ini_file.h"
#include "platform/program_folder.h"
#include "tests/support/temp_folder.h"

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(StorageLocation, WithoutSettingFileNothingIsStoredOrCreated) {
    TempFolder program;
    EXPECT_EQ(ReadStorageLocationIn(program.path()), "");
    EXPECT_FALSE(WriteStorageLocationIn(program.path(), "/media/exports"));
    EXPECT_FALSE(std::filesystem::exists(StorageSettingPath(program.path())));
    EXPECT_FALSE(std::filesystem::exists(program.Sub("lang")));

    std::filesystem::create_directory(program.Sub("lang"));
    EXPECT_FALSE(WriteStorageLocationIn(program.path(), "/media/exports"));
    EXPECT_FALSE(std::filesystem::exists(StorageSettingPath(program.path())));
    EXPECT_EQ(ReadStorageLocationIn(program.path()), "");
}

TEST(StorageLocation, ReadsAndWritesAnExistingSettingFile) {
    TempFolder program;
    std::filesystem::create_directory(program.Sub("lang"));
    const std::string ini = StorageSettingPath(program.path());
    EXPECT_EQ(ini, program.Sub("lang/setting.ini"));
    std::ofstream(ini) << "; kept\n[other]\nlocation=not this\n";
    EXPECT_EQ(ReadStorageLocationIn(program.path()), "");

    ASSERT_TRUE(WriteStorageLocationIn(program.path(), "/media/usb/Snap Shots"));
    EXPECT_EQ(ReadStorageLocationIn(program.path()), "/media/usb/Snap Shots");
    EXPECT_EQ(platform::GetProfileString("other", "location", "", 200, ini), "not this");
    EXPECT_EQ(ReadAll(ini).rfind("; kept", 0), 0u);

    // An empty folder text is stored as such.
    ASSERT_TRUE(WriteStorageLocationIn(program.path(), ""));
    EXPECT_EQ(ReadStorageLocationIn(program.path(), kStoragePageLocationChars), "");

    // Longer values come back cut to each reader's buffer, less one.
    const std::string long_folder = "/" + std::string(299, 'd');
    ASSERT_TRUE(WriteStorageLocationIn(program.path(), long_folder));
    EXPECT_EQ(ReadStorageLocationIn(program.path()), long_folder.substr(0, 199));
    EXPECT_EQ(ReadStorageLocationIn(program.path(), kStoragePageLocationChars), long_folder.substr(0, 255));
}

TEST(StorageLocation, DefaultsToTheProgramFolder) {
    const std::string ini = platform::ProgramFolder() + "/lang/setting.ini";
    EXPECT_EQ(StorageSettingPath(platform::ProgramFolder()), ini);
    if (std::filesystem::exists(ini)) {
        // The build lays one beside the tests: it is the file read, and it is not written here.
        EXPECT_EQ(ReadStorageLocation(), platform::GetProfileString("setting", "location", "", 200, ini));
        return;
    }
    EXPECT_EQ(ReadStorageLocation(), "");
    EXPECT_FALSE(WriteStorageLocation("/tmp"));
    EXPECT_FALSE(std::filesystem::exists(ini));
}

}  // namespace
