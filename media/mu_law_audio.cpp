#include "media/mu_law_audio.h"

#include "platform/wave_out.h"

int MuLawToPcm16(uint8_t* out, int count, const uint8_t* in, int* out_count) {
    if (!out || !in || !out_count || count <= 0) return 0;
    for (int i = 0; i < count; ++i) {
        const auto v = static_cast<uint16_t>(platform::MuLawToLinear(in[i]));
        out[2 * i] = static_cast<uint8_t>(v & 0xFF);
        out[2 * i + 1] = static_cast<uint8_t>(v >> 8);
    }
    *out_count = 2 * count;
    return 1;
}
