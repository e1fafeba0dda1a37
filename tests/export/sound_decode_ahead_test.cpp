#include "export/sound_decode_ahead.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "export/export_output.h"
#include "media/disk_format.h"
#include "media/media_decoder.h"
#include "tests/support/temp_folder.h"
#include "tools/common/sample_media.h"

namespace {

struct Stream {
    std::vector<SoundDecodeAhead::Sound> sounds;
    std::vector<int> durations_ms;
};

// count packets of a tone in codec, as the recorder stores them.
void AppendTone(sample::SampleAudioCodec codec, int count, Stream* stream) {
    std::string error;
    auto encoder = sample::SampleAudioEncoder::Create(codec, &error);
    ASSERT_TRUE(encoder) << error;
    for (int i = 0; i < count; ++i) {
        sample::EncodedPacket packet;
        int duration = 0;
        ASSERT_TRUE(encoder->EncodeNext(&packet, &duration)) << encoder->last_error();
        SoundDecodeAhead::Sound sound;
        sound.source = codec == sample::SampleAudioCodec::Aac ? PcmSource::kAac : PcmSource::kG726;
        sound.sample_rate = encoder->sample_rate();
        sound.channels = encoder->channels();
        sound.data = packet.data;
        stream->sounds.push_back(std::move(sound));
        stream->durations_ms.push_back(duration);
    }
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// What the writer asks, in its order: a sound's PCM (fresh: its own decoder
// would be released right before it).
struct Ask {
    int64_t number;
    bool fresh;
};

std::vector<Ask> Takes(int64_t from, int64_t to, bool fresh_first) {
    std::vector<Ask> asks;
    for (int64_t n = from; n < to; ++n) asks.push_back({n, fresh_first && n == from});
    return asks;
}

std::vector<Ask> Join(std::vector<std::vector<Ask>> parts) {
    std::vector<Ask> all;
    for (auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

// Whatever the order the writer asks in, each sound's PCM is what one decoder
// gives that takes the sounds in that order, released where the writer says:
// the decoder ahead goes back when it decoded a sound on another run. The
// sounds come in small batches from a thread of their own while the writer takes.
TEST(SoundDecodeAhead, PcmIsWhatTheWritersOwnDecoderWouldGive) {
    av_log_set_level(AV_LOG_QUIET);
    Stream stream;
    AppendTone(sample::SampleAudioCodec::Aac, 20, &stream);
    AppendTone(sample::SampleAudioCodec::G726, 20, &stream);
    const int64_t n = static_cast<int64_t>(stream.sounds.size());
    struct Case {
        const char* name;
        std::vector<Ask> asks;
    } cases[] = {
        {"all in order", Takes(0, n, true)},
        {"released at the change of codec", Join({Takes(0, 20, true), Takes(20, n, true)})},
        {"released in the middle of a codec", Join({Takes(0, 9, true), Takes(9, n, true)})},
        {"the first ones never asked for", Takes(6, n, true)},
        {"released twice close together", Join({Takes(0, 2, true), Takes(2, 3, true), Takes(3, n, true)})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SoundToPcmOptions options;
        options.aac_rate_from_header = false;
        SoundDecodeAhead ahead;
        ahead.Start(options);
        // As in the export, a sound is added before the writer can ask for it.
        std::mutex mutex;
        std::condition_variable more;
        int64_t added = 0;
        std::thread reader([&] {
            std::vector<SoundDecodeAhead::Sound> batch;
            for (size_t i = 0; i < stream.sounds.size(); ++i) {
                batch.push_back(stream.sounds[i]);
                if (batch.size() < 3 && i + 1 < stream.sounds.size()) continue;
                ahead.Add(batch);
                std::lock_guard<std::mutex> lock(mutex);
                added = static_cast<int64_t>(i + 1);
                more.notify_all();
            }
        });
        MediaDecoder reference;
        int state = 0;
        std::vector<uint8_t> scratch;
        int taken = 0;
        for (const Ask& ask : c.asks) {
            {
                std::unique_lock<std::mutex> lock(mutex);
                more.wait(lock, [&] { return added > ask.number; });
            }
            if (ask.fresh) {
                reference.Release();
                state = 0;
            }
            const auto& sound = stream.sounds[static_cast<size_t>(ask.number)];
            const uint8_t* pcm = nullptr;
            size_t bytes = 0;
            const bool ok = ConvertSoundToPcm(&reference, &state, options, sound.source, sound.data.data(),
                                              sound.data.size(), sound.sample_rate, sound.channels, &scratch, &pcm,
                                              &bytes);
            SoundDecodeAhead::Decoded decoded;
            const SoundDecodeAhead::Taken got = ahead.Take(ask.number, ask.fresh, &decoded);
            EXPECT_EQ(got, SoundDecodeAhead::Taken::kDecoded) << "sound " << ask.number;
            EXPECT_EQ(decoded.ok, ok) << "sound " << ask.number;
            // The rest would only repeat the failure; the reader is still joined.
            if (got != SoundDecodeAhead::Taken::kDecoded || decoded.ok != ok) break;
            if (!ok) continue;
            ++taken;
            EXPECT_EQ(decoded.pcm, std::vector<uint8_t>(pcm, pcm + bytes)) << "sound " << ask.number;
            EXPECT_EQ(decoded.rate, reference.audio_sample_rate()) << "sound " << ask.number;
            EXPECT_EQ(decoded.channels, reference.audio_channels()) << "sound " << ask.number;
        }
        reader.join();
        ahead.Stop();
        // Sounds gave PCM (not those of the other codec on an unreleased
        // decoder): the comparison is not between two empty outputs.
        EXPECT_GE(taken, 8);
    }
}

// A sound asked for out of the order the decoder ahead took them in cannot
// be given: the writer decodes it itself.
TEST(SoundDecodeAhead, ASoundThatDoesNotFollowTheLastTakenIsNotGiven) {
    av_log_set_level(AV_LOG_QUIET);
    Stream stream;
    AppendTone(sample::SampleAudioCodec::G726, 10, &stream);
    SoundDecodeAhead ahead;
    ahead.Start(SoundToPcmOptions{});
    std::vector<SoundDecodeAhead::Sound> sounds = stream.sounds;
    ahead.Add(sounds);
    SoundDecodeAhead::Decoded decoded;
    for (int64_t number = 0; number < 4; ++number)
        ASSERT_EQ(ahead.Take(number, number == 0, &decoded), SoundDecodeAhead::Taken::kDecoded);
    EXPECT_EQ(ahead.Take(5, false, &decoded), SoundDecodeAhead::Taken::kNotHere);
    // From a release on it follows again.
    EXPECT_EQ(ahead.Take(7, true, &decoded), SoundDecodeAhead::Taken::kDecoded);
    EXPECT_EQ(ahead.Take(8, false, &decoded), SoundDecodeAhead::Taken::kDecoded);
    // One that was never added.
    EXPECT_EQ(ahead.Take(12, true, &decoded), SoundDecodeAhead::Taken::kNotHere);
    // Once the writer decodes on its own, nothing is given for the channel.
    ahead.Skip();
    sounds = stream.sounds;
    ahead.Add(sounds);
    EXPECT_EQ(ahead.Take(13, true, &decoded), SoundDecodeAhead::Taken::kNotHere);
    ahead.Stop();
}

// More sound than the thread decodes ahead (its PCM bound): it waits for the
// writer, goes on when sounds are taken or passed over, and still gives the
// PCM of the writer's own decoder.
TEST(SoundDecodeAhead, ThreadHeldAtItsBoundGoesOnWhenTheWriterMovesOn) {
    av_log_set_level(AV_LOG_QUIET);
    Stream tone;
    AppendTone(sample::SampleAudioCodec::Aac, 50, &tone);
    // Each packet gives 2 KiB of PCM: 9000 of them are more than twice the bound.
    constexpr int64_t kCount = 9000;
    std::vector<SoundDecodeAhead::Sound> sounds;
    for (int64_t i = 0; i < kCount; ++i) sounds.push_back(tone.sounds[static_cast<size_t>(i) % tone.sounds.size()]);
    const std::vector<SoundDecodeAhead::Sound> all = sounds;
    SoundToPcmOptions options;
    SoundDecodeAhead ahead;
    ahead.Start(options);
    ahead.Add(sounds);
    MediaDecoder reference;
    int state = 0;
    std::vector<uint8_t> scratch;
    // The sounds in between are passed over while the thread is held with their PCM.
    const std::vector<Ask> asks = Join({Takes(0, 100, true), Takes(5000, kCount, true)});
    size_t same = 0;
    for (const Ask& ask : asks) {
        if (ask.fresh) {
            reference.Release();
            state = 0;
        }
        const auto& sound = all[static_cast<size_t>(ask.number)];
        const uint8_t* pcm = nullptr;
        size_t bytes = 0;
        const bool ok = ConvertSoundToPcm(&reference, &state, options, sound.source, sound.data.data(),
                                          sound.data.size(), sound.sample_rate, sound.channels, &scratch, &pcm, &bytes);
        SoundDecodeAhead::Decoded decoded;
        ASSERT_EQ(ahead.Take(ask.number, ask.fresh, &decoded), SoundDecodeAhead::Taken::kDecoded) << ask.number;
        ASSERT_EQ(decoded.ok, ok) << ask.number;
        if (ok && decoded.pcm == std::vector<uint8_t>(pcm, pcm + bytes)) ++same;
    }
    ahead.Stop();
    EXPECT_EQ(same, asks.size());
}

// One channel's records through the output with the sound decoded here and
// with it decoded ahead give the same files byte for byte, across changes of
// the sound's codec (the part waits for its key picture with the new sound
// held, and the decoder is released), of the picture size (the sound that
// fits goes on into the running part), a time jump and the part span.
TEST(SoundDecodeAhead, OriginalFramesPartsAreTheSameAsWithTheSoundDecodedHere) {
    av_log_set_level(AV_LOG_QUIET);
    Stream aac;
    AppendTone(sample::SampleAudioCodec::Aac, 100, &aac);
    Stream g726;
    AppendTone(sample::SampleAudioCodec::G726, 100, &g726);

    struct Timed {
        ExportRecord record;
        std::vector<uint8_t> data;
    };
    // 200 s of 10 pictures a second (a key picture every 2 s; 704x576 from
    // 60 s to 150 s), a jump of 5 s at 100 s, sound as recorded in between:
    // AAC, G.726 from 40 s, AAC from 120 s.
    std::vector<Timed> records;
    size_t next_aac = 0, next_g726 = 0;
    int64_t sound_clock = 0;
    int64_t sound_number = 0;
    for (int64_t tick = 0; tick < 2000; ++tick) {
        const int64_t ms = tick * 100 + (tick >= 1000 ? 5000 : 0);
        Timed picture;
        picture.record.video = true;
        picture.record.codec = diskformat::kCodecH264;
        picture.record.decoder = 2;
        const bool large = tick >= 600 && tick < 1500;
        picture.record.width = large ? 704 : 352;
        picture.record.height = large ? 576 : 288;
        picture.record.key = tick % 20 == 0;
        picture.record.stamp = ms;
        picture.data.assign(64 + static_cast<size_t>(tick % 7), static_cast<uint8_t>(tick));
        records.push_back(std::move(picture));
        while (sound_clock < tick * 100 + 100) {
            const bool g = tick >= 400 && tick < 1200;
            Stream& from = g ? g726 : aac;
            // The tone's packets over again, as long as the sound goes on.
            size_t& next = g ? next_g726 : next_aac;
            const size_t at = next++ % from.sounds.size();
            const auto& sound = from.sounds[at];
            Timed timed;
            timed.record.coding = g ? SoundCoding::kG726 : SoundCoding::kAac;
            timed.record.codec = g ? diskformat::kAudioG726 : diskformat::kAudioAac;
            timed.record.bits = 16;
            timed.record.rate = sound.sample_rate;
            timed.record.channels = sound.channels;
            timed.record.stamp = ms;
            timed.record.sound_number = sound_number++;
            timed.data = sound.data;
            sound_clock += from.durations_ms[at];
            records.push_back(std::move(timed));
        }
    }

    auto export_channel = [&](const std::string& folder, SoundDecodeAhead* ahead) {
        std::filesystem::create_directories(folder);
        ExportOutput output;
        ExportOutputOptions options;
        options.aac_format_from_adts = true;
        options.original_aac_rate_fixed = true;
        output.SetOptions(options);
        output.SetSoundDecodeAhead(ahead);
        output.BeginExport();
        output.BeginChannel(folder, "CH01", ExportFormat::kOriginal);
        if (ahead) {
            ahead->Start(output.SoundOptions());
            std::vector<SoundDecodeAhead::Sound> sounds;
            for (const Timed& t : records) {
                if (t.record.sound_number < 0) continue;
                SoundDecodeAhead::Sound& sound = sounds.emplace_back();
                sound.source = t.record.coding == SoundCoding::kAac ? PcmSource::kAac : PcmSource::kG726;
                sound.sample_rate = t.record.rate;
                sound.channels = t.record.channels;
                sound.data = t.data;
            }
            ahead->Add(sounds);
        }
        const ExportRecord& first_sound = records[1].record;
        PartSound sound = ExportOutput::WrittenSound(first_sound.coding, first_sound.bits, first_sound.channels,
                                                     first_sound.rate, records[1].data.data(),
                                                     records[1].data.size(), true);
        output.OpenFirstPart(diskformat::kCodecH264, 2, 352, 288, first_sound.coding, sound);
        for (const Timed& t : records) {
            ExportRecord record = t.record;
            // Without the decoding ahead every sound is decoded here.
            if (!ahead) record.sound_number = -1;
            record.data = t.data.data();
            record.length = t.data.size();
            output.Feed(record);
        }
        output.EndOfRange();
        output.EndChannel();
        if (ahead) ahead->Stop();
        EXPECT_FALSE(output.failed());
        return output.parts();
    };
    TempFolder tmp;
    const std::vector<ExportedPart> here = export_channel(tmp.Sub("here"), nullptr);
    SoundDecodeAhead ahead;
    const std::vector<ExportedPart> decoded_ahead = export_channel(tmp.Sub("ahead"), &ahead);
    // Parts for the span, the codec changes, the size changes and the jump.
    ASSERT_GE(here.size(), 6u);
    ASSERT_EQ(decoded_ahead.size(), here.size());
    for (size_t i = 0; i < here.size(); ++i) {
        SCOPED_TRACE(here[i].path);
        EXPECT_EQ(std::filesystem::path(decoded_ahead[i].path).filename(),
                  std::filesystem::path(here[i].path).filename());
        EXPECT_EQ(decoded_ahead[i].video_frames, here[i].video_frames);
        EXPECT_TRUE(decoded_ahead[i].whole);
        const std::string bytes = ReadAll(here[i].path);
        EXPECT_GT(bytes.size(), 4096u);
        EXPECT_TRUE(ReadAll(decoded_ahead[i].path) == bytes);
    }
}

}  // namespace
