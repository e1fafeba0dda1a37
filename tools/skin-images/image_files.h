#pragma once
// Writers for the two picture formats the skin uses: 24-bit BMP and
// animated GIF.
#include <string>
#include <vector>

#include "tools/skin-images/canvas.h"

namespace skinart {

// Uncompressed, bottom-up, rows padded to four bytes.
bool WriteBmp24(const std::string& path, const Canvas& canvas);

// One frame of an animation: colours where opaque, nothing where transparent.
struct GifFrame {
    Canvas picture;
    std::vector<bool> opaque;
};

// Frames of equal size; at most 255 distinct opaque colours over all frames.
// Each frame replaces the last (restore-to-background), looping forever.
bool WriteAnimatedGif(const std::string& path, const std::vector<GifFrame>& frames, int delay_centiseconds);

}  // namespace skinart
