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

namespace {
int DecoderId(int32_t codec) { return codec == 2 ? kCodecIdH264 : codec == 1 ? kCodecIdMpeg4 : kCodecIdMjpeg; }
}  // namespace

CDecodeProcess::CDecodeProcess() : decoder_(std::make_unique<MediaDecoder>()) {}

CDecodeProcess::~CDecodeProcess() {
    Stop();
    decoder_->Release();
}

void CDecodeProcess::Start() {
    if (thread_.joinable()) return;
    run = 1;
    queue_.Resume();
    thread_ = std::thread([this] { ThreadProc(); });
}

void CDecodeProcess::ThreadProc() { DecodeLoop(); }

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

void CDecodeProcess::RequestFlush(int show_from_second) {
    show_from_ = show_from_second;
    queue_.Clear();
    flushed_by_request_ = true;
    flush_request = 1;
    queue_.Wake();
}

bool CDecodeProcess::BeforeShowFrom(const FrameRecord& record) const {
    // Kept until the next flush: a picture of the old position still on its way
    // must not end it before the pictures that lead up to the target.
    const int from = show_from_;
    if (from < 0 || record.has_text != 0) return false;
    return record.hour * 3600 + record.minute * 60 + record.second < from;
}

void CDecodeProcess::SetSpeed(int new_speed) {
    if (speed.exchange(new_speed) != new_speed) queue_.Wake();
}

void CDecodeProcess::Stop() {
    has_picture = 0;
    show_from_ = -1;
    run = 0;
    // Every wait of the thread is a wait on its queue, so this ends it at once.
    queue_.Stop();
    if (thread_.joinable()) thread_.join();
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

void CDecodeProcess::Pace(int32_t fps) {
    using Clock = std::chrono::steady_clock;
    // Behind by more than 20 pictures: catch up at the decoder's own pace.
    if (queue_.GetCount() > 20) {
        due_ = Clock::now();
        return;
    }
    for (;;) {
        const int current_speed = speed;
        interval_ = PacingInterval(fps, current_speed, interval_);
        const Clock::time_point due = due_ + std::chrono::milliseconds(interval_);
        if (Clock::now() >= due) break;
        queue_.WaitUntil(due, [&](size_t) { return run != 1 || speed != current_speed || flush_request == 1; });
        // After a flush the next picture is the first of a new position: at once.
        if (run != 1 || flush_request == 1) {
            due_ = Clock::now();
            return;
        }
        if (speed == current_speed && Clock::now() >= due) break;
    }
    // Lateness within one interval keeps the cadence; a picture later than that
    // starts a new count rather than rushing the next ones.
    const Clock::time_point due = due_ + std::chrono::milliseconds(interval_);
    const Clock::time_point now = Clock::now();
    due_ = now - due > std::chrono::milliseconds(interval_) ? now : due;
}

void CDecodeProcess::DecodeAndShow(const FrameRecord& record, bool show) {
    size_t size = 0;
    int produced = 0;
    // A viewer already showing pictures of this size has the next one
    // converted straight into its own buffer: one copy of every picture less.
    int shown = -1;
    if (show && run == 1 && viewer && viewer->HasVideo()) {
        struct Decode {
            MediaDecoder* decoder;
            const FrameRecord* record;
            size_t* size;
            int produced = 0;
        } decode{decoder_.get(), &record, &size};
        shown = viewer->ShowConverted(open_width_, open_height_, [d = &decode](uint8_t* top_row, ptrdiff_t stride) {
            d->produced = d->decoder->DecodeVideo(d->record->payload.data(), d->record->payload.size(), top_row,
                                                  stride, d->size);
            return d->produced == 1;
        });
        produced = decode.produced;
    }
    if (shown < 0)
        produced = decoder_->DecodeVideo(record.payload.data(), record.payload.size(), picture_.data(),
                                         picture_.size(), &size);
    const int coded_width = decoder_->refused_width();
    const int coded_height = decoder_->refused_height();
    // A coded size beyond what the decoder opens is refused before it sizes the
    // buffer; the picture on the viewer stays, as for any undecodable frame.
    if (!produced && coded_width > 0 && coded_height > 0 && coded_width <= kMaxPictureSide &&
        coded_height <= kMaxPictureSide && (coded_width != open_width_ || coded_height != open_height_)) {
        // The stream's pictures are not the size the records declare: reopen
        // at the coded size, as a size change does, and decode this one again.
        CloseDecoder();
        ClearViewer();
        open_width_ = coded_width;
        open_height_ = coded_height;
        picture_.assign(static_cast<size_t>(open_width_) * open_height_ * 3 + 16, 0);
        decoder_open_ = decoder_->OpenVideo(DecoderId(record.codec), open_width_, open_height_);
        if (!decoder_open_) return;
        produced = decoder_->DecodeVideo(record.payload.data(), record.payload.size(), picture_.data(),
                                         picture_.size(), &size);
        shown = -1;
    }
    if (produced == 1 && run == 1 && show) {
        has_picture = 1;
        if (shown < 0) {
            ShowPicture(open_width_, open_height_, picture_.data());
        } else {
            viewer->RequestRepaint();
        }
    }
}

void CDecodeProcess::DecodeLoop() {
    using Clock = DataQueue<FrameRecord>::Clock;
    active = 1;
    due_ = Clock::now();
    flush_request = 0;
    flushed_by_request_ = false;
    interval_ = 33;
    int last_width = -1, last_height = -1, last_codec = -1;
    bool need_key = false;
    while (run == 1) {
        if (active == 0) {
            queue_.WaitUntil(Clock::time_point::max(), [&](size_t) { return active != 0 || run != 1; });
            continue;
        }
        if (flush_request == 1) {
            flush_request = 0;
            if (!flushed_by_request_.exchange(false)) queue_.Clear();
            need_key = true;
            due_ = Clock::now();
        }
        std::unique_ptr<FrameRecord> record = queue_.Pop();
        if (!record) {
            has_picture = 0;
            queue_.WaitUntil(Clock::time_point::max(),
                             [&](size_t count) { return count > 0 || run != 1 || flush_request == 1; });
            // The first picture after a pause in the stream is shown at once.
            due_ = Clock::now();
            continue;
        }
        if (enabled == 0) continue;
        // Pictures before a jump's target only bring the decoder to it.
        const bool show = !BeforeShowFrom(*record);
        if (viewer && show)
            viewer->SetOsdDateTime(record->year, record->month, record->day, record->hour, record->minute,
                                   record->second);
        if (record->has_text == 1 && record->kind == FrameRecord::kKindPicture && show) SetOsdTitle(*record);
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
        if ((queued > 30 && show) || need_key) {
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
            picture_.clear();
            last_width = record->width;
            last_height = record->height;
            last_codec = record->codec;
            open_width_ = record->width;
            open_height_ = record->height;
        }
        if (picture_.empty()) picture_.assign(static_cast<size_t>(open_width_) * open_height_ * 3 + 16, 0);
        if (!decoder_open_) decoder_open_ = decoder_->OpenVideo(DecoderId(record->codec), open_width_, open_height_);
        if (viewer && show) viewer->SetConnecting(false);
        if (record->codec >= 0 && record->codec <= 2 && decoder_open_) DecodeAndShow(*record, show);
        if (record->has_text == 0 && show) Pace(record->fps);
    }
    queue_.Clear();
    CloseDecoder();
}
