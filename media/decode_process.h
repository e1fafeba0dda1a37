#pragma once
// Per-channel video worker: pops coded frames, decodes them, hands pictures to
// the channel's viewer and paces local playback by frame rate and speed.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "media/data_queue.h"
#include "media/frame_rate_counter.h"
#include "media/media_records.h"
#include "media/osd_style_record.h"
#include "media/playback_sinks.h"

class MediaDecoder;

class CDecodeProcess {
public:
    CDecodeProcess();
    virtual ~CDecodeProcess();
    CDecodeProcess(const CDecodeProcess&) = delete;
    CDecodeProcess& operator=(const CDecodeProcess&) = delete;

    // Starts the thread (run 1) when it is not running.
    void Start();
    bool IsRunning() const { return thread_.joinable(); }
    // Null is ignored; while not running the record is dropped.
    void PushFrame(std::unique_ptr<FrameRecord> record);
    // Empties the queue now, so records pushed after it are kept, and has the
    // thread wait for a key frame; a picture waiting for its time is dropped.
    // With show_from_second (second of the day) the thread decodes the local
    // reader's pictures before that second without showing or pacing them, so
    // a jump shows its target from the key picture before it.
    void RequestFlush(int show_from_second = -1);
    // A new play speed; a picture waiting for its time is re-timed at once.
    void SetSpeed(int new_speed);
    void Stop();
    void CloseDecoder();
    void ClearViewer();
    void SetOsdTitle(const FrameRecord& record);
    void ShowPicture(int width, int height, const uint8_t* picture);

    ViewerSink* viewer = nullptr;
    int32_t channel = 0;
    std::atomic<int> run{0};
    std::atomic<int> active{0};
    std::atomic<int> has_picture{0};
    // Set directly, the thread empties the queue itself when it sees it.
    std::atomic<int> flush_request{0};
    std::atomic<int> speed{1};
    std::atomic<int> enabled{1};
    OsdStyleRecord osd_style;

    size_t QueuedCount() const { return queue_.GetCount(); }
    int32_t interval_ms() const { return interval_; }
    // Frames per second seen by PushFrame in the last second.
    int32_t frame_rate() const;

private:
    void ThreadProc();
    void DecodeLoop();
    // Decodes into the picture buffer and shows the picture (when show); reopens
    // once at the coded size when the decoder refuses the declared one.
    void DecodeAndShow(const FrameRecord& record, bool show);
    // Holds the picture until its time at the current speed; a speed change
    // re-times it, a stop or a flush ends the wait.
    void Pace(int32_t fps);
    // The record precedes the second a flush asked to show from.
    bool BeforeShowFrom(const FrameRecord& record) const;

    std::thread thread_;
    DataQueue<FrameRecord> queue_;
    std::vector<uint8_t> picture_;
    // RequestFlush emptied the queue already: the thread must not empty it again.
    std::atomic<bool> flushed_by_request_{false};
    std::atomic<int> show_from_{-1};
    mutable std::mutex counter_lock_;
    FrameRateCounter counter_;
    // When the last paced picture was due; the next is due an interval later.
    std::chrono::steady_clock::time_point due_;
    std::unique_ptr<MediaDecoder> decoder_;
    int decoder_open_ = 0;
    int32_t interval_ = 33;
    // Decoder and picture buffer size: the records' size, or the coded size
    // when the stream's pictures differ from what the records declare.
    int open_width_ = 0;
    int open_height_ = 0;
};

// The key-frame test the worker uses to recover after dropping frames.
bool IsKeyFrame(int32_t codec, const std::vector<uint8_t>& payload);

// Frame interval in ms for a record's fps at a play speed; keeps previous when fps <= 0.
int32_t PacingInterval(int32_t fps, int32_t speed, int32_t previous);
