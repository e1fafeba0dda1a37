#include "media/data_folder.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "platform/message_box.h"
#include "tests/support/temp_folder.h"
#include "tools/common/avdata_writer.h"

namespace {

namespace fs = std::filesystem;

class DataFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = platform::SetMessageBoxHandler([this](const std::string& text, const std::string& caption, int) {
            messages_.push_back(text);
            captions_.push_back(caption);
            return platform::kIdOk;
        });
    }
    void TearDown() override { platform::SetMessageBoxHandler(previous_); }

    void MakeDay(const std::string& data, int y, int m, int d, std::vector<sample::SampleDayEntry> entries = {{0, 59}},
                 std::optional<int32_t> count = {}, std::optional<uint64_t> truncate = {}) {
        sample::SampleDay day{y, m, d, std::move(entries), count, truncate};
        std::string error;
        ASSERT_TRUE(sample::WriteDayIndex(data, day, &error)) << error;
    }

    TempFolder tmp_;
    std::vector<std::string> messages_;
    std::vector<std::string> captions_;
    platform::MessageBoxHandler previous_;
};

TEST_F(DataFolderTest, ScanDataFolderAcceptsOnlyAvdataEndings) {
    const CivilDate today{2012, 3, 5};
    struct Case {
        std::string path;
        int result;
        bool message;
    } cases[] = {
        {tmp_.Sub("avdata"), 1, false},
        {tmp_.Sub("disk1_avdata"), 1, false},
        {tmp_.Sub("avdata/2012"), 0, true},
        {tmp_.Sub("other"), 0, true},
        {"avda", 0, false},
        {"/avda", 0, false},
    };
    for (const Case& c : cases) {
        if (c.result) MakeDay(c.path, 2012, 3, 1);
        messages_.clear();
        std::string folder;
        int year = 0, month = 0;
        EXPECT_EQ(ScanDataFolderFrom(c.path, today, &folder, &year, &month), c.result) << c.path;
        EXPECT_EQ(messages_.size(), c.message ? 1u : 0u) << c.path;
        if (c.message) {
            EXPECT_EQ(messages_[0], "It's not a data folder.");
            EXPECT_EQ(captions_[0], "Error");
        }
        EXPECT_EQ(ScanDataFolderTellsRefusal(c.path), c.message) << c.path;
        if (c.result) {
            EXPECT_EQ(folder, c.path);
            EXPECT_EQ(year, 2012);
            EXPECT_EQ(month, 3);
        }
    }
}

TEST_F(DataFolderTest, NewestDaySearch) {
    const std::string data = tmp_.Sub("avdata");
    struct Case {
        CivilDate today, recorded;
        int result;
    } cases[] = {
        {{2012, 3, 5}, {2012, 3, 5}, 1},
        {{2012, 3, 1}, {2012, 2, 29}, 1},
        {{2013, 1, 1}, {2012, 12, 31}, 1},
        {{2012, 5, 1}, {2012, 4, 31}, 1},  // the search tries every month's 31st, so such folders are found
        {{2012, 3, 5}, {2007, 3, 1}, 0},   // beyond the search
        {{2012, 3, 5}, {2012, 3, 6}, 0},   // after today
    };
    for (const Case& c : cases) {
        fs::remove_all(data);
        MakeDay(data, c.recorded.year, c.recorded.month, c.recorded.day);
        std::string folder;
        int year = 0, month = 0;
        EXPECT_EQ(ScanDataFolderFrom(data, c.today, &folder, &year, &month), c.result)
            << c.recorded.year << "-" << c.recorded.month << "-" << c.recorded.day;
        if (c.result) {
            EXPECT_EQ(year, c.recorded.year);
            EXPECT_EQ(month, c.recorded.month);
        }
    }
    // The last day the search still reaches: 1824 steps back.
    CivilDate edge{2012, 3, 5};
    for (int i = 0; i < kNewestDaySearchDays - 1; ++i) edge = StepBackOneDayForSearch(edge);
    fs::remove_all(data);
    MakeDay(data, edge.year, edge.month, edge.day);
    std::string folder;
    int year = 0, month = 0;
    EXPECT_EQ(ScanDataFolderFrom(data, {2012, 3, 5}, &folder, &year, &month), 1);
    fs::remove_all(data);
    edge = StepBackOneDayForSearch(edge);
    MakeDay(data, edge.year, edge.month, edge.day);
    EXPECT_EQ(ScanDataFolderFrom(data, {2012, 3, 5}, &folder, &year, &month), 0);
}

TEST_F(DataFolderTest, ReadRecordList) {
    const std::string data = tmp_.Sub("avdata");
    const std::vector<sample::SampleDayEntry> three = {{0, 10, 'f', '1'}, {20, 30, '3', '2'}, {40, 86399, 'a', '3'}};
    struct Case {
        const char* name;
        std::optional<int32_t> count;
        std::optional<uint64_t> truncate;
        int capacity;
        int result;
    } cases[] = {
        {"whole", {}, {}, 3, 3},
        {"room to spare", {}, {}, 100, 3},
        {"count above capacity", {}, {}, 2, 0},
        {"count 0", 0, {}, 10, 0},
        {"negative count", -1, {}, 10, 0},
        {"most negative count", INT32_MIN, {}, 10, 0},
        {"count past the file", 4, {}, 10, 0},
        {"short header", {}, 40, 10, 0},
        {"cut entry", {}, 56 + 16 * 3 - 1, 10, 0},
    };
    for (const Case& c : cases) {
        fs::remove_all(data);
        MakeDay(data, 2012, 3, 5, three, c.count, c.truncate);
        std::vector<DayIndexEntry> buffer(static_cast<size_t>(c.capacity) + 1);
        buffer.back().bytes.fill(0xEE);
        EXPECT_EQ(ReadRecordList(data, 2012, 3, 5, buffer.data(), c.capacity), c.result) << c.name;
        EXPECT_EQ(buffer.back().bytes[0], 0xEE) << c.name << ": wrote past the capacity";
        if (c.result == 3) {
            EXPECT_EQ(buffer[1].StartSecond(), 20);
            EXPECT_EQ(buffer[1].ChannelMask(), 3);
            EXPECT_EQ(buffer[1].RecordType(), 2);
            EXPECT_EQ(buffer[2].EndSecond(), 86399);
        }
    }
    DayIndexEntry one;
    EXPECT_EQ(ReadRecordList(data, 2012, 3, 6, &one, 1), 0);
}

TEST_F(DataFolderTest, ReadRecordListHeader) {
    const std::string data = tmp_.Sub("avdata");
    MakeDay(data, 2012, 3, 5, {{0, 1}, {2, 3}});
    DayIndexHeader header;
    ASSERT_EQ(ReadRecordListHeader(data, 2012, 3, 5, &header), 1);
    EXPECT_EQ(header.count(), 2);
    EXPECT_EQ(header.year(), 2012);
    EXPECT_EQ(header.month(), 3);
    EXPECT_EQ(header.day(), 5);
    EXPECT_EQ(ReadRecordListHeader(data, 2012, 3, 4, &header), 0);
}

TEST_F(DataFolderTest, BackupFolderSearch) {
    const std::string root = tmp_.Sub("usb");
    fs::create_directories(root + "/a/b");
    fs::create_directories(root + "/c/d/backup_2012");
    MakeDay(root + "/c/d/backup_2012/avdata", 2012, 3, 5);
    MakeDay(root + "/c/d/backup_2012", 2012, 3, 4);
    EXPECT_EQ(FindBackupFolder(root), root + "/c/d/backup_2012");
    EXPECT_EQ(FindBackupFolder(root + "/x/backup"), root + "/x/backup");  // used unchanged, no search
    EXPECT_EQ(FindBackupFolder(root + "/a"), root + "/a");

    std::string folder;
    int year = 0, month = 0;
    EXPECT_EQ(ScanBackupFolderFrom(root, {2012, 3, 10}, &folder, &year, &month), 1);
    EXPECT_EQ(folder, root + "/c/d/backup_2012");
    EXPECT_EQ(ScanBackupFolderFrom(root + "/a", {2012, 3, 10}, &folder, &year, &month), 0);
    EXPECT_EQ(ScanBackupFolderFrom("/bac", {2012, 3, 10}, &folder, &year, &month), 0);
    EXPECT_TRUE(messages_.empty());
}

TEST_F(DataFolderTest, BackupSearchIgnoresLinksAndStopsDeep) {
    const std::string root = tmp_.Sub("loop");
    fs::create_directories(root + "/a");
    fs::create_symlink(root, root + "/a/up");  // a cycle back to the top
    fs::create_directories(tmp_.Sub("elsewhere/backup"));
    fs::create_directory_symlink(tmp_.Sub("elsewhere"), root + "/link");
    EXPECT_EQ(FindBackupFolder(root), root);

    std::string deep = tmp_.Sub("deep");
    for (int i = 0; i < kBackupSearchDepth + 3; ++i) deep += "/d";
    fs::create_directories(deep + "/backup");
    EXPECT_EQ(FindBackupFolder(tmp_.Sub("deep")), tmp_.Sub("deep"));
}

TEST_F(DataFolderTest, BackupCounterSearchesOnlyTheFirstSubfolders) {
    // After three searched subfolders the counter passes the others over.
    const std::string root = tmp_.Sub("wide");
    for (const char* name : {"1", "2", "3", "4"}) fs::create_directories(root + "/" + name + "/inner");
    fs::create_directories(root + "/4/inner/backup");
    EXPECT_EQ(FindBackupFolder(root), root);
    fs::create_directories(root + "/3/inner/backup");
    EXPECT_EQ(FindBackupFolder(root), root + "/3/inner/backup");
}

}  // namespace
