#pragma once
// The two-line caption the exports burn into re-encoded pictures: white text
// in a bold face with a 36-pixel cell (Arial Bold, which fontconfig gives as
// its metric twin), first line at (2, 0), second at (2, 36). Characters the
// face lacks come from the fonts fontconfig ranks next, so every language's
// titles show.
#include <cstdint>
#include <string>

inline constexpr int kExportOsdLineHeight = 36;
inline constexpr int kExportOsdLeft = 2;

// picture: width x height x 3 bytes, blue-green-red, top row first. Draws the
// two UTF-8 lines, clipped to the picture, and leaves the picture bottom row
// first, the order the re-encoding writer takes without flipping. Nothing
// happens for a null picture or a size below 1.
void DrawExportOsd(uint8_t* picture, int width, int height, const std::string& first_line,
                   const std::string& second_line);
