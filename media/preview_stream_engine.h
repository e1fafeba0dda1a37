#pragma once
// Pictures of one channel at a chosen moment, for the record selection's
// preview: from the recorder's stream (receive + decode threads) or from a
// data folder (one reader thread).
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "media/data_folder.h"
#include "media/data_queue.h"
#include "media/http_get.h"
#include "platform/network_share.h"

class MediaDecoder;

constexpr uint32_t WM_PREVIEW_FRAME = 0x400 + 114;

// The preview window, told (from a worker thread) that a new picture is ready.
class PreviewTarget {
public:
    virtual ~PreviewTarget() = default;
    virtual void PostPreviewFrame(int width, int height) = 0;
};

// Paces of the receive thread; the program keeps these, tests shorten them.
struct PreviewTiming {
    int empty_read_ms = 100;
    int silent_reads = 16;
    int resend_wait_ms = 5000;  // 50 steps of 100 ms after a refused re-request
    int receive_timeout_ms = HttpGet::kReceiveTimeoutMs;
};

struct PreviewItem {
    int32_t width = 0;
    int32_t height = 0;
    int32_t kind = 0;
    std::vector<uint8_t> payload;
};

class PreviewStreamEngine {
public:
    static constexpr size_t kQueueLimit = 80;

    PreviewStreamEngine();
    ~PreviewStreamEngine();
    PreviewStreamEngine(const PreviewStreamEngine&) = delete;
    PreviewStreamEngine& operator=(const PreviewStreamEngine&) = delete;

    void SetSessionId(const std::string& id) { session_id_ = id; }
    const std::string& session_id() const { return session_id_; }
    void SetServer(const std::string& host, const std::string& user, const std::string& password, int port,
                   int secure);
    void SetUser(const std::string& user) { user_ = user; }
    void SetPassword(const std::string& password) { password_ = password; }
    void SetStreamRequest(const std::string& path) { stream_request_ = path; }
    void SetSearchRequest(const std::string& path) { search_request_ = path; }
    void SetTarget(PreviewTarget* target) { target_ = target; }
    // Read by each receive thread as it starts.
    void SetTiming(const PreviewTiming& timing) { timing_ = timing; }

    // Run flag 1 and the recorder's receive and decode threads, or the data folder's reader.
    void StartRemote();
    void StartLocal();
    void StopThreads();
    void Stop();
    void ClearPicture();
    bool Running() const { return run_ != 0; }

    void ReceiveThread();
    void DecodeThread();
    void LocalReaderThread();
    void ShowLocalFrame(const uint8_t* payload, int length, uint8_t codec, int width, int height);
    void DecodeAndPost(const uint8_t* payload, int length);

    // The latest picture (bottom-up BGR24); false when there is none of that size.
    bool CopyOutput(int width, int height, std::vector<uint8_t>* out) const;

    RecordSource record_source;
    int preview_channel = 0;
    std::atomic<int> run_{0};

private:
    void JoinThreads();
    // Run flag 0, and every wait of the threads ends.
    void EndRun();
    void CloseDecoder();
    void FreePictures();
    void Reconnect();
    // Waits until the time, or less when the threads are stopped; false once they are.
    bool Pause(std::chrono::steady_clock::time_point until);
    bool PauseFor(int ms);

    std::string session_id_, user_, password_, host_;
    int secure_ = 0;
    int port_ = 0;
    std::string stream_request_, search_request_;
    PreviewTiming timing_;
    mutable std::mutex picture_lock_;
    std::vector<uint8_t> output_;
    std::vector<uint8_t> decoded_;
    int width_ = 0, height_ = 0;
    int kind_ = -1;
    HttpGet connection_;
    platform::ShareCallAbort local_share_calls_;
    DataQueue<PreviewItem> queue_;
    std::thread receive_, decode_, local_;
    std::unique_ptr<MediaDecoder> decoder_;
    int decoder_open_ = 0;
    PreviewTarget* target_ = nullptr;
};
