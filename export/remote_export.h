#pragma once
// The export of a time range from the recorder into AVI part files, one
// channel at a time: a download thread asks the recorder for the channel's
// backup stream and queues its packets, a writer thread writes them through
// the writer of the chosen format and starts a new part whenever the part
// tracker asks for one. CAviExportDlg owns one and drives it around its
// progress dialog's modal run.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "export/export_output.h"
#include "export/exported_part.h"
#include "media/data_queue.h"
#include "media/http_get.h"
#include "media/stream_packet_parser.h"
#include "platform/cancellable_wait.h"

// The progress dialog as the writer thread sees it; called on the writer
// thread, so an implementation queues the work to its window thread.
class RemoteExportProgressSink {
public:
    virtual ~RemoteExportProgressSink() = default;
    // When a part opens, with the file name without folder.
    virtual void ShowFileName(const std::string& file_name) = 0;
    virtual void SetProgress(int elapsed_seconds, int total_seconds) = 0;
    // Bar to 100 %; the dialog ends itself about a second later with result 1.
    virtual void Finish() = 0;
    // The writer thread has returned, whether or not it finished the dialog
    // (a download that gave up never finishes it).
    virtual void WriterEnded() {}
};

// Pauses of the threads and the tear-down, in milliseconds. Every wait of a
// thread ends early once its run flag is cleared.
struct RemoteExportTimings {
    int download_start_ms = 500;
    int between_requests_ms = 500;
    int retry_ms = 1000;
    int idle_read_ms = 100;
    int resend_step_ms = 100;
    int resend_steps = 50;
    int queue_full_ms = 30;
    int download_loop_ms = 1;
    int writer_empty_ms = 50;
    int writer_fill_ms = 2;
    int decoder_retry_ms = 5;
    int teardown_ms = 1500;
    int connect_timeout_ms = 30000;
    int receive_timeout_ms = HttpGet::kReceiveTimeoutMs;
};

struct RemoteExportSettings {
    std::string host;
    std::string user;
    std::string password;
    int port = 0;
    int session_id = 0;
    int year = 0;
    int month = 0;
    int day = 0;
    int cue_in = 0;   // second of the day
    int cue_out = 0;  // second of the day
    std::string output_folder;
    bool original_format = false;  // false: re-encoded to Microsoft Video 1
    int quality = 80;              // 85, 80 or 77
    bool osd = false;
};

class RemoteExport {
public:
    static constexpr uint64_t kMinFreeBytes = 52428800;
    static constexpr size_t kStartPackets = 30;
    static constexpr size_t kQueueThrottle = 20;
    // The download waits for the writer while this many packets are queued
    // (more than the writer waits for before its first file).
    static constexpr size_t kQueueLimit = 120;
    // Failed re-sends of the stream request in a row before the download gives up.
    static constexpr int kMaxResends = 5;
    static constexpr int kMaxAttempts = 3;
    static constexpr int kMaxIdleReads = 15;
    static constexpr size_t kReadSize = 8192;
    static constexpr size_t kReplySize = 10;
    // Larger pictures are skipped rather than sizing a buffer by a damaged header.
    static constexpr int kMaxPictureSide = 4096;
    // Twice the 30 a second a recorder's channel records at most: a stream that brings more for
    // each second of the range has started it again or is stuck in it, whatever its dates say.
    static constexpr int kMaxPicturesPerSecond = 60;

    using FreeBytesFunction = std::function<uint64_t(const std::string& path)>;

    RemoteExport();
    ~RemoteExport();
    RemoteExport(const RemoteExport&) = delete;
    RemoteExport& operator=(const RemoteExport&) = delete;

    void Configure(const RemoteExportSettings& settings);
    const RemoteExportSettings& settings() const { return settings_; }
    void SetTimings(const RemoteExportTimings& timings) { timings_ = timings; }
    void SetFreeBytesFunction(FreeBytesFunction function) { free_bytes_ = std::move(function); }
    // Read when each part closes, as the check box stands at that moment.
    void SetWatermark(bool on) { output_.SetWatermark(on); }

    // Start of an export: space-ok back to 1, no parts yet.
    void BeginExport();
    // Starts channel c's download and writer threads; now gives the base
    // name's time. The sink must outlive EndChannel.
    void BeginChannel(int channel, const std::tm& now, RemoteExportProgressSink* sink);
    // After the progress dialog's modal run: stops and joins both threads,
    // closes the connection, the part (with its trailer) and the decoders and
    // empties the queue.
    void EndChannel();

    // Until when the recorder rests after the last EndChannel: the next request to it (the next
    // channel's, which waits by itself, or the playback's own stream) goes out after it.
    std::chrono::steady_clock::time_point rest_until() const { return quiet_until_; }
    bool space_ok() const { return space_ok_.load() != 0; }
    // The recorder stopped answering: before the stream began, or after
    // kMaxResends re-sends that brought no packet. The channel is not complete.
    bool download_gave_up() const { return download_gave_up_.load() != 0; }
    // A part could not be written whole; the channel stopped there.
    bool write_failed() const { return write_failed_.load() != 0; }
    // Every part the export opened or tried to open, in order; read between channel runs.
    std::vector<ExportedPart> parts() const;
    bool download_running() const { return download_running_.load() != 0; }
    bool writer_running() const { return writer_running_.load() != 0; }
    int stream_state() const { return stream_state_.load(); }
    size_t queued() const { return queue_.GetCount(); }
    // Valid between channel runs.
    const std::string& base_name() const { return output_.base_name(); }
    int part_counter() const { return output_.part_counter(); }

    // "CH%.2d_%d%.2d%.2d-%d%.2d%.2d": channel index + 1 and the local time now.
    static std::string MakeBaseName(int channel, const std::tm& now);
    // "%d,%d,%d,%.2d,%.2d,%.2d" of the day and a second of it.
    static std::string RequestTimeText(int year, int month, int day, int second);
    static std::string BackupRequest(int session_id, int channel, const std::string& start_text,
                                     const std::string& end_text);
    static std::string StreamRequest(int session_id, int channel);
    // The camera title of a video header's 64-byte field, as UTF-8. Width
    // code 1: one byte a character, 2: two bytes, else four; each character is
    // its first two bytes (low first) or its only byte; a zero ends it.
    static std::string OsdTitleText(const uint8_t* field, int width_code);
    // The packet's time in milliseconds: seconds at offset 20 and the
    // microseconds within that second at offset 24, 32 bits wrapping.
    static int32_t PacketTimeMs(const uint8_t* header);
    // A video item a player can start from: every MJPEG picture (the parser's kind 0, any
    // frame-type code but 101, 102, 104 and 105) stands alone; MPEG-4 and H.264 by their
    // key code.
    static bool IsKeyPicture(const StreamFrameItem& item);

private:
    void DownloadThread();
    bool ConnectAndRequest();
    // False when the download gave up.
    bool Rerequest();
    void GiveUp();
    void QueuePacket(StreamPacketParser& parser, const uint8_t* payload);

    void WriterThread();
    bool WaitForFirstPackets();
    void EndOnWriteFailure();
    void Finish();

    // False when flag fell to 0 during the wait.
    bool Pause(const std::atomic<int>& flag, int ms);
    void WakeThreads();

    RemoteExportSettings settings_;
    RemoteExportTimings timings_;
    FreeBytesFunction free_bytes_;

    int channel_ = 0;
    ExportOutput output_;
    std::string backup_request_;
    std::string stream_request_;

    HttpGet http_;
    DataQueue<StreamFrameItem> queue_;
    std::thread download_;
    std::thread writer_;
    std::atomic<int> download_running_{0};
    std::atomic<int> writer_running_{0};
    std::atomic<int> space_ok_{1};
    std::atomic<int> write_failed_{0};
    std::atomic<int> stream_state_{0};
    std::atomic<int> download_gave_up_{0};
    int resends_ = 0;  // since the last packet; download thread only
    // A video packet past the range's end: by its date and second, or, without a date, by a
    // stream time further from the first packet's than the range is long; or, whatever its
    // date, one picture more than the range can hold. Download thread only.
    bool PastRangeEnd(const uint8_t* video_header);
    bool stream_time_known_ = false;
    int32_t first_stream_ms_ = 0;
    int64_t pictures_ = 0;
    // The end of the last channel's tear-down rest; set by EndChannel before the next
    // channel's download starts.
    std::chrono::steady_clock::time_point quiet_until_{};
    // Never stopped: the run flags are the stop, and WakeThreads follows each fall.
    platform::CancellableWait wake_;

    // Written by the download thread before it queues the packet they describe.
    std::atomic<int> video_seen_{0};
    std::atomic<int> first_video_kind_{0};
    std::atomic<int> first_width_{0};
    std::atomic<int> first_height_{0};
    std::atomic<int> audio_seen_{0};
    std::atomic<int> first_audio_kind_{0};
    std::atomic<int> first_audio_bits_{0};
    std::atomic<int> first_audio_channels_{0};
    std::atomic<int> first_audio_rate_{0};

    RemoteExportProgressSink* sink_ = nullptr;
};
