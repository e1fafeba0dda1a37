#include "platform/ini_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "tests/support/temp_folder.h"

namespace {

std::string TempFile(const std::string& name, const std::string& content) {
    // Removed with its files when the tests end.
    static TempFolder dir;
    std::string path = dir.Sub(name);
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(IniFile, LookupRules) {
    std::string path = TempFile("a.ini",
                                "\xEF\xBB\xBF; comment\r\n[Other]\r\nkey=wrong\r\n[LANGUAGE]\r\n"
                                "  Key  =  spaced value  \r\nquoted=\"  in quotes  \"\r\nlong=abcdefghij\r\n"
                                "empty=\r\n[other2]\r\nkey=also wrong\r\n");
    struct Case { const char* section; const char* key; const char* expected; size_t buffer; };
    const Case cases[] = {
        {"language", "key", "spaced value", 200},
        {"Language", "KEY", "spaced value", 200},
        {"language", "quoted", "  in quotes  ", 200},
        {"language", "long", "abcd", 5},
        {"language", "empty", "", 200},
        {"language", "missing", "dflt", 200},
        {"nosuch", "key", "dflt", 200},
        {"other", "key", "wrong", 200},
    };
    for (const Case& c : cases)
        EXPECT_EQ(platform::GetProfileString(c.section, c.key, "dflt", c.buffer, path), c.expected)
            << c.section << "/" << c.key;
    EXPECT_EQ(platform::GetProfileString("language", "key", "dflt", 200, path + ".none"), "dflt");
}

TEST(IniFile, TruncationCountsCharactersNotBytes) {
    std::string path = TempFile("u.ini", "[s]\nk=\xC3\xA9\xC3\xA9\xC3\xA9\n");
    EXPECT_EQ(platform::GetProfileString("s", "k", "", 3, path), "\xC3\xA9\xC3\xA9");
}

TEST(IniFile, WriteKeepsOtherLinesAndReplacesKey) {
    std::string path = TempFile("w.ini", "; keep me\r\n[setting]\r\nLocation=/old\r\nother=1\r\n[b]\r\nx=2\r\n");
    ASSERT_TRUE(platform::WriteProfileString("SETTING", "location", "/new place", path));
    EXPECT_EQ(ReadAll(path), "; keep me\r\n[setting]\r\nlocation=/new place\r\nother=1\r\n[b]\r\nx=2\r\n");
    ASSERT_TRUE(platform::WriteProfileString("b", "y", "3", path));
    ASSERT_TRUE(platform::WriteProfileString("c", "z", "4", path));
    EXPECT_EQ(platform::GetProfileString("b", "y", "", 200, path), "3");
    EXPECT_EQ(platform::GetProfileString("c", "z", "", 200, path), "4");
    EXPECT_EQ(platform::GetProfileString("b", "x", "", 200, path), "2");
}

TEST(IniFile, RewriteKeepsTheFilesPermissions) {
    // The file is replaced by a new one: a file kept from other users must not come back readable.
    for (const mode_t mode : {mode_t{0600}, mode_t{0640}, mode_t{0644}}) {
        SCOPED_TRACE(mode);
        const std::string path = TempFile("mode.ini", "[playbackhistory]\r\nhistory1=\r\n");
        ASSERT_EQ(::chmod(path.c_str(), mode), 0);
        ASSERT_TRUE(platform::WriteProfileString("playbackhistory", "history1", "a,b,1,u,pw,1;", path));
        struct stat st;
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, mode);
        EXPECT_EQ(platform::GetProfileString("playbackhistory", "history1", "", 200, path), "a,b,1,u,pw,1;");
        EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
    }
}

}  // namespace
