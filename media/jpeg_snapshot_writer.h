#pragma once
// Saves a viewer's picture as a baseline JPEG file at quality 100.
#include <cstdint>
#include <string>

class JpegSnapshotWriter {
public:
    JpegSnapshotWriter() = default;
    ~JpegSnapshotWriter();
    JpegSnapshotWriter(const JpegSnapshotWriter&) = delete;
    JpegSnapshotWriter& operator=(const JpegSnapshotWriter&) = delete;

    // pixels: width x height x 3 bytes, blue-green-red, top row first, rows not
    // padded. Replaces any file at path, whole or not at all. False when the
    // size is not encodable or the file cannot be written.
    bool Save(const std::string& path, const uint8_t* pixels, int width, int height);

private:
    void* compressor_ = nullptr;  // kept between saves; created on first use
};
