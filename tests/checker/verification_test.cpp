#include "checker/verification.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "media/jpeg_snapshot_writer.h"
#include "media/watermark_writer.h"
#include "platform/program_folder.h"
#include "tests/checker/avi_fixture.h"
#include "tests/support/temp_folder.h"

namespace {

std::string Write(const TempFolder& dir, const std::string& name, const std::vector<uint8_t>& bytes) {
    const std::string path = dir.Sub(name);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return path;
}

std::vector<uint8_t> Snapshot(const TempFolder& dir) {
    const std::string path = dir.Sub("snapshot-source.jpg");
    std::vector<uint8_t> pixels(96 * 64 * 3);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 7 + i / 300);
    JpegSnapshotWriter writer;
    WatermarkWriter wm;
    if (!writer.Save(path, pixels.data(), 96, 64) || !InsertJpegWatermark(wm.file_copy, path)) return {};
    std::filesystem::remove(path);
    return wm.file_copy;
}

// The files of one verification run, each with the mark the checker gives it.
struct Listed {
    std::string name;
    const char* mark;
};

std::vector<Listed> MakeFiles(const TempFolder& dir) {
    const std::vector<uint8_t> jpeg = Snapshot(dir);
    std::vector<uint8_t> tampered = jpeg;
    tampered[tampered.size() / 2] ^= 1;

    avifixture::Layout layout;
    layout.chunks = avifixture::SampleChunks();
    const std::vector<uint8_t> summed = avifixture::Build(layout).bytes;
    layout.store_checksum = false;
    std::vector<uint8_t> plain = avifixture::Build(layout).bytes;
    std::vector<uint8_t> trailed = plain;
    trailed.insert(trailed.end(), {0x65, 0x27, 0x00, 0x00});
    std::vector<uint8_t> trailed_changed = trailed;
    trailed_changed[300] ^= 0xFF;
    std::vector<uint8_t> summed_changed = summed;
    summed_changed[summed_changed.size() - 20] ^= 0x10;  // in the index, outside the movi list

    Write(dir, "snap.jpg", jpeg);
    Write(dir, "tampered.jpg", tampered);
    Write(dir, "SNAP.JPG", jpeg);        // upper case: checked as an AVI
    Write(dir, "snap.jpg.bak", jpeg);    // longer extension: likewise
    Write(dir, "trailed.jpg", trailed);  // a ".jpg" gets the JPEG check only
    Write(dir, "summed.avi", summed);
    Write(dir, "summed-index-changed.avi", summed_changed);
    Write(dir, "plain.avi", plain);
    Write(dir, "trailed.avi", trailed);
    Write(dir, "trailed-changed.avi", trailed_changed);
    Write(dir, "tiny.avi", {0x27, 0x00, 0x00});
    Write(dir, "with space.avi", trailed);
    std::filesystem::create_directory(dir.Sub("folder.avi"));
    mkfifo(dir.Sub("fifo.avi").c_str(), 0600);
    return {
        {"snap.jpg", "V"},          {"tampered.jpg", "X"},
        {"SNAP.JPG", "X"},          {"snap.jpg.bak", "X"},
        {"trailed.jpg", "X"},       {"summed.avi", "V"},
        {"summed-index-changed.avi", "V"}, {"plain.avi", "X"},
        {"trailed.avi", "V"},       {"trailed-changed.avi", "V"},
        {"tiny.avi", "X"},          {"with space.avi", "V"},
        {"missing.avi", "X"},       {"missing.jpg", "X"},
        {"folder.avi", "X"},        {"fifo.avi", "X"},
    };
}

TEST(Verification, MarksEachFileAsTheCheckerDoes) {
    TempFolder dir;
    ASSERT_FALSE(Snapshot(dir).empty());
    for (const Listed& f : MakeFiles(dir)) EXPECT_EQ(VerifyFile(dir.Sub(f.name)), f.mark) << f.name;
    EXPECT_EQ(VerifyFile(""), "X");
}

TEST(Verification, ACutRunGivesNoVerdictForAFileThatNeedsReading) {
    TempFolder dir;
    const std::vector<Listed> files = MakeFiles(dir);
    const std::atomic<int> cut{0};
    const std::atomic<int> running{1};
    struct Case {
        const char* name;
        const char* cut_mark;  // nothing read yet: a file the checks must read has no verdict
    } cases[] = {
        {"snap.jpg", ""}, {"tampered.jpg", ""}, {"summed.avi", ""}, {"plain.avi", ""},
        {"missing.jpg", "X"}, {"fifo.avi", "X"}, {"folder.avi", "X"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(VerifyFile(dir.Sub(c.name), &cut), c.cut_mark) << c.name;
        for (const Listed& f : files) {
            if (f.name != c.name) continue;
            EXPECT_EQ(VerifyFile(dir.Sub(c.name), &running), f.mark) << c.name;
        }
    }
}

TEST(Verification, ToolPrintsNameTabMarkPerFile) {
    TempFolder dir;
    const std::vector<Listed> files = MakeFiles(dir);
    const std::string tool = platform::ProgramFolder() + "/watermark-check";
    ASSERT_TRUE(std::filesystem::exists(tool)) << tool;

    std::string command = "'" + tool + "'";
    std::string expected;
    for (const Listed& f : files) {
        command += " '" + dir.Sub(f.name) + "'";
        expected += dir.Sub(f.name) + "\t" + f.mark + "\n";
    }
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof(buf), pipe)) > 0;) output.append(buf, n);
    const int status = pclose(pipe);
    EXPECT_EQ(output, expected);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
