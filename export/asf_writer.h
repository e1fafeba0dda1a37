#pragma once
// The Windows Media writer of the local export's third format, which no
// export offers. There is no Windows Media runtime here: Open reports failure
// and no file is ever written.
#include <cstdint>
#include <string>

class AsfWriter {
public:
    int Open(const std::string& path, int width, int height, int sample_rate, int channels, int bits_per_sample);
    void WriteVideoFrame(const uint8_t* picture, int size, int width, int height, int32_t stamp, uint8_t flip);
    void WriteAudio(const uint8_t* data, int length);
    void Close();
};
