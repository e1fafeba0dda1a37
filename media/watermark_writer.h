#pragma once
// The two watermarks that files leaving the playback program carry, and the
// arithmetic the checker shares with them so writer and checker cannot drift.
//
// JPEG: an 8-byte APP1 block FF E1 00 06 c1 c2 00 00 behind the first two
// bytes of the encoder's file. AVI: the 32-bit value 10085 appended at the end.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

inline constexpr uint32_t kWatermarkTrailerValue = 10085;  // bytes 65 27 00 00
inline constexpr uint8_t kWatermarkLfsrSeed = 37;
inline constexpr size_t kJpegWatermarkBlockSize = 8;
inline constexpr uint64_t kJpegLfsrWindow = 100;

// One step of the 8-bit shift register both watermarks use: taps 0, 2, 3, 4.
inline uint8_t WatermarkLfsrStep(uint8_t s) {
    const uint8_t b = (s ^ (s >> 2) ^ (s >> 3) ^ (s >> 4)) & 1u;
    return static_cast<uint8_t>((b << 7) | (s >> 1));
}

// XOR of all bytes; the checksums only ever fold data into their lowest byte.
uint8_t XorBytes(const uint8_t* data, size_t size);

// Check bytes over the covered region of a JPEG (the encoder's file from
// offset 2, or the watermarked file from offset 10), fed in order in pieces of
// any size. With h = size / 2: c1 is the XOR of the first h bytes; byte h seeds
// the register, which then picks bytes of the 100-byte window for c2; every
// byte behind the window goes into c2. Window bytes that lie past the end of a
// short file count as zero, so they change nothing.
class JpegCheckBytes {
public:
    explicit JpegCheckBytes(uint64_t region_size) : half_(region_size / 2) {}
    void Add(const uint8_t* data, size_t size);
    uint8_t c1() const { return c1_; }
    uint8_t c2() const { return c2_; }

private:
    uint64_t half_;
    uint64_t pos_ = 0;
    uint8_t c1_ = 0;
    uint8_t c2_ = 0;
    uint8_t state_ = 0;
};

// Kept on the stack by the snapshot commands and as a member by the export
// dialogs. checksum and state are the starting values of the AVI stream
// checksum; the playback program sets them but never computes that checksum.
struct WatermarkWriter {
    std::vector<uint8_t> file_copy;  // filled by InsertJpegWatermark
    uint32_t checksum = kWatermarkTrailerValue;
    std::array<uint8_t, 3> state{kWatermarkLfsrSeed, kWatermarkLfsrSeed, 0};
};

// Rewrites the file at path with the APP1 block inserted. The new file is
// built in memory (left in file_copy) and replaces the old one by rename, so a
// failure leaves the snapshot as it was. False when the file cannot be read,
// is shorter than 2 bytes, or the new file cannot be written.
bool InsertJpegWatermark(std::vector<uint8_t>& file_copy, const std::string& path);

// Appends the trailer to an existing file; never creates one. False when the
// file does not open or the 4 bytes cannot all be written (the file is then
// cut back to its old length).
bool AppendWatermarkTrailer(const std::string& path);

// Writes data to a temporary file beside path and renames it over path, so
// readers see the old file or the complete new one. An existing file's
// permission bits are kept.
bool WriteFileReplacing(const std::string& path, const uint8_t* data, size_t size);
