#include "checker/watermark_checks.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "media/watermark_writer.h"
#include "platform/data_file.h"

namespace {

uint32_t Le32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

bool IdIs(const uint8_t* p, const char* id) { return std::memcmp(p, id, 4) == 0; }

uint64_t Even(uint64_t n) { return n + (n & 1u); }

bool Cut(const std::atomic<int>* run) { return run && !run->load(); }

// Buffered reads in file order over an untrusted file; every request is
// checked against the file's size, and a short read (file shrunk meanwhile)
// fails like a read past the end.
class CheckedReader {
public:
    bool Open(const std::string& path) {
        if (!file_.Open(path)) return false;
        const int64_t size = file_.Size();
        if (size < 0) return false;
        size_ = static_cast<uint64_t>(size);
        return true;
    }
    uint64_t size() const { return size_; }

    bool Read(uint64_t at, uint8_t* out, size_t n) {
        while (n > 0) {
            const uint8_t* p = nullptr;
            size_t got = 0;
            if (!View(at, n, &p, &got)) return false;
            std::memcpy(out, p, got);
            out += got;
            at += got;
            n -= got;
        }
        return true;
    }

    bool Xor(uint64_t at, uint64_t n, uint8_t* x) {
        while (n > 0) {
            const uint8_t* p = nullptr;
            size_t got = 0;
            if (!View(at, n, &p, &got)) return false;
            *x ^= XorBytes(p, got);
            at += got;
            n -= got;
        }
        return true;
    }

    // True when [at, at + n) lies within the file.
    bool Holds(uint64_t at, uint64_t n) const { return at <= size_ && n <= size_ - at; }

private:
    // Up to n bytes at 'at' from the buffer, refilling it when needed.
    bool View(uint64_t at, uint64_t n, const uint8_t** p, size_t* got) {
        if (!Holds(at, n)) return false;
        if (at < buffer_at_ || at >= buffer_at_ + filled_) {
            if (buffer_.empty()) buffer_.resize(static_cast<size_t>(std::min<uint64_t>(kBufferSize, size_)));
            const size_t want = static_cast<size_t>(std::min<uint64_t>(buffer_.size(), size_ - at));
            filled_ = file_.ReadAt(at, buffer_.data(), want);
            buffer_at_ = at;
            if (filled_ != want) {
                filled_ = 0;
                return false;
            }
        }
        const size_t offset = static_cast<size_t>(at - buffer_at_);
        *p = buffer_.data() + offset;
        *got = static_cast<size_t>(std::min<uint64_t>(n, filled_ - offset));
        return true;
    }

    static constexpr size_t kBufferSize = 256 * 1024;
    platform::ReadOnlyFile file_;
    uint64_t size_ = 0;
    std::vector<uint8_t> buffer_;
    uint64_t buffer_at_ = 0;
    size_t filled_ = 0;
};

struct MoviList {
    uint64_t start = 0;  // first chunk header
    uint64_t size = 0;   // bytes of chunks
};

// The export header walk: fixed video stream headers, an optional audio
// stream list, one optional further list, the required "JUNK" chunk, then the
// movi list.
bool FindMovi(CheckedReader& in, MoviList* movi) {
    uint8_t h[12];
    if (!in.Read(112, h, 4)) return false;
    uint64_t pos = 212;
    if (IdIs(h, "MSVC")) {
        if (!in.Read(pos, h, 4)) return false;
        if (!IdIs(h, "strn")) pos += 4;
    }
    if (!in.Read(pos, h, 8)) return false;
    if (IdIs(h, "strn")) pos += 8 + Even(Le32(h + 4));
    if (!in.Read(pos, h, 12) || !IdIs(h, "LIST")) return false;
    if (Le32(h + 4) >= 64) {
        pos += 12 + 64 + 24 + 2;  // list header, audio "strh", "strf" header and format
        if (!in.Read(pos, h, 8)) return false;
        if (IdIs(h, "strn")) pos += 8 + Even(Le32(h + 4));
    }
    if (!in.Read(pos, h, 12)) return false;
    if (IdIs(h, "LIST")) pos += 8 + Even(Le32(h + 4));
    if (!in.Read(pos, h, 8) || !IdIs(h, "JUNK")) return false;
    pos += 8 + static_cast<uint64_t>(Le32(h + 4));
    if (!in.Read(pos, h, 12)) return false;
    const uint32_t list_size = Le32(h + 4);
    if (list_size < 4) return false;
    movi->start = pos + 12;
    movi->size = list_size - 4;
    return true;
}

uint64_t ChecksumPosition(CheckedReader& in) {
    uint8_t h[8];
    if (!in.Read(112, h, 4)) return 0;
    uint64_t next = 212;
    if (IdIs(h, "MSVC")) {
        if (!in.Read(next, h, 4)) return 0;
        if (!IdIs(h, "strn")) next = 216;
    }
    if (!in.Read(next, h, 8) || !IdIs(h, "strn")) return 0;
    const uint64_t a = next + 8 + Even(Le32(h + 4));
    if (!in.Read(a, h, 4) || !IdIs(h, "LIST")) return 0;
    const uint64_t after_audio = a + 102;
    if (!in.Read(after_audio, h, 8)) return 0;
    return IdIs(h, "strn") ? after_audio + 8 + Even(Le32(h + 4)) : after_audio;
}

}  // namespace

bool CheckJpegWatermark(const std::string& path, const std::atomic<int>* run) {
    platform::ReadOnlyFile file;
    if (!file.Open(path)) return false;
    const int64_t length = file.Size();
    if (length < static_cast<int64_t>(2 + kJpegWatermarkBlockSize)) return false;
    uint8_t head[2 + kJpegWatermarkBlockSize];
    if (file.ReadAt(0, head, sizeof(head)) != sizeof(head)) return false;
    if (head[2] != 0xFF || head[3] != 0xE1) return false;

    const uint64_t region = static_cast<uint64_t>(length) - sizeof(head);
    JpegCheckBytes check(region);
    std::vector<uint8_t> buffer(static_cast<size_t>(std::min<uint64_t>(region, 64 * 1024)));
    for (uint64_t done = 0; done < region;) {
        if (Cut(run)) return false;
        const size_t want = static_cast<size_t>(std::min<uint64_t>(buffer.size(), region - done));
        if (file.ReadAt(sizeof(head) + done, buffer.data(), want) != want) return false;
        check.Add(buffer.data(), want);
        done += want;
    }
    return check.c1() == head[6] && check.c2() == head[7];
}

uint64_t FindAviChecksumPosition(const std::string& path) {
    CheckedReader in;
    if (!in.Open(path)) return 0;
    return ChecksumPosition(in);
}

bool CheckAviStreamChecksum(const std::string& path, const std::atomic<int>* run) {
    CheckedReader in;
    MoviList movi;
    if (!in.Open(path) || !FindMovi(in, &movi)) return false;
    // The stored value decides nothing when it is missing, so look for it
    // before walking a possibly long movi list.
    const uint64_t p = ChecksumPosition(in);
    uint8_t stored[4];
    if (p == 0 || !in.Read(p + 8, stored, 4)) return false;

    uint32_t d = kWatermarkTrailerValue;
    uint8_t s = kWatermarkLfsrSeed;
    uint64_t at = movi.start;
    for (uint64_t left = movi.size; left > 0;) {
        if (Cut(run)) return false;
        uint8_t h[8];
        if (left < 8 || !in.Read(at, h, 8)) return false;
        const uint64_t n = Le32(h + 4);
        const uint64_t padded = Even(n);
        if (padded > kAviChunkBufferSize || padded > left - 8 || !in.Holds(at + 8, padded)) return false;
        if (n > 0) {
            uint8_t x = 0;
            if (!in.Xor(at + 8, n, &x)) return false;
            d ^= x;
            if (n & 0x111) d = (d << 1) | (d >> 31);
            s = WatermarkLfsrStep(s);
            d ^= s;
        }
        at += 8 + padded;
        left -= 8 + padded;
    }
    return d == Le32(stored);
}

bool CheckAviTrailer(const std::string& path) {
    platform::ReadOnlyFile file;
    if (!file.Open(path)) return false;
    const int64_t size = file.Size();
    uint8_t last[4];
    if (size < 4 || file.ReadAt(static_cast<uint64_t>(size) - 4, last, 4) != 4) return false;
    return Le32(last) == kWatermarkTrailerValue;
}
