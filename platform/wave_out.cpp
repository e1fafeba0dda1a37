#include "platform/wave_out.h"

#include <SDL2/SDL.h>

#include <atomic>

namespace platform {
namespace {

std::mutex g_init_lock;
int g_init_count = 0;
std::atomic<uint32_t> g_volume{0xFFFFFFFFu};

bool InitAudio() {
    std::lock_guard<std::mutex> guard(g_init_lock);
    if (g_init_count == 0 && SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
    ++g_init_count;
    return true;
}

void QuitAudio() {
    std::lock_guard<std::mutex> guard(g_init_lock);
    if (g_init_count > 0 && --g_init_count == 0) SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

}  // namespace

int16_t MuLawToLinear(uint8_t value) {
    const uint8_t u = static_cast<uint8_t>(~value);
    const int exponent = (u >> 4) & 7;
    const int mantissa = u & 15;
    const int magnitude = ((mantissa << 3) + 0x84) << exponent;
    return static_cast<int16_t>((u & 0x80) ? 0x84 - magnitude : magnitude - 0x84);
}

WaveOutDevice::~WaveOutDevice() { Close(); }

bool WaveOutDevice::Open(const WaveFormat& format, DoneCallback done) {
    Close();
    const bool mulaw = format.tag == kWaveFormatMuLaw && format.bits_per_sample == 8;
    const bool pcm = format.tag == kWaveFormatPcm && (format.bits_per_sample == 8 || format.bits_per_sample == 16);
    if ((!mulaw && !pcm) || format.channels < 1 || format.channels > 8 || format.samples_per_sec < 1000 ||
        format.samples_per_sec > 384000)
        return false;
    if (!InitAudio()) return false;
    SDL_AudioSpec want{};
    want.freq = format.samples_per_sec;
    want.format = AUDIO_S16SYS;
    want.channels = static_cast<Uint8>(format.channels);
    want.samples = 1024;
    want.callback = &WaveOutDevice::Callback;
    want.userdata = this;
    SDL_AudioSpec have{};
    const SDL_AudioDeviceID id = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (id == 0) {
        QuitAudio();
        return false;
    }
    format_ = format;
    done_ = std::move(done);
    device_ = id;
    SDL_PauseAudioDevice(id, 0);
    return true;
}

bool WaveOutDevice::Write(int block, const uint8_t* data, size_t size) {
    if (!device_ || (!data && size)) return false;
    Block b;
    b.index = block;
    if (format_.bits_per_sample == 8) {
        b.samples.resize(size);
        for (size_t i = 0; i < size; ++i) {
            b.samples[i] = format_.tag == kWaveFormatMuLaw ? MuLawToLinear(data[i])
                                                           : static_cast<int16_t>((data[i] - 128) << 8);
        }
    } else {
        b.samples.resize(size / 2);
        for (size_t i = 0; i < b.samples.size(); ++i) {
            b.samples[i] = static_cast<int16_t>(data[2 * i] | (data[2 * i + 1] << 8));
        }
    }
    std::lock_guard<std::mutex> guard(lock_);
    blocks_.push_back(std::move(b));
    return true;
}

void WaveOutDevice::Callback(void* self, uint8_t* stream, int len) {
    static_cast<WaveOutDevice*>(self)->Fill(stream, len);
}

void WaveOutDevice::Fill(uint8_t* stream, int len) {
    auto* out = reinterpret_cast<int16_t*>(stream);
    size_t want = static_cast<size_t>(len) / 2;
    const int32_t gain = static_cast<int32_t>(g_volume.load() & 0xFFFF);
    std::vector<int> finished;
    {
        std::lock_guard<std::mutex> guard(lock_);
        while (want > 0 && !blocks_.empty()) {
            Block& b = blocks_.front();
            while (want > 0 && b.played < b.samples.size()) {
                *out++ = static_cast<int16_t>(static_cast<int32_t>(b.samples[b.played++]) * gain / 0xFFFF);
                --want;
            }
            if (b.played >= b.samples.size()) {
                finished.push_back(b.index);
                blocks_.pop_front();
            }
        }
    }
    while (want-- > 0) *out++ = 0;
    if (done_) {
        for (int index : finished) done_(index);
    }
}

void WaveOutDevice::Reset() {
    if (!device_) return;
    std::deque<Block> dropped;
    SDL_LockAudioDevice(device_);
    {
        std::lock_guard<std::mutex> guard(lock_);
        dropped.swap(blocks_);
    }
    SDL_UnlockAudioDevice(device_);
    if (done_) {
        for (const Block& b : dropped) done_(b.index);
    }
}

void WaveOutDevice::Close() {
    if (!device_) return;
    Reset();
    SDL_CloseAudioDevice(device_);
    device_ = 0;
    done_ = nullptr;
    QuitAudio();
}

size_t WaveOutDevice::PendingBytes() const {
    std::lock_guard<std::mutex> guard(lock_);
    size_t samples = 0;
    for (const Block& b : blocks_) samples += b.samples.size() - b.played;
    return samples * 2;
}

void WaveOutDevice::SetVolume(uint32_t volume) { g_volume = volume; }
uint32_t WaveOutDevice::GetVolume() { return g_volume.load(); }

}  // namespace platform
