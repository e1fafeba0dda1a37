#include "platform/owner_only_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "tests/support/temp_folder.h"

namespace {

// -1 when nothing is there.
int ModeOf(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
}

TEST(OwnerOnlyFile, RegularFilesEndReadableByTheirOwnerAlone) {
    struct Case {
        const char* what;
        int mode_before;  // -1: no file
        bool create;
        platform::OwnerOnly result;
        int mode_after;
    };
    const Case cases[] = {
        {"missing, created", -1, true, platform::OwnerOnly::kDone, 0600},
        {"missing, left missing", -1, false, platform::OwnerOnly::kMissing, -1},
        {"readable by all", 0644, false, platform::OwnerOnly::kDone, 0600},
        {"writable by all", 0666, true, platform::OwnerOnly::kDone, 0600},
        {"executable", 0755, false, platform::OwnerOnly::kDone, 0600},
        {"set-id bits", 06640, false, platform::OwnerOnly::kDone, 0600},
        {"already owner-only", 0600, false, platform::OwnerOnly::kDone, 0600},
        {"read-only for its owner stays so", 0444, false, platform::OwnerOnly::kDone, 0400},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder folder;
        const std::string path = folder.Sub("server.db");
        if (c.mode_before >= 0) {
            std::ofstream(path) << "kept";
            ASSERT_EQ(::chmod(path.c_str(), static_cast<mode_t>(c.mode_before)), 0);
        }
        EXPECT_EQ(platform::MakeOwnerOnly(path, c.create), c.result);
        EXPECT_EQ(ModeOf(path), c.mode_after);
        if (c.mode_before >= 0) {
            ::chmod(path.c_str(), 0600);
            std::ifstream in(path);
            std::string text;
            in >> text;
            EXPECT_EQ(text, "kept");
        }
    }
}

TEST(OwnerOnlyFile, WhatIsNotARegularFileIsLeftAloneWithoutBlocking) {
    TempFolder folder;
    const std::string fifo = folder.Sub("history.ini");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    // Opening a FIFO for reading would wait for a writer: the call returning is the check.
    EXPECT_EQ(platform::MakeOwnerOnly(fifo, true), platform::OwnerOnly::kNotRegularFile);
    EXPECT_EQ(ModeOf(fifo), 0644);

    const std::string sub = folder.Sub("shared.db");
    ASSERT_EQ(::mkdir(sub.c_str(), 0755), 0);
    EXPECT_EQ(platform::MakeOwnerOnly(sub, false), platform::OwnerOnly::kNotRegularFile);
    EXPECT_EQ(ModeOf(sub), 0755);

    EXPECT_EQ(platform::MakeOwnerOnly(folder.Sub("no-such/server.db"), true), platform::OwnerOnly::kFailed);
    EXPECT_EQ(platform::MakeOwnerOnly("", true), platform::OwnerOnly::kMissing);
}

}  // namespace
