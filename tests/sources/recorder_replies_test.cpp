#include "sources/recorder_replies.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

// Found by argument lookup, so they live beside the struct's namespace.
static bool operator==(const TimeLineSegment& a, const TimeLineSegment& b) {
    return a.channel == b.channel && a.start == b.start && a.end == b.end && a.type == b.type;
}

static std::ostream& operator<<(std::ostream& os, const TimeLineSegment& s) {
    return os << "{" << s.channel << ", " << s.start << ", " << s.end << ", " << s.type << "}";
}

namespace {

using Segments = std::vector<TimeLineSegment>;

TEST(SplitStringTest, PiecesAndCount) {
    struct Case {
        std::string text;
        std::vector<std::string> pieces;
    } cases[] = {
        {"", {""}},
        {"a", {"a"}},
        {"a\nb", {"a", "b"}},
        {"a\nb\n", {"a", "b", ""}},
        {"\n", {"", ""}},
        {"\n\na\n", {"", "", "a", ""}},
        {"a\r\nb", {"a\r", "b"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> pieces{"stale"};
        EXPECT_EQ(SplitString(c.text, '\n', &pieces), static_cast<int>(c.pieces.size())) << c.text;
        EXPECT_EQ(pieces, c.pieces) << c.text;
    }
    std::vector<std::string> pieces;
    EXPECT_EQ(SplitString("1,2,,3", ',', &pieces), 4);
    EXPECT_EQ(pieces, (std::vector<std::string>{"1", "2", "", "3"}));
}

TEST(LeadingDecimalTest, ReadsAsAtoiWithoutOverflow) {
    struct Case {
        std::string text;
        size_t pos;
        int value;
    } cases[] = {
        {"12", 0, 12},       {"  7x", 0, 7},        {"\n12lease", 0, 12},         {"-5", 0, -5},
        {"+3", 0, 3},        {"abc", 0, 0},         {"", 0, 0},                   {"id=42", 3, 42},
        {"id=", 3, 0},       {"x", 5, 0},           {"99999999999999999999", 0, INT_MAX},
        {"-99999999999999999999", 0, INT_MIN},      {"2147483647", 0, INT_MAX},   {"-2147483648", 0, INT_MIN},
    };
    for (const Case& c : cases) EXPECT_EQ(LeadingDecimal(c.text, c.pos), c.value) << c.text;
}

TEST(RecorderRepliesTest, SessionIdReply) {
    struct Case {
        std::string reply;
        bool parsed;
        int id;  // when parsed
    } cases[] = {
        {"id=12\nlease=60\n", true, 12},
        {"id=12lease", true, 12},
        {"id=12\n", true, 0},  // no "lease": 0
        {"no equals sign", false, 0},
        {"", false, 0},
        {"id=-3\nlease=60", true, -3},
        {"id=99999999999999\nlease=60", true, INT_MAX},
        {"id=abc\nlease=60", true, 0},
        {"x=1\nid=5\nlease=60", true, 1},  // the first "=" counts
    };
    for (const Case& c : cases) {
        int id = 77;
        EXPECT_EQ(ParseSessionIdReply(c.reply, &id), c.parsed) << c.reply;
        EXPECT_EQ(id, c.parsed ? c.id : 77) << c.reply;
    }
}

TEST(RecorderRepliesTest, RecordingDays) {
    struct Case {
        std::string reply;
        std::vector<int> days;
    } cases[] = {
        {"2012,3,5\n2012,3,9\n", {5, 9}},
        {"2012,3,5\n2012,3,9", {5}},  // the last piece is never read
        {"", {}},
        {"\n", {}},
        {"7\n", {7}},  // no comma: the whole piece
        {"1,2,31\n1,2,32\n1,2,0\n1,2,-4\n1,2,x\n", {31}},
        {"2012,3,99999999999999999\n", {}},
        {"error=bad date\n", {}},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseRecordingDays(c.reply), c.days) << c.reply;
}

TEST(RecorderRepliesTest, RecordListPage) {
    // total line, start line, records, "end", and the empty piece after the last line feed
    const RecordListPage page = ParseRecordListPage(
        "total=6\nstart=0\n"
        "100000100059" "31\n"   // channels 1, 2
        "110000110030" "52\n"   // channels 1, 3
        "120000120010" "A1\n"   // capital letter: no channel
        "120000120010" "01\n"   // zero: no channel
        "130000130005" "84\n"   // type 4 is kept
        "140000140001" "2\n"    // no type digit: 0
        "150000150001" "fx\n"   // no type digit: 0; all four channels
        "short\n"
        "end\n");
    EXPECT_TRUE(page.valid);
    EXPECT_EQ(page.total, 6);
    EXPECT_EQ(page.record_lines, 7);
    const Segments want = {
        {1, 36000, 36059, 1}, {2, 36000, 36059, 1}, {1, 39600, 39630, 2}, {3, 39600, 39630, 2},
        {4, 46800, 46805, 4}, {2, 50400, 50401, 0}, {1, 54000, 54001, 0}, {2, 54000, 54001, 0},
        {3, 54000, 54001, 0}, {4, 54000, 54001, 0},
    };
    EXPECT_EQ(page.segments, want);
}

TEST(RecorderRepliesTest, RecordListLinesThatAreNotRead) {
    const std::string record = "100000100059" "11";
    struct Case {
        std::string reply;
        bool valid;
        int total;
        size_t segments;
    } cases[] = {
        {"", false, 0, 0},
        {"total 3\n" + record + "\n", false, 0, 0},
        {"total=0\nstart=0\n" + record + "\nend\n", true, 0, 0},  // total 0: nothing read
        {"total=1\n" + record + "\nend\n", true, 1, 0},           // four pieces: no record lines
        {"total=1\nstart=0\n" + record + "\nend\n", true, 1, 1},
        // Lines 1, n-2 and n-1 are skipped even when they look like records.
        {"total=1\n" + record + "\n" + record + "\n" + record + "\n" + record + "\n", true, 1, 2},
        {"total=-5\nstart=0\n" + record + "\nend\n", true, -5, 1},
    };
    for (const Case& c : cases) {
        const RecordListPage page = ParseRecordListPage(c.reply);
        EXPECT_EQ(page.valid, c.valid) << c.reply;
        EXPECT_EQ(page.total, c.total) << c.reply;
        EXPECT_EQ(page.segments.size(), c.segments) << c.reply;
    }
    // Garbage in the time columns gives odd seconds, never a fault.
    const RecordListPage odd = ParseRecordListPage("total=1\nx\n\xff\xff\xff\xff\xff\xff::::::11\nend\n");
    ASSERT_EQ(odd.segments.size(), 1u);
}

TEST(RecorderRepliesTest, ChannelNames) {
    const ChannelNameList full = ParseChannelNames(
        "avdevnum=4\navdevid1=Front;1\navdevid2=Back door camera;1\navdevid3=;1\navdevid4=Gate;x;y\n");
    EXPECT_TRUE(full.complete);
    EXPECT_EQ(full.names, (std::array<std::string, 4>{"CH01 Front", "CH02 Back door c...", "CH03 ", "CH04 Gate"}));

    struct Case {
        std::string reply;
        bool complete;
        std::array<std::string, 4> names;
    } cases[] = {
        {"", false, {}},
        {"avdevnum 2\n", false, {}},
        {"=2\nx=a;\n", false, {}},  // "=" in column 0
        {"n=0\n", true, {}},
        {"n=-3\n", true, {}},
        {"n=2\nx=Front;\n", false, {"CH01 Front", "", "", ""}},  // line 2 missing
        {"n=2\nx=Front;\nx=Back\n", false, {"CH01 Front", "", "", ""}},  // no ";"
        {"n=2\nx=Front;\nx;\n", false, {"CH01 Front", "", "", ""}},  // nothing after the cut
        {"n=9\na=1;\na=2;\na=3;\na=4;\n", true, {"CH01 1", "CH02 2", "CH03 3", "CH04 4"}},
        {"n=99999999999\na=1;\na=2;\na=3;\na=4;\n", true, {"CH01 1", "CH02 2", "CH03 3", "CH04 4"}},
        {"count=1\nid=Front;\n", true, {"CH01 nt", "", "", ""}},  // the cut is at line 0's column
        {"n=1\nx=\xe5\x89\x8d\xe9\x96\x80;\n", true, {"CH01 \xe5\x89\x8d\xe9\x96\x80", "", "", ""}},
        {"n=1\nx=\xff;\n", true, {"CH01 \xef\xbf\xbd", "", "", ""}},
    };
    for (const Case& c : cases) {
        const ChannelNameList list = ParseChannelNames(c.reply);
        EXPECT_EQ(list.complete, c.complete) << c.reply;
        EXPECT_EQ(list.names, c.names) << c.reply;
    }
}

TEST(RecorderRepliesTest, CaptionsAndUtf8) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {"", ""},
        {"CH01 Front", "CH01 Front"},
        {"12345678901234567", "12345678901234567"},  // 17 characters stay
        {"123456789012345678", "1234567890123456..."},
    };
    for (const Case& c : cases) EXPECT_EQ(ShortenCaption(c.in), c.out) << c.in;
    // Characters, not bytes: 17 three-byte characters stay, 18 are cut after 16.
    std::string seventeen, eighteen, sixteen;
    for (int i = 0; i < 16; ++i) sixteen += "\xe9\x96\x80";
    seventeen = sixteen + "\xe9\x96\x80";
    eighteen = seventeen + "\xe9\x96\x80";
    EXPECT_EQ(ShortenCaption(seventeen), seventeen);
    EXPECT_EQ(ShortenCaption(eighteen), sixteen + "...");

    EXPECT_EQ(RepairUtf8("ok \xc3\xbc"), "ok \xc3\xbc");
    EXPECT_EQ(RepairUtf8("\xff"), "\xef\xbf\xbd");
    EXPECT_EQ(RepairUtf8("a\xe9\x96"), "a\xef\xbf\xbd\xef\xbf\xbd");  // cut sequence
    EXPECT_EQ(RepairUtf8("\xed\xa0\x80"), "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd");  // surrogate
    EXPECT_EQ(RepairUtf8("\xc0\xaf"), "\xef\xbf\xbd\xef\xbf\xbd");  // overlong

    EXPECT_EQ(RecorderChannelCaption(3, ""), "CH03 ");
    EXPECT_EQ(RecorderChannelCaption(2, "Back door camera"), "CH02 Back door c...");
    EXPECT_EQ(FolderChannelCaption(3, ""), "");
    EXPECT_EQ(FolderChannelCaption(1, "Front"), "CH01 Front");
}

}  // namespace
