#include "media/watermark_writer.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <turbojpeg.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "checker/watermark_checks.h"
#include "media/jpeg_snapshot_writer.h"
#include "tests/support/temp_folder.h"

namespace {

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(n);
    for (auto& b : v) b = static_cast<uint8_t>(rng());
    return v;
}

// A picture with smooth areas and noise, as camera pictures have both.
std::vector<uint8_t> Picture(int width, int height, uint32_t seed) {
    std::vector<uint8_t> pixels = RandomBytes(static_cast<size_t>(width) * height * 3, seed);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width / 2; ++x) {
            uint8_t* p = &pixels[(static_cast<size_t>(y) * width + x) * 3];
            p[0] = static_cast<uint8_t>(x * 4);
            p[1] = static_cast<uint8_t>(y * 2);
            p[2] = 128;
        }
    return pixels;
}

// Temporary files the replacing writer might have left behind.
size_t EntriesIn(const std::string& folder) {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(folder), {}));
}

// Makes writes beyond limit bytes fail with EFBIG, as a full disk would.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t limit) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        old_handler_ = signal(SIGXFSZ, SIG_IGN);
        rlimit r = saved_;
        r.rlim_cur = limit;
        setrlimit(RLIMIT_FSIZE, &r);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        signal(SIGXFSZ, old_handler_);
    }

private:
    rlimit saved_{};
    sighandler_t old_handler_;
};

TEST(JpegSnapshot, WatermarkedSnapshotsDecodeAndPassTheCheck) {
    TempFolder dir;
    JpegSnapshotWriter writer;
    struct Size { int w, h; };
    // Odd widths give rows that are not a multiple of 4 bytes.
    const Size sizes[] = {{1, 1}, {2, 2}, {3, 5}, {17, 9}, {641, 359}, {640, 360}};
    uint32_t seed = 1;
    for (const Size& s : sizes) {
        const std::string path = dir.Sub("snap.jpg");
        const std::vector<uint8_t> pixels = Picture(s.w, s.h, seed++);
        ASSERT_TRUE(writer.Save(path, pixels.data(), s.w, s.h)) << s.w << "x" << s.h;
        const std::vector<uint8_t> encoded = ReadAll(path);
        ASSERT_GE(encoded.size(), 2u);
        EXPECT_EQ(encoded[0], 0xFF);
        EXPECT_EQ(encoded[1], 0xD8);
        EXPECT_FALSE(CheckJpegWatermark(path));

        WatermarkWriter wm;
        ASSERT_TRUE(InsertJpegWatermark(wm.file_copy, path));
        EXPECT_TRUE(CheckJpegWatermark(path)) << s.w << "x" << s.h;
        const std::vector<uint8_t> marked = ReadAll(path);
        EXPECT_EQ(marked, wm.file_copy);
        ASSERT_EQ(marked.size(), encoded.size() + 8);

        // The APP1 block keeps it a JPEG any decoder reads, with the picture intact.
        tjhandle dec = tjInitDecompress();
        int w = 0, h = 0, sub = 0, cs = 0;
        ASSERT_EQ(tjDecompressHeader3(dec, marked.data(), marked.size(), &w, &h, &sub, &cs), 0);
        EXPECT_EQ(w, s.w);
        EXPECT_EQ(h, s.h);
        std::vector<uint8_t> back(pixels.size());
        ASSERT_EQ(tjDecompress2(dec, marked.data(), marked.size(), back.data(), w, w * 3, h, TJPF_BGR, 0), 0);
        tjDestroy(dec);
        double error = 0;
        for (size_t i = 0; i < back.size(); ++i) error += std::abs(int(back[i]) - int(pixels[i]));
        EXPECT_LT(error / back.size(), 3.0) << s.w << "x" << s.h;
    }
    EXPECT_EQ(EntriesIn(dir.path()), 1u);
}

TEST(JpegSnapshot, RefusesWhatCannotBeEncodedOrWritten) {
    TempFolder dir;
    JpegSnapshotWriter writer;
    const std::vector<uint8_t> pixels(4 * 4 * 3, 100);
    EXPECT_FALSE(writer.Save(dir.Sub("a.jpg"), pixels.data(), 0, 4));
    EXPECT_FALSE(writer.Save(dir.Sub("a.jpg"), pixels.data(), 4, -1));
    EXPECT_FALSE(writer.Save(dir.Sub("a.jpg"), nullptr, 4, 4));
    EXPECT_FALSE(writer.Save(dir.Sub("a.jpg"), pixels.data(), 70000, 1));
    EXPECT_FALSE(writer.Save(dir.Sub("no/such/folder/a.jpg"), pixels.data(), 4, 4));
    EXPECT_EQ(EntriesIn(dir.path()), 0u);

    // Replacing an existing snapshot writes a whole new file.
    WriteAll(dir.Sub("b.jpg"), std::vector<uint8_t>(50000, 7));
    ASSERT_TRUE(writer.Save(dir.Sub("b.jpg"), pixels.data(), 4, 4));
    EXPECT_LT(ReadAll(dir.Sub("b.jpg")).size(), 50000u);
}

TEST(JpegWatermark, BlockLayoutAndRepeatedInsertion) {
    TempFolder dir;
    const std::string path = dir.Sub("x.jpg");
    const std::vector<uint8_t> original = RandomBytes(1000, 7);
    WriteAll(path, original);
    std::vector<uint8_t> copy;
    ASSERT_TRUE(InsertJpegWatermark(copy, path));
    const std::vector<uint8_t> once = ReadAll(path);
    ASSERT_EQ(once.size(), 1008u);
    EXPECT_EQ(once[0], original[0]);
    EXPECT_EQ(once[1], original[1]);
    const uint8_t fixed[] = {0xFF, 0xE1, 0x00, 0x06};
    EXPECT_TRUE(std::equal(fixed, fixed + 4, once.begin() + 2));
    EXPECT_EQ(once[8], 0);
    EXPECT_EQ(once[9], 0);
    EXPECT_TRUE(std::equal(original.begin() + 2, original.end(), once.begin() + 10));
    uint8_t c1 = 0;  // h = 501 for 1000 bytes
    for (int i = 2; i <= 500; ++i) c1 ^= original[i];
    EXPECT_EQ(once[6], c1);
    EXPECT_TRUE(CheckJpegWatermark(path));

    // No search for an earlier block: a second one goes in front of it, and still checks.
    ASSERT_TRUE(InsertJpegWatermark(copy, path));
    const std::vector<uint8_t> twice = ReadAll(path);
    ASSERT_EQ(twice.size(), 1016u);
    EXPECT_TRUE(std::equal(once.begin() + 2, once.end(), twice.begin() + 10));
    EXPECT_TRUE(CheckJpegWatermark(path));
}

TEST(JpegWatermark, CheckBytesDoNotDependOnHowTheFileIsRead) {
    // The checker streams the file in blocks; any split must give the writer's whole-file result.
    std::mt19937 rng(9);
    for (size_t n : {0u, 1u, 2u, 99u, 150u, 201u, 202u, 203u, 1000u, 70000u}) {
        const std::vector<uint8_t> region = RandomBytes(n, static_cast<uint32_t>(n) + 1);
        JpegCheckBytes whole(n);
        whole.Add(region.data(), region.size());
        for (size_t piece : {size_t{1}, size_t{7}, size_t{100}, size_t{4096}}) {
            JpegCheckBytes split(n);
            for (size_t at = 0; at < n;) {
                const size_t take = std::min(n - at, piece + rng() % piece);
                split.Add(region.data() + at, take);
                at += take;
            }
            EXPECT_EQ(split.c1(), whole.c1()) << n << "/" << piece;
            EXPECT_EQ(split.c2(), whole.c2()) << n << "/" << piece;
        }
    }
}

TEST(JpegWatermark, SingleByteTampersFail) {
    TempFolder dir;
    JpegSnapshotWriter writer;
    const std::string path = dir.Sub("t.jpg");
    const std::vector<uint8_t> pixels = Picture(160, 120, 3);
    ASSERT_TRUE(writer.Save(path, pixels.data(), 160, 120));
    std::vector<uint8_t> copy;
    ASSERT_TRUE(InsertJpegWatermark(copy, path));
    const std::vector<uint8_t> good = ReadAll(path);
    const size_t length = good.size();
    const size_t h = 10 + (length - 10) / 2;

    struct Case { size_t at; bool passes; };
    const Case cases[] = {
        {2, false}, {3, false}, {6, false}, {7, false},                  // marker and check bytes
        {10, false}, {11, false}, {(10 + h) / 2, false}, {h - 1, false},  // c1 range
        {h + 100, false}, {h + 101, false}, {length - 2, false}, {length - 1, false},  // behind the window
        {0, true}, {1, true}, {4, true}, {5, true}, {8, true}, {9, true},  // covered by no test
    };
    for (const Case& c : cases) {
        for (uint8_t flip : {0x01, 0x80, 0xFF}) {
            std::vector<uint8_t> bad = good;
            bad[c.at] ^= flip;
            WriteAll(path, bad);
            EXPECT_EQ(CheckJpegWatermark(path), c.passes) << "byte " << c.at << " ^ " << int(flip);
        }
    }
    WriteAll(path, good);
    EXPECT_TRUE(CheckJpegWatermark(path));
}

TEST(JpegWatermark, ShortFilesRoundTrip) {
    TempFolder dir;
    const std::string path = dir.Sub("s.jpg");
    std::vector<uint8_t> copy;
    // Below 202 bytes the register window runs past the end of the file.
    for (size_t n = 2; n <= 320; ++n) {
        WriteAll(path, RandomBytes(n, static_cast<uint32_t>(n)));
        ASSERT_TRUE(InsertJpegWatermark(copy, path)) << n;
        EXPECT_TRUE(CheckJpegWatermark(path)) << n;
        std::vector<uint8_t> bad = ReadAll(path);
        bad[6] ^= 0x20;
        WriteAll(path, bad);
        EXPECT_FALSE(CheckJpegWatermark(path)) << n;
    }
    // Too short to carry a block: untouched and reported.
    for (const std::vector<uint8_t>& tiny : {std::vector<uint8_t>{}, std::vector<uint8_t>{0xFF}}) {
        WriteAll(path, tiny);
        EXPECT_FALSE(InsertJpegWatermark(copy, path));
        EXPECT_EQ(ReadAll(path), tiny);
    }
    const std::vector<std::vector<uint8_t>> too_short = {
        {}, {0xFF, 0xD8, 0xFF}, {0xFF, 0xD8, 0xFF, 0xE1}, {0xFF, 0xD8, 0xFF, 0xE1, 0, 6, 0, 0, 0}};
    for (const auto& bytes : too_short) {
        WriteAll(path, bytes);
        EXPECT_FALSE(CheckJpegWatermark(path)) << bytes.size();
    }
    // The smallest marked file: two bytes in, ten out, nothing covered.
    WriteAll(path, {0xFF, 0xD8, 0xFF, 0xE1, 0, 6, 0, 0, 0, 0});
    EXPECT_TRUE(CheckJpegWatermark(path));
}

TEST(JpegWatermark, FailedInsertionKeepsTheSnapshot) {
    TempFolder dir;
    const std::string path = dir.Sub("keep.jpg");
    const std::vector<uint8_t> original = RandomBytes(5000, 11);
    WriteAll(path, original);
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    std::vector<uint8_t> copy;
    {
        // The new file is 8 bytes longer than the disk now allows.
        FileSizeLimit limit(original.size());
        EXPECT_FALSE(InsertJpegWatermark(copy, path));
    }
    EXPECT_EQ(ReadAll(path), original);
    EXPECT_EQ(EntriesIn(dir.path()), 1u);

    EXPECT_FALSE(InsertJpegWatermark(copy, dir.Sub("missing.jpg")));
    EXPECT_FALSE(InsertJpegWatermark(copy, dir.path()));
    EXPECT_EQ(EntriesIn(dir.path()), 1u);

    ASSERT_TRUE(InsertJpegWatermark(copy, path));
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST(WatermarkTrailer, AppendsToExistingFilesOnly) {
    TempFolder dir;
    const std::string path = dir.Sub("a.avi");
    const std::vector<uint8_t> body = RandomBytes(777, 5);
    WriteAll(path, body);
    EXPECT_FALSE(CheckAviTrailer(path));
    ASSERT_TRUE(AppendWatermarkTrailer(path));
    std::vector<uint8_t> expected = body;
    expected.insert(expected.end(), {0x65, 0x27, 0x00, 0x00});
    EXPECT_EQ(ReadAll(path), expected);
    EXPECT_TRUE(CheckAviTrailer(path));

    EXPECT_FALSE(AppendWatermarkTrailer(dir.Sub("never.avi")));
    EXPECT_FALSE(std::filesystem::exists(dir.Sub("never.avi")));
    EXPECT_FALSE(AppendWatermarkTrailer(dir.path()));
    ASSERT_EQ(mkfifo(dir.Sub("fifo.avi").c_str(), 0600), 0);
    EXPECT_FALSE(AppendWatermarkTrailer(dir.Sub("fifo.avi")));

    // A trailer that does not fit is not left half written.
    {
        FileSizeLimit limit(expected.size() + 2);
        EXPECT_FALSE(AppendWatermarkTrailer(path));
    }
    EXPECT_EQ(ReadAll(path), expected);
}

}  // namespace
