// The share tests' smbd leaves no process behind: not itself, not the RPC helper it
// starts on demand in a session of its own, not that helper's workers.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include "platform/data_file.h"
#include "platform/network_share.h"
#include "tests/support/samba_server.h"
#include "tests/support/skip.h"
#include "tests/support/temp_folder.h"
#include "tests/support/tool_run.h"

namespace {

// Counted from outside, by pgrep, over every process of ours that names the file.
int ProcessesNaming(const std::string& file) {
    const ToolRun run = RunShell("exec pgrep -c -u \"$(id -u)\" -f -- " + ShellQuote(file));
    return std::atoi(run.out.c_str());
}

TEST(ShareServerProcesses, NoneRemainAfterTheServerIsStopped) {
    TempFolder tree;
    std::filesystem::create_directories(tree.Sub("share/sub"));
    std::ofstream(tree.Sub("share/sub/a.db")) << "a";
    auto server = std::make_unique<SambaServer>(tree.Sub("share"));
    if (!server->Running()) SKIP_WITHOUT_INSTALLED("smbd cannot start here: " << server->error());
    const std::string conf = server->config_file();
    ::setenv(platform::kSharePortVariable, std::to_string(server->port()).c_str(), 1);
    // A connection, a listing and a read, as the share tests make.
    EXPECT_EQ(platform::ConnectShare(server->SharePath(), server->user(), SambaServer::kPassword),
              platform::kShareConnected);
    EXPECT_EQ(platform::ListFolder(server->SharePath("\\sub")).size(), 1u);
    // The server's own listing names its shares through the RPC helper.
    platform::ListFolder("\\\\127.0.0.1");
    platform::ReadOnlyFile file;
    EXPECT_TRUE(file.Open(server->SharePath("\\sub\\a.db")));
    file.Close();
    ::unsetenv(platform::kSharePortVariable);
    // What is counted is there to count: smbd, and the helper the listing started.
    ASSERT_GE(ProcessesNaming(conf), 1);
    EXPECT_GE(ProcessesNaming("--configfile=" + conf), 1);
    EXPECT_GE(SambaServerProcesses(conf).size(), 1u);

    server.reset();
    EXPECT_EQ(ProcessesNaming(conf), 0);
    EXPECT_TRUE(SambaServerProcesses(conf).empty());
    // Nor an ended one waiting to be reaped.
    const ToolRun children = RunShell("exec ps -o stat= --ppid " + std::to_string(::getpid()));
    EXPECT_EQ(children.out.find('Z'), std::string::npos) << children.out;
}

}  // namespace
