#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>
#include <tuple>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "export/backup_files.h"
#include "export/backup_range.h"
#include "export/backup_worker.h"
#include "media/data_folder.h"
#include "media/minute_file.h"
#include "tests/support/held_time.h"
#include "tests/support/temp_folder.h"
#include "tools/common/avdata_writer.h"

namespace fs = std::filesystem;

namespace {

BackupRange Range(CivilDate from, int from_h, int from_m, CivilDate to, int to_h, int to_m) {
    BackupRange r;
    r.start_year = from.year, r.start_month = from.month, r.start_day = from.day;
    r.start_hour = from_h, r.start_minute = from_m, r.start_second = 0;
    r.end_year = to.year, r.end_month = to.month, r.end_day = to.day;
    r.end_hour = to_h, r.end_minute = to_m, r.end_second = 59;
    return r;
}

sample::SampleDay Day(int y, int m, int d) {
    sample::SampleDay day;
    day.year = y, day.month = m, day.day = d;
    return day;
}

int Hms(int h, int m, int s) { return h * 3600 + m * 60 + s; }

DayIndexEntry Entry(const char* text16) {
    DayIndexEntry e;
    std::memcpy(e.bytes.data(), text16, 16);
    return e;
}

std::string EntryText(const DayIndexEntry& e) { return std::string(e.bytes.begin(), e.bytes.begin() + 14); }

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// One channel-1 video frame whose bytes name the minute, so copies can be told apart.
void WriteMinute(const std::string& folder, CivilDate d, int hour, int minute, size_t frame_bytes = 300) {
    sample::SampleMinute content;
    sample::SampleChannelSecond channel;
    sample::SampleFrame frame;
    frame.kind = diskformat::kKindVideo;
    frame.codec = diskformat::kCodecMjpeg;
    frame.key = 1;
    frame.width = 176;
    frame.height = 144;
    frame.data.resize(frame_bytes);
    for (size_t i = 0; i < frame.data.size(); ++i) frame.data[i] = static_cast<uint8_t>(hour * 60 + minute + d.day + i);
    channel.frames.push_back(frame);
    content.seconds[0].channels[0] = channel;
    std::string error;
    ASSERT_TRUE(sample::WriteMinuteFile(folder, d.year, d.month, d.day, hour, minute, content, &error)) << error;
}

// A day index whose unread header bytes 20-55 carry a pattern the rewrite must keep.
void WriteDay(const std::string& folder, const sample::SampleDay& day) {
    std::vector<uint8_t> bytes = sample::BuildDayIndex(day);
    for (size_t i = 20; i < 56 && i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(0xA0 + i);
    std::string error;
    fs::create_directories(fs::path(DayIndexPath(folder, day.year, day.month, day.day)).parent_path());
    ASSERT_TRUE(sample::WriteFileBytes(DayIndexPath(folder, day.year, day.month, day.day), bytes, &error)) << error;
}

std::vector<std::string> FilesBelow(const std::string& root) {
    std::vector<std::string> out;
    std::error_code ec;
    if (!fs::exists(root, ec)) return out;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file()) out.push_back(fs::relative(e.path(), root).string());
    std::sort(out.begin(), out.end());
    return out;
}

bool AnyPartFile(const std::string& root) {
    for (const std::string& f : FilesBelow(root))
        if (f.ends_with(kBackupPartSuffix)) return true;
    return false;
}

BackupTally RunToEnd(const BackupJob& job, BackupWorker* worker, BackupProgressSink* sink = nullptr) {
    EXPECT_TRUE(worker->Start(job, sink));
    worker->Wait();
    return worker->Tally();
}

constexpr CivilDate kMar5{2012, 3, 5};
constexpr CivilDate kMar6{2012, 3, 6};

}  // namespace

TEST(BackupRangeTest, EntryKeptAndRewritten) {
    const int64_t mar5 = 20120305, mar4 = 20120304, mar6 = 20120306;
    struct Case {
        const char* name;
        BackupRange range;
        int mask;
        int64_t date;
        const char* entry;
        const char* expected;  // nullptr: dropped
    };
    const BackupRange day = Range(kMar5, 10, 0, kMar5, 10, 30);
    const BackupRange two_days = Range(kMar5, 22, 0, kMar6, 1, 0);
    const Case cases[] = {
        {"clipped both ends, channels narrowed", day, 2, mar5, "0900001100003100", "10000010305921"},
        {"inside the range untouched", day, 1, mar5, "1005001010001200", "10050010100012"},
        {"ending exactly at the start is kept", day, 1, mar5, "0900001000001100", "10000010000011"},
        {"ending before the start", day, 1, mar5, "0900000959591100", nullptr},
        {"starting exactly at the end is kept", day, 1, mar5, "1030591100001100", "10305910305911"},
        {"starting after the end", day, 1, mar5, "1031001100001100", nullptr},
        {"no common channel", day, 4, mar5, "1000001010003100", nullptr},
        {"upper-case channel digit", day, 0xf, mar5, "100000101000A100", nullptr},
        {"channel digit f narrowed to c", day, 0xc, mar5, "100000101000f300", "100000101000c3"},
        {"date before the range", day, 1, mar4, "1000001010001100", nullptr},
        {"middle of a two-day range: first day clips start only", two_days, 1, mar5, "2100002359591100",
         "22000023595911"},
        {"second day clips the end only", two_days, 1, mar6, "0000000200001100", "00000001005911"},
        {"date after the range", two_days, 1, 20120307, "0000000200001100", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const DayIndexEntry e = Entry(c.entry);
        ASSERT_EQ(BackupEntryKept(c.range, c.mask, c.date, e), c.expected != nullptr);
        if (!c.expected) continue;
        const DayIndexEntry out = BackupEntryRewritten(c.range, c.mask, c.date, e);
        EXPECT_EQ(EntryText(out), c.expected);
        EXPECT_EQ(out.bytes[14], e.bytes[14]);
        EXPECT_EQ(out.bytes[15], e.bytes[15]);
    }
}

TEST(BackupRangeTest, DayWalkUsesThirtyOneSlotsAndCrossesYears) {
    auto walk = [](const BackupRange& r) {
        std::vector<int64_t> days;
        ForEachDaySlot(r, [&](CivilDate d) {
            days.push_back(DateKey(d));
            return true;
        });
        return days;
    };
    EXPECT_EQ(walk(Range({2012, 2, 28}, 0, 0, {2012, 3, 1}, 23, 59)),
              (std::vector<int64_t>{20120228, 20120229, 20120230, 20120231, 20120301}));
    EXPECT_EQ(walk(Range({2011, 12, 31}, 0, 0, {2012, 1, 1}, 0, 0)), (std::vector<int64_t>{20111231, 20120101}));
    EXPECT_TRUE(walk(Range(kMar6, 0, 0, kMar5, 0, 0)).empty());
    EXPECT_TRUE(walk(Range(kMar5, 10, 1, kMar5, 10, 0)).empty());
    EXPECT_EQ(walk(Range(kMar5, 10, 0, kMar5, 10, 0)).size(), 1u);
}

TEST(BackupRangeTest, StartAndEndClockBindOnlyTheirOwnDayAndHour) {
    const BackupRange r = Range(kMar5, 10, 30, {2012, 3, 7}, 12, 15);
    auto span = [](ClockSpan s) { return std::pair(s.first, s.last); };
    EXPECT_EQ(span(HourSpan(r, kMar5)), std::pair(10, 23));
    EXPECT_EQ(span(HourSpan(r, kMar6)), std::pair(0, 23));
    EXPECT_EQ(span(HourSpan(r, {2012, 3, 7})), std::pair(0, 12));
    EXPECT_EQ(span(MinuteSpan(r, kMar5, 10)), std::pair(30, 59));
    EXPECT_EQ(span(MinuteSpan(r, kMar5, 11)), std::pair(0, 59));
    EXPECT_EQ(span(MinuteSpan(r, kMar6, 10)), std::pair(0, 59));
    EXPECT_EQ(span(MinuteSpan(r, {2012, 3, 7}, 12)), std::pair(0, 15));
    EXPECT_EQ(r.TotalSeconds(), 2 * 86400 + Hms(12, 15, 59) - Hms(10, 30, 0));
    EXPECT_EQ(r.SecondsFromStart(kMar6, 0, 0), 86400 - Hms(10, 30, 0));
}

TEST(BackupFilesTest, SizesRoundToWholeBlocks) {
    EXPECT_EQ(RoundUpToBlock(0), 0u);
    EXPECT_EQ(RoundUpToBlock(1), 4096u);
    EXPECT_EQ(RoundUpToBlock(4096), 4096u);
    EXPECT_EQ(RoundUpToBlock(4097), 8192u);
    EXPECT_DOUBLE_EQ(BackupGigabytes((1ull << 30) + (1ull << 20) - 1), 1.0);
    EXPECT_DOUBLE_EQ(BackupGigabytes(512ull << 20), 0.5);
}

class BackupCopyTest : public ::testing::Test {
protected:
    void SetUp() override {
        source = tmp.Sub("src/avdata");
        // 5 March: three entries; 6 March: one.
        sample::SampleDay mar5 = Day(2012, 3, 5);
        mar5.entries = {{Hms(9, 0, 0), Hms(10, 15, 0), 'f', '1'},
                        {Hms(10, 30, 0), Hms(11, 59, 59), '3', '2'},
                        {Hms(12, 0, 0), Hms(13, 0, 0), '1', '1'}};
        WriteDay(source, mar5);
        sample::SampleDay mar6 = Day(2012, 3, 6);
        mar6.entries = {{Hms(0, 0, 0), Hms(0, 5, 0), '2', '3'}};
        WriteDay(source, mar6);
        for (int m : {14, 15, 16}) WriteMinute(source, kMar5, 10, m);
        WriteMinute(source, kMar5, 11, 5, 9000);
        WriteMinute(source, kMar5, 12, 0);
        for (int m : {0, 1, 2}) WriteMinute(source, kMar6, 0, m);
        job.source = source;
        job.destination = tmp.Sub("dst/avdata");
        fs::create_directories(tmp.Sub("dst"));
    }

    std::string Src(CivilDate d, int h, int m) const { return MinuteFilePath(source, d.year, d.month, d.day, h, m); }
    std::string Dst(CivilDate d, int h, int m) const {
        return MinuteFilePath(job.destination, d.year, d.month, d.day, h, m);
    }

    TempFolder tmp;
    std::string source;
    BackupJob job;
};

TEST_F(BackupCopyTest, CopiesRangeAndRewritesIndexesReadableByTheReaders) {
    job.range = Range(kMar5, 10, 15, kMar6, 0, 1);
    job.channel_mask = 2;
    const uint64_t required = RequiredSpace(job);
    BackupWorker worker;
    const BackupTally tally = RunToEnd(job, &worker);
    EXPECT_EQ(tally.failures, 0);
    EXPECT_EQ(tally.days_written, 2);
    EXPECT_EQ(tally.files_copied, 6);
    EXPECT_EQ(worker.Progress(), 100);
    EXPECT_EQ(worker.DataCopied(), 1);

    DayIndexEntry entries[8];
    ASSERT_EQ(ReadRecordList(job.destination, 2012, 3, 5, entries, 8), 2);
    EXPECT_EQ(EntryText(entries[0]), "10150010150021");
    EXPECT_EQ(EntryText(entries[1]), "10300011595922");
    ASSERT_EQ(ReadRecordList(job.destination, 2012, 3, 6, entries, 8), 1);
    EXPECT_EQ(EntryText(entries[0]), "00000000015923");

    const std::vector<uint8_t> src_index = ReadBytes(DayIndexPath(source, 2012, 3, 5));
    const std::vector<uint8_t> dst_index = ReadBytes(DayIndexPath(job.destination, 2012, 3, 5));
    ASSERT_EQ(dst_index.size(), 56u + 2 * 16);
    EXPECT_TRUE(std::equal(src_index.begin() + 20, src_index.begin() + 56, dst_index.begin() + 20));
    EXPECT_TRUE(std::equal(src_index.begin() + 8, src_index.begin() + 20, dst_index.begin() + 8));

    for (auto [d, h, m] : {std::tuple{kMar5, 10, 15}, {kMar5, 10, 16}, {kMar5, 11, 5}, {kMar5, 12, 0},
                           {kMar6, 0, 0}, {kMar6, 0, 1}}) {
        SCOPED_TRACE(Dst(d, h, m));
        EXPECT_EQ(ReadBytes(Dst(d, h, m)), ReadBytes(Src(d, h, m)));
        MinuteFile minute;
        EXPECT_TRUE(minute.Open(job.destination, d.year, d.month, d.day, h, m));
    }
    EXPECT_FALSE(fs::exists(Dst(kMar5, 10, 14)));
    EXPECT_FALSE(fs::exists(Dst(kMar6, 0, 2)));
    EXPECT_FALSE(AnyPartFile(job.destination));
    // The estimate counts exactly what was written, block-rounded.
    EXPECT_EQ(required, FolderTreeBytes(job.destination));
}

TEST_F(BackupCopyTest, OneMinuteRange) {
    job.range = Range(kMar5, 10, 15, kMar5, 10, 15);
    job.channel_mask = 0xf;
    BackupWorker worker;
    EXPECT_EQ(RunToEnd(job, &worker).files_copied, 1);
    EXPECT_EQ(FilesBelow(job.destination), (std::vector<std::string>{"2012/03/05/10/REC15.db", "2012/03/05/RecordList.db"}));
    DayIndexEntry entries[4];
    ASSERT_EQ(ReadRecordList(job.destination, 2012, 3, 5, entries, 4), 1);
    EXPECT_EQ(EntryText(entries[0]), "101500101500f1");
}

TEST_F(BackupCopyTest, DayWithoutMatchAddsNothing) {
    job.range = Range(kMar5, 12, 30, kMar5, 23, 59);
    job.channel_mask = 4;  // channel 3's only entry ends at 10:15
    EXPECT_EQ(RequiredSpace(job), 0u);
    uint64_t size = 0;
    EXPECT_EQ(DayIndexMatches(DayIndexPath(source, 2012, 3, 5), job, &size), 0);
    BackupWorker worker;
    RunToEnd(job, &worker);
    EXPECT_EQ(worker.DataCopied(), 0);
    EXPECT_EQ(worker.Progress(), 100);
    EXPECT_FALSE(fs::exists(job.destination));
}

TEST_F(BackupCopyTest, MissingDayOrHourFolderDoesNotShiftTheNextOnes) {
    // 7 March has no index and 8 March no hour 10 folder: 8 March still runs
    // from hour 0, and the first existing hour after 10 from minute 0.
    const CivilDate mar8{2012, 3, 8};
    sample::SampleDay day = Day(2012, 3, 8);
    day.entries = {{Hms(0, 0, 0), Hms(23, 0, 0), '1', '1'}};
    WriteDay(source, day);
    WriteMinute(source, mar8, 3, 0);
    WriteMinute(source, mar8, 11, 5);
    job.range = Range({2012, 3, 7}, 10, 30, mar8, 22, 0);
    job.channel_mask = 1;
    BackupWorker worker;
    EXPECT_EQ(RunToEnd(job, &worker).files_copied, 2);
    EXPECT_EQ(ReadBytes(Dst(mar8, 3, 0)), ReadBytes(Src(mar8, 3, 0)));
    EXPECT_EQ(ReadBytes(Dst(mar8, 11, 5)), ReadBytes(Src(mar8, 11, 5)));

    fs::create_directories(tmp.Sub("dst2"));
    job.destination = tmp.Sub("dst2/avdata");
    job.range = Range(mar8, 10, 30, mar8, 22, 0);
    EXPECT_EQ(RunToEnd(job, &worker).files_copied, 1);
    EXPECT_TRUE(fs::exists(Dst(mar8, 11, 5)));
}

// The walk looks up only the names a folder lists: whatever form an hour
// folder or minute file takes, the same ones are copied and sized as a lookup
// of every name finds, from the first minute of the day to its last.
TEST_F(BackupCopyTest, EveryHourFolderAndMinuteFileALookupFindsIsCopied) {
    const CivilDate mar7{2012, 3, 7};
    sample::SampleDay day = Day(2012, 3, 7);
    day.entries = {{0, Hms(23, 59, 59), 'f', '1'}};
    WriteDay(source, day);
    const std::string dir = source + "/2012/03/07";
    WriteMinute(source, mar7, 0, 0);
    WriteMinute(source, mar7, 23, 59);
    // Hour 5 is a link to a folder elsewhere; 6:31 a link to a minute file elsewhere.
    const std::string elsewhere = tmp.Sub("elsewhere");
    WriteMinute(elsewhere, mar7, 5, 30);
    WriteMinute(elsewhere, mar7, 6, 31);
    fs::create_directory_symlink(elsewhere + "/2012/03/07/05", dir + "/05");
    fs::create_directories(dir + "/06");
    fs::create_symlink(elsewhere + "/2012/03/07/06/REC31.db", dir + "/06/REC31.db");
    // Names a minute file takes that are none: a folder, a FIFO, near misses.
    fs::create_directories(dir + "/07/REC32.db");
    ASSERT_EQ(::mkfifo((dir + "/07/REC33.db").c_str(), 0644), 0);
    for (const char* near : {"REC7.db", "REC60.db", "REC08.db.part", "xREC08.db", "REC0a.db"})
        ASSERT_TRUE(sample::WriteFileBytes(dir + "/08/" + near, {1, 2, 3}, nullptr)) << near;
    for (const char* hour : {"24", "8", "09x", "-1"}) {
        fs::create_directories(dir + "/" + hour);
        ASSERT_TRUE(sample::WriteFileBytes(dir + "/" + hour + "/REC00.db", {1, 2, 3}, nullptr)) << hour;
    }
    job.range = Range(mar7, 0, 0, mar7, 23, 59);
    job.channel_mask = 0xf;
    const uint64_t required = RequiredSpace(job);
    BackupWorker worker;
    const BackupTally tally = RunToEnd(job, &worker);
    EXPECT_EQ(tally.failures, 0);
    EXPECT_EQ(FilesBelow(job.destination), (std::vector<std::string>{"2012/03/07/00/REC00.db", "2012/03/07/05/REC30.db",
                                                                     "2012/03/07/06/REC31.db", "2012/03/07/23/REC59.db",
                                                                     "2012/03/07/RecordList.db"}));
    for (auto [h, m] : {std::pair{0, 0}, {5, 30}, {6, 31}, {23, 59}})
        EXPECT_EQ(ReadBytes(Dst(mar7, h, m)), ReadBytes(Src(mar7, h, m))) << h << ":" << m;
    EXPECT_EQ(required, FolderTreeBytes(job.destination));
}

TEST_F(BackupCopyTest, DamagedDayIndexIsSkipped) {
    struct Case {
        const char* name;
        std::optional<int32_t> count;
        std::optional<uint64_t> truncate;
    };
    const Case cases[] = {
        {"count far beyond the file", 0x7fffffff, std::nullopt},
        {"count one beyond the file", 3, std::nullopt},
        {"negative count", -5, std::nullopt},
        {"zero count", 0, std::nullopt},
        {"entry cut short", std::nullopt, 56 + 16 + 7},
        {"header cut short", std::nullopt, 30},
    };
    const CivilDate mar9{2012, 3, 9};
    WriteMinute(source, mar9, 10, 0);
    job.range = Range(mar9, 0, 0, mar9, 23, 59);
    job.channel_mask = 0xf;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sample::SampleDay day = Day(2012, 3, 9);
        day.entries = {{Hms(10, 0, 0), Hms(10, 1, 0), 'f', '1'}, {Hms(10, 2, 0), Hms(10, 3, 0), 'f', '1'}};
        day.count_override = c.count;
        day.truncate_at = c.truncate;
        std::string error;
        ASSERT_TRUE(sample::WriteDayIndex(source, day, &error)) << error;
        uint64_t size = 0;
        EXPECT_EQ(DayIndexMatches(DayIndexPath(source, 2012, 3, 9), job, &size), 0);
        EXPECT_EQ(RequiredSpace(job), 0u);
        EXPECT_EQ(RewriteDayIndex(job, mar9), BackupWrite::kSkipped);
        EXPECT_FALSE(fs::exists(job.destination));
    }
}

TEST_F(BackupCopyTest, UnwritableDestinationIsReportedAndLeavesNoFiles) {
    job.range = Range(kMar5, 0, 0, kMar6, 23, 59);
    job.channel_mask = 0xf;
    // A file where the destination folder should be: nothing can be created below it.
    ASSERT_TRUE(sample::WriteFileBytes(tmp.Sub("blocked"), {1, 2, 3}, nullptr));
    job.destination = tmp.Sub("blocked/avdata");
    BackupWorker worker;
    BackupTally tally = RunToEnd(job, &worker);
    EXPECT_EQ(tally.failures, 2);
    EXPECT_EQ(worker.DataCopied(), 0);

    // The index is written, but a file stands where hour 11's folder goes.
    job.destination = tmp.Sub("dst/avdata");
    fs::create_directories(job.destination + "/2012/03/05");
    ASSERT_TRUE(sample::WriteFileBytes(job.destination + "/2012/03/05/11", {1}, nullptr));
    tally = RunToEnd(job, &worker);
    EXPECT_EQ(tally.failures, 1);
    EXPECT_EQ(tally.files_copied, 7);
    EXPECT_TRUE(fs::exists(Dst(kMar5, 12, 0)));
    EXPECT_FALSE(AnyPartFile(job.destination));
}

TEST_F(BackupCopyTest, FileCopyOverwritesAndStopLeavesNothing) {
    const std::string target = tmp.Sub("dst/copy.db");
    ASSERT_TRUE(sample::WriteFileBytes(target, std::vector<uint8_t>(20000, 7), nullptr));
    std::atomic<int> running{1};
    std::vector<uint8_t> buffer;
    EXPECT_EQ(CopyBackupFile(Src(kMar5, 11, 5), target, running, &buffer), BackupWrite::kWritten);
    EXPECT_EQ(ReadBytes(target), ReadBytes(Src(kMar5, 11, 5)));
    EXPECT_EQ(CopyBackupFile(tmp.Sub("none.db"), tmp.Sub("dst/none.db"), running, &buffer), BackupWrite::kSkipped);
    EXPECT_FALSE(fs::exists(tmp.Sub("dst/none.db")));
    running = 0;
    EXPECT_EQ(CopyBackupFile(Src(kMar5, 10, 15), tmp.Sub("dst/stopped.db"), running, &buffer), BackupWrite::kSkipped);
    EXPECT_EQ(FilesBelow(tmp.Sub("dst")), (std::vector<std::string>{"copy.db"}));
}

namespace {

// Holds the copy thread at its first progress report until released.
class GateSink : public BackupProgressSink {
public:
    void SetBarPosition(int percent) override {
        std::unique_lock lock(mutex_);
        positions.push_back(percent);
        reached_.notify_all();
        released_.wait(lock, [this] { return open_; });
    }
    void StartCloseTimer() override {
        std::lock_guard lock(mutex_);
        close_timer_started = true;
    }
    void WaitReached() {
        std::unique_lock lock(mutex_);
        reached_.wait(lock, [this] { return !positions.empty(); });
    }
    void Open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        released_.notify_all();
    }
    std::vector<int> positions;
    bool close_timer_started = false;

private:
    std::mutex mutex_;
    std::condition_variable reached_, released_;
    bool open_ = false;
};

}  // namespace

TEST_F(BackupCopyTest, StopMidwayKeepsWhatWasCopiedAndNeverCompletes) {
    for (int h = 0; h < 24; ++h) WriteMinute(source, kMar6, h, 30);
    sample::SampleDay mar6 = Day(2012, 3, 6);
    mar6.entries = {{0, Hms(23, 59, 59), 'f', '1'}};
    WriteDay(source, mar6);
    job.range = Range(kMar6, 0, 0, kMar6, 23, 59);
    job.channel_mask = 0xf;
    GateSink sink;
    BackupWorker worker;
    ASSERT_TRUE(worker.Start(job, &sink));
    sink.WaitReached();
    std::thread stopper([&] { worker.Stop(); });
    while (worker.Running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    sink.Open();
    stopper.join();
    EXPECT_LT(worker.Progress(), 100);
    EXPECT_FALSE(sink.close_timer_started);
    EXPECT_EQ(sink.positions, std::vector<int>{0});
    const std::vector<std::string> copied = FilesBelow(job.destination);
    EXPECT_EQ(copied, (std::vector<std::string>{"2012/03/06/00/REC00.db", "2012/03/06/RecordList.db"}));
    EXPECT_FALSE(AnyPartFile(job.destination));
}

TEST_F(BackupCopyTest, NoDataFinishesAfterADelayAndStopCutsTheDelayShort) {
    job.range = Range({2013, 1, 1}, 0, 0, {2013, 1, 1}, 23, 59);
    job.channel_mask = 0xf;
    GateSink sink;
    sink.Open();
    BackupWorker worker;
    auto started = std::chrono::steady_clock::now();
    RunToEnd(job, &worker, &sink);
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(900));
    EXPECT_EQ(worker.Progress(), 100);
    EXPECT_EQ(worker.DataCopied(), 0);
    EXPECT_TRUE(sink.close_timer_started);
    EXPECT_EQ(sink.positions, std::vector<int>{100});

    ASSERT_TRUE(worker.Start(job, nullptr));
    // The delay is the program's: the stop is bounded well short of it by the time it held
    // the calling thread, less the time that thread stood ready while other work ran.
    const int64_t held = held_time::HeldMs([&] { worker.Stop(); });
    EXPECT_LT(held, BackupWorker::kNoDataDelayMs / 2);
    EXPECT_EQ(worker.Progress(), 0);
}

TEST(BackupFilesTest, DeleteTreeAndOverlap) {
    TempFolder tmp;
    const std::string old = tmp.Sub("dst/avdata");
    fs::create_directories(old + "/2012/03/05/10");
    ASSERT_TRUE(sample::WriteFileBytes(old + "/2012/03/05/10/REC00.db", std::vector<uint8_t>(5000), nullptr));
    ASSERT_TRUE(sample::WriteFileBytes(tmp.Sub("keep.db"), {1}, nullptr));
    fs::create_directory_symlink(tmp.path(), old + "/link");
    EXPECT_EQ(FolderTreeBytes(old), 8192u);
    DeleteFolderTree(old);
    EXPECT_TRUE(fs::is_empty(old));
    EXPECT_TRUE(fs::exists(tmp.Sub("keep.db")));  // the link was removed, not followed

    EXPECT_TRUE(BackupPathsOverlap(tmp.Sub("dst/avdata"), tmp.Sub("dst/avdata/")));
    EXPECT_TRUE(BackupPathsOverlap(tmp.Sub("dst/avdata/2012"), tmp.Sub("dst/./avdata")));
    EXPECT_TRUE(BackupPathsOverlap(tmp.Sub("dst"), tmp.Sub("dst/avdata")));
    EXPECT_FALSE(BackupPathsOverlap(tmp.Sub("dst/avdata"), tmp.Sub("dst/avdata2")));
    EXPECT_FALSE(BackupPathsOverlap(tmp.Sub("src/avdata"), tmp.Sub("dst/avdata")));
    EXPECT_EQ(GetBackupFreeBytes(tmp.Sub("missing")), 0u);
    EXPECT_GT(GetBackupFreeBytes(tmp.path()), 0u);
}
