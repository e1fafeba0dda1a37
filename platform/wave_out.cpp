#include "platform/wave_out.h"

#include <SDL2/SDL.h>

#include <algorithm>
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

WaveOutDevice::~WaveOutDevice() {
    Close();
    FinishClosing();
}

void WaveOutDevice::FinishClosing() {
    for (Closing& closing : closing_) closing.thread.join();
    closing_.clear();
}

void WaveOutDevice::JoinEndedCloses() {
    std::erase_if(closing_, [](Closing& closing) {
        if (!*closing.ended) return false;
        closing.thread.join();
        return true;
    });
}

bool WaveOutDevice::Open(const WaveFormat& format, DoneCallback done) {
    // The device closed last may still be shutting down on its own thread: the new one
    // opens beside it rather than after it, so the sound that follows a stop or a change
    // of format (and whatever the thread that opens it does next) does not wait for that.
    Close();
    JoinEndedCloses();
    const bool mulaw = format.tag == kWaveFormatMuLaw && format.bits_per_sample == 8;
    const bool pcm = format.tag == kWaveFormatPcm && (format.bits_per_sample == 8 || format.bits_per_sample == 16);
    if ((!mulaw && !pcm) || format.channels < 1 || format.channels > 8 || format.samples_per_sec < 1000 ||
        format.samples_per_sec > 384000)
        return false;
    if (!InitAudio()) return false;
    auto stream = std::make_unique<Stream>();
    stream->format = format;
    stream->done = std::move(done);
    SDL_AudioSpec want{};
    want.freq = format.samples_per_sec;
    want.format = AUDIO_S16SYS;
    want.channels = static_cast<Uint8>(format.channels);
    // Closing a device waits out two of its buffers after the one it is playing: a buffer of
    // at most about 32 ms (30 callbacks a second or more) keeps a close short, and so the end
    // of the program (1024 samples at 8 kHz made it up to 384 ms). The blocks queued here
    // hold the sound, not the buffer.
    int samples = 64;
    while (samples * 2 <= format.samples_per_sec / 30) samples *= 2;
    want.samples = static_cast<Uint16>(samples);
    want.callback = &WaveOutDevice::Callback;
    want.userdata = stream.get();
    SDL_AudioSpec have{};
    const SDL_AudioDeviceID id = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (id == 0) {
        QuitAudio();
        return false;
    }
    stream->id = id;
    stream_ = std::move(stream);
    SDL_PauseAudioDevice(id, 0);
    return true;
}

bool WaveOutDevice::Write(int block, const uint8_t* data, size_t size) {
    if (!stream_ || (!data && size)) return false;
    const WaveFormat& format = stream_->format;
    Block b;
    b.index = block;
    if (format.bits_per_sample == 8) {
        b.samples.resize(size);
        for (size_t i = 0; i < size; ++i) {
            b.samples[i] = format.tag == kWaveFormatMuLaw ? MuLawToLinear(data[i])
                                                          : static_cast<int16_t>((data[i] - 128) << 8);
        }
    } else {
        b.samples.resize(size / 2);
        for (size_t i = 0; i < b.samples.size(); ++i) {
            b.samples[i] = static_cast<int16_t>(data[2 * i] | (data[2 * i + 1] << 8));
        }
    }
    std::lock_guard<std::mutex> guard(stream_->lock);
    stream_->blocks.push_back(std::move(b));
    return true;
}

void WaveOutDevice::Callback(void* stream, uint8_t* out, int len) {
    Fill(*static_cast<Stream*>(stream), out, len);
}

void WaveOutDevice::Fill(Stream& stream, uint8_t* bytes, int len) {
    auto* out = reinterpret_cast<int16_t*>(bytes);
    size_t want = static_cast<size_t>(len) / 2;
    const int32_t gain = static_cast<int32_t>(g_volume.load() & 0xFFFF);
    std::vector<int> finished;
    {
        std::lock_guard<std::mutex> guard(stream.lock);
        while (want > 0 && !stream.blocks.empty()) {
            Block& b = stream.blocks.front();
            while (want > 0 && b.played < b.samples.size()) {
                *out++ = static_cast<int16_t>(static_cast<int32_t>(b.samples[b.played++]) * gain / 0xFFFF);
                --want;
            }
            if (b.played >= b.samples.size()) {
                finished.push_back(b.index);
                stream.blocks.pop_front();
            }
        }
    }
    while (want-- > 0) *out++ = 0;
    // The device lock, held round this callback, keeps Close from clearing done meanwhile.
    if (stream.done) {
        for (int index : finished) stream.done(index);
    }
}

void WaveOutDevice::Reset() {
    if (!stream_) return;
    std::deque<Block> dropped;
    SDL_LockAudioDevice(stream_->id);
    {
        std::lock_guard<std::mutex> guard(stream_->lock);
        dropped.swap(stream_->blocks);
    }
    SDL_UnlockAudioDevice(stream_->id);
    if (stream_->done) {
        for (const Block& b : dropped) stream_->done(b.index);
    }
}

void WaveOutDevice::Close() {
    if (!stream_) return;
    Reset();
    SDL_LockAudioDevice(stream_->id);
    stream_->done = nullptr;
    SDL_UnlockAudioDevice(stream_->id);
    JoinEndedCloses();
    auto ended = std::make_shared<std::atomic<bool>>(false);
    closing_.push_back({std::thread([stream = std::move(stream_), ended] {
                            SDL_CloseAudioDevice(stream->id);
                            QuitAudio();
                            *ended = true;
                        }),
                        ended});
}

size_t WaveOutDevice::PendingBytes() const {
    if (!stream_) return 0;
    std::lock_guard<std::mutex> guard(stream_->lock);
    size_t samples = 0;
    for (const Block& b : stream_->blocks) samples += b.samples.size() - b.played;
    return samples * 2;
}

void WaveOutDevice::SetVolume(uint32_t volume) { g_volume = volume; }
uint32_t WaveOutDevice::GetVolume() { return g_volume.load(); }

}  // namespace platform
