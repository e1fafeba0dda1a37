#pragma once
// The sound device as the playback's audio player expects it: open with a
// format, hand it numbered blocks, get told when each block has been played.
// Built on SDL2's audio subsystem; G.711 mu-law is expanded here since SDL
// has no such format, and the volume is a software gain that outlives the device.
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace platform {

constexpr int kWaveFormatPcm = 1;
constexpr int kWaveFormatMuLaw = 7;

struct WaveFormat {
    int tag = kWaveFormatPcm;
    int channels = 1;
    int samples_per_sec = 8000;
    int avg_bytes_per_sec = 16000;
    int block_align = 2;
    int bits_per_sample = 16;
};

class WaveOutDevice {
public:
    using DoneCallback = std::function<void(int block)>;

    WaveOutDevice() = default;
    ~WaveOutDevice();
    WaveOutDevice(const WaveOutDevice&) = delete;
    WaveOutDevice& operator=(const WaveOutDevice&) = delete;

    // False when no sound device opens or the format is not playable.
    bool Open(const WaveFormat& format, DoneCallback done);
    bool IsOpen() const { return stream_ != nullptr; }
    // Queues one block; done(block) runs on the device's thread once it has been played.
    bool Write(int block, const uint8_t* data, size_t size);
    // Drops everything queued; the dropped blocks are reported done.
    void Reset();
    // Returns at once: the device is shut down on a thread of its own, since
    // that waits for the sound system's own thread (up to three device buffers).
    // The callback reports nothing after Close; the next Open does not wait for it.
    void Close();
    // Waits until every device closed before has been shut down (what it played is then on record).
    void FinishClosing();
    // Bytes queued and not yet played, in the device's own format.
    size_t PendingBytes() const;

    // Device-wide volume as waveOut keeps it: low word left, high word right, 0-0xFFFF each.
    static void SetVolume(uint32_t volume);
    static uint32_t GetVolume();

private:
    struct Block {
        int index = 0;
        std::vector<int16_t> samples;
        size_t played = 0;
    };
    // One opened device and all its callback touches, so a closing device
    // never reaches into the next one.
    struct Stream {
        uint32_t id = 0;
        WaveFormat format;
        DoneCallback done;
        std::mutex lock;
        std::deque<Block> blocks;
    };
    static void Callback(void* stream, uint8_t* out, int len);
    static void Fill(Stream& stream, uint8_t* out, int len);

    struct Closing {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> ended;
    };
    // Joins the closing threads that have ended.
    void JoinEndedCloses();

    std::unique_ptr<Stream> stream_;
    std::vector<Closing> closing_;
};

// ITU-T G.711 mu-law expansion of one byte. Inline, so that expanding
// mu-law (the exports do) does not link the sound device.
inline int16_t MuLawToLinear(uint8_t value) {
    const uint8_t u = static_cast<uint8_t>(~value);
    const int exponent = (u >> 4) & 7;
    const int mantissa = u & 15;
    const int magnitude = ((mantissa << 3) + 0x84) << exponent;
    return static_cast<int16_t>((u & 0x80) ? 0x84 - magnitude : magnitude - 0x84);
}

}  // namespace platform
