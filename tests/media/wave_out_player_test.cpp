#include "media/mu_law_audio.h"
#include "media/wave_out_player.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "media/playback_sound.h"
#include "tests/support/temp_folder.h"

namespace {

// SDL's disk driver (SDL_AUDIODRIVER=disk, set for every test) writes what is
// played to SDL_DISKAUDIOFILE, so the test hears what a listener would.
class WaveOutPlayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        capture_ = tmp_.Sub("played.raw");
        setenv("SDL_DISKAUDIOFILE", capture_.c_str(), 1);
        setenv("SDL_DISKAUDIODELAY", "1", 1);  // play faster than real time
    }
    std::vector<int16_t> Played() {
        std::ifstream in(capture_, std::ios::binary);
        std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
        std::vector<int16_t> samples(bytes.size() / 2);
        std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
        return samples;
    }
    // Where the played samples start (the device plays silence until the first block).
    static size_t FindStart(const std::vector<int16_t>& played, int16_t first) {
        for (size_t i = 0; i < played.size(); ++i)
            if (played[i] == first) return i;
        return played.size();
    }
    TempFolder tmp_;
    std::string capture_;
};

TEST_F(WaveOutPlayerTest, PlaysPcmInQuarterSecondBlocks) {
    WaveOutPlayer player;
    player.SetVolume(100);
    ASSERT_EQ(player.Open(8000, WaveOutPlayer::kFormatPcm, 16, 1), 1);
    EXPECT_EQ(player.block_size(), 4000);
    std::vector<uint8_t> pcm(6000);
    for (size_t i = 0; i < pcm.size() / 2; ++i) {
        const auto v = static_cast<uint16_t>(1000 + static_cast<int>(i));
        pcm[2 * i] = static_cast<uint8_t>(v);
        pcm[2 * i + 1] = static_cast<uint8_t>(v >> 8);
    }
    ASSERT_EQ(player.Write(static_cast<int>(pcm.size()), pcm.data()), 1);
    EXPECT_EQ(player.staged(), 2000);  // one block sent, the rest staged
    ASSERT_TRUE(player.WaitDrained(3000));
    player.Close();
    player.FinishClosing();
    const auto played = Played();
    const size_t at = FindStart(played, 1000);
    ASSERT_LE(at + 2000, played.size());
    for (int i = 0; i < 2000; ++i) ASSERT_EQ(played[at + i], 1000 + i) << i;
}

TEST_F(WaveOutPlayerTest, StagingBufferRefusesWholePackets) {
    WaveOutPlayer player;
    ASSERT_EQ(player.Open(8000, WaveOutPlayer::kFormatPcm, 16, 1), 1);
    std::vector<uint8_t> too_big(160001);
    EXPECT_EQ(player.Write(static_cast<int>(too_big.size()), too_big.data()), 0);
    EXPECT_EQ(player.staged(), 0);
    std::vector<uint8_t> small(100);
    EXPECT_EQ(player.Write(100, small.data()), 1);
    player.Close();
    EXPECT_EQ(player.Write(100, small.data()), 0);
}

TEST_F(WaveOutPlayerTest, MuLawIsExpandedAndVolumeScales) {
    WaveOutPlayer player;
    player.SetVolume(50);
    EXPECT_EQ(player.GetVolume(), 49);  // 50 x 65535 / 100 read back as floor(v / 65535 x 100)
    ASSERT_EQ(player.Open(8000, WaveOutPlayer::kFormatMuLaw, 8, 1), 1);
    EXPECT_EQ(player.block_size(), 2000);
    std::vector<uint8_t> mulaw(2000, 0x80);  // 0x80 is the largest positive value: 32124
    ASSERT_EQ(player.Write(2000, mulaw.data()), 1);
    ASSERT_TRUE(player.WaitDrained(3000));
    player.Close();
    player.FinishClosing();
    player.SetVolume(100);
    const auto played = Played();
    const int16_t expected = static_cast<int16_t>(32124 * 32767 / 65535);
    const size_t at = FindStart(played, expected);
    ASSERT_LE(at + 2000, played.size());
    EXPECT_EQ(played[at + 1999], expected);
}

// Sound parameters as a damaged minute file or stream carries them: each must be
// refused before it sizes anything (the sanitizer build catches overflowing arithmetic).
struct DamagedSound {
    const char* what;
    int rate, kind, bits, channels;
};
const DamagedSound kDamagedSound[] = {
    {"bits overflow the block alignment", 8000, WaveOutPlayer::kFormatPcm, 1073741824, 4},
    {"rate overflows the byte rate", 2147483647, WaveOutPlayer::kFormatPcm, 16, 8},
    {"negative bits", 8000, WaveOutPlayer::kFormatPcm, -16, 1},
    {"zero bits", 8000, WaveOutPlayer::kFormatPcm, 0, 1},
    {"bits the device has no format for", 8000, WaveOutPlayer::kFormatPcm, 12, 1},
    {"16-bit mu-law", 8000, WaveOutPlayer::kFormatMuLaw, 16, 1},
    {"negative rate", -8000, WaveOutPlayer::kFormatPcm, 16, 1},
    {"rate too small for a whole block", 1, WaveOutPlayer::kFormatMuLaw, 8, 1},
    {"no channels", 8000, WaveOutPlayer::kFormatPcm, 16, 0},
    {"huge channel count", 8000, WaveOutPlayer::kFormatPcm, 16, 1 << 30},
    {"negative channels", 8000, WaveOutPlayer::kFormatPcm, 16, -2},
    {"unknown format kind", 8000, 7, 16, 1},
};

TEST_F(WaveOutPlayerTest, DamagedSoundParametersAreRefused) {
    const std::vector<uint8_t> bytes(4000, 0x11);
    for (const DamagedSound& c : kDamagedSound) {
        SCOPED_TRACE(c.what);
        WaveOutPlayer player;
        EXPECT_EQ(player.Open(c.rate, c.kind, c.bits, c.channels), 0);
        EXPECT_FALSE(player.IsOpen());
        EXPECT_EQ(player.Write(static_cast<int>(bytes.size()), bytes.data()), 0);
    }
    // A refused format leaves the player usable for a sound that makes sense.
    WaveOutPlayer player;
    EXPECT_EQ(player.Open(8000, WaveOutPlayer::kFormatPcm, 1073741824, 4), 0);
    ASSERT_EQ(player.Open(8000, WaveOutPlayer::kFormatPcm, 16, 1), 1);
    EXPECT_EQ(player.block_size(), 4000);
}

TEST_F(WaveOutPlayerTest, DispatchAudioWithDamagedParametersPlaysNothing) {
    PlaybackSound sound;
    const int32_t kinds[] = {AudioRecord::kMuLawA, AudioRecord::kMuLawB, AudioRecord::kAac, AudioRecord::kG726,
                             AudioRecord::kPcm};
    for (const DamagedSound& c : kDamagedSound) {
        // The dispatch picks the format kind itself; the rest are damaged for either kind.
        if (c.kind != WaveOutPlayer::kFormatPcm) continue;
        for (int32_t kind : kinds) {
            SCOPED_TRACE(std::string(c.what) + " kind " + std::to_string(kind));
            auto record = std::make_unique<AudioRecord>();
            record->kind = kind;
            record->sample_rate = c.rate;
            record->bits = c.bits;
            record->channels = c.channels;
            record->payload.assign(320, 0x22);
            sound.Dispatch(std::move(record));
            EXPECT_FALSE(sound.player().IsOpen());
            EXPECT_EQ(sound.player().staged(), 0);
        }
    }
    // A sound that makes sense after them still opens the device.
    auto record = std::make_unique<AudioRecord>();
    record->kind = AudioRecord::kPcm;
    record->sample_rate = 8000;
    record->bits = 16;
    record->channels = 1;
    record->payload.assign(320, 0);
    sound.Dispatch(std::move(record));
    EXPECT_TRUE(sound.player().IsOpen());
    EXPECT_EQ(sound.player().staged(), 320);
    sound.CloseDevice();
    sound.FinishClosing();
}

// Muted, a sound opens no device; sound on again gives back the volume it had and plays.
TEST_F(WaveOutPlayerTest, MuteKeepsTheVolumeAndOpensNothing) {
    const auto pcm = [] {
        auto record = std::make_unique<AudioRecord>();
        record->kind = AudioRecord::kPcm;
        record->sample_rate = 8000;
        record->bits = 16;
        record->channels = 1;
        record->payload.assign(320, 0);
        return record;
    };
    PlaybackSound sound;
    sound.SetVolume(60);
    sound.ToggleMute();
    EXPECT_FALSE(sound.SoundOn());
    EXPECT_EQ(sound.Volume(), 0);
    sound.Dispatch(pcm());
    EXPECT_FALSE(sound.DeviceOpen());
    EXPECT_FALSE(sound.player().IsOpen());
    sound.ToggleMute();
    EXPECT_TRUE(sound.SoundOn());
    EXPECT_EQ(sound.Volume(), 60);
    sound.Dispatch(pcm());
    EXPECT_TRUE(sound.DeviceOpen());
    EXPECT_TRUE(sound.player().IsOpen());
    sound.CloseDevice();
    sound.FinishClosing();
    EXPECT_FALSE(sound.DeviceOpen());
    EXPECT_FALSE(sound.player().IsOpen());
}

TEST(MuLawToPcm16, Table) {
    const struct {
        uint8_t in;
        int16_t out;
    } cases[] = {{0xFF, 0}, {0x7F, 0}, {0x80, 32124}, {0x00, -32124}, {0xF0, 120}, {0x70, -120}};
    for (const auto& c : cases) {
        uint8_t out[2];
        int n = 0;
        ASSERT_EQ(MuLawToPcm16(out, 1, &c.in, &n), 1);
        EXPECT_EQ(n, 2);
        EXPECT_EQ(static_cast<int16_t>(out[0] | (out[1] << 8)), c.out) << int(c.in);
    }
    uint8_t out[2];
    int n = 0;
    const uint8_t in = 0;
    EXPECT_EQ(MuLawToPcm16(out, 0, &in, &n), 0);
    EXPECT_EQ(MuLawToPcm16(nullptr, 1, &in, &n), 0);
}

}  // namespace
