#include "platform/data_file.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>

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

TEST(DataFile, NamesAloneAreListedAndAFolderThatCannotBeReadIsTold) {
    fs::path dir = MakeTree();
    std::vector<std::string> names = {"stale"};
    ASSERT_TRUE(platform::ListFolderNames(dir.string(), &names));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"A_folder", "b_folder", "c.db", "link"}));
    ASSERT_TRUE(platform::ListFolderNames((dir / "b_folder").string(), &names));
    EXPECT_TRUE(names.empty());
    for (const fs::path& unreadable : {dir / "missing", dir / "c.db", fs::path()}) {
        EXPECT_FALSE(platform::ListFolderNames(unreadable.string(), &names)) << unreadable;
        EXPECT_TRUE(names.empty());
    }
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

// Copies in chunks, to the same file system and to another (where the kernel
// refuses to copy between them and the bytes pass through the buffer).
TEST(DataFile, CopyToCopiesEveryByteWithinAndAcrossFileSystems) {
    fs::path dir = MakeTree();
    std::string bytes(300000, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + i / 251);
    std::ofstream(dir / "big.db", std::ios::binary) << bytes;
    platform::ReadOnlyFile in;
    ASSERT_TRUE(in.Open((dir / "big.db").string()));
    std::vector<fs::path> targets = {dir / "copy.db"};
    struct stat here, shm;
    if (::stat(dir.c_str(), &here) == 0 && ::stat("/dev/shm", &shm) == 0 && here.st_dev != shm.st_dev)
        targets.push_back(fs::path("/dev/shm") / ("data_file_test_" + std::to_string(::getpid()) + ".db"));
    for (const fs::path& target : targets) {
        const int out = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        ASSERT_GE(out, 0) << target;
        std::vector<uint8_t> buffer;
        uint64_t offset = 0;
        for (int64_t n; (n = in.CopyTo(out, offset, 65536, &buffer)) > 0;) offset += static_cast<uint64_t>(n);
        EXPECT_EQ(offset, bytes.size()) << target;
        EXPECT_EQ(in.CopyTo(out, bytes.size(), 65536, &buffer), 0) << target;
        ::close(out);
        std::ifstream copied(target, std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(copied), {}), bytes) << target;
        // A destination open only for reading takes nothing.
        const int read_only = ::open(target.c_str(), O_RDONLY | O_CLOEXEC);
        std::vector<uint8_t> unused;
        EXPECT_EQ(in.CopyTo(read_only, 0, 65536, &unused), -1) << target;
        ::close(read_only);
        fs::remove(target);
    }
    fs::remove_all(dir);
}

// A FIFO in a disk copy would hang whoever opens it for reading until a
// writer comes; every reader of the data folder goes through Open.
TEST(DataFile, NonRegularFilesAreRefusedWithoutBlocking) {
    fs::path dir = MakeTree();
    const std::string fifo = (dir / "REC00.db").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    auto opened = std::async(std::launch::async, [&fifo] {
        platform::ReadOnlyFile file;
        return file.Open(fifo);
    });
    if (opened.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        // Release the blocked open so the test can end, then fail.
        const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0) ::close(writer);
        opened.wait();
        FAIL() << "opening a FIFO blocked";
    }
    EXPECT_FALSE(opened.get());
    for (const char* device : {"/dev/null", "/dev/zero"}) {
        platform::ReadOnlyFile file;
        EXPECT_FALSE(file.Open(device)) << device;
    }
    // A link to a regular file is still that file.
    fs::create_symlink(dir / "c.db", dir / "c_link.db");
    platform::ReadOnlyFile linked;
    ASSERT_TRUE(linked.Open((dir / "c_link.db").string()));
    char buf[4] = {};
    EXPECT_EQ(linked.ReadAt(0, buf, 4), 4u);
    EXPECT_EQ(std::string(buf, 4), "0123");
    // Sizes from the status alone follow the same rule.
    EXPECT_EQ(platform::RegularFileSize((dir / "c_link.db").string()), 10);
    for (const std::string& none : {fifo, std::string("/dev/null"), dir.string(), (dir / "missing").string()})
        EXPECT_EQ(platform::RegularFileSize(none), -1) << none;
    fs::remove_all(dir);
}

}  // namespace
