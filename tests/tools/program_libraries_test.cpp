// The share, HTTP and container libraries are opened when first used; a
// direct call that slipped back in would link them again, and with them over
// a hundred more libraries that every start of every program would load.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/program_folder.h"
#include "tests/support/tool_run.h"

namespace {

TEST(ProgramLibraries, NoProgramLinksTheLibrariesOpenedOnFirstUse) {
    const std::vector<std::string> programs = {"larkspur", "halyard", "avdata-export", "avdata-backup",
                                               "avdata-dump"};
    const std::vector<std::string> opened_on_use = {"libsmbclient.so", "libcurl.so", "libavformat.so"};
    for (const std::string& program : programs) {
        const ToolRun run = RunShell("readelf -d " + ShellQuote(platform::ProgramFolder() + "/" + program));
        ASSERT_EQ(run.status, 0) << program << ": " << run.out;
        // Sanity: the listing is there, with what the program does link.
        ASSERT_NE(run.out.find("(NEEDED)"), std::string::npos) << program;
        EXPECT_NE(run.out.find("libc.so"), std::string::npos) << program;
        for (const std::string& library : opened_on_use)
            EXPECT_EQ(run.out.find(library), std::string::npos) << program << " links " << library;
    }
}

}  // namespace
