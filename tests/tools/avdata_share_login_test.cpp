// avdata-export and avdata-backup given a share path with --user and
// --password, as avdata-dump takes one: they log in to a real smbd and write
// what they write from the same copy on local disk; a wrong password is a
// failure told before anything is written.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "platform/network_share.h"
#include "tests/support/samba_server.h"
#include "tests/support/sample_recording.h"
#include "tests/support/skip.h"
#include "tests/support/temp_folder.h"
#include "tests/support/tool_run.h"

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The files below folder by their paths relative to it, with their bytes.
std::map<std::string, std::string> FilesBelow(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(folder))
        if (e.is_regular_file()) files[fs::relative(e.path(), folder).string()] = ReadAll(e.path().string());
    return files;
}

// The exported files' bytes in the order the tool lists them (their names carry the time of the run).
std::vector<std::string> ListedContents(const std::string& out) {
    std::vector<std::string> contents;
    for (const std::string& line : Lines(out)) contents.push_back(ReadAll(line.substr(0, line.find('\t'))));
    return contents;
}

class SharePort {
public:
    explicit SharePort(int port) { ::setenv(platform::kSharePortVariable, std::to_string(port).c_str(), 1); }
    ~SharePort() { ::unsetenv(platform::kSharePortVariable); }
};

TEST(AvdataToolsShareLogin, ExportAndBackupOfASharePathEqualThoseOfTheLocalCopy) {
    TempFolder tmp;
    const std::string tree = tmp.Sub("share");
    SmallRecording recording;
    recording.seconds = 8;
    const std::string local = WriteSmallRecording(tree, recording);
    ASSERT_FALSE(local.empty());
    SambaServer server(tree);
    if (!server.Running()) SKIP_WITHOUT_INSTALLED("smbd cannot start here: " << server.error());
    const SharePort port(server.port());
    const std::string share = ShellQuote(server.SharePath("\\avdata"));
    const std::string login = " --user " + ShellQuote(server.user()) + " --password " + ShellQuote(SambaServer::kPassword);
    const std::string wrong = " --user " + ShellQuote(server.user()) + " --password wrong";

    struct Case {
        const char* tool;
        std::string range;
    };
    const Case cases[] = {
        {"avdata-export", " --date 2012-03-05 --from 14:07:00 --to 14:07:07 --channels 1,2 --format original"},
        {"avdata-export", " --date 2012-03-05 --from 14:07:01 --to 14:07:06 --channels 1 --format msvideo1"},
        {"avdata-backup", " --date 2012-03-05 --from 14:07:00 --to 14:07:00 --channels 1,2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.tool) + c.range);
        const bool backup = std::string(c.tool) == "avdata-backup";
        const std::string from_disk = tmp.Sub("from-disk"), from_share = tmp.Sub("from-share"), refused = tmp.Sub("refused");
        for (const std::string& folder : {from_disk, from_share, refused}) {
            fs::remove_all(folder);
            fs::create_directories(folder);
        }
        const ToolRun on_disk = RunTool(std::string(c.tool) + " --data " + ShellQuote(local) + c.range + " --out " +
                                        ShellQuote(from_disk));
        ASSERT_EQ(on_disk.status, 0) << on_disk.err;
        ASSERT_FALSE(on_disk.out.empty());
        const ToolRun on_share =
            RunTool(std::string(c.tool) + " --data " + share + login + c.range + " --out " + ShellQuote(from_share));
        EXPECT_EQ(on_share.status, 0) << on_share.err;
        EXPECT_EQ(Lines(on_share.out).size(), Lines(on_disk.out).size()) << on_share.out;
        if (backup) {
            EXPECT_EQ(FilesBelow(from_share), FilesBelow(from_disk));
        } else {
            EXPECT_EQ(ListedContents(on_share.out), ListedContents(on_disk.out));
        }
        const ToolRun refused_run =
            RunTool(std::string(c.tool) + " --data " + share + wrong + c.range + " --out " + ShellQuote(refused));
        EXPECT_EQ(refused_run.status, 1);
        EXPECT_NE(refused_run.err.find("cannot log in"), std::string::npos) << refused_run.err;
        EXPECT_EQ(refused_run.out, "");
        EXPECT_TRUE(fs::is_empty(refused));
    }
}

}  // namespace
