#pragma once
// The checker's three watermark checks. Each gives true (intact) or false,
// also for files that are missing, unreadable, truncated or malformed: the
// files are untrusted, so every size read from them is checked against its
// list and the file before it is used.
#include <atomic>
#include <cstdint>
#include <string>

// The two long checks also take a run flag: when it is cleared they give up
// within one buffer and answer false.

// Chunks of the movi list larger than this fail the stream checksum.
inline constexpr uint64_t kAviChunkBufferSize = 4000000;

// The APP1 block that InsertJpegWatermark writes; one pass over the file,
// which is never held whole.
bool CheckJpegWatermark(const std::string& path, const std::atomic<int>* run = nullptr);

// The 32-bit checksum over the movi list's chunks, compared with the value
// stored at FindAviChecksumPosition + 8.
bool CheckAviStreamChecksum(const std::string& path, const std::atomic<int>* run = nullptr);

// Offset of the chunk whose first data bytes hold the stored checksum, found
// by the fixed header layout of the playback program's exports; 0 when the
// layout does not match or runs past the end of the file.
uint64_t FindAviChecksumPosition(const std::string& path);

// The last four bytes are 10085, little-endian.
bool CheckAviTrailer(const std::string& path);
