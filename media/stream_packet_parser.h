#pragma once
// The recorder's framed media stream: packets of a start code, a header and a
// payload, cut out of a byte stream that arrives in pieces of any size. The
// stream is untrusted: lengths outside the format's limits drop the packet and
// the search for the next start code resumes right behind the false one.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace streamformat {

constexpr uint8_t kVideoStartCode = 0xF3;
constexpr uint8_t kAudioStartCode = 0xF9;
constexpr int kVideoHeaderSize = 128;
constexpr int kAudioHeaderSize = 48;
// Start code, header length and payload size: what must be read before a packet can be trusted.
constexpr int kMinHeaderSize = 12;
constexpr int32_t kMaxPayloadSize = 0x200000;
constexpr size_t kCarryOverSize = 20480;

constexpr int kOffHeaderLength = 4;
constexpr int kOffPayloadSize = 8;
constexpr int kOffMarker = 16;  // frame marker (video) / stream state; 2 ends a backup stream
constexpr int kOffSeconds = 20;
constexpr int kOffMicroseconds = 24;
// Video header.
constexpr int kOffDate = 28;  // six u16: year, month, day, hour, minute, second
constexpr int kOffCharWidth = 40;
constexpr int kOffTitle = 44;
constexpr int kTitleSize = 64;
constexpr int kOffFrameType = 108;
constexpr int kOffVideoChannelMask = 112;
constexpr int kOffWidth = 114;
constexpr int kOffHeight = 116;
constexpr int kOffVideoExtra = 122;
// Audio header.
constexpr int kOffAudioType = 28;
constexpr int kOffAudioChannelMask = 32;
constexpr int kOffAudioChannels = 34;
constexpr int kOffSampleRate = 36;
constexpr int kOffBitsPerSample = 40;

// Frame-type and audio-type codes as the recorder sends them.
constexpr int32_t kFrameMjpeg = 100, kFrameMpeg4Key = 101, kFrameMpeg4 = 102, kFrameH264Key = 104, kFrameH264 = 105;
constexpr int32_t kAudioG711First = 201, kAudioG711Second = 202, kAudioG726 = 203, kAudioAac = 204, kAudioPcm = 200;

}  // namespace streamformat

// One packet header as raw little-endian bytes, 128 for video, 48 for audio.
struct StreamPacketHeader {
    std::array<uint8_t, streamformat::kVideoHeaderSize> bytes{};

    static StreamPacketHeader Video();
    static StreamPacketHeader Audio();
    // Copies size bytes (at most 128) of a received header.
    static StreamPacketHeader FromBytes(const uint8_t* data, size_t size);

    bool IsVideo() const { return bytes[3] == streamformat::kVideoStartCode; }
    bool IsAudio() const { return bytes[3] == streamformat::kAudioStartCode; }
    int32_t I32(int offset) const;
    uint16_t U16(int offset) const;
    void SetI32(int offset, int32_t value);
    void SetU16(int offset, uint16_t value);

    int32_t header_length() const { return I32(streamformat::kOffHeaderLength); }
    int32_t payload_size() const { return I32(streamformat::kOffPayloadSize); }
    int32_t marker() const { return I32(streamformat::kOffMarker); }
    // Lowest of bits 0-3 of the channel mask of either header kind; -1 when none is set.
    int Channel() const;
};

// Packet kinds 0-2 video (MJPEG, MPEG-4, H.264), 3-7 audio; -1 for a header of neither kind.
int32_t StreamPacketKind(const StreamPacketHeader& header);
int IsVideoPacketKind(int kind);
// Milliseconds as the recorder's clients compute them: 32-bit unsigned, wrapping.
uint32_t StreamTimeMs(uint32_t seconds, uint32_t microseconds);

// Header length and payload size are filled in from the start code and the payload.
std::vector<uint8_t> BuildStreamPacket(StreamPacketHeader header, const uint8_t* payload, size_t size);

class StreamPacketParser {
public:
    StreamPacketParser();
    ~StreamPacketParser();
    StreamPacketParser(const StreamPacketParser&) = delete;
    StreamPacketParser& operator=(const StreamPacketParser&) = delete;

    // Drops any partial packet; clears the whole payload buffer, so call it on (re)connection only.
    void Reset();
    // With nothing left unparsed, the bytes are parsed in place and must stay unchanged until
    // NextPacket has returned null. Otherwise they are appended to the carry-over buffer; false
    // (nothing taken) when they would not fit it.
    bool Feed(const uint8_t* bytes, size_t count);
    // The payload of the next complete packet, or null when the input is used up. The payload
    // and the header copy stay valid until the next call.
    const uint8_t* NextPacket();

    // 128-byte copy for kinds 0-2, 48-byte copy for kinds 3-7, else null.
    const uint8_t* GetHeader() const;
    const std::string& GetTimeText() const { return time_text_; }
    int64_t GetTimestampMs() const;

    int32_t kind() const { return kind_; }
    int32_t payload_size() const { return payload_size_; }
    // Video only; 0 after an audio packet.
    int32_t width() const { return width_; }
    int32_t height() const { return height_; }

private:
    enum State { kSearch = 1, kLength = 2, kHeader = 3, kPayload = 4 };

    // Consumes bytes of p[0..n) for the current state; returns how many. Sets *complete when a
    // packet has been finished.
    size_t Consume(const uint8_t* p, size_t n, bool* complete);
    void Reject();
    void FinishHeader();
    void KeepRestOfInput();

    State state_ = kSearch;
    const uint8_t* input_ = nullptr;
    size_t input_count_ = 0;
    size_t input_index_ = 0;
    uint32_t start_window_ = 0;
    int length_bytes_ = 0;
    std::array<uint8_t, streamformat::kVideoHeaderSize> assembly_{};
    int32_t header_length_ = 0;
    int assembled_ = 0;
    // Bytes behind a rejected start code, searched again before the input continues.
    std::array<uint8_t, 16> replay_{};
    int replay_count_ = 0;
    int replay_index_ = 0;
    // Filled by Reject: at most the 8 bytes read behind a start code before it is judged.
    std::array<uint8_t, streamformat::kMinHeaderSize - 4> rejected_{};
    int rejected_count_ = 0;

    std::unique_ptr<uint8_t[]> video_header_;
    std::unique_ptr<uint8_t[]> audio_header_;
    std::unique_ptr<uint8_t[]> payload_;
    std::unique_ptr<uint8_t[]> carry_;
    int32_t payload_count_ = 0;

    int32_t kind_ = 0;
    int32_t payload_size_ = 0;
    int32_t width_ = 0;
    int32_t height_ = 0;
    uint32_t time_ms_ = 0;
    std::string time_text_;
};

// One packet queued by the remote export's download thread for its writer thread.
struct StreamFrameItem {
    int32_t media_class = -1;  // 1 video, 0 audio, -1 other
    int32_t kind = -1;
    int32_t stream_state = 0;
    std::unique_ptr<std::array<uint8_t, streamformat::kVideoHeaderSize>> video_header;
    std::unique_ptr<std::array<uint8_t, streamformat::kAudioHeaderSize>> audio_header;
    std::vector<uint8_t> payload;
};

void FreeStreamFrameItem(std::unique_ptr<StreamFrameItem> item);
