#include "media/stream_packet_parser.h"

#include <algorithm>
#include <cstring>

using namespace streamformat;

namespace {

int32_t ReadLe32(const uint8_t* p) {
    return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                                static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24);
}

bool HeaderLengthValid(uint8_t start_code, int32_t length) {
    const int32_t limit = start_code == kVideoStartCode ? kVideoHeaderSize : kAudioHeaderSize;
    return length >= kMinHeaderSize && length <= limit;
}

}  // namespace

StreamPacketHeader StreamPacketHeader::Video() {
    StreamPacketHeader h;
    h.bytes[2] = 0x01;
    h.bytes[3] = kVideoStartCode;
    h.SetI32(kOffHeaderLength, kVideoHeaderSize);
    return h;
}

StreamPacketHeader StreamPacketHeader::Audio() {
    StreamPacketHeader h;
    h.bytes[2] = 0x01;
    h.bytes[3] = kAudioStartCode;
    h.SetI32(kOffHeaderLength, kAudioHeaderSize);
    return h;
}

StreamPacketHeader StreamPacketHeader::FromBytes(const uint8_t* data, size_t size) {
    StreamPacketHeader h;
    if (data) std::memcpy(h.bytes.data(), data, std::min(size, h.bytes.size()));
    return h;
}

int32_t StreamPacketHeader::I32(int offset) const { return ReadLe32(&bytes[offset]); }

uint16_t StreamPacketHeader::U16(int offset) const {
    return static_cast<uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
}

void StreamPacketHeader::SetI32(int offset, int32_t value) {
    const uint32_t v = static_cast<uint32_t>(value);
    for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<uint8_t>(v >> (8 * i));
}

void StreamPacketHeader::SetU16(int offset, uint16_t value) {
    bytes[offset] = static_cast<uint8_t>(value);
    bytes[offset + 1] = static_cast<uint8_t>(value >> 8);
}

int StreamPacketHeader::Channel() const {
    const uint16_t mask = U16(IsVideo() ? kOffVideoChannelMask : kOffAudioChannelMask);
    for (int c = 0; c < 4; ++c)
        if (mask & (1u << c)) return c;
    return -1;
}

int32_t StreamPacketKind(const StreamPacketHeader& header) {
    if (header.IsVideo()) {
        switch (header.I32(kOffFrameType)) {
            case kFrameMpeg4Key:
            case kFrameMpeg4: return 1;
            case kFrameH264Key:
            case kFrameH264: return 2;
            default: return 0;
        }
    }
    if (header.IsAudio()) {
        switch (header.I32(kOffAudioType)) {
            case kAudioG711First: return 3;
            case kAudioG711Second: return 4;
            case kAudioAac: return 5;
            case kAudioG726: return 6;
            default: return 7;
        }
    }
    return -1;
}

int IsVideoPacketKind(int kind) { return kind >= 0 && kind <= 2 ? 1 : 0; }

uint32_t StreamTimeMs(uint32_t seconds, uint32_t microseconds) { return seconds * 1000u + microseconds / 1000u; }

std::vector<uint8_t> BuildStreamPacket(StreamPacketHeader header, const uint8_t* payload, size_t size) {
    const int32_t length = header.IsVideo() ? kVideoHeaderSize : kAudioHeaderSize;
    header.SetI32(kOffHeaderLength, length);
    header.SetI32(kOffPayloadSize, static_cast<int32_t>(size));
    std::vector<uint8_t> packet(header.bytes.begin(), header.bytes.begin() + length);
    if (payload && size) packet.insert(packet.end(), payload, payload + size);
    return packet;
}

StreamPacketParser::StreamPacketParser()
    : video_header_(new uint8_t[kVideoHeaderSize]),
      audio_header_(new uint8_t[kAudioHeaderSize]),
      payload_(new uint8_t[kMaxPayloadSize]),
      carry_(new uint8_t[kCarryOverSize]) {
    Reset();
}

StreamPacketParser::~StreamPacketParser() = default;

void StreamPacketParser::Reset() {
    state_ = kSearch;
    input_ = nullptr;
    input_count_ = input_index_ = 0;
    start_window_ = 0;
    length_bytes_ = 0;
    assembly_.fill(0);
    header_length_ = 0;
    assembled_ = 0;
    replay_count_ = replay_index_ = 0;
    rejected_count_ = 0;
    std::memset(video_header_.get(), 0, kVideoHeaderSize);
    std::memset(audio_header_.get(), 0, kAudioHeaderSize);
    std::memset(payload_.get(), 0, kMaxPayloadSize);
    payload_count_ = 0;
    kind_ = payload_size_ = width_ = height_ = 0;
    time_ms_ = 0;
    time_text_.clear();
}

bool StreamPacketParser::Feed(const uint8_t* bytes, size_t count) {
    if (!bytes || count == 0) return true;
    const size_t pending = input_ ? input_count_ - input_index_ : 0;
    if (pending == 0) {
        input_ = bytes;
        input_count_ = count;
        input_index_ = 0;
        return true;
    }
    // A large piece parsed in place can leave more unparsed than the buffer holds.
    if (pending > kCarryOverSize || count > kCarryOverSize - pending) return false;
    std::memmove(carry_.get(), input_ + input_index_, pending);
    std::memcpy(carry_.get() + pending, bytes, count);
    input_ = carry_.get();
    input_count_ = pending + count;
    input_index_ = 0;
    return true;
}

const uint8_t* StreamPacketParser::NextPacket() {
    for (;;) {
        bool complete = false;
        if (replay_index_ < replay_count_) {
            replay_index_ += static_cast<int>(
                Consume(replay_.data() + replay_index_, static_cast<size_t>(replay_count_ - replay_index_), &complete));
        } else if (input_ && input_index_ < input_count_) {
            input_index_ += Consume(input_ + input_index_, input_count_ - input_index_, &complete);
        } else {
            input_ = nullptr;
            input_count_ = input_index_ = 0;
            return nullptr;
        }
        if (rejected_count_ > 0) {
            // Searched again ahead of whatever the replay still held.
            std::array<uint8_t, 16> next{};
            int count = 0;
            for (int i = 0; i < rejected_count_; ++i) next[static_cast<size_t>(count++)] = rejected_[static_cast<size_t>(i)];
            for (int i = replay_index_; i < replay_count_ && count < static_cast<int>(next.size()); ++i)
                next[static_cast<size_t>(count++)] = replay_[static_cast<size_t>(i)];
            replay_ = next;
            replay_count_ = count;
            replay_index_ = 0;
            rejected_count_ = 0;
        }
        if (replay_index_ >= replay_count_) replay_index_ = replay_count_ = 0;
        if (complete) {
            KeepRestOfInput();
            return payload_.get();
        }
    }
}

size_t StreamPacketParser::Consume(const uint8_t* p, size_t n, bool* complete) {
    switch (state_) {
        case kSearch:
            for (size_t i = 0; i < n; ++i) {
                start_window_ = start_window_ << 8 | p[i];
                if (start_window_ == (0x00000100u | kVideoStartCode) || start_window_ == (0x00000100u | kAudioStartCode)) {
                    assembly_[0] = 0x00;
                    assembly_[1] = 0x00;
                    assembly_[2] = 0x01;
                    assembly_[3] = p[i];
                    assembled_ = 4;
                    start_window_ = 0;
                    length_bytes_ = 0;
                    state_ = kLength;
                    return i + 1;
                }
            }
            return n;
        case kLength: {
            size_t used = 0;
            while (used < n && length_bytes_ < 4) {
                assembly_[static_cast<size_t>(assembled_++)] = p[used++];
                ++length_bytes_;
            }
            if (length_bytes_ == 4) {
                header_length_ = ReadLe32(&assembly_[kOffHeaderLength]);
                if (HeaderLengthValid(assembly_[3], header_length_)) {
                    state_ = kHeader;
                } else {
                    Reject();
                }
            }
            return used;
        }
        case kHeader: {
            // Stop at the payload size first, so a bad one is caught before more bytes are taken.
            const int target = assembled_ < kMinHeaderSize ? kMinHeaderSize : header_length_;
            const size_t take = std::min(n, static_cast<size_t>(target - assembled_));
            std::memcpy(&assembly_[static_cast<size_t>(assembled_)], p, take);
            assembled_ += static_cast<int>(take);
            if (assembled_ == kMinHeaderSize) {
                const int32_t size = ReadLe32(&assembly_[kOffPayloadSize]);
                if (size < 1 || size > kMaxPayloadSize) {
                    Reject();
                    return take;
                }
            }
            if (assembled_ == header_length_) FinishHeader();
            return take;
        }
        case kPayload: {
            const size_t take = std::min(n, static_cast<size_t>(payload_size_ - payload_count_));
            std::memcpy(payload_.get() + payload_count_, p, take);
            payload_count_ += static_cast<int32_t>(take);
            if (payload_count_ == payload_size_) {
                state_ = kSearch;
                *complete = true;
            }
            return take;
        }
    }
    return n;
}

void StreamPacketParser::Reject() {
    // The false start code's own bytes cannot begin another one; what followed it may.
    rejected_count_ = 0;
    for (int i = 4; i < assembled_; ++i) rejected_[static_cast<size_t>(rejected_count_++)] = assembly_[static_cast<size_t>(i)];
    assembly_.fill(0);
    assembled_ = 0;
    header_length_ = 0;
    start_window_ = 0;
    state_ = kSearch;
}

void StreamPacketParser::FinishHeader() {
    const StreamPacketHeader header = StreamPacketHeader::FromBytes(assembly_.data(), static_cast<size_t>(header_length_));
    if (header.IsVideo()) {
        std::memset(video_header_.get(), 0, kVideoHeaderSize);
        std::memcpy(video_header_.get(), assembly_.data(), static_cast<size_t>(header_length_));
        width_ = header.U16(kOffWidth);
        height_ = header.U16(kOffHeight);
    } else {
        std::memset(audio_header_.get(), 0, kAudioHeaderSize);
        std::memcpy(audio_header_.get(), assembly_.data(), static_cast<size_t>(header_length_));
        width_ = height_ = 0;
    }
    payload_size_ = header.payload_size();
    kind_ = StreamPacketKind(header);
    time_ms_ = StreamTimeMs(static_cast<uint32_t>(header.I32(kOffSeconds)),
                            static_cast<uint32_t>(header.I32(kOffMicroseconds)));
    time_text_ = std::to_string(time_ms_);
    assembly_.fill(0);
    assembled_ = 0;
    payload_count_ = 0;
    state_ = kPayload;
}

void StreamPacketParser::KeepRestOfInput() {
    if (!input_ || input_index_ >= input_count_) {
        input_ = nullptr;
        input_count_ = input_index_ = 0;
        return;
    }
    const size_t rest = input_count_ - input_index_;
    // A piece larger than the carry-over buffer is simply parsed on in place.
    if (input_ != carry_.get() && rest > kCarryOverSize) return;
    std::memmove(carry_.get(), input_ + input_index_, rest);
    input_ = carry_.get();
    input_count_ = rest;
    input_index_ = 0;
}

const uint8_t* StreamPacketParser::GetHeader() const {
    if (kind_ >= 0 && kind_ <= 2) return video_header_.get();
    if (kind_ >= 3 && kind_ <= 7) return audio_header_.get();
    return nullptr;
}

int64_t StreamPacketParser::GetTimestampMs() const { return time_text_.empty() ? 0 : static_cast<int64_t>(time_ms_); }

void FreeStreamFrameItem(std::unique_ptr<StreamFrameItem> item) { item.reset(); }
