#pragma once
// Plays an AVI file of the checker's list into one picture sink: a worker
// reads the movi chunks, decodes the video, paces the pictures by the file's
// frame rate and sends PCM or mu-law audio to the sound output.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "checker/avi_reader.h"
#include "media/media_decoder.h"
#include "media/wave_out_player.h"
#include "platform/cancellable_wait.h"

// The viewer the preview draws into. SetFrameSize and ShowFrame come from the
// preview thread; Blank from the thread that stops the preview.
class PreviewPictureSink {
public:
    virtual ~PreviewPictureSink() = default;
    virtual bool SetFrameSize(int width, int height) = 0;
    // width x height x 3 bytes, blue-green-red, top row first.
    virtual void ShowFrame(const uint8_t* picture, size_t length) = 0;
    virtual void Blank() = 0;
};

// Milliseconds to sleep after a picture that took elapsed_ms since the last
// one; 0 means only yield. Two milliseconds are left for the sleep's own lateness.
int PreviewWaitMs(double frames_per_second, int32_t elapsed_ms);

// An MPEG-4 chunk is worth decoding only when it is at least 100 bytes long and
// a VOP start code (00 00 01 B6) begins within its first 100 bytes.
bool Mpeg4ChunkHasVop(const uint8_t* data, size_t length);

class AviPreview {
public:
    static constexpr size_t kChunkBufferSize = 4000000;
    static constexpr int kMaxWidth = 1920;
    static constexpr int kMaxHeight = 1080;
    static constexpr int kNoDecoder = -1;
    static constexpr int kOwnDecoder = -2;  // Microsoft Video 1
    static constexpr int kLibraryDecoder = 0;
    static constexpr int kMaxQueuedAudioBlocks = 4;

    explicit AviPreview(PreviewPictureSink* sink);
    ~AviPreview();
    AviPreview(const AviPreview&) = delete;
    AviPreview& operator=(const AviPreview&) = delete;

    // Stops any preview, then opens path and starts the worker. False (nothing
    // started) for a file the reader refuses or a picture beyond 1920 x 1080.
    bool StartAviPreview(const std::string& path);
    // Only while idle; a running worker keeps the sink it started with.
    void SetSink(PreviewPictureSink* sink) {
        if (state_.load() == 0) sink_ = sink;
    }
    // Ends the worker and, when it had shown pictures, blanks the sink.
    void StopAviPreview();

    int state() const { return state_.load(); }
    // True while the worker has not reached the end of the file.
    bool running() const { return run_.load() != 0; }
    int decoder_handle() const { return decoder_handle_.load(); }
    int pictures_shown() const { return pictures_shown_.load(); }
    int audio_chunks() const { return audio_chunks_.load(); }
    int library_calls() const { return library_calls_.load(); }
    double frames_per_second() const { return frames_per_second_; }
    int width() const { return width_; }
    int height() const { return height_; }
    int codec() const { return codec_.load(); }

private:
    void AviPreviewThread();
    void HandleAudio(uint32_t size);
    bool PrepareSink();
    void Pace();
    // Waits until the deadline unless the preview is stopped meanwhile.
    void WaitUntil(std::chrono::steady_clock::time_point deadline);

    // Set on the window thread while idle; read by the worker.
    std::atomic<PreviewPictureSink*> sink_;
    AviReader reader_;
    std::atomic<int> state_{0};
    std::atomic<int> run_{0};
    std::thread thread_;
    double frames_per_second_ = -1.0;
    int width_ = 0;
    int height_ = 0;
    // Cleared by the window thread when it stops the preview.
    std::atomic<int> codec_{AviReader::kCodecUnknown};
    // Stopped with the preview: the pacing wait ends at once.
    platform::CancellableWait stop_;
    std::atomic<int> decoder_handle_{kNoDecoder};
    std::atomic<int> pictures_shown_{0};
    std::atomic<int> audio_chunks_{0};
    std::atomic<int> library_calls_{0};

    std::vector<uint8_t> chunk_;
    std::vector<uint8_t> picture24_;
    std::vector<uint16_t> picture16_;
    MediaDecoder decoder_;
    WaveOutPlayer audio_;
    int audio_opened_ = 0;
    std::chrono::steady_clock::time_point mark_;
};
