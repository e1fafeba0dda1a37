// The backup tool run as people and scripts run it: what it copies equals the
// source, and the source stays as it was whatever the destination is.
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>

#include "tests/support/temp_folder.h"
#include "tests/support/tool_run.h"

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Every entry below root as "kind path -> content or link target", so any
// change to the tree, its files or its links shows.
std::map<std::string, std::string> TreeState(const std::string& root) {
    std::map<std::string, std::string> state;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string rel = fs::relative(it->path(), root).string();
        if (it->is_symlink()) {
            state["link " + rel] = fs::read_symlink(it->path()).string();
        } else if (it->is_directory()) {
            state["folder " + rel] = "";
        } else {
            state["file " + rel] = std::to_string(std::hash<std::string>{}(ReadAll(it->path().string())));
        }
    }
    return state;
}

class AvdataBackupTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        tmp_ = new TempFolder;
        fs::create_directories(tmp_->Sub("disk"));
        // The next day records only 3 seconds a minute: a quicker sample.
        for (const char* more : {"--date 2012-03-05", "--date 2012-03-06 --seconds 3"}) {
            const ToolRun run = RunTool("avdata-sample " + tmp_->Sub("disk") + " --start 14:07 --minutes 3 " + more);
            ASSERT_EQ(run.status, 0) << run.err;
        }
    }
    static void TearDownTestSuite() { delete tmp_; }
    void SetUp() override { before_ = TreeState(Source()); }
    void TearDown() override { EXPECT_EQ(TreeState(Source()), before_) << "the source changed"; }

    static std::string Source() { return tmp_->Sub("disk/avdata"); }
    static ToolRun Backup(const std::string& out, const std::string& more = "", const std::string& prefix = "") {
        return RunTool("avdata-backup --data " + Source() + " --date 2012-03-05 --from 14:07:00 --to 14:09:59 --channels 1,2 --out " +
                           ShellQuote(out) + " " + more,
                       prefix);
    }
    std::string Fresh(const std::string& name) {
        const std::string path = scratch_.Sub(name);
        fs::create_directories(path);
        return path;
    }

    static TempFolder* tmp_;
    TempFolder scratch_;
    std::map<std::string, std::string> before_;
};
TempFolder* AvdataBackupTest::tmp_ = nullptr;

TEST_F(AvdataBackupTest, CopiesEqualTheSourceAndTheIndexKeepsTheRange) {
    const std::string out = Fresh("out");
    const ToolRun run = Backup(out);
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string copy = out + "/avdata/2012/03/05";
    // The second minute of the sample is missing.
    EXPECT_EQ(Lines(run.out), (std::vector<std::string>{copy + "/RecordList.db\t0", copy + "/14/REC07.db\t3975",
                                                        copy + "/14/REC09.db\t3975"}));
    for (const char* minute : {"/14/REC07.db", "/14/REC09.db"})
        EXPECT_EQ(RunShell("cmp " + ShellQuote(Source() + "/2012/03/05" + minute) + " " + ShellQuote(copy + minute)).status, 0);
    // Read back as the players read it: the source's entries (all four
    // channels, mask 15, all inside the range), narrowed to channels 1 and 2.
    const ToolRun day = RunTool("avdata-dump day " + out + "/avdata 2012 3 5");
    ASSERT_EQ(day.status, 0) << day.err;
    const ToolRun source_day = RunTool("avdata-dump day " + Source() + " 2012 3 5");
    std::vector<std::string> want = Lines(source_day.out);
    ASSERT_EQ(want.size(), 4u);
    for (std::string& line : want) line.replace(line.find("\t15\t"), 4, "\t3\t");
    EXPECT_EQ(Lines(day.out), want);

    // Again without --cover: refused, the first backup untouched; with it: replaced.
    const auto first = TreeState(out);
    const ToolRun again = Backup(out);
    EXPECT_EQ(again.status, 1);
    EXPECT_NE(again.err.find("--cover"), std::string::npos) << again.err;
    EXPECT_EQ(TreeState(out), first);
    EXPECT_EQ(Backup(out, "--cover").status, 0);
    EXPECT_EQ(TreeState(out), first);
}

// A range over two days, as the dialog's start and end dates give it: the
// first day from its start minute, the second up to its end minute.
TEST_F(AvdataBackupTest, ARangeOverTwoDaysCopiesEachDaysPart) {
    const std::string out = Fresh("out");
    const ToolRun run = RunTool("avdata-backup --data " + Source() +
                                " --date 2012-03-05 --from 14:08:00 --to-date 2012-03-06 --to 14:07:59 --channels 1,2 --out " + out);
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string copy = out + "/avdata/2012/03/";
    EXPECT_EQ(Lines(run.out), (std::vector<std::string>{copy + "05/RecordList.db\t0", copy + "05/14/REC09.db\t3975",
                                                        copy + "06/RecordList.db\t0", copy + "06/14/REC07.db\t225"}));
    EXPECT_EQ(RunShell("cmp " + Source() + "/2012/03/05/14/REC09.db " + copy + "05/14/REC09.db").status, 0);
    EXPECT_EQ(RunShell("cmp " + Source() + "/2012/03/06/14/REC07.db " + copy + "06/14/REC07.db").status, 0);
    // Each day keeps the entries that reach into its part of the range: of the
    // first day's 14:07:00-39, 14:07:45-59, 14:09:00-39 and 14:09:45-59 the
    // last two, of the second day's 14:07:00-02 and 14:09:00-02 the first.
    EXPECT_EQ(Lines(RunTool("avdata-dump day " + out + "/avdata 2012 3 5").out),
              (std::vector<std::string>{"50940\t50979\t3\t3", "50985\t50999\t3\t1"}));
    EXPECT_EQ(Lines(RunTool("avdata-dump day " + out + "/avdata 2012 3 6").out),
              (std::vector<std::string>{"50820\t50822\t3\t1"}));
}

// Destinations that are the source, or reach it by another name, are refused
// even when told to cover what is there; the fixture checks the source after each.
TEST_F(AvdataBackupTest, DestinationsThatReachTheSourceAreRefused) {
    const std::string links = Fresh("links");
    fs::create_directory_symlink(Source(), links + "/to-source");
    fs::create_directory_symlink(tmp_->Sub("disk"), links + "/to-parent");
    const std::string cases[] = {
        tmp_->Sub("disk"),               // its avdata is the source
        Source(),                        // inside the source
        Source() + "/2012/03",           // deeper inside
        links + "/to-source",            // a link to the source
        links + "/to-parent",            // a link to its parent: avdata there is the source
        tmp_->Sub("disk/../disk/avdata/2012"),
    };
    for (const std::string& out : cases) {
        const ToolRun run = Backup(out, "--cover");
        EXPECT_EQ(run.status, 1) << out;
        EXPECT_NE(run.err.find("lies in or around"), std::string::npos) << out << ": " << run.err;
        EXPECT_EQ(run.out, "");
    }
}

TEST_F(AvdataBackupTest, BindMountsOfTheSourceAreRefused) {
    const std::string parent_mount = Fresh("parent-mount");
    const std::string child_mount = Fresh("child-mount");
    const ScopedMount parent(tmp_->Sub("disk"), parent_mount, nullptr, MS_BIND, nullptr);
    if (!parent.ok()) GTEST_SKIP() << "cannot bind-mount here";
    const ScopedMount child(Source() + "/2012", child_mount, nullptr, MS_BIND, nullptr);
    ASSERT_TRUE(child.ok());
    for (const std::string& out : {parent_mount, parent_mount + "/avdata", child_mount}) {
        const ToolRun run = Backup(out, "--cover");
        EXPECT_EQ(run.status, 1) << out;
        EXPECT_NE(run.err.find("lies in or around"), std::string::npos) << out << ": " << run.err;
    }
}

// An hour folder holds no subfolder; a bind mount of one is still the source.
TEST_F(AvdataBackupTest, BindMountsOfAnHourFolderAreRefused) {
    const std::string mounted = Fresh("hour-mount");
    const ScopedMount mount(Source() + "/2012/03/06/14", mounted, nullptr, MS_BIND, nullptr);
    if (!mount.ok()) GTEST_SKIP() << "cannot bind-mount here";
    const ToolRun run = Backup(mounted, "--cover");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("lies in or around"), std::string::npos) << run.err;
}

// An "avdata" that is a link is replaced as a link: what it points to stays.
TEST_F(AvdataBackupTest, CoveringALinkRemovesTheLinkOnly) {
    const std::string elsewhere = Fresh("elsewhere");
    std::ofstream(elsewhere + "/precious.txt") << "keep me";
    fs::create_directories(elsewhere + "/2012");
    const auto kept = TreeState(elsewhere);
    const std::string out = Fresh("out");
    fs::create_directory_symlink(elsewhere, out + "/avdata");
    const ToolRun run = Backup(out, "--cover");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_FALSE(fs::is_symlink(out + "/avdata"));
    EXPECT_EQ(Lines(run.out).size(), 3u);
    EXPECT_EQ(TreeState(elsewhere), kept);
}

// A backup that finds nothing to copy wrote nothing: no success. A share
// login goes with a share path only; a missing output folder is named.
TEST_F(AvdataBackupTest, NothingToCopyAndWrongLoginsAreFailures) {
    const std::string out = Fresh("empty");
    struct Case {
        std::string args;
        int status;
        std::string said;
    };
    const std::string base = "avdata-backup --data " + Source() + " --from 14:07:00 --to 14:09:59 --channels 1 ";
    const Case cases[] = {
        {base + "--date 2013-01-01 --out " + ShellQuote(out), 1, "no backup data in the range"},
        {base + "--date 2012-03-05 --out " + ShellQuote(out + "/missing"), 1, "does not exist"},
        {base + "--date 2012-03-05 --out " + ShellQuote(out) + " --user u --password p", 2, "share path"},
        {base + "--date 2012-03-05 --out " + ShellQuote(out) + " --password p", 2, "--user"},
    };
    for (const Case& c : cases) {
        const ToolRun run = RunTool(c.args);
        EXPECT_EQ(run.status, c.status) << c.args << ": " << run.err;
        EXPECT_NE(run.err.find(c.said), std::string::npos) << c.args << ": " << run.err;
        EXPECT_EQ(run.out, "") << c.args;
    }
    EXPECT_TRUE(fs::is_empty(out));
}

// Writes that fail are told as a failure, never as "no backup data", and
// every file listed equals its source.
TEST_F(AvdataBackupTest, FailedWritesAreToldAndListedFilesAreWhole) {
    // A read-only file system, where the test may mount one: every write fails.
    const std::string none = Fresh("none");
    const ScopedMount read_only("tmpfs", none, "tmpfs", MS_RDONLY, "size=64m");
    if (read_only.ok()) {
        const ToolRun nothing = Backup(none);
        EXPECT_EQ(nothing.status, 1);
        EXPECT_NE(nothing.err.find("could not be written"), std::string::npos) << nothing.err;
        EXPECT_EQ(nothing.err.find("no backup data"), std::string::npos) << nothing.err;
        EXPECT_EQ(nothing.out, "");
    }

    const std::string some = Fresh("some");
    const ToolRun run = Backup(some, "", "ulimit -f 2048;");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("could not be written"), std::string::npos) << run.err;
    for (const std::string& line : Lines(run.out)) {
        const std::string path = line.substr(0, line.find('\t'));
        if (path.find("RecordList.db") != std::string::npos) continue;
        const std::string source = Source() + path.substr(path.find("/avdata/") + 7);
        EXPECT_EQ(RunShell("cmp " + ShellQuote(source) + " " + ShellQuote(path)).status, 0) << path;
    }
    // Nothing half-written is left under any name.
    for (const auto& e : fs::recursive_directory_iterator(some)) {
        if (!e.is_regular_file()) continue;
        EXPECT_NE(run.out.find(e.path().string() + "\t"), std::string::npos) << e.path();
    }
}

TEST_F(AvdataBackupTest, ASmallFileSystemIsRefusedBeforeCopying) {
    const std::string out = Fresh("small");
    const ScopedMount small("tmpfs", out, "tmpfs", 0, "size=1m");
    if (!small.ok()) GTEST_SKIP() << "cannot mount here";
    const ToolRun run = Backup(out);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("not enough disk space"), std::string::npos) << run.err;
    EXPECT_TRUE(fs::is_empty(out));
}

TEST_F(AvdataBackupTest, WrongUseIsRefusedWithAReason) {
    const std::string out = Fresh("unused");
    const std::string range = " --date 2012-03-05 --from 14:07:00 --to 14:09:59";
    struct Case {
        std::string args;
        int status;
        const char* says;
    };
    const Case cases[] = {
        {"avdata-backup", 2, "usage"},
        {"avdata-backup --data " + Source() + range + " --channels 1 --out " + out + " --fast", 2, "unknown option"},
        {"avdata-backup --data " + Source() + " --date 2012-13-05 --from 14:07:00 --to 14:09:59 --channels 1 --out " + out, 2,
         "--date"},
        {"avdata-backup --data " + Source() + " --date 2012-03-05 --from 14:09:00 --to 14:08:59 --channels 1 --out " + out, 2,
         "before"},
        {"avdata-backup --data " + Source() + range + " --to-date 2012-02-30 --channels 1 --out " + out, 2, "--to-date"},
        {"avdata-backup --data " + Source() + range + " --to-date 2012-03-04 --channels 1 --out " + out, 2,
         "--to-date lies before --date"},
        {"avdata-backup --data " + Source() + range + " --to-date 2012-03-05 --channels 1 --out " + out + " --to-date 2012-03-06",
         2, "--to-date"},
        {"avdata-backup --data " + Source() + range + " --channels 0 --out " + out, 2, "--channels"},
        {"avdata-backup --data " + Source() + range + " --channels 1", 2, "--out"},
        {"avdata-backup --data " + Source() + range + " --channels 1 --out " + scratch_.Sub("missing"), 1, "not a folder"},
    };
    for (const Case& c : cases) {
        const ToolRun run = RunTool(c.args);
        EXPECT_EQ(run.status, c.status) << c.args;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << c.args << ": " << run.err;
    }
    EXPECT_TRUE(fs::is_empty(out));
}

}  // namespace
