#include "platform/data_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

fs::path MakeTree() {
    fs::path dir = fs::temp_directory_path() / ("data_file_test_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "b_folder");
    fs::create_directories(dir / "A_folder");
    std::ofstream(dir / "c.db", std::ios::binary) << "0123456789";
    fs::create_directory_symlink(dir / "b_folder", dir / "link");
    return dir;
}

TEST(DataFile, ListingIsSortedAndMarksFoldersAndLinks) {
    fs::path dir = MakeTree();
    auto entries = platform::ListFolder(dir.string());
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].name, "A_folder");
    EXPECT_EQ(entries[1].name, "b_folder");
    EXPECT_EQ(entries[2].name, "c.db");
    EXPECT_EQ(entries[3].name, "link");
    EXPECT_TRUE(entries[0].is_folder);
    EXPECT_FALSE(entries[2].is_folder);
    EXPECT_TRUE(entries[3].is_symlink);
    EXPECT_TRUE(platform::ListFolder((dir / "missing").string()).empty());
    fs::remove_all(dir);
}

TEST(DataFile, ReadAtIsShortAtEndAndZeroPastIt) {
    fs::path dir = MakeTree();
    platform::ReadOnlyFile file;
    ASSERT_TRUE(file.Open((dir / "c.db").string()));
    EXPECT_EQ(file.Size(), 10);
    char buf[8] = {};
    EXPECT_EQ(file.ReadAt(6, buf, sizeof buf), 4u);
    EXPECT_EQ(std::string(buf, 4), "6789");
    EXPECT_EQ(file.ReadAt(10, buf, sizeof buf), 0u);
    EXPECT_EQ(file.ReadAt(UINT64_MAX, buf, sizeof buf), 0u);
    platform::ReadOnlyFile folder;
    EXPECT_FALSE(folder.Open(dir.string()));
    EXPECT_FALSE(folder.Open((dir / "missing").string()));
    fs::remove_all(dir);
}

}  // namespace
