#include "sources/recent_server_list.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "platform/ini_file.h"
#include "tests/support/temp_folder.h"

namespace {

ServerConnectionRecord Recorder(const std::string& name, const std::string& ip, const std::string& port = "80") {
    ServerConnectionRecord record;
    record.SetServerName(name);
    record.SetIp(ip);
    record.SetPort(port);
    record.SetUser("admin");
    record.SetPassword("pw");
    return record;
}

void WriteFile(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class RecentServerListTest : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = folder_.Sub("history.ini");
        WriteFile(path_, "");
    }
    std::string Key(int n) { return platform::GetProfileString("playbackhistory", "history" + std::to_string(n), "<none>", 300, path_); }

    TempFolder folder_;
    std::string path_;
};

TEST_F(RecentServerListTest, EntriesAreWrittenInTheirFormatNewestFirst) {
    RecentServerList list(path_);
    list.Read();
    ServerConnectionRecord share = Recorder("folder1\\folder2", "nas.local", "0");
    share.SetUser("guest");
    share.SetPassword("");
    EXPECT_TRUE(list.Add(Recorder("Merlin", "192.168.0.240", "8080"), 1));
    EXPECT_TRUE(list.Add(share, 2));

    EXPECT_EQ(Key(1), "folder1\\folder2,nas.local,1,guest,,1;");
    EXPECT_EQ(Key(2), "Merlin,192.168.0.240,8080,admin,pw,0;");
    for (int n = 3; n <= 10; ++n) EXPECT_EQ(Key(n), "") << n;  // free entries are written too
    EXPECT_EQ(Key(11), "<none>");

    RecentServerList reread(path_);
    reread.Read();
    EXPECT_EQ(reread.Entry(0), list.Entry(0));
    EXPECT_EQ(reread.Entry(1), list.Entry(1));
    EXPECT_EQ(reread.Entry(2), "");
    EXPECT_EQ(reread.Entry(-1), "");
    EXPECT_EQ(reread.Entry(10), "");
}

TEST_F(RecentServerListTest, MissingFileIsNeverCreated) {
    std::filesystem::remove(path_);
    RecentServerList list(path_);
    list.Read();
    EXPECT_FALSE(list.Add(Recorder("A", "10.0.0.1"), 1));
    EXPECT_FALSE(list.Write());
    EXPECT_FALSE(std::filesystem::exists(path_));
    // The list still works in memory for the rest of the session.
    EXPECT_EQ(list.Entry(0), "A,10.0.0.1,80,admin,pw,0;");

    list.Read();
    EXPECT_EQ(list.Entry(0), "");
}

TEST_F(RecentServerListTest, KeepsTheTenNewestAndMovesAReconnectedEntryToTheTop) {
    RecentServerList list(path_);
    list.Read();
    for (int i = 1; i <= 11; ++i) list.Add(Recorder("R" + std::to_string(i), "10.0.0." + std::to_string(i)), 1);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(RecentServerList::ParseEntry(list.Entry(i)).name, "R" + std::to_string(11 - i));

    // R5 sits at index 6; connecting again lifts it, shifting only those above it.
    list.Add(Recorder("R5 renamed", "10.0.0.5", "81"), 1);
    const std::string expected[] = {"R5 renamed", "R11", "R10", "R9", "R8", "R7", "R6", "R4", "R3", "R2"};
    RecentServerList reread(path_);
    reread.Read();
    for (int i = 0; i < 10; ++i) EXPECT_EQ(RecentServerList::ParseEntry(reread.Entry(i)).name, expected[i]) << i;
    EXPECT_EQ(RecentServerList::ParseEntry(reread.Entry(0)).port, "81");
}

TEST_F(RecentServerListTest, AddressesMatchWholeNotAsPartOfAnotherEntry) {
    RecentServerList list(path_);
    list.Read();
    list.Add(Recorder("long", "10.0.0.15"), 1);
    list.Add(Recorder("named after 10.0.0.1", "10.0.0.99"), 1);
    list.Add(Recorder("short", "10.0.0.1"), 1);
    EXPECT_EQ(RecentServerList::ParseEntry(list.Entry(0)).name, "short");
    EXPECT_EQ(RecentServerList::ParseEntry(list.Entry(1)).name, "named after 10.0.0.1");
    EXPECT_EQ(RecentServerList::ParseEntry(list.Entry(2)).name, "long");
    // A share and a recorder on one host share one entry.
    ServerConnectionRecord share = Recorder("share", "10.0.0.15");
    list.Add(share, 2);
    EXPECT_EQ(list.Entry(0), "share,10.0.0.15,1,admin,pw,1;");
    EXPECT_EQ(list.Entry(3), "");
}

TEST_F(RecentServerListTest, MenuOffersEntriesWithACommaUnderTheirOwnIds) {
    WriteFile(path_,
              "[other]\r\nkeep=me\r\n[PlaybackHistory]\r\n"
              "history1=no comma here\r\nhistory2=Gate,10.1.1.1,80,u,p,0;\r\n"
              "history4=Only name,\r\nhistory10=Last,nas,1,u,p,1;\r\n");
    RecentServerList list(path_);
    list.Read();
    const std::vector<RecentServerMenuItem> items = list.MenuItems();
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].command_id, 32778);
    EXPECT_EQ(items[0].label, "Gate(10.1.1.1)");
    EXPECT_EQ(items[1].command_id, 32780);
    EXPECT_EQ(items[1].label, "Only name()");
    EXPECT_EQ(items[2].command_id, 32786);
    EXPECT_EQ(items[2].label, "Last(nas)");

    EXPECT_FALSE(list.EntryForCommand(32779).has_value());  // free entry
    EXPECT_FALSE(list.EntryForCommand(32776).has_value());
    EXPECT_FALSE(list.EntryForCommand(32787).has_value());
    ASSERT_TRUE(list.EntryForCommand(32786).has_value());
    EXPECT_EQ(list.EntryForCommand(32786)->kind, 1);

    // Writing keeps the file's other lines.
    list.Add(Recorder("New", "10.2.2.2"), 1);
    EXPECT_NE(ReadFile(path_).find("keep=me"), std::string::npos);
    EXPECT_EQ(platform::GetProfileString("other", "keep", "", 50, path_), "me");
}

TEST(RecentServerEntryTest, ParsesFieldsAndKind) {
    struct Case {
        std::string text;
        RecentServerEntry expected;
    };
    const Case cases[] = {
        {"Merlin,192.168.0.240,80,admin,1234,0;", {"Merlin", "192.168.0.240", "80", "admin", "1234", 0}},
        {"dir\\sub,nas,1,guest,,1;", {"dir\\sub", "nas", "1", "guest", "", 1}},
        {"A,h,80,u,p,7;trailing", {"A", "h", "80", "u", "p", 7}},
        // Commas in the password stay in it; the kind is still found.
        {"A,h,80,u,a,b,c,1;", {"A", "h", "80", "u", "a,b,c", 1}},
        {"A,h,80", {"A", "h", "80", "", "", 0}},
        {"A,h,80,u,p,", {"A", "h", "80", "u", "p", 0}},
        {"A,h,80,u,p,x;", {"A", "h", "80", "u", "p", 0}},
        {"A,h,80,u,p,99999999999999;", {"A", "h", "80", "u", "p", 2147483647}},
    };
    for (const Case& c : cases) {
        const RecentServerEntry entry = RecentServerList::ParseEntry(c.text);
        EXPECT_EQ(entry.name, c.expected.name) << c.text;
        EXPECT_EQ(entry.ip, c.expected.ip) << c.text;
        EXPECT_EQ(entry.port, c.expected.port) << c.text;
        EXPECT_EQ(entry.user, c.expected.user) << c.text;
        EXPECT_EQ(entry.password, c.expected.password) << c.text;
        EXPECT_EQ(entry.kind, c.expected.kind) << c.text;
    }
}

TEST_F(RecentServerListTest, LineBreaksInFieldsCannotPlantKeys) {
    RecentServerList list(path_);
    list.Read();
    ServerConnectionRecord record = Recorder("evil\r\nhistory2=planted", "10.0.0.1");
    record.SetPassword("p\nw");
    EXPECT_TRUE(list.Add(record, 1));
    EXPECT_EQ(Key(1), "evil%0D%0Ahistory2=planted,10.0.0.1,80,admin,p%0Aw,0;%");
    EXPECT_EQ(Key(2), "");
    RecentServerList reread(path_);
    reread.Read();
    const RecentServerEntry entry = RecentServerList::ParseEntry(reread.Entry(0));
    EXPECT_EQ(entry.name, "evil\r\nhistory2=planted");
    EXPECT_EQ(entry.password, "p\nw");
}

// Every text comes back as it was stored, whatever it holds; texts without the
// separators keep the plain format.
TEST_F(RecentServerListTest, EntriesRoundTripWhateverTheirTexts) {
    struct Case {
        std::string name, ip, port, user, password;
        int mode;
        std::string stored;  // the value in the file, "" when not checked
    } cases[] = {
        {"Merlin", "192.168.0.240", "80", "admin", "1234", 1, "Merlin,192.168.0.240,80,admin,1234,0;"},
        {"Office, 2nd floor", "10.0.0.9", "8080", "op,1", "a,b", 1,
         "Office%2C 2nd floor,10.0.0.9,8080,op%2C1,a%2Cb,0;%"},
        {"semi;colon", "h;1", "80", "u", "p;0;", 1, ""},
        {"Hall", "10.0.0.8", "80", "admin", "line1\nline2\r\n", 1, ""},
        {"  padded ", "10.0.0.7", "80", " u ", " p ", 1, ""},
        {"100%", "10.0.0.6", "80", "%41", "%%", 1, ""},
        {"\"quoted\"", "10.0.0.5", "80", "u", "\"", 1, ""},
        {"Caf\xC3\xA9", "nas", "ignored", "guest", "", 2, "Caf\xC3\xA9,nas,1,guest,,1;"},
        {std::string(200, 'n') + ",", "10.0.0.4", "80", std::string(300, 'u'), std::string(100, ';'), 1, ""},
    };
    for (const Case& c : cases) {
        WriteFile(path_, "");
        RecentServerList list(path_);
        list.Read();
        ServerConnectionRecord record = Recorder(c.name, c.ip, c.port);
        record.SetUser(c.user);
        record.SetPassword(c.password);
        ASSERT_TRUE(list.Add(record, c.mode)) << c.name;
        if (!c.stored.empty()) {
            EXPECT_EQ(Key(1), c.stored) << c.name;
        }
        RecentServerList reread(path_);
        reread.Read();
        const std::optional<RecentServerEntry> entry = reread.EntryForCommand(RecentServerList::kFirstCommandId);
        ASSERT_TRUE(entry.has_value()) << c.name;
        EXPECT_EQ(entry->name, c.name);
        EXPECT_EQ(entry->ip, c.ip) << c.name;  // the host it was stored with
        EXPECT_EQ(entry->port, c.mode == 1 ? c.port : "1") << c.name;
        EXPECT_EQ(entry->user, c.user) << c.name;
        EXPECT_EQ(entry->password, c.password) << c.name;
        EXPECT_EQ(entry->kind, c.mode == 1 ? 0 : 1) << c.name;
        ASSERT_EQ(reread.MenuItems().size(), 1u);
        EXPECT_EQ(reread.MenuItems()[0].label, c.name + "(" + c.ip + ")");
        // The same recorder again replaces its entry.
        ASSERT_TRUE(reread.Add(record, c.mode));
        EXPECT_EQ(reread.Entry(1), "") << c.name;
    }
    // Escaped, this would not be read back whole: refused, the file as it was.
    WriteFile(path_, "[playbackhistory]\nhistory1=Old,10.0.0.1,80,u,p,0;\n");
    RecentServerList list(path_);
    list.Read();
    ServerConnectionRecord too_long = Recorder("Long", "10.0.0.2");
    too_long.SetPassword(std::string(400, ','));
    EXPECT_FALSE(list.Add(too_long, 1));
    EXPECT_EQ(Key(1), "Old,10.0.0.1,80,u,p,0;");
}

TEST_F(RecentServerListTest, LongEntriesReadBackWholeOrAreNotTaken) {
    RecentServerList list(path_);
    list.Read();
    ServerConnectionRecord long_share = Recorder(std::string(300, 'n'), "nas");
    long_share.SetPassword("\xC3\xA9\xC3\xA9");
    EXPECT_TRUE(list.Add(long_share, 2));
    // 1023 characters fit; one more would be cut on reading and is refused.
    const size_t fixed = std::string(",10.0.0.2,80,admin,pw,0;").size();
    EXPECT_TRUE(list.Add(Recorder(std::string(1023 - fixed, 'a'), "10.0.0.2"), 1));
    EXPECT_FALSE(list.Add(Recorder(std::string(1024 - fixed, 'b'), "10.0.0.3"), 1));

    RecentServerList reread(path_);
    reread.Read();
    EXPECT_EQ(reread.Entry(0).size(), 1023u);
    const RecentServerEntry share = RecentServerList::ParseEntry(reread.Entry(1));
    EXPECT_EQ(share.name, std::string(300, 'n'));
    EXPECT_EQ(share.password, "\xC3\xA9\xC3\xA9");
    EXPECT_EQ(share.kind, 1);
    EXPECT_EQ(reread.Entry(2), "");
}

int ModeOf(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
}

// The entries hold passwords in plain text.
TEST_F(RecentServerListTest, AListFoundReadableByOthersIsNarrowedAndStaysSo) {
    WriteFile(path_, "[playbackhistory]\r\nhistory1=Gate,10.0.0.7,80,admin,pw,0;\r\n");
    ASSERT_EQ(::chmod(path_.c_str(), 0644), 0);
    RecentServerList list(path_);
    list.Read();
    EXPECT_EQ(ModeOf(path_), 0600);
    EXPECT_EQ(list.Entry(0), "Gate,10.0.0.7,80,admin,pw,0;");
    ASSERT_TRUE(list.Add(Recorder("Yard", "10.0.0.8"), RecentServerList::kRecorderMode));
    EXPECT_EQ(ModeOf(path_), 0600);
    EXPECT_EQ(Key(1), "Yard,10.0.0.8,80,admin,pw,0;");

    // Written without a read first, as a list built in memory is.
    ASSERT_EQ(::chmod(path_.c_str(), 0664), 0);
    RecentServerList fresh(path_);
    ASSERT_TRUE(fresh.Add(Recorder("Dock", "10.0.0.9"), RecentServerList::kRecorderMode));
    EXPECT_EQ(ModeOf(path_), 0600);
}

}  // namespace
