#include "export/avi_riff_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace {

constexpr uint32_t kIndexKeyFrame = 0x10;  // AVIIF_KEYFRAME
constexpr uint32_t kHasIndex = 0x10;       // AVIF_HASINDEX
constexpr size_t kStreamHeaderSize = 56;
constexpr size_t kMainHeaderSize = 56;
constexpr double kGridMs = 33.3;

class Bytes {
public:
    std::vector<uint8_t> v;
    uint64_t Pos() const { return v.size(); }
    // Byte by byte: GCC 12 takes the range insert for an overflow under -O2 with ThreadSanitizer.
    void Id(const char* id) {
        for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8_t>(id[i]));
    }
    void U32(uint32_t x) {
        for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
    }
    void U16(uint16_t x) {
        v.push_back(static_cast<uint8_t>(x));
        v.push_back(static_cast<uint8_t>(x >> 8));
    }
    void Zeros(size_t n) { v.insert(v.end(), n, 0); }
    void Put32(uint64_t at, uint32_t x) {
        for (int i = 0; i < 4; ++i) v[at + i] = static_cast<uint8_t>(x >> (8 * i));
    }
    // A list or chunk whose size End fills in.
    uint64_t Begin(const char* id) {
        Id(id);
        U32(0);
        return Pos();
    }
    void End(uint64_t data_at) {
        Put32(data_at - 4, static_cast<uint32_t>(Pos() - data_at));
        if (v.size() & 1) v.push_back(0);
    }
};

// Returns the offset of the strh data, where the lengths are patched later.
uint64_t PutStreamList(Bytes& b, const AviStreamSpec& s) {
    const uint64_t list = b.Begin("LIST");
    b.Id("strl");
    b.Id("strh");
    b.U32(kStreamHeaderSize);
    const uint64_t strh = b.Pos();
    b.Id(s.type);
    b.Id(s.handler);
    b.U32(0);  // flags
    b.U16(0);  // priority
    b.U16(0);  // language
    b.U32(0);  // initial frames
    b.U32(s.scale);
    b.U32(s.rate);
    b.U32(0);  // start
    b.U32(0);  // length
    b.U32(s.suggested_buffer_size);
    b.U32(s.quality);
    b.U32(s.sample_size);
    b.U16(0);
    b.U16(0);
    b.U16(static_cast<uint16_t>(s.frame_right));
    b.U16(static_cast<uint16_t>(s.frame_bottom));
    const uint64_t strf = b.Begin("strf");
    b.v.insert(b.v.end(), s.format.begin(), s.format.end());
    b.End(strf);
    const uint64_t strn = b.Begin("strn");
    b.v.insert(b.v.end(), s.name.begin(), s.name.end());
    b.v.push_back(0);
    b.End(strn);
    b.End(list);
    return strh;
}

}  // namespace

bool MakeAudioStreamSpec(int bits_per_sample, int channels, int sample_rate, int mu_law, AviStreamSpec* spec) {
    // The two factors are taken as unsigned 16-bit values, as the format stores them.
    const uint16_t bits = static_cast<uint16_t>(bits_per_sample);
    const uint16_t chans = static_cast<uint16_t>(channels);
    const uint32_t block_align = (static_cast<uint32_t>(bits) * chans) / 8;
    if (block_align == 0 || block_align > 0xFFFF || sample_rate <= 0) return false;
    const uint64_t bytes_per_second = static_cast<uint64_t>(block_align) * static_cast<uint32_t>(sample_rate);
    if (bytes_per_second > 0xFFFFFFFFu) return false;

    std::memcpy(spec->type, "auds", 4);
    std::memset(spec->handler, 0, 4);
    spec->scale = block_align;
    spec->rate = static_cast<uint32_t>(bytes_per_second);
    spec->suggested_buffer_size = 0;
    spec->quality = 0;
    // One sample is one block of every channel, so the length counts samples
    // and players time the stream by what it holds (a size of 1 with 16-bit
    // audio would declare it twice as long as it plays).
    spec->sample_size = block_align;
    spec->frame_right = spec->frame_bottom = 0;
    spec->name = "Audio Stream";
    Bytes f;
    f.U16(mu_law ? 7 : 1);
    f.U16(chans);
    f.U32(static_cast<uint32_t>(sample_rate));
    f.U32(static_cast<uint32_t>(bytes_per_second));
    f.U16(static_cast<uint16_t>(block_align));
    f.U16(bits);
    f.U16(0);
    spec->format = std::move(f.v);
    return true;
}

std::vector<uint8_t> MakeBitmapInfoHeader(int width, int height, int bit_count, const char compression[4],
                                          uint32_t image_size) {
    Bytes b;
    b.U32(40);
    b.U32(static_cast<uint32_t>(width));
    b.U32(static_cast<uint32_t>(height));
    b.U16(1);
    b.U16(static_cast<uint16_t>(bit_count));
    b.Id(compression);
    b.U32(image_size);
    b.Zeros(16);
    return std::move(b.v);
}

int64_t AviGridSlot(int64_t stamp, int64_t first_stamp) {
    const double d = static_cast<double>(stamp) - static_cast<double>(first_stamp);
    const double slot = std::trunc((d - kGridMs) / kGridMs + 0.5);
    constexpr double kBound = 1e15;
    return static_cast<int64_t>(std::clamp(slot, -kBound, kBound));
}

AviRiffFile::~AviRiffFile() {
    if (fd_ >= 0) Finish();
    if (batch_thread_.joinable()) {
        {
            std::lock_guard<std::mutex> lock(batch_mutex_);
            quit_ = true;
        }
        batch_changed_.notify_all();
        batch_thread_.join();
    }
}

bool AviRiffFile::WriteAt(uint64_t offset, const void* data, size_t size, size_t* written) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    size_t done = 0;
    bool ok = true;
    while (done < size) {
        const ssize_t n = pwrite(fd_, p + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        done += static_cast<size_t>(n);
    }
    if (written) *written = done;
    return ok;
}

void AviRiffFile::BatchThread() {
    std::unique_lock<std::mutex> lock(batch_mutex_);
    for (;;) {
        batch_changed_.wait(lock, [this] { return quit_ || (in_flight_ && !flight_done_); });
        if (quit_) return;
        // The batch is this thread's alone until it is marked done.
        lock.unlock();
        flight_.ok = WriteAt(flight_.offset, flight_.bytes.data(), flight_.bytes.size(), &flight_.written);
        lock.lock();
        flight_done_ = true;
        batch_changed_.notify_all();
    }
}

bool AviRiffFile::SubmitPending() {
    if (!CollectFlight()) return false;
    if (pending_.bytes.empty()) return true;
    if (!batch_thread_.joinable()) batch_thread_ = std::thread(&AviRiffFile::BatchThread, this);
    pending_.offset = written_end_;
    pending_.written = 0;
    pending_.ok = true;
    {
        std::lock_guard<std::mutex> lock(batch_mutex_);
        // The emptied buffers of the last batch gather the next one.
        std::swap(flight_, pending_);
        in_flight_ = true;
        flight_done_ = false;
    }
    batch_changed_.notify_all();
    written_end_ = end_;
    return true;
}

bool AviRiffFile::CollectFlight() {
    {
        std::unique_lock<std::mutex> lock(batch_mutex_);
        if (!in_flight_) return true;
        batch_changed_.wait(lock, [this] { return flight_done_; });
        in_flight_ = false;
    }
    const bool ok = TakeResult(flight_);
    flight_.bytes.clear();
    flight_.chunks.clear();
    return ok;
}

bool AviRiffFile::FlushPending() {
    if (pending_.bytes.empty()) return true;
    Batch batch;
    std::swap(batch, pending_);
    batch.offset = written_end_;
    batch.ok = WriteAt(batch.offset, batch.bytes.data(), batch.bytes.size(), &batch.written);
    written_end_ = end_;
    return TakeResult(batch);
}

bool AviRiffFile::TakeResult(const Batch& batch) {
    const uint64_t on_disk = batch.offset + batch.written;
    size_t whole = 0;
    while (whole < batch.chunks.size() && batch.chunks[whole].end <= on_disk) {
        StreamState& s = streams_[batch.chunks[whole].stream];
        s.largest = std::max(s.largest, batch.chunks[whole].size);
        ++whole;
    }
    if (batch.ok) return true;
    failed_ = true;
    // The chunks that did not reach the file whole, and those gathered
    // behind them, leave the counts and the index (the index holds them last).
    const auto forget = [this](const PendingChunk& c) {
        StreamState& s = streams_[c.stream];
        --s.chunks;
        s.bytes -= c.size;
        index_.resize(index_.size() - 16);
    };
    for (size_t i = pending_.chunks.size(); i > 0; --i) forget(pending_.chunks[i - 1]);
    for (size_t i = batch.chunks.size(); i > whole; --i) forget(batch.chunks[i - 1]);
    pending_.bytes.clear();
    pending_.chunks.clear();
    end_ = written_end_ = whole > 0 ? batch.chunks[whole - 1].end : batch.offset;
    return false;
}

bool AviRiffFile::Patch32(uint64_t offset, uint64_t value) {
    uint8_t b[4];
    const uint32_t v = static_cast<uint32_t>(std::min<uint64_t>(value, 0xFFFFFFFFu));
    for (int i = 0; i < 4; ++i) b[i] = static_cast<uint8_t>(v >> (8 * i));
    return WriteAt(offset, b, 4);
}

bool AviRiffFile::Create(const std::string& path, int width, int height, uint32_t micro_seconds_per_frame,
                         const AviStreamSpec& video, const AviStreamSpec& audio, uint64_t max_file_bytes) {
    if (fd_ >= 0) Finish();
    failed_ = false;
    index_.clear();
    for (StreamState& s : streams_) s = StreamState{};
    max_bytes_ = std::min(max_file_bytes, kMaxFileBytes);

    Bytes b;
    const uint64_t riff = b.Begin("RIFF");
    b.Id("AVI ");
    const uint64_t hdrl = b.Begin("LIST");
    b.Id("hdrl");
    b.Id("avih");
    b.U32(kMainHeaderSize);
    avih_at_ = b.Pos();
    b.U32(micro_seconds_per_frame);
    b.U32(0);  // max bytes per second
    b.U32(0);  // padding granularity
    b.U32(kHasIndex);
    b.U32(0);  // total frames
    b.U32(0);  // initial frames
    b.U32(2);  // streams
    b.U32(video.suggested_buffer_size);
    b.U32(static_cast<uint32_t>(width));
    b.U32(static_cast<uint32_t>(height));
    b.Zeros(16);
    streams_[kVideoStream].strh_at = PutStreamList(b, video);
    streams_[kAudioStream].strh_at = PutStreamList(b, audio);
    b.End(hdrl);

    // The checker looks for its stream checksum in the first data bytes of
    // this chunk, so it always has at least four.
    const uint64_t junk_at = b.Pos();
    const uint64_t first_chunk =
        (junk_at + 8 + 4 + 12 + kMoviAlignment - 1) / kMoviAlignment * kMoviAlignment;
    movi_at_ = first_chunk - 12;
    b.Id("JUNK");
    b.U32(static_cast<uint32_t>(movi_at_ - junk_at - 8));
    b.Zeros(movi_at_ - junk_at - 8);
    b.Id("LIST");
    b.U32(4);
    b.Id("movi");
    b.Put32(riff - 4, static_cast<uint32_t>(b.Pos() - riff));

    streams_[kVideoStream].declared_buffer = video.suggested_buffer_size;
    streams_[kVideoStream].sample_size = video.sample_size;
    streams_[kAudioStream].declared_buffer = audio.suggested_buffer_size;
    streams_[kAudioStream].sample_size = audio.sample_size;
    streams_[kVideoStream].format_size = video.format.size();
    streams_[kAudioStream].format_size = audio.format.size();

    pending_.bytes.clear();
    pending_.chunks.clear();
    fd_ = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd_ < 0) return false;
    path_ = path;
    if (!WriteAt(0, b.v.data(), b.v.size())) {
        // Only a file of ours goes; a device given as the path stays.
        struct stat st;
        const bool regular = fstat(fd_, &st) == 0 && S_ISREG(st.st_mode);
        close(fd_);
        fd_ = -1;
        if (regular) unlink(path.c_str());
        return false;
    }
    end_ = written_end_ = b.Pos();
    return true;
}

bool AviRiffFile::RedeclareAudio(const AviStreamSpec& audio) {
    StreamState& a = streams_[kAudioStream];
    if (fd_ < 0 || failed_ || a.chunks > 0 || audio.format.size() != a.format_size) return false;
    // strh: scale at 20, rate at 24, buffer size at 36, sample size at 44; the strf data follows its 8-byte head.
    const bool ok = Patch32(a.strh_at + 20, audio.scale) && Patch32(a.strh_at + 24, audio.rate) &&
                    Patch32(a.strh_at + 36, audio.suggested_buffer_size) &&
                    Patch32(a.strh_at + 44, audio.sample_size) &&
                    WriteAt(a.strh_at + kStreamHeaderSize + 8, audio.format.data(), audio.format.size());
    if (!ok) {
        failed_ = true;
        return false;
    }
    a.declared_buffer = audio.suggested_buffer_size;
    a.sample_size = audio.sample_size;
    return true;
}

bool AviRiffFile::WriteChunk(int stream, const uint8_t* data, size_t size) {
    if (fd_ < 0 || failed_ || (stream != kVideoStream && stream != kAudioStream)) return false;
    if (size > 0 && data == nullptr) return false;
    const uint64_t padded = static_cast<uint64_t>(size) + (size & 1);
    constexpr uint64_t kIndexHeader = 8;
    constexpr uint64_t kIndexEntry = 16;
    if (end_ > max_bytes_ || size >= max_bytes_ || padded + 8 > max_bytes_ - end_ ||
        end_ + 8 + padded + kIndexHeader + index_.size() + kIndexEntry > max_bytes_)
        return false;

    const char* id = stream == kVideoStream ? "00dc" : "01wb";
    uint8_t head[8];
    std::memcpy(head, id, 4);
    for (int i = 0; i < 4; ++i) head[4 + i] = static_cast<uint8_t>(size >> (8 * i));
    pending_.bytes.insert(pending_.bytes.end(), head, head + 8);
    if (size > 0) pending_.bytes.insert(pending_.bytes.end(), data, data + size);
    if (size & 1) pending_.bytes.push_back(0);

    const uint64_t offset = end_ - (movi_at_ + 8);
    uint8_t entry[16];
    std::memcpy(entry, id, 4);
    const uint32_t fields[3] = {kIndexKeyFrame, static_cast<uint32_t>(offset), static_cast<uint32_t>(size)};
    for (int f = 0; f < 3; ++f)
        for (int i = 0; i < 4; ++i) entry[4 + 4 * f + i] = static_cast<uint8_t>(fields[f] >> (8 * i));
    index_.insert(index_.end(), entry, entry + 16);

    StreamState& s = streams_[stream];
    ++s.chunks;
    s.bytes += size;
    end_ += 8 + padded;
    pending_.chunks.push_back({end_, stream, static_cast<uint32_t>(size)});
    if (pending_.bytes.size() >= kWriteBatchBytes && !SubmitPending()) return false;
    return true;
}

bool AviRiffFile::Finish() {
    if (fd_ < 0) return false;
    CollectFlight();
    FlushPending();
    bool ok = !failed_;
    // A short write may have left part of a chunk behind the last whole one.
    if (failed_ && ftruncate(fd_, static_cast<off_t>(end_)) != 0) ok = false;

    const uint64_t movi_end = end_;
    uint8_t head[8] = {'i', 'd', 'x', '1'};
    for (int i = 0; i < 4; ++i) head[4 + i] = static_cast<uint8_t>(index_.size() >> (8 * i));
    bool done = WriteAt(end_, head, 8) && (index_.empty() || WriteAt(end_ + 8, index_.data(), index_.size()));
    const uint64_t file_end = end_ + 8 + index_.size();
    if (!done) {
        // Without its index the file still reads front to back.
        ok = false;
        if (ftruncate(fd_, static_cast<off_t>(movi_end)) != 0) done = false;
    }
    const uint64_t riff_end = done ? file_end : movi_end;

    const StreamState& v = streams_[kVideoStream];
    const StreamState& a = streams_[kAudioStream];
    const auto length = [](const StreamState& s) { return s.sample_size ? s.bytes / s.sample_size : s.chunks; };
    bool patched = Patch32(4, riff_end - 8) && Patch32(movi_at_ + 4, movi_end - movi_at_ - 8) &&
                   Patch32(avih_at_ + 16, v.chunks) &&
                   Patch32(avih_at_ + 28, std::max(v.declared_buffer, std::max(v.largest, a.largest)));
    for (const StreamState* s : {&v, &a})
        patched = patched && Patch32(s->strh_at + 32, length(*s)) &&
                  Patch32(s->strh_at + 36, std::max(s->declared_buffer, s->largest));
    if (!patched) ok = false;
    if (close(fd_) != 0) ok = false;
    fd_ = -1;
    index_.clear();
    index_.shrink_to_fit();
    return ok;
}
