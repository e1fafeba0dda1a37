#include "checker/avi_preview.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

#include "checker/msvc16_decoder.h"

namespace {

using Clock = std::chrono::steady_clock;

int LibraryCodecId(int codec) {
    switch (codec) {
        case AviReader::kCodecMjpeg: return kCodecIdMjpeg;
        case AviReader::kCodecMpeg4: return kCodecIdMpeg4;
        case AviReader::kCodecH264: return kCodecIdH264;
        default: return -1;
    }
}

}  // namespace

int PreviewWaitMs(double frames_per_second, int32_t elapsed_ms) {
    if (!(frames_per_second > 0.0)) return 0;
    const int32_t frame_ms = static_cast<int32_t>(std::trunc(1000.0 / frames_per_second));
    const int32_t wait = frame_ms - elapsed_ms;
    return wait > 2 ? wait - 2 : 0;
}

bool Mpeg4ChunkHasVop(const uint8_t* data, size_t length) {
    if (!data || length < 100) return false;
    // The code may start at position 99 only when its four bytes are all there.
    const size_t last = std::min<size_t>(99, length - 4);
    for (size_t i = 0; i <= last; ++i)
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1 && data[i + 3] == 0xB6) return true;
    return false;
}

AviPreview::AviPreview(PreviewPictureSink* sink) : sink_(sink) {}

AviPreview::~AviPreview() { StopAviPreview(); }

bool AviPreview::StartAviPreview(const std::string& path) {
    StopAviPreview();
    if (!reader_.Open(path)) {
        if (reader_.IsOpen()) reader_.Close();
        return false;
    }
    if (reader_.width() <= 0 || reader_.height() <= 0 || reader_.width() > kMaxWidth ||
        reader_.height() > kMaxHeight) {
        reader_.Close();
        return false;
    }
    frames_per_second_ = reader_.frames_per_second();
    width_ = reader_.width();
    height_ = reader_.height();
    codec_ = reader_.codec();
    // Sized once for the largest picture; pictures of other files reuse them.
    if (chunk_.empty()) {
        chunk_.assign(kChunkBufferSize, 0);
        picture24_.assign(static_cast<size_t>(kMaxWidth) * kMaxHeight * 3, 0);
        picture16_.assign(static_cast<size_t>(kMaxWidth) * kMaxHeight, 0);
    } else {
        std::fill(picture16_.begin(), picture16_.end(), 0);
    }
    pictures_shown_ = 0;
    audio_chunks_ = 0;
    library_calls_ = 0;
    state_ = 1;
    stop_.Reset();
    run_ = 1;
    thread_ = std::thread(&AviPreview::AviPreviewThread, this);
    return true;
}

void AviPreview::StopAviPreview() {
    if (state_.load() == 1) {
        run_ = 0;
        platform::StopThread(stop_, thread_, [this] { audio_.WakeWaiters(); });
        codec_ = AviReader::kCodecUnknown;
        if (decoder_handle_.load() != kNoDecoder) {
            std::fill(picture24_.begin(), picture24_.end(), 0);
            if (PreviewPictureSink* sink = sink_.load()) sink->Blank();
        }
        decoder_.Close();
        decoder_handle_ = kNoDecoder;
        frames_per_second_ = -1.0;
        audio_opened_ = 0;
        if (reader_.IsOpen()) reader_.Close();
    }
    state_ = 0;
}

bool AviPreview::PrepareSink() {
    PreviewPictureSink* sink = sink_.load();
    return sink && sink->SetFrameSize(width_, height_);
}

void AviPreview::WaitUntil(Clock::time_point deadline) { stop_.WaitUntil(deadline); }

void AviPreview::HandleAudio(uint32_t size) {
    audio_chunks_.fetch_add(1);
    if (!audio_opened_) {
        audio_opened_ = 1;
        if (reader_.audio_format() == AviReader::kAudioMuLaw)
            audio_.Open(reader_.audio_sample_rate(), WaveOutPlayer::kFormatMuLaw, 8, reader_.audio_channels());
        else
            audio_.Open(reader_.audio_sample_rate(), WaveOutPlayer::kFormatPcm, 16, reader_.audio_channels());
    }
    if (audio_.IsOpen() && size > 0) audio_.Write(static_cast<int>(size), chunk_.data());
}

void AviPreview::Pace() {
    // The frame's time from the last picture, less the two milliseconds the
    // sleep of old was late by; a late picture is followed at once.
    const int32_t elapsed =
        static_cast<int32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - mark_).count());
    const int wait = PreviewWaitMs(frames_per_second_, elapsed);
    if (wait > 0) WaitUntil(Clock::now() + std::chrono::milliseconds(wait));
    mark_ = Clock::now();
}

void AviPreview::AviPreviewThread() {
    const size_t picture_bytes = static_cast<size_t>(width_) * height_ * 3;
    const int codec = codec_.load();
    PreviewPictureSink* const sink = sink_.load();
    mark_ = Clock::now();
    while (run_.load()) {
        uint32_t size = 0;
        if (!reader_.ReadChunk(chunk_.data(), chunk_.size(), &size)) {
            run_ = 0;
            break;
        }
        const int kind = reader_.last_chunk_kind();
        if (kind == AviReader::kChunkAudio) {
            HandleAudio(size);
        } else if (kind == AviReader::kChunkVideo) {
            if (codec == AviReader::kCodecMsvc) {
                if (decoder_handle_.load() == kNoDecoder) {
                    decoder_handle_ = kOwnDecoder;
                    PrepareSink();
                }
                DecodeMsvc16(picture16_.data(), chunk_.data(), size, width_, height_);
                Rgb555ToBgr24(picture24_.data(), picture16_.data(), width_, height_);
                if (sink) sink->ShowFrame(picture24_.data(), picture_bytes);
                pictures_shown_.fetch_add(1);
                Pace();
            } else {
                if (decoder_handle_.load() == kNoDecoder) {
                    const int id = LibraryCodecId(codec);
                    if (id >= 0 && decoder_.OpenVideo(id, width_, height_)) {
                        decoder_handle_ = kLibraryDecoder;
                        PrepareSink();
                    }
                }
                const bool skip = codec == AviReader::kCodecMpeg4 && !Mpeg4ChunkHasVop(chunk_.data(), size);
                // Without a decoder (unknown handler) no picture can come out.
                if (!skip && size > 0 && decoder_handle_.load() >= 0) {
                    library_calls_.fetch_add(1);
                    size_t produced = 0;
                    if (decoder_.DecodeVideo(chunk_.data(), size, picture24_.data(), picture24_.size(),
                                             &produced) &&
                        produced == picture_bytes) {
                        if (sink) sink->ShowFrame(picture24_.data(), picture_bytes);
                        pictures_shown_.fetch_add(1);
                        Pace();
                    }
                }
            }
        }
        // Sound ahead of the pictures: let the device play some of it first.
        if (audio_.IsOpen() && audio_.queued() > kMaxQueuedAudioBlocks) {
            audio_.WaitQueuedAtMost(kMaxQueuedAudioBlocks, Clock::now() + std::chrono::milliseconds(5),
                                    [this] { return run_.load() == 0; });
            mark_ = Clock::now();
        }
    }
    audio_.Close();
    audio_opened_ = 0;
}
