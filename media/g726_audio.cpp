#include "media/g726_audio.h"

#include <algorithm>

void SwapG726Nibbles(uint8_t* data, size_t bytes) {
    for (size_t i = 0; i < bytes; ++i) data[i] = static_cast<uint8_t>((data[i] << 4) | (data[i] >> 4));
}

void AmplifyG726Pcm(uint8_t* pcm, size_t bytes) {
    for (size_t i = 0; i + 1 < bytes; i += 2) {
        const auto sample = static_cast<int16_t>(pcm[i] | (pcm[i + 1] << 8));
        const int louder = std::clamp(sample * 4, -32768, 32767);
        pcm[i] = static_cast<uint8_t>(louder & 0xFF);
        pcm[i + 1] = static_cast<uint8_t>((louder >> 8) & 0xFF);
    }
}
