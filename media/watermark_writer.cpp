#include "media/watermark_writer.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/data_file.h"

namespace {

// Snapshots are a few megabytes; anything far larger is not ours to rewrite.
constexpr int64_t kMaxJpegFileSize = 256 * 1024 * 1024;

bool WriteAll(int fd, const uint8_t* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

uint8_t XorBytes(const uint8_t* data, size_t size) {
    uint64_t wide = 0;
    size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        uint64_t word;
        std::memcpy(&word, data + i, 8);
        wide ^= word;
    }
    uint8_t x = 0;
    for (; i < size; ++i) x ^= data[i];
    for (int k = 0; k < 8; ++k) x ^= static_cast<uint8_t>(wide >> (8 * k));
    return x;
}

void JpegCheckBytes::Add(const uint8_t* data, size_t size) {
    size_t i = 0;
    if (pos_ < half_) {
        const size_t take = static_cast<size_t>(std::min<uint64_t>(size, half_ - pos_));
        c1_ ^= XorBytes(data, take);
        i += take;
        pos_ += take;
    }
    for (; i < size && pos_ < half_ + kJpegLfsrWindow; ++i, ++pos_) {
        if (pos_ == half_) state_ = data[i];
        state_ = WatermarkLfsrStep(state_);
        if (state_ & 1u) c2_ ^= data[i];
    }
    if (i < size) {
        c2_ ^= XorBytes(data + i, size - i);
        pos_ += size - i;
    }
}

bool WriteFileReplacing(const std::string& path, const uint8_t* data, size_t size) {
    static std::atomic<unsigned> counter{0};
    struct stat old_st;
    const bool had_file = ::stat(path.c_str(), &old_st) == 0 && S_ISREG(old_st.st_mode);
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        temp = path + "." + std::to_string(::getpid()) + "." + std::to_string(counter++) + ".tmp";
        // Mode 0666 lets the umask decide, as for any newly created file.
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return false;
    }
    if (fd < 0) return false;
    bool ok = WriteAll(fd, data, size);
    if (ok && had_file) ok = ::fchmod(fd, old_st.st_mode & 07777) == 0;
    if (ok) ok = ::fsync(fd) == 0;
    if (::close(fd) != 0) ok = false;
    if (ok) ok = ::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) ::unlink(temp.c_str());
    return ok;
}

bool InsertJpegWatermark(std::vector<uint8_t>& file_copy, const std::string& path) {
    file_copy.clear();
    platform::ReadOnlyFile file;
    if (!file.Open(path)) return false;
    const int64_t length = file.Size();
    if (length < 2 || length > kMaxJpegFileSize) return false;
    file_copy.resize(static_cast<size_t>(length));
    if (file.ReadAt(0, file_copy.data(), file_copy.size()) != file_copy.size()) {
        file_copy.clear();
        return false;
    }
    file.Close();

    JpegCheckBytes check(file_copy.size() - 2);
    check.Add(file_copy.data() + 2, file_copy.size() - 2);
    const uint8_t block[kJpegWatermarkBlockSize] = {0xFF, 0xE1, 0x00, 0x06, check.c1(), check.c2(), 0x00, 0x00};
    file_copy.insert(file_copy.begin() + 2, block, block + sizeof(block));
    return WriteFileReplacing(path, file_copy.data(), file_copy.size());
}

bool AppendWatermarkTrailer(const std::string& path) {
    // Non-blocking so a FIFO without a reader fails at once instead of hanging.
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (ok) {
        const uint8_t trailer[4] = {
            static_cast<uint8_t>(kWatermarkTrailerValue), static_cast<uint8_t>(kWatermarkTrailerValue >> 8),
            static_cast<uint8_t>(kWatermarkTrailerValue >> 16), static_cast<uint8_t>(kWatermarkTrailerValue >> 24)};
        ok = WriteAll(fd, trailer, sizeof(trailer));
        // A torn trailer would make the file look tampered with; leave it as it was.
        if (!ok && ::ftruncate(fd, st.st_size) != 0) ok = false;
    }
    if (::close(fd) != 0) ok = false;
    return ok;
}
