#pragma once
// The RIFF AVI file both export writers produce: a header list with the main
// header and two stream lists (video stream 0, audio stream 1), a JUNK chunk
// that pads the movi list to a sector boundary, one chunk per sample and an
// idx1 index with every entry flagged key frame. Counts, lengths and sizes are
// patched into the headers when the file is finished.
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct AviStreamSpec {
    char type[4];     // "vids" or "auds"
    char handler[4];  // all zero for audio
    uint32_t scale = 1;
    uint32_t rate = 0;
    uint32_t suggested_buffer_size = 0;
    uint32_t quality = 0;
    uint32_t sample_size = 0;
    int16_t frame_right = 0;
    int16_t frame_bottom = 0;
    std::string name;
    std::vector<uint8_t> format;  // strf contents
};

// The audio half of both writers' headers: format tag 7 (mu-law) or 1 (PCM),
// scale = sample size = block align, rate = bytes per second. False when the
// parameters give no usable stream (a zero block align would make every
// reader divide by zero).
bool MakeAudioStreamSpec(int bits_per_sample, int channels, int sample_rate, int mu_law,
                         AviStreamSpec* spec);

// A 40-byte BITMAPINFOHEADER.
std::vector<uint8_t> MakeBitmapInfoHeader(int width, int height, int bit_count, const char compression[4],
                                          uint32_t image_size);

// round((t - first - 33.3) / 33.3) on the 33.3 ms grid of the exports, rounding
// by adding 0.5 and truncating toward zero, kept within a range that converts
// to an integer safely.
int64_t AviGridSlot(int64_t stamp, int64_t first_stamp);

class AviRiffFile {
public:
    static constexpr int kVideoStream = 0;
    static constexpr int kAudioStream = 1;
    // The RIFF size field counts the bytes behind its own 8 bytes in 32 bits.
    static constexpr uint64_t kMaxFileBytes = 8 + 0xFFFFFFFFull;
    static constexpr uint64_t kMoviAlignment = 2048;
    // Chunks are gathered up to this much before they go out in one write,
    // which a thread of the file's own makes while the next batch gathers.
    static constexpr size_t kWriteBatchBytes = 256 * 1024;

    AviRiffFile() = default;
    ~AviRiffFile();
    AviRiffFile(const AviRiffFile&) = delete;
    AviRiffFile& operator=(const AviRiffFile&) = delete;

    // Creates or truncates the file and writes the headers. A file whose
    // headers cannot be written is removed again. max_file_bytes bounds the
    // finished file, index included.
    bool Create(const std::string& path, int width, int height, uint32_t micro_seconds_per_frame,
                const AviStreamSpec& video, const AviStreamSpec& audio,
                uint64_t max_file_bytes = kMaxFileBytes);
    // One sample as one chunk. False when the file is not open, an earlier
    // write failed, the chunk would take the file past its limit (the file
    // stays valid without it), or the write was short. Chunks are gathered
    // and written kWriteBatchBytes at a time while the next batch gathers,
    // so a failed write shows at the call that hands over the batch after
    // it, or at Finish.
    bool WriteChunk(int stream, const uint8_t* data, size_t size);
    // Declares another audio format (an AviStreamSpec of the same strf size)
    // while the audio stream holds no chunk yet. False otherwise, or when the
    // header could not be rewritten.
    bool RedeclareAudio(const AviStreamSpec& audio);
    // Writes what is gathered, the index and the final sizes and closes the
    // file. After a failed write the file is cut back to the last whole chunk
    // on disk, whose count the headers and the index then give, and still
    // finished, but the result is false, as it is when finishing itself fails.
    bool Finish();
    bool IsOpen() const { return fd_ >= 0; }

    uint64_t chunk_count(int stream) const { return streams_[stream].chunks; }
    // Bytes of one sample of the stream as declared (0 for video).
    uint32_t sample_size(int stream) const { return streams_[stream].sample_size; }
    uint64_t file_bytes() const { return end_; }

private:
    struct StreamState {
        uint64_t chunks = 0;
        uint64_t bytes = 0;
        uint32_t largest = 0;
        uint32_t declared_buffer = 0;
        uint32_t sample_size = 0;
        uint64_t strh_at = 0;
        size_t format_size = 0;
    };
    // A chunk gathered but not yet written.
    struct PendingChunk {
        uint64_t end;  // file offset after the chunk and its pad
        int stream;
        uint32_t size;
    };
    // A batch of gathered chunks: its bytes, where they go and what they hold.
    struct Batch {
        std::vector<uint8_t> bytes;
        std::vector<PendingChunk> chunks;
        uint64_t offset = 0;
        size_t written = 0;
        bool ok = true;
    };
    bool WriteAt(uint64_t offset, const void* data, size_t size, size_t* written = nullptr);
    // Hands the gathered chunks to the batch thread once the batch before
    // them is written; false when that one failed.
    bool SubmitPending();
    // Waits for the batch in flight and takes in its result: on a failure
    // the chunks that did not reach the file whole, and every chunk gathered
    // since, leave the counts and the index.
    bool CollectFlight();
    // Writes the gathered chunks here and now (after CollectFlight).
    bool FlushPending();
    // Takes in a written batch's result, as CollectFlight describes.
    bool TakeResult(const Batch& batch);
    void BatchThread();
    bool Patch32(uint64_t offset, uint64_t value);

    int fd_ = -1;
    std::string path_;
    bool failed_ = false;
    uint64_t max_bytes_ = kMaxFileBytes;
    uint64_t end_ = 0;  // end of the last whole chunk, gathered ones included
    uint64_t written_end_ = 0;  // where the gathered chunks start
    Batch pending_;
    // The batch thread: one batch in flight at most, handed over and
    // given back under the lock.
    std::thread batch_thread_;
    std::mutex batch_mutex_;
    std::condition_variable batch_changed_;
    Batch flight_;
    bool in_flight_ = false;
    bool flight_done_ = false;
    bool quit_ = false;
    uint64_t movi_at_ = 0;
    uint64_t avih_at_ = 0;
    StreamState streams_[2];
    std::vector<uint8_t> index_;
};
