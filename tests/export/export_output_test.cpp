#include "export/export_output.h"

#include <gtest/gtest.h>

#include <cstring>
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

// The quality an AVI's video header gives (x 100), as the file holds it.
int VideoHeaderQuality(const std::string& path) {
    const std::string bytes = ReadAll(path);
    const size_t strh = bytes.find("strh");
    if (strh == std::string::npos || strh + 8 + 44 > bytes.size()) return -1;
    uint32_t quality = 0;
    std::memcpy(&quality, bytes.data() + strh + 8 + 40, 4);
    return static_cast<int>(quality);
}

// The exports' named differences reach the file: the disk copy's original
// frames carry a fixed quality, the recorder's its quality setting; only the
// disk copy's export has the ASF format.
TEST(ExportOutput, EachExportsOptionsDecideTheHeaderAndTheFormatsOffered) {
    struct Case {
        const char* name;
        int original_quality;
        bool offers_asf;
        ExportFormat format;
        int quality;
        bool opens;
        int header_quality;  // -1: not an AVI
    };
    const Case cases[] = {
        {"disk copy, original frames", 100, true, ExportFormat::kOriginal, 80, true, 10000},
        {"recorder, original frames", 0, false, ExportFormat::kOriginal, 77, true, 7700},
        {"disk copy, Video 1", 100, true, ExportFormat::kMsVideo1, 85, true, 8500},
        {"recorder, Video 1", 0, false, ExportFormat::kMsVideo1, 80, true, 8000},
        {"disk copy, ASF", 100, true, ExportFormat::kAsf, 80, true, -1},
        {"recorder, ASF", 0, false, ExportFormat::kAsf, 80, false, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder tmp;
        ExportOutput output;
        ExportOutputOptions options;
        options.original_quality = c.original_quality;
        options.offers_asf = c.offers_asf;
        std::vector<std::string> opening;
        options.part_opening = [&opening](const std::string& name) { opening.push_back(name); };
        output.SetOptions(std::move(options));
        output.BeginExport();
        output.BeginChannel(tmp.path(), "CH01", c.format, c.quality);
        output.OpenFirstPart(9, 2, 176, 144, SoundCoding::kPcm, PartSound{});
        EXPECT_EQ(output.failed(), !c.opens);
        output.EndChannel();
        const char* name = c.format == ExportFormat::kAsf ? "CH01.asf" : "CH01.avi";
        EXPECT_EQ(opening, std::vector<std::string>{name});
        const std::vector<ExportedPart> parts = output.parts();
        ASSERT_EQ(parts.size(), 1u);
        EXPECT_EQ(parts[0].path, tmp.Sub(name));
        EXPECT_EQ(parts[0].whole, c.opens);
        if (c.header_quality >= 0) {
            EXPECT_EQ(VideoHeaderQuality(parts[0].path), c.header_quality);
        }
    }
}

// What a part declares for a record's sound: AAC and G.726 as the decoder's
// 16-bit PCM, AAC at its ADTS header's rate and channels only where asked.
TEST(ExportOutput, WrittenSoundFormats) {
    // ADTS: 16000 Hz (index 8), two channels.
    const uint8_t adts[7] = {0xFF, 0xF1, 0x60, 0x80, 0x00, 0x1F, 0xFC};
    const uint8_t no_header[4] = {0x21, 0x10, 0x05, 0x00};
    struct Case {
        const char* name;
        SoundCoding coding;
        int bits;
        const uint8_t* data;
        size_t length;
        bool from_adts;
        int want_bits, want_channels, want_rate;
        bool want_mu_law;
    };
    const Case cases[] = {
        {"AAC, header asked", SoundCoding::kAac, 0, adts, sizeof adts, true, 16, 2, 16000, false},
        {"AAC, header not asked", SoundCoding::kAac, 0, adts, sizeof adts, false, 16, 1, 8000, false},
        {"AAC without a header", SoundCoding::kAac, 0, no_header, sizeof no_header, true, 16, 1, 8000, false},
        {"AAC, too short for a header", SoundCoding::kAac, 0, adts, 3, true, 16, 1, 8000, false},
        {"G.726 marked 4 bits", SoundCoding::kG726, 4, nullptr, 0, true, 16, 1, 8000, false},
        {"G.711", SoundCoding::kMuLaw, 8, nullptr, 0, true, 8, 1, 8000, true},
        {"PCM", SoundCoding::kPcm, 16, adts, sizeof adts, true, 16, 1, 8000, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const PartSound w = ExportOutput::WrittenSound(c.coding, c.bits, 1, 8000, c.data, c.length, c.from_adts);
        EXPECT_EQ(w.bits, c.want_bits);
        EXPECT_EQ(w.channels, c.want_channels);
        EXPECT_EQ(w.rate, c.want_rate);
        EXPECT_EQ(w.mu_law, c.want_mu_law);
    }
}

}  // namespace
