#pragma once
// Reader of one per-minute recording file, with every offset and length taken
// from the file checked against the file before it drives a read.
#include <cstdint>
#include <string>
#include <vector>

#include "media/disk_format.h"
#include "platform/data_file.h"

struct MinuteFrame {
    MinuteFrameEntry entry;
    std::vector<uint8_t> data;
};

class MinuteFile {
public:
    // Opens the minute and reads its index whole. False (the minute is a gap)
    // when the file is missing or shorter than the index.
    bool Open(const std::string& data_folder, int year, int month, int day, int hour, int minute);
    bool OpenPath(const std::string& path);
    void Close();
    bool IsOpen() const { return file_.IsOpen(); }
    // A read of bytes the file's size says are there came short since the
    // last open: the file could not be read (a share gone, the file cut), as
    // opposed to a damaged offset, which never reaches the file.
    bool ReadFailed() const { return read_failed_; }

    const MinuteFileIndex& index() const { return index_; }
    SecondIndexEntry Second(int s) const { return index_.Second(s); }
    int64_t size() const { return size_; }

    // Reads channel c's block of second s. False on a damaged position or a
    // short read: the channel is dropped for that second, never left stale.
    bool ReadBlock(int s, int c, ChannelSecondBlock* block, int64_t* block_position) const;
    // Kind 0 or 1, a length in (0, 2 MiB], and data lying inside the file.
    bool EntryReadable(const MinuteFrameEntry& entry, int64_t block_position) const;
    // False on a short read; data is then empty.
    bool ReadFrameData(const MinuteFrameEntry& entry, int64_t block_position, std::vector<uint8_t>* data) const;
    // The file's bytes [start, start + length) in one read, for the data of
    // several entries at once. False when they do not lie inside the file or
    // the read is short; data is then empty.
    bool ReadSpan(int64_t start, int64_t length, std::vector<uint8_t>* data) const;
    // The readable used entries of a block, in slot order, with their data.
    std::vector<MinuteFrame> ReadFrames(const ChannelSecondBlock& block, int64_t block_position) const;

private:
    platform::ReadOnlyFile file_;
    MinuteFileIndex index_;
    int64_t size_ = 0;
    mutable bool read_failed_ = false;
};
