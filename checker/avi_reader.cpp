#include "checker/avi_reader.h"

#include <algorithm>
#include <cstring>

namespace {

uint32_t Le32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

bool IdIs(const char* id, const char* want) { return std::memcmp(id, want, 4) == 0; }

int ToInt(uint32_t v) { return static_cast<int>(std::min<uint32_t>(v, INT32_MAX)); }

int CodecOf(const char* handler) {
    if (IdIs(handler, "MJPG")) return AviReader::kCodecMjpeg;
    if (IdIs(handler, "DIVX") || IdIs(handler, "XVID")) return AviReader::kCodecMpeg4;
    if (IdIs(handler, "H264") || IdIs(handler, "h264")) return AviReader::kCodecH264;
    if (IdIs(handler, "MSVC")) return AviReader::kCodecMsvc;
    return AviReader::kCodecUnknown;
}

double FramesPerSecond(uint32_t rate, uint32_t scale) {
    if (rate == 0 || scale == 0) return AviReader::kMinFramesPerSecond;
    const double fps = static_cast<double>(rate) / static_cast<double>(scale);
    return std::clamp(fps, AviReader::kMinFramesPerSecond, AviReader::kMaxFramesPerSecond);
}

constexpr int kWaveFormatPcm = 1;
constexpr int kWaveFormatMuLaw = 7;

}  // namespace

struct AviReader::Chunk {
    char id[4];
    uint64_t size;  // as stored
    uint64_t data;  // offset of the first data byte
    uint64_t next;  // offset of the following chunk
};

void AviReader::Reset() {
    file_size_ = 0;
    movi_pos_ = movi_end_ = 0;
    movi_cut_ = false;
    failed_ = false;
    video_stream_ = audio_stream_ = -1;
    audio_playable_ = false;
    last_chunk_kind_ = kChunkVideo;
    std::memset(last_chunk_id_, 0, sizeof(last_chunk_id_));
    // A reader kept for the next file must not carry this file's audio over.
    audio_format_ = kAudioPcm;
    audio_sample_rate_ = 0;
    audio_channels_ = 1;
    audio_bits_per_sample_ = 0;
    frames_per_second_ = 1.0;
    total_frames_ = width_ = height_ = -1;
    codec_ = kCodecMjpeg;
}

// The chunk at 'at' must lie within end. Only the padding byte of a chunk that
// ends its list may be missing, as some writers leave it out.
bool AviReader::ReadHeader(uint64_t at, uint64_t end, Chunk* chunk) const {
    uint8_t h[8];
    if (at > end || end - at < 8 || file_.ReadAt(at, h, 8) != 8) return false;
    std::memcpy(chunk->id, h, 4);
    chunk->size = Le32(h + 4);
    chunk->data = at + 8;
    if (chunk->size > end - chunk->data) return false;
    chunk->next = std::min(chunk->data + chunk->size + (chunk->size & 1), end);
    return true;
}

bool AviReader::ReadListType(const Chunk& chunk, char type[4]) const {
    return chunk.size >= 4 && file_.ReadAt(chunk.data, type, 4) == 4;
}

int AviReader::Open(const std::string& path) {
    Close();
    Reset();
    if (!file_.Open(path)) return 0;
    const int64_t size = file_.Size();
    if (size < 12) return 0;
    file_size_ = static_cast<uint64_t>(size);

    // "RIFF" and "AVI " are not insisted on; only the size bounds the walk.
    uint8_t riff[12];
    if (file_.ReadAt(0, riff, sizeof(riff)) != sizeof(riff)) return 0;
    const uint64_t riff_end = std::min<uint64_t>(8 + static_cast<uint64_t>(Le32(riff + 4)), file_size_);

    bool headers = false;
    bool junk = false;
    for (uint64_t at = 12; at < riff_end;) {
        uint8_t h[12];
        if (riff_end - at < 12 || file_.ReadAt(at, h, 12) != 12) return 0;
        if (IdIs(reinterpret_cast<char*>(h), "LIST") && IdIs(reinterpret_cast<char*>(h + 8), "movi")) {
            if (!headers || !junk) return 0;
            const uint64_t list_size = Le32(h + 4);
            if (list_size < 4) return 0;
            // A cut-off file plays up to the cut; the chunk across it fails.
            movi_pos_ = at + 12;
            movi_end_ = std::min(at + 8 + list_size, riff_end);
            movi_cut_ = movi_end_ < at + 8 + list_size;
            return 1;
        }
        Chunk chunk;
        if (!ReadHeader(at, riff_end, &chunk)) return 0;
        char type[4];
        if (IdIs(chunk.id, "LIST") && ReadListType(chunk, type) && IdIs(type, "hdrl") && !headers) {
            if (!ParseHeaderList(chunk.data + 4, chunk.data + chunk.size)) return 0;
            headers = true;
        } else if (IdIs(chunk.id, "JUNK")) {
            junk = true;
        }
        at = chunk.next;
    }
    return 0;
}

bool AviReader::ParseHeaderList(uint64_t begin, uint64_t end) {
    bool main_header = false;
    int streams = 0;
    for (uint64_t at = begin; at < end;) {
        Chunk chunk;
        if (!ReadHeader(at, end, &chunk)) return false;
        char type[4];
        if (IdIs(chunk.id, "avih") && !main_header) {
            uint8_t avih[40];
            if (chunk.size < sizeof(avih) || file_.ReadAt(chunk.data, avih, sizeof(avih)) != sizeof(avih))
                return false;
            total_frames_ = ToInt(Le32(avih + 16));
            const uint32_t w = Le32(avih + 32);
            const uint32_t h = Le32(avih + 36);
            if (w == 0 || h == 0 || w > kMaxPictureSide || h > kMaxPictureSide) return false;
            width_ = static_cast<int>(w);
            height_ = static_cast<int>(h);
            main_header = true;
        } else if (IdIs(chunk.id, "LIST") && ReadListType(chunk, type) && IdIs(type, "strl")) {
            if (!ParseStreamList(chunk.data + 4, chunk.data + chunk.size, streams++)) return false;
        }
        at = chunk.next;
    }
    return main_header && video_stream_ >= 0;
}

bool AviReader::ParseStreamList(uint64_t begin, uint64_t end, int index) {
    char kind[4] = {0, 0, 0, 0};
    for (uint64_t at = begin; at < end;) {
        Chunk chunk;
        if (!ReadHeader(at, end, &chunk)) return false;
        if (IdIs(chunk.id, "strh")) {
            uint8_t strh[28];
            if (chunk.size < sizeof(strh) || file_.ReadAt(chunk.data, strh, sizeof(strh)) != sizeof(strh))
                return false;
            std::memcpy(kind, strh, 4);
            if (IdIs(kind, "vids") && video_stream_ < 0) {
                video_stream_ = index;
                codec_ = CodecOf(reinterpret_cast<char*>(strh + 4));
                frames_per_second_ = FramesPerSecond(Le32(strh + 24), Le32(strh + 20));
            } else if (IdIs(kind, "auds") && audio_stream_ < 0) {
                audio_stream_ = index;
            }
        } else if (IdIs(chunk.id, "strf") && IdIs(kind, "auds") && audio_stream_ == index) {
            uint8_t wave[16];
            if (chunk.size < sizeof(wave) || file_.ReadAt(chunk.data, wave, sizeof(wave)) != sizeof(wave))
                return false;
            const int tag = Le16(wave);
            if (tag == kWaveFormatPcm || tag == kWaveFormatMuLaw) {
                audio_format_ = tag == kWaveFormatPcm ? kAudioPcm : kAudioMuLaw;
                audio_channels_ = Le16(wave + 2);
                audio_sample_rate_ = ToInt(Le32(wave + 4));
                audio_bits_per_sample_ = Le16(wave + 14);
                audio_playable_ = true;
            }
        }
        at = chunk.next;
    }
    return true;
}

int AviReader::KindOf(const char id[4]) const {
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    if (!digit(id[0]) || !digit(id[1])) return kChunkOther;
    const int stream = (id[0] - '0') * 10 + (id[1] - '0');
    if ((id[2] == 'd' && (id[3] == 'c' || id[3] == 'b')) && stream == video_stream_) return kChunkVideo;
    if (id[2] == 'w' && id[3] == 'b' && stream == audio_stream_ && audio_playable_) return kChunkAudio;
    return kChunkOther;
}

int AviReader::Fail(uint32_t* size) {
    failed_ = true;
    movi_pos_ = movi_end_;
    *size = 0;
    return 0;
}

int AviReader::ReadChunk(uint8_t* buffer, size_t capacity, uint32_t* size) {
    *size = 0;
    if (!file_.IsOpen()) return 0;
    if (movi_pos_ >= movi_end_) {
        if (movi_cut_) failed_ = true;
        return 0;
    }
    Chunk chunk;
    if (!ReadHeader(movi_pos_, movi_end_, &chunk)) return Fail(size);
    if (chunk.size > capacity) return Fail(size);
    const size_t n = static_cast<size_t>(chunk.size);
    if (n > 0 && file_.ReadAt(chunk.data, buffer, n) != n) return Fail(size);
    std::memcpy(last_chunk_id_, chunk.id, 4);
    last_chunk_kind_ = KindOf(chunk.id);
    movi_pos_ = chunk.next;
    *size = static_cast<uint32_t>(n);
    return 1;
}

void AviReader::Close() {
    file_.Close();
    movi_pos_ = movi_end_ = 0;
}
