#pragma once
// The recorder's G.726 as our decoder wants it, and the level its players give it.
#include <cstddef>
#include <cstdint>

// The recorder packs the two 4-bit codewords of each byte the other way round.
void SwapG726Nibbles(uint8_t* data, size_t bytes);
// Four times louder, as the recorder's own players play it; held to the 16-bit range instead of wrapping.
void AmplifyG726Pcm(uint8_t* pcm, size_t bytes);
