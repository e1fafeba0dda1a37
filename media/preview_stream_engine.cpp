#include "media/preview_stream_engine.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "media/media_decoder.h"
#include "media/minute_file.h"
#include "media/stream_packet_parser.h"
#include "media/stream_silence.h"
#include "platform/data_file.h"

PreviewStreamEngine::PreviewStreamEngine() : decoder_(std::make_unique<MediaDecoder>()) {}

PreviewStreamEngine::~PreviewStreamEngine() {
    Stop();
    decoder_->Release();
}

void PreviewStreamEngine::SetServer(const std::string& host, const std::string& user, const std::string& password,
                                    int port, int secure) {
    host_ = host;
    user_ = user;
    password_ = password;
    port_ = port;
    secure_ = secure;
}

void PreviewStreamEngine::StartRemote() {
    StopThreads();
    run_ = 1;
    queue_.Resume();
    receive_ = std::thread([this] { ReceiveThread(); });
    decode_ = std::thread([this] { DecodeThread(); });
}

void PreviewStreamEngine::StartLocal() {
    StopThreads();
    run_ = 1;
    queue_.Resume();
    local_share_calls_.Reset();
    local_ = std::thread([this] {
        const platform::ScopedShareCallAbort bound(&local_share_calls_);
        LocalReaderThread();
    });
}

void PreviewStreamEngine::JoinThreads() {
    // Every wait in the threads watches the run flag; a blocked read is aborted.
    connection_.Abort();
    local_share_calls_.Abort();
    for (std::thread* t : {&receive_, &decode_, &local_}) {
        if (t->joinable()) t->join();
    }
}

void PreviewStreamEngine::EndRun() {
    run_ = 0;
    // Every wait of the threads is a wait on the queue, which this ends at once.
    queue_.Stop();
}

void PreviewStreamEngine::StopThreads() {
    EndRun();
    JoinThreads();
    CloseDecoder();
    queue_.Clear();
}

void PreviewStreamEngine::Stop() {
    StopThreads();
    connection_.Close();
}

void PreviewStreamEngine::ClearPicture() {
    std::lock_guard<std::mutex> guard(picture_lock_);
    std::fill(output_.begin(), output_.end(), 0);
}

void PreviewStreamEngine::CloseDecoder() {
    if (decoder_open_) decoder_->Close();
    decoder_open_ = 0;
}

void PreviewStreamEngine::FreePictures() {
    std::lock_guard<std::mutex> guard(picture_lock_);
    output_.clear();
    decoded_.clear();
}

bool PreviewStreamEngine::CopyOutput(int width, int height, std::vector<uint8_t>* out) const {
    std::lock_guard<std::mutex> guard(picture_lock_);
    const size_t size = static_cast<size_t>(width) * static_cast<size_t>(height) * 3;
    if (width <= 0 || height <= 0 || width != width_ || height != height_ || output_.size() < size) return false;
    out->assign(output_.begin(), output_.begin() + static_cast<std::ptrdiff_t>(size));
    return true;
}

bool PreviewStreamEngine::Pause(std::chrono::steady_clock::time_point until) {
    queue_.WaitUntil(until, [](size_t) { return false; });
    return run_ != 0;
}

bool PreviewStreamEngine::PauseFor(int ms) {
    return Pause(std::chrono::steady_clock::now() + std::chrono::milliseconds(ms));
}

void PreviewStreamEngine::Reconnect() {
    while (run_) {
        if (connection_.SendRequest(stream_request_) && connection_.QueryStatusCode() == 200) return;
        PauseFor(timing_.resend_wait_ms);
    }
}

void PreviewStreamEngine::ReceiveThread() {
    const PreviewTiming timing = timing_;
    StreamPacketParser parser;
    std::vector<uint8_t> buffer(HttpGet::kScratchSize);
    connection_.SetReceiveTimeout(timing.receive_timeout_ms);
    if (!connection_.Connect(host_, user_, password_, 3000, secure_, port_)) {
        EndRun();
        return;
    }
    // Each request waits for the recorder's reply headers, so the next goes out
    // only once the recorder has taken the last.
    if (run_ && !connection_.SendRequest(search_request_)) EndRun();
    if (run_ && !connection_.SendRequest(stream_request_)) EndRun();
    StreamSilence silence(timing.empty_read_ms, timing.silent_reads);
    const auto recover = [&] {
        Reconnect();
        parser.Reset();
        silence.Progress();
    };
    while (run_) {
        // Behind the decoder: read on once it has caught up, or 10 ms later.
        if (queue_.GetCount() > 5)
            queue_.WaitUntil(std::chrono::steady_clock::now() + std::chrono::milliseconds(10),
                             [](size_t count) { return count <= 5; });
        const uint8_t* payload = parser.NextPacket();
        if (payload) {
            silence.Progress();
            const int kind = parser.kind();
            if (kind < 0 || kind > 2 || !parser.GetHeader()) continue;
            const StreamPacketHeader header =
                StreamPacketHeader::FromBytes(parser.GetHeader(), streamformat::kVideoHeaderSize);
            const uint16_t mask = header.U16(streamformat::kOffVideoChannelMask);
            if ((mask & 0x1FF) == 0) continue;
            const int width = header.U16(streamformat::kOffWidth);
            const int height = header.U16(streamformat::kOffHeight);
            if (width == 0 || height == 0 || parser.payload_size() < 1) continue;
            // A decoder stalled behind a fast stream must not grow the queue without end.
            if (queue_.GetCount() >= kQueueLimit) continue;
            auto item = std::make_unique<PreviewItem>();
            item->width = width;
            item->height = height;
            item->kind = kind;
            item->payload.assign(payload, payload + parser.payload_size());
            queue_.Push(std::move(item));
            continue;
        }
        if (!connection_.HasOpenRequest()) {
            recover();
            continue;
        }
        size_t got = 0;
        const auto read_start = StreamSilence::Clock::now();
        if (!connection_.ReadAvailable(buffer.data(), buffer.size(), &got, timing.empty_read_ms)) {
            if (!run_) break;
            // A reply the recorder broke off is asked for again at the pace of an ended one.
            PauseFor(silence.RestOfEmptyRead(read_start));
        } else if (got > 0) {
            silence.Bytes(got);
            if (!parser.Feed(buffer.data(), got)) parser.Reset();
        } else {
            PauseFor(silence.RestOfEmptyRead(read_start));
        }
        if (silence.Over()) recover();
    }
}

void PreviewStreamEngine::DecodeThread() {
    int last_width = -1, last_height = -1, last_kind = -1;
    while (run_) {
        std::unique_ptr<PreviewItem> item = queue_.Pop();
        if (!item) {
            queue_.WaitForRecord(std::chrono::steady_clock::time_point::max());
            continue;
        }
        if (item->width <= 0 || item->height <= 0 || item->width > kMaxPictureSide || item->height > kMaxPictureSide)
            continue;
        if (item->width != last_width || item->height != last_height || item->kind != last_kind) {
            CloseDecoder();
            FreePictures();
        }
        last_width = item->width;
        last_height = item->height;
        last_kind = item->kind;
        {
            std::lock_guard<std::mutex> guard(picture_lock_);
            kind_ = item->kind;
            width_ = item->width;
            height_ = item->height;
            const size_t size = static_cast<size_t>(width_) * height_ * 3 + 16;
            if (output_.empty()) output_.assign(size, 0);
            if (decoded_.empty()) decoded_.assign(size, 0);
        }
        if (run_) DecodeAndPost(item->payload.data(), static_cast<int>(item->payload.size()));
    }
    queue_.Clear();
    CloseDecoder();
}

void PreviewStreamEngine::DecodeAndPost(const uint8_t* payload, int length) {
    if (!decoder_open_) {
        const int id = kind_ == 0 ? kCodecIdMjpeg : kind_ == 1 ? kCodecIdMpeg4 : kCodecIdH264;
        decoder_open_ = decoder_->OpenVideo(id, width_, height_);
    }
    if (!run_ || !decoder_open_ || length <= 0) return;
    size_t size = 0;
    if (decoder_->DecodeVideo(payload, static_cast<size_t>(length), decoded_.data(), decoded_.size(), &size) != 1)
        return;
    {
        std::lock_guard<std::mutex> guard(picture_lock_);
        const size_t row = static_cast<size_t>(width_) * 3;
        for (int i = 0; i < height_ && run_; ++i) {
            std::memcpy(&output_[row * static_cast<size_t>(i)], &decoded_[row * static_cast<size_t>(height_ - 1 - i)],
                        row);
        }
    }
    if (run_ && target_) target_->PostPreviewFrame(width_, height_);
}

void PreviewStreamEngine::ShowLocalFrame(const uint8_t* payload, int length, uint8_t codec, int width, int height) {
    const int kind = codec == 7 ? 0 : codec == 8 ? 1 : codec == 9 ? 2 : -1;
    if (kind < 0 || width <= 0 || height <= 0 || width > kMaxPictureSide || height > kMaxPictureSide) return;
    if (width != width_ || height != height_ || kind != kind_) {
        CloseDecoder();
        FreePictures();
    }
    {
        std::lock_guard<std::mutex> guard(picture_lock_);
        width_ = width;
        height_ = height;
        const size_t size = static_cast<size_t>(width) * height * 4;
        if (output_.empty()) output_.assign(size, 0);
        if (decoded_.empty()) decoded_.assign(size, 0);
        kind_ = kind;
    }
    DecodeAndPost(payload, length);
}

void PreviewStreamEngine::LocalReaderThread() {
    const RecordSource src = record_source;
    const int c = preview_channel & 3;
    int current = src.start_second;
    MinuteFile file;
    // Pictures come at the pace they were recorded, against a clock, so the
    // reading and decoding do not add to it.
    auto due = std::chrono::steady_clock::now();
    while (run_) {
        if (!platform::IsFolder(src.path)) break;
        const bool open = file.Open(src.path, src.year, src.month, src.day, current / 3600, current / 60 % 60);
        if (current > src.end_second) break;
        bool done = false;
        for (int s = current % 60; s < 60 && run_ && !done; ++s) {
            const SecondIndexEntry second = open ? file.Second(s) : SecondIndexEntry{};
            ChannelSecondBlock block;
            int64_t pos = 0;
            if (open && second.ChannelPresent(c) && file.ReadBlock(s, c, &block, &pos)) {
                int n = 0;
                for (int i = 0; i < diskformat::kFrameSlots; ++i) n += block.Entry(i).kind == diskformat::kKindVideo;
                const auto interval = std::chrono::milliseconds(n > 0 ? 1000 / n : 1);
                for (int i = 0; i < diskformat::kFrameSlots && run_; ++i) {
                    if (!platform::IsFolder(src.path)) {
                        done = true;
                        EndRun();
                        break;
                    }
                    const MinuteFrameEntry entry = block.Entry(i);
                    if (entry.length == 0 || entry.kind != diskformat::kKindVideo) continue;
                    std::vector<uint8_t> data;
                    if (!file.ReadFrameData(entry, pos, &data)) continue;
                    ShowLocalFrame(data.data(), entry.length, entry.codec, entry.width, entry.height);
                    // Behind (a slow read): the count starts again from now.
                    due = std::max(due + interval, std::chrono::steady_clock::now());
                    Pause(due);
                }
            }
            ++current;
            if (current > src.end_second) done = true;
        }
        file.Close();
        if (done) break;
    }
    CloseDecoder();
    ClearPicture();
}
