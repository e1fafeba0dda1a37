#include "media/decode_process.h"

#include <chrono>
#include <cmath>

#include "media/disk_format.h"
#include "media/media_decoder.h"

bool IsKeyFrame(int32_t codec, const std::vector<uint8_t>& p) {
    switch (codec) {
        case static_cast<int32_t>(VideoCodec::kMjpeg): return p.size() >= 2 && p[0] == 0xFF && p[1] == 0xD8;
        case static_cast<int32_t>(VideoCodec::kMpeg4): return p.size() >= 5 && p[4] < 64;
        case static_cast<int32_t>(VideoCodec::kH264): return p.size() >= 5 && (p[4] & 0x1F) == 7;
        default: return false;
    }
}

int32_t PacingInterval(int32_t fps, int32_t speed, int32_t previous) {
    if (fps <= 0) return previous;
    if (speed >= 1) return static_cast<int32_t>(997.0 / fps / speed + 0.5);
    // Speed 0 never comes from the transport; treat it as normal speed.
    if (speed == 0) return static_cast<int32_t>(997.0 / fps + 0.5);
    return static_cast<int32_t>(std::abs(speed) * 997.0 / fps);
}

CDecodeProcess::CDecodeProcess() : decoder_(std::make_unique<MediaDecoder>()) {}

CDecodeProcess::~CDecodeProcess() {
    Stop();
    decoder_->Release();
}

void CDecodeProcess::Start() {
    if (thread_.joinable()) return;
    run = 1;
    thread_done_ = false;
    thread_ = std::thread([this] { ThreadProc(); });
}

void CDecodeProcess::ThreadProc() {
    DecodeLoop();
    {
        std::lock_guard<std::mutex> guard(done_lock_);
        thread_done_ = true;
    }
    done_cv_.notify_all();
}

int32_t CDecodeProcess::frame_rate() const {
    std::lock_guard<std::mutex> guard(counter_lock_);
    return counter_.rate();
}

void CDecodeProcess::PushFrame(std::unique_ptr<FrameRecord> record) {
    if (!record) return;
    if (run != 1) return;
    queue_.Push(std::move(record));
    std::lock_guard<std::mutex> guard(counter_lock_);
    counter_.Tick();
}

void CDecodeProcess::Stop() {
    has_picture = 0;
    run = 0;
    if (thread_.joinable()) {
        // Every wait in the loop watches run, so the thread ends within a few ms.
        std::unique_lock<std::mutex> guard(done_lock_);
        done_cv_.wait_for(guard, std::chrono::milliseconds(2000), [this] { return thread_done_.load(); });
        guard.unlock();
        thread_.join();
    }
    queue_.Clear();
    CloseDecoder();
    ClearViewer();
    picture_.clear();
    picture_.shrink_to_fit();
}

void CDecodeProcess::CloseDecoder() {
    decoder_->Close();
    decoder_open_ = 0;
}

void CDecodeProcess::ClearViewer() {
    if (viewer && viewer->HasVideo()) viewer->ClearVideo();
}

void CDecodeProcess::SetOsdTitle(const FrameRecord& record) {
    if (!viewer) return;
    const int w = record.char_width == 1 ? 1 : record.char_width == 2 ? 2 : 4;
    std::u16string title;
    for (size_t i = 0; i + static_cast<size_t>(w) <= record.title.size(); i += static_cast<size_t>(w)) {
        const char16_t c = w == 1 ? record.title[i] : static_cast<char16_t>(record.title[i] | (record.title[i + 1] << 8));
        if (c == 0) break;
        title.push_back(c);
    }
    viewer->SetCameraName(Utf16ToUtf8(title));
}

void CDecodeProcess::ShowPicture(int width, int height, const uint8_t* picture) {
    if (!viewer) return;
    if (!viewer->HasVideo()) viewer->SetFrameSize(width, height);
    viewer->ShowFrame(width * height * 3, picture);
    viewer->RequestRepaint();
}

void CDecodeProcess::Nap(int32_t ms) { InterruptibleSleep(ms, &run); }

void CDecodeProcess::DecodeLoop() {
    active = 1;
    timer_.Start();
    flush_request = 0;
    Nap(5);
    interval_ = 33;
    int last_width = -1, last_height = -1, last_codec = -1;
    bool need_key = false;
    while (run == 1) {
        if (active == 0) {
            Nap(3);
            continue;
        }
        if (flush_request == 1) {
            flush_request = 0;
            queue_.Clear();
            Nap(50);
            need_key = true;
        }
        std::unique_ptr<FrameRecord> record = queue_.Pop();
        if (!record) {
            has_picture = 0;
            Nap(queue_.GetCount() > 0 ? 2 : 5);
            timer_.Start();
            continue;
        }
        if (enabled == 0) {
            Nap(30);
            continue;
        }
        if (viewer) viewer->SetOsdDateTime(record->year, record->month, record->day, record->hour, record->minute,
                                           record->second);
        if (record->has_text == 1 && record->kind == FrameRecord::kKindPicture) SetOsdTitle(*record);
        if (record->kind == FrameRecord::kKindClearView) {
            ClearViewer();
            has_picture = 0;
            continue;
        }
        if (record->kind != FrameRecord::kKindPicture) {
            has_picture = 0;
            continue;
        }
        interval_ = PacingInterval(record->fps, speed, interval_);
        const size_t queued = queue_.GetCount();
        if (queued > 30 || need_key) {
            if (!IsKeyFrame(record->codec, record->payload)) {
                need_key = true;
                continue;
            }
            need_key = false;
            if (record->codec == static_cast<int32_t>(VideoCodec::kMjpeg) && queued > 24) continue;
        }
        if (record->width <= 0 || record->height <= 0 || record->width > kMaxPictureSide ||
            record->height > kMaxPictureSide)
            continue;
        if (record->width != last_width || record->height != last_height || record->codec != last_codec) {
            CloseDecoder();
            ClearViewer();
            Nap(1);
            picture_.clear();
            last_width = record->width;
            last_height = record->height;
            last_codec = record->codec;
        }
        if (picture_.empty()) picture_.assign(static_cast<size_t>(record->width) * record->height * 3 + 16, 0);
        if (!decoder_open_) {
            const int id = record->codec == 2 ? kCodecIdH264 : record->codec == 1 ? kCodecIdMpeg4 : kCodecIdMjpeg;
            decoder_open_ = decoder_->OpenVideo(id, record->width, record->height);
            Nap(5);
        }
        if (viewer) viewer->SetConnecting(false);
        if (record->codec >= 0 && record->codec <= 2 && decoder_open_) {
            size_t size = 0;
            if (decoder_->DecodeVideo(record->payload.data(), record->payload.size(), picture_.data(),
                                      picture_.size(), &size) == 1 &&
                run == 1) {
                has_picture = 1;
                ShowPicture(record->width, record->height, picture_.data());
            }
        }
        if (record->has_text == 0) {
            const int32_t t = timer_.ElapsedMs();
            if (t >= interval_) {
                Nap(1);
            } else if (queue_.GetCount() > 20) {
                Nap(2);
            } else {
                Nap(interval_ - t);
            }
            timer_.Start();
        }
    }
    queue_.Clear();
    CloseDecoder();
}
