#include "media/jpeg_snapshot_writer.h"

#include <turbojpeg.h>

#include "media/watermark_writer.h"

namespace {
constexpr int kQuality = 100;
// JPEG frame headers hold 16-bit dimensions.
constexpr int kMaxDimension = 65535;
}  // namespace

JpegSnapshotWriter::~JpegSnapshotWriter() {
    if (compressor_) tjDestroy(static_cast<tjhandle>(compressor_));
}

bool JpegSnapshotWriter::Save(const std::string& path, const uint8_t* pixels, int width, int height) {
    if (!pixels || width <= 0 || height <= 0 || width > kMaxDimension || height > kMaxDimension) return false;
    if (!compressor_) compressor_ = tjInitCompress();
    if (!compressor_) return false;
    unsigned char* jpeg = nullptr;
    unsigned long jpeg_size = 0;
    // The pitch is given explicitly, so rows of any width need no padding.
    const int rc = tjCompress2(static_cast<tjhandle>(compressor_), pixels, width, width * 3, height, TJPF_BGR, &jpeg,
                               &jpeg_size, TJSAMP_444, kQuality, 0);
    bool ok = rc == 0 && jpeg && jpeg_size >= 2;
    if (ok) ok = WriteFileReplacing(path, jpeg, jpeg_size);
    tjFree(jpeg);
    return ok;
}
