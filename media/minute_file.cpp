#include "media/minute_file.h"

bool MinuteFile::Open(const std::string& data_folder, int year, int month, int day, int hour, int minute) {
    return OpenPath(MinuteFilePath(data_folder, year, month, day, hour, minute));
}

bool MinuteFile::OpenPath(const std::string& path) {
    Close();
    if (!file_.Open(path)) return false;
    size_ = file_.OpenedSize();
    if (size_ < diskformat::kMinuteIndexSize) {
        Close();
        return false;
    }
    if (file_.ReadAt(0, index_.bytes.data(), index_.bytes.size()) != index_.bytes.size()) {
        Close();
        read_failed_ = true;
        return false;
    }
    return true;
}

void MinuteFile::Close() {
    file_.Close();
    read_failed_ = false;
    index_.bytes.fill(0);
    size_ = 0;
}

bool MinuteFile::ReadBlock(int s, int c, ChannelSecondBlock* block, int64_t* block_position) const {
    if (!IsOpen() || s < 0 || s >= diskformat::kSecondsPerMinute || c < 0 || c >= diskformat::kChannels) return false;
    const int64_t pos = index_.Second(s).BlockPosition(c);
    if (pos < 0 || pos > size_ - diskformat::kBlockSize) {
        block->bytes.fill(0);
        return false;
    }
    if (file_.ReadAt(static_cast<uint64_t>(pos), block->bytes.data(), block->bytes.size()) != block->bytes.size()) {
        block->bytes.fill(0);
        read_failed_ = true;
        return false;
    }
    *block_position = pos;
    return true;
}

bool MinuteFile::EntryReadable(const MinuteFrameEntry& entry, int64_t block_position) const {
    if (entry.kind != diskformat::kKindVideo && entry.kind != diskformat::kKindAudio) return false;
    if (entry.length <= 0 || entry.length > diskformat::kMaxFrameLength) return false;
    const int64_t start = block_position + entry.data_offset;
    return start >= 0 && start <= size_ - entry.length;
}

bool MinuteFile::ReadFrameData(const MinuteFrameEntry& entry, int64_t block_position,
                               std::vector<uint8_t>* data) const {
    data->clear();
    if (!IsOpen() || !EntryReadable(entry, block_position)) return false;
    data->resize(static_cast<size_t>(entry.length));
    const uint64_t start = static_cast<uint64_t>(block_position + entry.data_offset);
    if (file_.ReadAt(start, data->data(), data->size()) != data->size()) {
        data->clear();
        read_failed_ = true;
        return false;
    }
    return true;
}

bool MinuteFile::ReadSpan(int64_t start, int64_t length, std::vector<uint8_t>* data) const {
    if (!IsOpen() || start < 0 || length <= 0 || start > size_ || length > size_ - start) {
        data->clear();
        return false;
    }
    // No clear first: a buffer used again is not zero-filled before every read.
    data->resize(static_cast<size_t>(length));
    if (file_.ReadAt(static_cast<uint64_t>(start), data->data(), data->size()) != data->size()) {
        data->clear();
        read_failed_ = true;
        return false;
    }
    return true;
}

std::vector<MinuteFrame> MinuteFile::ReadFrames(const ChannelSecondBlock& block, int64_t block_position) const {
    std::vector<MinuteFrame> frames;
    const int32_t used = block.UsedCount();
    for (int i = 0; i < used; ++i) {
        MinuteFrame frame;
        frame.entry = block.Entry(i);
        if (ReadFrameData(frame.entry, block_position, &frame.data)) frames.push_back(std::move(frame));
    }
    return frames;
}
