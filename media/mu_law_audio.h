#pragma once
// G.711 mu-law for the writers that store it expanded; apart from the player,
// so that an export does not link the sound device.
#include <cstdint>

// G.711 mu-law to 16-bit little-endian PCM; *out_count = 2 x count. 0 on null pointers or count 0.
int MuLawToPcm16(uint8_t* out, int count, const uint8_t* in, int* out_count);
