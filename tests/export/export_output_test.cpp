#include "export/export_output.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/temp_folder.h"

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// Part names run base, base_1, base_2 and start over for each channel.
TEST(ExportOutput, NamesPartsFromTheChannelsBaseName) {
    ExportOutput output;
    output.BeginChannel("/out", "CH01_2012035-140700");
    EXPECT_EQ(output.NextPartPath("avi"), "/out/CH01_2012035-140700.avi");
    EXPECT_EQ(output.current_file_name(), "CH01_2012035-140700.avi");
    EXPECT_EQ(output.NextPartPath("avi"), "/out/CH01_2012035-140700_1.avi");
    EXPECT_EQ(output.NextPartPath("asf"), "/out/CH01_2012035-140700_2.asf");
    EXPECT_EQ(output.part_counter(), 3);
    output.BeginChannel("/other", "CH02_2012035-140812");
    EXPECT_EQ(output.current_file_name(), "");
    EXPECT_EQ(output.NextPartPath("avi"), "/other/CH02_2012035-140812.avi");
}

// The trailer goes only onto whole parts and only when asked; every part is
// listed as the close left it; a removed part leaves the list.
TEST(ExportOutput, FinishedPartsAreListedAndOnlyWholeOnesVouchedFor) {
    TempFolder tmp;
    ExportOutput output;
    output.BeginExport();
    output.BeginChannel(tmp.path(), "CH01");
    struct Case {
        bool closed_whole, watermark;
        const char* after;  // the file's bytes after FinishPart
        bool listed_whole;
    } cases[] = {
        {true, true, "RIFF\x65\x27", true},
        {true, false, "RIFF", true},
        {false, true, "RIFF", false},
        {false, false, "RIFF", false},
    };
    std::vector<std::string> paths;
    int64_t frames = 10;
    for (const Case& c : cases) {
        const std::string path = output.NextPartPath("avi");
        WriteAll(path, "RIFF");
        const bool whole = output.FinishPart(path, c.closed_whole, c.watermark, frames++);
        SCOPED_TRACE(path);
        EXPECT_EQ(whole, c.listed_whole);
        std::string expected(c.after);
        if (c.closed_whole && c.watermark) expected += std::string("\0\0", 2);
        EXPECT_EQ(ReadAll(path), expected);
        paths.push_back(path);
    }
    // A part whose file is gone cannot take the trailer and is not whole.
    const std::string missing = output.NextPartPath("avi");
    EXPECT_FALSE(output.FinishPart(missing, true, true, 3));

    std::vector<ExportedPart> parts = output.parts();
    ASSERT_EQ(parts.size(), 5u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(parts[i].path, paths[i]);
        EXPECT_EQ(parts[i].video_frames, static_cast<int64_t>(10 + i));
        EXPECT_EQ(parts[i].whole, cases[i].listed_whole);
    }
    EXPECT_EQ(parts[4].path, tmp.path() + "/CH01_4.avi");
    EXPECT_FALSE(parts[4].whole);

    output.ForgetPart(paths[1]);
    parts = output.parts();
    ASSERT_EQ(parts.size(), 4u);
    EXPECT_EQ(parts[1].path, paths[2]);
    output.BeginExport();
    EXPECT_TRUE(output.parts().empty());
}

}  // namespace
