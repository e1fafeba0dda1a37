// avdata-dump on a disk copy served by a real smbd prints what it prints for
// the same copy on local disk.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>

#include "platform/network_share.h"
#include "platform/program_folder.h"
#include "tests/support/samba_server.h"
#include "tests/support/sample_recording.h"
#include "tests/support/skip.h"
#include "tests/support/temp_folder.h"

namespace {

struct ToolRun {
    int status = -1;
    std::string out;
};

ToolRun RunDump(const std::string& args) {
    ToolRun run;
    const std::string command = platform::ProgramFolder() + "/avdata-dump " + args + " 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return run;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) run.out.append(buf, n);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

TEST(AvdataDumpShare, ReadsASharePathAsALocalOne) {
    TempFolder tree;
    const SmallRecording recording;
    ASSERT_FALSE(WriteSmallRecording(tree.path(), recording).empty());
    SambaServer server(tree.path());
    if (!server.Running()) SKIP_WITHOUT_INSTALLED("smbd cannot start here: " << server.error());
    ::setenv(platform::kSharePortVariable, std::to_string(server.port()).c_str(), 1);

    const std::string login = "--user '" + server.user() + "' --password '" + SambaServer::kPassword + "' ";
    const std::string share = "'" + server.SharePath() + "'";
    const int h = recording.start_second / 3600, m = recording.start_second / 60 % 60;
    const std::string day = std::to_string(recording.date.year) + " " + std::to_string(recording.date.month) + " " +
                            std::to_string(recording.date.day);
    for (const std::string& what : {"day %s " + day, "minute %s " + day + " " + std::to_string(h) + " " +
                                                          std::to_string(m)}) {
        const size_t at = what.find("%s");
        const ToolRun local = RunDump(std::string(what).replace(at, 2, "'" + tree.path() + "'"));
        const ToolRun remote = RunDump(login + std::string(what).replace(at, 2, share));
        ASSERT_EQ(local.status, 0) << what;
        EXPECT_FALSE(local.out.empty());
        EXPECT_EQ(remote.status, 0) << what;
        EXPECT_EQ(remote.out, local.out) << what;
    }
    EXPECT_EQ(RunDump("--user '" + server.user() + "' --password wrong day " + share + " " + day).status, 1);
    ::unsetenv(platform::kSharePortVariable);
}

}  // namespace
