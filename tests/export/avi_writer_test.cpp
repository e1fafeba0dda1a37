#include "export/avi_writer.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <filesystem>

#include "checker/avi_reader.h"
#include "checker/watermark_checks.h"
#include "export/avi_riff_file.h"
#include "export/disk_free_bytes.h"
#include "media/watermark_writer.h"
#include "tests/export/avi_test_support.h"
#include "tests/support/skip.h"
#include "tests/support/temp_folder.h"
#include "tools/common/sample_media.h"

namespace {

using namespace avitest;

std::vector<uint8_t> Payload(size_t n, uint8_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 7);
    return v;
}

// Lowers this process's file size limit so writes come up short, as on a full disk.
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

bool OpenDefault(AviWriter& w, const std::string& path, int codec = AviWriter::kCodecMjpeg) {
    return w.Open(path, 320, 240, 100, 30, 8, 1, 8000, 1, codec);
}

TEST(AviWriter, RefusedOpensLeaveNoFile) {
    TempFolder dir;
    struct Case {
        const char* what;
        int width, height, frame_rate, bits, channels, rate, codec;
    };
    const Case cases[] = {
        {"codec 0", 320, 240, 30, 8, 1, 8000, 0},
        {"codec 4", 320, 240, 30, 8, 1, 8000, 4},
        {"no width", 0, 240, 30, 8, 1, 8000, 1},
        {"huge height", 320, 100000, 30, 8, 1, 8000, 1},
        {"no frame rate", 320, 240, 0, 8, 1, 8000, 1},
        {"zero block align", 320, 240, 30, 4, 1, 8000, 1},
        {"no sample rate", 320, 240, 30, 16, 1, 0, 1},
    };
    for (const Case& c : cases) {
        const std::string path = dir.Sub("refused.avi");
        AviWriter w;
        EXPECT_FALSE(w.Open(path, c.width, c.height, 80, c.frame_rate, c.bits, c.channels, c.rate, 0, c.codec))
            << c.what;
        EXPECT_FALSE(w.IsOpen());
        EXPECT_FALSE(std::filesystem::exists(path)) << c.what;
        const uint8_t b[4] = {1, 2, 3, 4};
        EXPECT_FALSE(w.WriteVideoFrame(b, 4, 0)) << c.what;
    }
    AviWriter never_opened;
    EXPECT_FALSE(never_opened.Close());
}

TEST(AviWriter, HeadersDescribeBothStreams) {
    TempFolder dir;
    struct Case {
        int codec;
        sample::SampleVideoCodec sample_codec;
        const char* handler;
        const char* ffprobe_video;
        int bits, channels, rate, mu_law;
        const char* ffprobe_audio;
        int quality;
    };
    const Case cases[] = {
        {1, sample::SampleVideoCodec::Mjpeg, "MJPG", "mjpeg", 8, 1, 8000, 1, "pcm_mulaw", 100},
        {2, sample::SampleVideoCodec::Mpeg4, "DIVX", "mpeg4", 16, 2, 16000, 0, "pcm_s16le", 85},
        {3, sample::SampleVideoCodec::H264, "H264", "h264", 16, 1, 8000, 0, "pcm_s16le", 77},
    };
    constexpr int kFrames = 6;
    const bool probe = HaveFfprobe();
    for (const Case& c : cases) {
        const std::string path = dir.Sub(std::string(c.handler) + ".avi");
        std::string error;
        auto encoder = sample::SampleVideoEncoder::Create(c.sample_codec, 704, 480, 25, 25, 1, &error);
        ASSERT_TRUE(encoder) << error;
        AviWriter w;
        ASSERT_TRUE(w.Open(path, 704, 480, c.quality, 30, c.bits, c.channels, c.rate, c.mu_law, c.codec));
        const std::vector<uint8_t> audio(static_cast<size_t>(c.rate / 25 * c.bits / 8 * c.channels), 0x7F);
        for (int i = 0; i < kFrames; ++i) {
            sample::EncodedPacket packet;
            ASSERT_TRUE(encoder->Encode(i, "CH01", &packet));
            const int64_t stamp = i + 1 < kFrames ? i * 40 : 400;
            ASSERT_TRUE(w.WriteVideoFrame(packet.data.data(), static_cast<int>(packet.data.size()), stamp));
            w.WriteAudio(audio.data(), static_cast<int>(audio.size()));
        }
        ASSERT_EQ(w.video_count(), kFrames + 5);  // 5 empty samples from 160 ms to 400 ms
        ASSERT_TRUE(w.Close());

        const std::vector<uint8_t> f = ReadAll(path);
        const uint32_t block_align = static_cast<uint32_t>(c.bits * c.channels / 8);
        EXPECT_EQ(IdAt(f, 0), "RIFF");
        EXPECT_EQ(Le32(f, 4), f.size() - 8);
        EXPECT_EQ(Le32(f, kAvihData), 33333u);
        EXPECT_EQ(Le32(f, kAvihData + 16), kFrames + 5u);  // total frames
        EXPECT_EQ(Le32(f, kAvihData + 24), 2u);  // streams
        EXPECT_EQ(Le32(f, kAvihData + 32), 704u);
        EXPECT_EQ(Le32(f, kAvihData + 36), 480u);

        EXPECT_EQ(IdAt(f, kVideoStrh), "vids");
        EXPECT_EQ(IdAt(f, kVideoStrh + 4), c.handler);
        EXPECT_EQ(Le32(f, kVideoStrh + 20), 1u);   // scale
        EXPECT_EQ(Le32(f, kVideoStrh + 24), 30u);  // rate
        EXPECT_EQ(Le32(f, kVideoStrh + 32), kFrames + 5u);  // length
        EXPECT_EQ(Le32(f, kVideoStrh + 36), 704u * 480 * 3);  // suggested buffer
        EXPECT_EQ(Le32(f, kVideoStrh + 40), static_cast<uint32_t>(c.quality) * 100);
        EXPECT_EQ(Le32(f, kVideoStrh + 44), 0u);
        EXPECT_EQ(Le16(f, kVideoStrh + 52), 704);
        EXPECT_EQ(Le16(f, kVideoStrh + 54), 480);
        EXPECT_EQ(Le32(f, kVideoStrf - 4), 40u);
        EXPECT_EQ(Le32(f, kVideoStrf + 4), 704u);
        EXPECT_EQ(Le32(f, kVideoStrf + 8), 480u);
        EXPECT_EQ(Le16(f, kVideoStrf + 12), 1);
        EXPECT_EQ(Le16(f, kVideoStrf + 14), 24);
        EXPECT_EQ(IdAt(f, kVideoStrf + 16), c.handler);
        EXPECT_EQ(Le32(f, kVideoStrf + 20), 704u * 480 * 3);
        EXPECT_EQ(IdAt(f, kVideoStrf + 48), "Vide");  // "Video Stream" in strn

        EXPECT_EQ(IdAt(f, kAudioStrh), "auds");
        EXPECT_EQ(Le32(f, kAudioStrh + 4), 0u);
        EXPECT_EQ(Le32(f, kAudioStrh + 20), block_align);
        EXPECT_EQ(Le32(f, kAudioStrh + 24), block_align * c.rate);
        EXPECT_EQ(Le32(f, kAudioStrh + 32), kFrames * audio.size() / block_align);  // samples
        EXPECT_EQ(Le32(f, kAudioStrh + 44), block_align);
        EXPECT_EQ(Le32(f, kAudioStrf - 4), 18u);
        EXPECT_EQ(Le16(f, kAudioStrf), c.mu_law ? 7 : 1);
        EXPECT_EQ(Le16(f, kAudioStrf + 2), c.channels);
        EXPECT_EQ(Le32(f, kAudioStrf + 4), static_cast<uint32_t>(c.rate));
        EXPECT_EQ(Le32(f, kAudioStrf + 8), block_align * c.rate);
        EXPECT_EQ(Le16(f, kAudioStrf + 12), block_align);
        EXPECT_EQ(Le16(f, kAudioStrf + 14), c.bits);
        EXPECT_EQ(Le16(f, kAudioStrf + 16), 0);
        EXPECT_EQ(IdAt(f, kAudioStrf + 26), "Audi");

        AviReader reader;
        ASSERT_EQ(reader.Open(path), 1) << c.handler;
        EXPECT_EQ(reader.codec(), c.codec - 1);
        EXPECT_EQ(reader.width(), 704);
        EXPECT_EQ(reader.height(), 480);
        EXPECT_DOUBLE_EQ(reader.frames_per_second(), 30.0);
        EXPECT_EQ(reader.audio_format(), c.mu_law ? AviReader::kAudioMuLaw : AviReader::kAudioPcm);
        EXPECT_EQ(reader.audio_sample_rate(), c.rate);
        EXPECT_EQ(reader.audio_channels(), c.channels);
        EXPECT_EQ(reader.audio_bits_per_sample(), c.bits);

        if (probe) {
            const std::string out = Ffprobe(path);
            EXPECT_NE(out.find(std::string("codec_name=") + c.ffprobe_video), std::string::npos) << out;
            EXPECT_NE(out.find(std::string("codec_name=") + c.ffprobe_audio), std::string::npos) << out;
            EXPECT_NE(out.find("width=704"), std::string::npos) << out;
            EXPECT_NE(out.find("sample_rate=" + std::to_string(c.rate)), std::string::npos) << out;
            EXPECT_NE(out.find("channels=" + std::to_string(c.channels)), std::string::npos) << out;
            // Every coded frame decodes; the empty sample counts as none.
            const std::string decoded = RunCommand(
                "ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 '" +
                path + "' 2>&1");
            EXPECT_EQ(decoded, std::to_string(kFrames) + "\n") << c.handler;
            // The audio is declared, and timed, as the samples written: six packets of 1/25 s.
            const std::string samples = RunCommand(
                "ffprobe -v error -select_streams a:0 -show_entries stream=nb_frames -of csv=p=0 '" + path + "' 2>&1");
            EXPECT_EQ(samples, std::to_string(kFrames * c.rate / 25) + "\n") << c.handler;
            const std::string last = RunCommand("ffprobe -v error -select_streams a:0 -show_entries packet=pts,duration "
                                                "-of csv=p=0 '" + path + "' 2>&1 | tail -1");
            const size_t comma = last.find(',');
            ASSERT_NE(comma, std::string::npos) << last;
            EXPECT_EQ(std::atoll(last.c_str()) + std::atoll(last.c_str() + comma + 1), kFrames * c.rate / 25)
                << c.handler << ": " << last;
        }
    }
    if (!probe) SKIP_WITHOUT_INSTALLED("ffprobe not installed; headers checked with our own reader only");
}

// Second frame's stamp (first at 0) -> empty samples written between the two.
TEST(AviWriter, FramesLandOnTheThirtyFramesGrid) {
    TempFolder dir;
    struct Case {
        int64_t second;
        int empties;
    };
    const Case cases[] = {{500, 12}, {33, 0}, {66, 0}, {100, 0}, {133, 1}, {10000, 30}, {-500, 0}, {0, 0}};
    AviWriter w;  // one writer over all parts, as the exports keep it
    for (const Case& c : cases) {
        const std::string path = dir.Sub("grid" + std::to_string(c.second) + ".avi");
        const int64_t base = 1700000000000;  // the bookkeeping starts afresh in every file
        ASSERT_TRUE(OpenDefault(w, path));
        const std::vector<uint8_t> a = Payload(100, 1), b = Payload(101, 2);
        ASSERT_TRUE(w.WriteVideoFrame(a.data(), 100, base));
        ASSERT_TRUE(w.WriteVideoFrame(b.data(), 101, base + c.second));
        EXPECT_EQ(w.video_count(), 2 + c.empties) << c.second;
        ASSERT_TRUE(w.Close());

        AviReader reader;
        ASSERT_EQ(reader.Open(path), 1);
        bool failed = true;
        const std::vector<ReadChunk> chunks = Chunks(reader, &failed);
        EXPECT_FALSE(failed);
        ASSERT_EQ(chunks.size(), static_cast<size_t>(2 + c.empties)) << c.second;
        EXPECT_EQ(chunks.front().data, a);
        EXPECT_EQ(chunks.back().data, b);
        for (size_t i = 1; i + 1 < chunks.size(); ++i) {
            EXPECT_EQ(chunks[i].id, "00dc");
            EXPECT_TRUE(chunks[i].data.empty());
        }
        EXPECT_EQ(reader.total_frames(), 2 + c.empties);
    }
}

TEST(AviWriter, AudioAndVideoKeepTheirOwnPositions) {
    TempFolder dir;
    const std::string path = dir.Sub("mixed.avi");
    AviWriter w;
    ASSERT_TRUE(w.Open(path, 352, 288, 80, 30, 16, 1, 8000, 0, AviWriter::kCodecH264));
    std::vector<std::vector<uint8_t>> audio;
    const int64_t stamps[] = {0, 40, 500, 540, 2000};
    int64_t expected_video = 0;
    for (int64_t t : stamps) {
        const size_t before = static_cast<size_t>(w.video_count());
        ASSERT_TRUE(w.WriteVideoFrame(Payload(51, static_cast<uint8_t>(t)).data(), 51, t));
        expected_video += w.video_count() - static_cast<int64_t>(before);
        for (int k = 0; k < 3; ++k) {
            audio.push_back(Payload(320 + k, static_cast<uint8_t>(k + t)));
            w.WriteAudio(audio.back().data(), static_cast<int>(audio.back().size()));
        }
    }
    // Positions as without any audio: 0, 1, 13 (after 11 empties), 14, 56 (after 30 empties, the cap).
    EXPECT_EQ(w.video_count(), 1 + 1 + 12 + 1 + 31);
    EXPECT_EQ(w.audio_count(), 15);
    w.WriteAudio(nullptr, 10);
    w.WriteAudio(audio[0].data(), -1);
    EXPECT_EQ(w.audio_count(), 15);
    ASSERT_TRUE(w.Close());

    AviReader reader;
    ASSERT_EQ(reader.Open(path), 1);
    bool failed = true;
    const std::vector<ReadChunk> chunks = Chunks(reader, &failed);
    EXPECT_FALSE(failed);
    std::vector<std::vector<uint8_t>> audio_read;
    int video_read = 0;
    for (const ReadChunk& c : chunks) {
        if (c.kind == AviReader::kChunkAudio) audio_read.push_back(c.data);
        if (c.kind == AviReader::kChunkVideo) ++video_read;
    }
    EXPECT_EQ(audio_read, audio);
    EXPECT_EQ(video_read, expected_video);
}

TEST(AviWriter, IndexHasAKeyFrameEntryForEveryChunk) {
    TempFolder dir;
    const std::string path = dir.Sub("index.avi");
    AviWriter w;
    ASSERT_TRUE(OpenDefault(w, path, AviWriter::kCodecDivx));
    ASSERT_TRUE(w.WriteVideoFrame(Payload(7, 1).data(), 7, 0));  // odd sizes get a padding byte
    w.WriteAudio(Payload(33, 2).data(), 33);
    ASSERT_TRUE(w.WriteVideoFrame(Payload(8, 3).data(), 8, 200));
    const uint8_t none = 0;
    w.WriteAudio(&none, 0);
    ASSERT_TRUE(w.Close());

    const std::vector<uint8_t> f = ReadAll(path);
    const Layout l = TopLevel(f);
    EXPECT_EQ((l.movi_list + 12) % AviRiffFile::kMoviAlignment, 0u);
    ASSERT_TRUE(l.has_index);
    ASSERT_EQ(l.index.size(), 2u + 3 + 1 + 1);  // frame, audio, 3 empties, frame, empty audio
    for (const IndexEntry& e : l.index) {
        EXPECT_EQ(e.flags, 0x10u);
        const size_t at = l.movi_list + 8 + e.offset;
        ASSERT_LE(at + 8, f.size());
        EXPECT_EQ(IdAt(f, at), e.id);
        EXPECT_EQ(Le32(f, at + 4), e.size);
    }
    EXPECT_EQ(l.index[0].id, "00dc");
    EXPECT_EQ(l.index[1].id, "01wb");
    EXPECT_EQ(l.index[1].size, 33u);
    EXPECT_EQ(l.index[2].offset, l.index[1].offset + 8 + 34);
    EXPECT_EQ(l.movi_size, 4u + (8 + 8) + (8 + 34) + 3 * 8 + (8 + 8) + 8);
}

TEST(AviWriter, WatermarkTrailerPassesTheCheckerAndKeepsTheFileReadable) {
    TempFolder dir;
    const std::string path = dir.Sub("marked.avi");
    AviWriter w;
    ASSERT_TRUE(OpenDefault(w, path));
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(w.WriteVideoFrame(Payload(200 + i, static_cast<uint8_t>(i)).data(), 200 + i, i * 33));
        w.WriteAudio(Payload(160, 9).data(), 160);
    }
    ASSERT_TRUE(w.Close());
    EXPECT_FALSE(CheckAviTrailer(path));
    // The checker finds its checksum slot by the fixed header layout: the JUNK chunk.
    const uint64_t slot = FindAviChecksumPosition(path);
    const std::vector<uint8_t> plain = ReadAll(path);
    ASSERT_NE(slot, 0u);
    EXPECT_EQ(IdAt(plain, slot), "JUNK");

    ASSERT_TRUE(AppendWatermarkTrailer(path));
    EXPECT_TRUE(CheckAviTrailer(path));
    const std::vector<uint8_t> marked = ReadAll(path);
    ASSERT_EQ(marked.size(), plain.size() + 4);
    EXPECT_TRUE(std::equal(plain.begin(), plain.end(), marked.begin()));

    AviReader reader;
    ASSERT_EQ(reader.Open(path), 1);
    bool failed = true;
    EXPECT_EQ(Chunks(reader, &failed).size(), 10u);
    EXPECT_FALSE(failed);
    if (HaveFfprobe()) {
        EXPECT_NE(Ffprobe(path).find("codec_name=mjpeg"), std::string::npos);
    }
}

// Chunks are gathered and written a batch at a time while the next batch
// gathers, so a short write shows at a later frame or at Close; either way it
// is reported, and the file keeps only whole chunks, which its headers and
// index count.
TEST(AviWriter, ShortWritesAreReportedAndTheFileIsCutToWholeChunks) {
    TempFolder dir;
    const std::string path = dir.Sub("full.avi");
    {
        FileSizeLimit limit(1000);  // smaller than the headers
        AviWriter w;
        EXPECT_FALSE(OpenDefault(w, path));
        EXPECT_FALSE(std::filesystem::exists(path));
    }
    struct Case {
        const char* name;
        int frame_bytes;
        int frames;
        uint64_t limit;
        bool refused_before_close;
    };
    const Case cases[] = {
        {"gathered, cut at close", 5001, 40, 64 * 1024, false},
        {"gathered, cut by a later batch", 5001, 200, 300 * 1024, true},
        {"large frames, a few a batch", 70001, 20, 600 * 1024, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AviWriter w;
        int accepted = 0;
        bool refused = false;
        {
            FileSizeLimit limit(c.limit);
            ASSERT_TRUE(OpenDefault(w, path));
            for (int i = 0; i < c.frames && !refused; ++i) {
                if (w.WriteVideoFrame(Payload(c.frame_bytes, static_cast<uint8_t>(i)).data(), c.frame_bytes, i * 33))
                    ++accepted;
                else
                    refused = true;
            }
            EXPECT_EQ(refused, c.refused_before_close);
            if (refused) {
                EXPECT_FALSE(w.WriteVideoFrame(Payload(10, 0).data(), 10, c.frames * 33));
            }
            EXPECT_FALSE(w.Close());
        }
        AviReader reader;
        ASSERT_EQ(reader.Open(path), 1);
        bool failed = true;
        const std::vector<ReadChunk> chunks = Chunks(reader, &failed);
        EXPECT_FALSE(failed);
        // What the limit lets through: nothing lost before it, nothing past it.
        const size_t whole = chunks.size();
        EXPECT_GT(whole, 5u);
        EXPECT_LE(whole, static_cast<size_t>(accepted));
        for (size_t i = 0; i < whole; ++i) {
            ASSERT_EQ(chunks[i].data.size(), static_cast<size_t>(c.frame_bytes));
            EXPECT_EQ(chunks[i].data.front(), static_cast<uint8_t>(i));
        }
        const std::vector<uint8_t> f = ReadAll(path);
        EXPECT_LE(f.size(), c.limit);
        EXPECT_EQ(Le32(f, 4), f.size() - 8);
        EXPECT_EQ(Le32(f, kAvihData + 16), static_cast<uint32_t>(whole));
        EXPECT_EQ(TopLevel(f).index.size(), whole);
    }
}

TEST(AviRiffFile, ChunksThatWouldPassTheSizeLimitAreRefused) {
    TempFolder dir;
    const std::string path = dir.Sub("limit.avi");
    AviStreamSpec video;
    std::memcpy(video.type, "vids", 4);
    std::memcpy(video.handler, "MJPG", 4);
    video.format = MakeBitmapInfoHeader(16, 16, 24, "MJPG", 768);
    AviStreamSpec audio;
    ASSERT_TRUE(MakeAudioStreamSpec(8, 1, 8000, 1, &audio));
    const uint64_t limit = 2048 + 3 * (8 + 1000) + 8 + 3 * 16 + 500;
    AviRiffFile file;
    ASSERT_TRUE(file.Create(path, 16, 16, 33333, video, audio, limit));
    const std::vector<uint8_t> data = Payload(1000, 5);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(file.WriteChunk(AviRiffFile::kVideoStream, data.data(), data.size()));
    EXPECT_FALSE(file.WriteChunk(AviRiffFile::kVideoStream, data.data(), data.size()));
    // A smaller sample still fits, index entry included.
    EXPECT_TRUE(file.WriteChunk(AviRiffFile::kAudioStream, data.data(), 400));
    EXPECT_FALSE(file.WriteChunk(AviRiffFile::kAudioStream, data.data(), 100));
    EXPECT_FALSE(file.WriteChunk(2, data.data(), 1));
    EXPECT_TRUE(file.Finish());
    EXPECT_LE(std::filesystem::file_size(path), limit);

    AviReader reader;
    ASSERT_EQ(reader.Open(path), 1);
    bool failed = true;
    EXPECT_EQ(Chunks(reader, &failed).size(), 4u);
    EXPECT_FALSE(failed);
    EXPECT_EQ(TopLevel(ReadAll(path)).index.size(), 4u);
}

TEST(DiskFree, ExistingFolderHasRoomAndAMissingOneCountsAsFull) {
    TempFolder dir;
    EXPECT_GT(GetDiskFreeBytes(dir.path()), 0u);
    EXPECT_EQ(GetDiskFreeBytes(dir.Sub("missing/folder")), 0u);
    EXPECT_EQ(GetDiskFreeBytes(""), 0u);
}

}  // namespace
