// The skin generator, run as the build runs it: every picture the main dialog
// loads exists at the size of its control, and the looks of a button differ.
#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <sys/wait.h>

#include "platform/program_folder.h"
#include "tests/support/temp_folder.h"
#include "tools/common/skin_names.h"

namespace {

int RunSkinImages(const std::string& args) {
    const std::string command = platform::ProgramFolder() + "/skin-images " + args + " 2>/dev/null";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint32_t Le(const std::vector<uint8_t>& d, size_t at, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | d[at + static_cast<size_t>(i)];
    return v;
}

struct Picture {
    int width = 0, height = 0;
    std::vector<uint32_t> rgb;  // top row first, 0xRRGGBB
    uint32_t At(int x, int y) const { return rgb[static_cast<size_t>(y) * width + x]; }
};

// Something stands out from the face inside its border: a blank face would
// pass every other check.
bool HasSymbol(const Picture& picture);

// A 24-bit uncompressed BMP, checked field by field against the file's size.
std::optional<Picture> ReadBmp24(const std::string& path, std::string* why) {
    const std::vector<uint8_t> d = ReadBytes(path);
    if (d.size() < 54 || d[0] != 'B' || d[1] != 'M') return *why = "not a BMP", std::nullopt;
    if (Le(d, 2, 4) != d.size()) return *why = "file size field", std::nullopt;
    const uint32_t offset = Le(d, 10, 4);
    if (Le(d, 14, 4) < 40 || offset < 54) return *why = "header size", std::nullopt;
    const auto width = static_cast<int32_t>(Le(d, 18, 4));
    const auto height = static_cast<int32_t>(Le(d, 22, 4));
    if (Le(d, 26, 2) != 1 || Le(d, 28, 2) != 24 || Le(d, 30, 4) != 0) return *why = "not 24-bit BI_RGB", std::nullopt;
    if (width <= 0 || width > 4096 || height == 0 || std::abs(height) > 4096) return *why = "size", std::nullopt;
    const uint64_t stride = (static_cast<uint64_t>(width) * 3 + 3) & ~uint64_t{3};
    const int rows = std::abs(height);
    if (offset + stride * static_cast<uint64_t>(rows) > d.size()) return *why = "pixels past the end", std::nullopt;
    Picture picture{width, rows, {}};
    for (int y = 0; y < rows; ++y) {
        const size_t row = offset + stride * static_cast<size_t>(height > 0 ? rows - 1 - y : y);
        for (int x = 0; x < width; ++x) {
            const size_t p = row + static_cast<size_t>(x) * 3;
            picture.rgb.push_back((uint32_t{d[p + 2]} << 16) | (uint32_t{d[p + 1]} << 8) | d[p]);
        }
    }
    return picture;
}

int Distance(uint32_t a, uint32_t b) {
    int sum = 0;
    for (int shift : {0, 8, 16}) sum += std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF));
    return sum;
}

bool HasSymbol(const Picture& picture) {
    std::map<uint32_t, size_t> counts;
    for (uint32_t c : picture.rgb) ++counts[c];
    const uint32_t face =
        std::max_element(counts.begin(), counts.end(), [](auto& a, auto& b) { return a.second < b.second; })->first;
    size_t marked = 0, inner = 0;
    for (int y = 3; y < picture.height - 3; ++y)
        for (int x = 3; x < picture.width - 3; ++x, ++inner) marked += Distance(picture.At(x, y), face) > 60;
    return marked > inner / 25;
}

// Share of pixels that a viewer would see change between two pictures.
double VisiblyDifferent(const Picture& a, const Picture& b) {
    if (a.rgb.size() != b.rgb.size() || a.rgb.empty()) return 1;
    size_t n = 0;
    for (size_t i = 0; i < a.rgb.size(); ++i) n += Distance(a.rgb[i], b.rgb[i]) > 30;
    return double(n) / a.rgb.size();
}

class SkinImagesTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        tmp_ = new TempFolder;
        status_ = RunSkinImages(tmp_->path());
    }
    static void TearDownTestSuite() { delete tmp_; }
    void SetUp() override { ASSERT_EQ(status_, 0); }

    static Picture Load(const std::string& relative) {
        std::string why;
        std::optional<Picture> picture = ReadBmp24(tmp_->Sub(relative), &why);
        EXPECT_TRUE(picture) << relative << ": " << why;
        return picture.value_or(Picture{});
    }

    static TempFolder* tmp_;
    static int status_;
};
TempFolder* SkinImagesTest::tmp_ = nullptr;
int SkinImagesTest::status_ = -1;

TEST_F(SkinImagesTest, ListNamesExactlyThePicturesTheSkinLoads) {
    // The four pictures of each button as the main dialog's skin table gives them.
    const std::vector<std::vector<std::string>> table = {
        {"minimum-M", "minimum-D", "minimum-N", "minimum-N"}, {"power-M", "power-D", "power-N", "power-N"},
        {"div1-M", "div1-D", "div1-N", "div1-D"},             {"div4-M", "div4-D", "div4-N", "div4-D"},
        {"div9-M", "div9-D", "div9-N", "div9-D"},             {"origisize-M", "origisize-D", "origisize-N", "origisize-D"},
        {"fullscreen-M", "fullscreen-D", "fullscreen-N", "fullscreen-D"},
        {"zoomin-M", "zoomin-D", "zoomin-N", "zoomin-0"},     {"zoomout-M", "zoomout-D", "zoomout-N", "zoomout-0"},
        {"cue-N", "cue-N", "cue-N", "cue-N"},                 {"cuein-M", "cuein-D", "cuein-N", "cuein-0"},
        {"cueout-M", "cueout-D", "cueout-N", "cueout-0"},     {"play-M", "play-D", "play-N", "play-0"},
        {"stop-M", "stop-D", "stop-N", "stop-0"},             {"pause-M", "pause-D", "pause-N", "pause-0"},
        {"fforward-M", "fforward-D", "fforward-N", "fforward-0"},
        {"fbackward-M", "fbackward-D", "fbackward-N", "fbackward-0"},
        {"speedup-M", "speedup-D", "speedup-N", "speedup-0"},
        {"speeddown-M", "speeddown-D", "speeddown-N", "speeddown-0"},
        {"speed-N", "speed-N", "speed-N", "speed-N"},         {"audio-on", "audio-on", "audio-on", "audio-off"},
        {"searchlist-M", "searchlist-D", "searchlist-N", "searchlist-0"},
        {"saveavi-M", "saveavi-D", "saveavi-N", "saveavi-0"}, {"setting-M", "setting-D", "setting-N", "setting-0"},
        {"snapshot-M", "snapshot-D", "snapshot-N", "snapshot-0"},
        {"print-M", "print-D", "print-N", "print-0"},         {"backup-M", "backup-D", "backup-N", "backup-0"},
        {"adjustimage-M", "adjustimage-D", "adjustimage-N", "adjustimage-0"},
    };
    std::set<std::string> loaded;
    for (const auto& row : table)
        for (const std::string& name : row) loaded.insert(name + ".bmp");
    for (bool small : {false, true}) {
        std::set<std::string> listed;
        for (const skin::SkinFile& file : skin::SkinFiles(small)) {
            EXPECT_TRUE(listed.insert(file.name).second) << "listed twice: " << file.name;
            EXPECT_EQ(file.path, (small ? "images/small/" : "images/") + file.name);
        }
        EXPECT_EQ(listed, loaded);
    }
}

TEST_F(SkinImagesTest, EveryListedFileIsA24BitBmpOfItsControlsSizeWithASymbol) {
    for (bool small : {false, true}) {
        for (const skin::SkinFile& file : skin::SkinFiles(small)) {
            SCOPED_TRACE(file.path);
            const Picture picture = Load(file.path);
            ASSERT_EQ(picture.width, file.width);
            ASSERT_EQ(picture.height, file.height);
            EXPECT_TRUE(HasSymbol(picture));
        }
    }
    // Spot sizes from the control table, both classes.
    EXPECT_EQ(Load("images/play-D.bmp").width, 33);
    EXPECT_EQ(Load("images/stop-D.bmp").width, 30);
    EXPECT_EQ(Load("images/small/searchlist-0.bmp").width, 81);
    EXPECT_EQ(Load("images/small/audio-off.bmp").height, 17);
    EXPECT_EQ(Load("images/power-M.bmp").height, 67);
}

TEST_F(SkinImagesTest, LooksOfEachButtonDifferVisibly) {
    for (bool small : {false, true}) {
        for (const skin::SkinButton& button : skin::SkinButtons()) {
            std::vector<Picture> looks;
            for (size_t i = 0; i < button.looks.size(); ++i)
                looks.push_back(Load((small ? skin::kSmallFolder : skin::kLargeFolder) + button.FileName(i)));
            for (size_t i = 0; i < looks.size(); ++i)
                for (size_t j = i + 1; j < looks.size(); ++j)
                    EXPECT_GT(VisiblyDifferent(looks[i], looks[j]), 0.05)
                        << (small ? "small " : "") << button.FileName(i) << " vs " << button.FileName(j);
        }
    }
}

TEST_F(SkinImagesTest, BackgroundMatchesTheButtonCornersWhereControlsSit) {
    const Picture background = Load(skin::kBackgroundFile);
    ASSERT_EQ(background.width, skin::kBackgroundWidth);
    ASSERT_EQ(background.height, skin::kBackgroundHeight);
    const uint32_t corner = Load("images/play-D.bmp").At(0, 0);
    for (const char* name : {"images/small/print-0.bmp", "images/power-N.bmp", "images/small/audio-on.bmp"})
        EXPECT_EQ(Load(name).At(0, 0), corner) << name;
    // Centres of controls, as fractions of the background rectangle.
    const struct {
        double x, y;
    } controls[] = {{0.06, 0.895}, {0.24, 0.891}, {0.43, 0.891}, {0.2, 0.937}, {0.336, 0.937}, {0.466, 0.937},
                    {0.329, 0.854}, {0.908, 0.133}, {0.908, 0.31},  {0.88, 0.56},  {0.935, 0.67},  {0.859, 0.843},
                    {0.919, 0.843}};
    for (const auto& c : controls)
        EXPECT_EQ(background.At(static_cast<int>(c.x * background.width), static_cast<int>(c.y * background.height)),
                  corner)
            << c.x << ", " << c.y;
    // The viewer grid's rectangle is black.
    EXPECT_EQ(background.At(static_cast<int>(0.4 * background.width), static_cast<int>(0.4 * background.height)), 0u);
}

// Byte ranges of a GIF's frames, as a demuxer would cut them: the first with
// the header, each up to the end of its image data.
std::vector<std::vector<uint8_t>> GifFramePackets(const std::vector<uint8_t>& d) {
    std::vector<std::vector<uint8_t>> packets;
    if (d.size() < 13) return packets;
    size_t pos = 13;
    if (d[10] & 0x80) pos += size_t{3} << ((d[10] & 7) + 1);
    size_t start = 0;
    auto skip_sub_blocks = [&]() {
        while (pos < d.size()) {
            const uint8_t n = d[pos++];
            if (n == 0) return true;
            pos += n;
        }
        return false;
    };
    while (pos < d.size()) {
        const uint8_t block = d[pos++];
        if (block == 0x3B) return packets;
        if (block == 0x21) {
            ++pos;
            if (!skip_sub_blocks()) return {};
        } else if (block == 0x2C) {
            if (pos + 10 > d.size()) return {};
            const uint8_t flags = d[pos + 8];
            pos += 9;
            if (flags & 0x80) pos += size_t{3} << ((flags & 7) + 1);
            ++pos;  // LZW code size
            if (!skip_sub_blocks()) return {};
            packets.emplace_back(d.begin() + static_cast<std::ptrdiff_t>(start), d.begin() + static_cast<std::ptrdiff_t>(pos));
            start = pos;
        } else {
            return {};
        }
    }
    return {};  // no trailer
}

TEST_F(SkinImagesTest, IndicatorIsAnAnimatedGifThatDecodes) {
    const std::vector<uint8_t> gif = ReadBytes(tmp_->Sub(skin::kIndicatorFile));
    ASSERT_GE(gif.size(), 13u);
    EXPECT_EQ(std::string(gif.begin(), gif.begin() + 6), "GIF89a");
    const std::vector<std::vector<uint8_t>> packets = GifFramePackets(gif);
    ASSERT_EQ(packets.size(), static_cast<size_t>(skin::kIndicatorFrames));

    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_GIF);
    ASSERT_NE(codec, nullptr);
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    ASSERT_EQ(avcodec_open2(ctx, codec, nullptr), 0);
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    std::vector<std::vector<uint8_t>> alphas, pictures;
    for (const std::vector<uint8_t>& data : packets) {
        std::vector<uint8_t> padded(data);
        padded.resize(data.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
        packet->data = padded.data();
        packet->size = static_cast<int>(data.size());
        ASSERT_EQ(avcodec_send_packet(ctx, packet), 0);
        ASSERT_EQ(avcodec_receive_frame(ctx, frame), 0);
        ASSERT_EQ(frame->width, skin::kIndicatorSize);
        ASSERT_EQ(frame->height, skin::kIndicatorSize);
        ASSERT_EQ(frame->format, AV_PIX_FMT_BGRA);
        std::vector<uint8_t> alpha, picture;
        for (int y = 0; y < frame->height; ++y) {
            const uint8_t* row = frame->data[0] + static_cast<ptrdiff_t>(y) * frame->linesize[0];
            picture.insert(picture.end(), row, row + frame->width * 4);
            for (int x = 0; x < frame->width; ++x) alpha.push_back(row[x * 4 + 3]);
        }
        alphas.push_back(alpha);
        pictures.push_back(picture);
        av_frame_unref(frame);
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&ctx);

    for (size_t i = 0; i < pictures.size(); ++i) {
        const auto opaque = std::count(alphas[i].begin(), alphas[i].end(), 255);
        EXPECT_GT(opaque, 50) << "frame " << i;
        EXPECT_GT(std::count(alphas[i].begin(), alphas[i].end(), 0), 400) << "frame " << i << " has a see-through background";
        EXPECT_NE(pictures[i], pictures[(i + 1) % pictures.size()]) << "frame " << i << " does not move";
    }
}

TEST(SkinImagesToolTest, FailuresAreReported) {
    EXPECT_EQ(RunSkinImages(""), 2);
    TempFolder tmp;
    std::ofstream(tmp.Sub("file")) << "x";
    // A folder that cannot be made, and one whose pictures cannot be written.
    EXPECT_EQ(RunSkinImages(tmp.Sub("file") + "/out"), 1);
    std::filesystem::create_directories(tmp.Sub("out/images/small"));
    std::filesystem::create_directories(tmp.Sub("out/images/play-D.bmp"));
    EXPECT_EQ(RunSkinImages(tmp.Sub("out")), 1);
}


// The pictures of the checker's tool buttons and of the zoom buttons of View
// Record Files: each file those windows load, at its button's size, with a symbol.
TEST_F(SkinImagesTest, DialogButtonPicturesExistWithASymbol) {
    std::vector<std::string> files;
    for (const char* stem : {"new", "delete", "search", "selectall", "verification"})
        for (const char* look : {"-M", "-D", "-N", "-0"}) files.push_back(std::string("images/") + stem + look + ".bmp");
    files.push_back("images/Minus.bmp");
    files.push_back("images/Plus.bmp");
    std::set<std::string> listed;
    for (const skin::DialogPicture& p : skin::DialogPictures()) listed.insert(p.path);
    EXPECT_EQ(listed, std::set<std::string>(files.begin(), files.end()));
    for (const skin::DialogPicture& p : skin::DialogPictures()) {
        SCOPED_TRACE(p.path);
        const Picture picture = Load(p.path);
        ASSERT_EQ(picture.width, p.width);
        ASSERT_EQ(picture.height, p.height);
        EXPECT_TRUE(HasSymbol(picture));
    }
    EXPECT_EQ(Load("images/verification-D.bmp").width, 32);
    EXPECT_NE(Load("images/new-D.bmp").rgb, Load("images/new-M.bmp").rgb);
}

TEST_F(SkinImagesTest, EachProgramHasItsOwnSquareIcon) {
    const Picture playback = Load("images/larkspur-icon.bmp");
    const Picture checker = Load("images/halyard-icon.bmp");
    for (const Picture* icon : {&playback, &checker}) {
        ASSERT_EQ(icon->width, 48);
        ASSERT_EQ(icon->height, 48);
        EXPECT_TRUE(HasSymbol(*icon));
    }
    EXPECT_NE(playback.rgb, checker.rgb);
}

}  // namespace
