#pragma once
// The two-line caption the local export burns into re-encoded pictures.
#include <cstdint>
#include <string>

// Glyph cell of the built-in font: 5 x 7 dots drawn 4 pixels each, with a
// 2-pixel dark outline so the white text stays readable on bright pictures.
inline constexpr int kExportOsdDot = 4;
inline constexpr int kExportOsdAdvance = 24;
inline constexpr int kExportOsdLineHeight = 36;
inline constexpr int kExportOsdLeft = 2;
inline constexpr int kExportOsdOutline = 2;

// picture: width x height x 3 bytes, blue-green-red, top row first. Draws
// first_line at (2, 0) and second_line at (2, 36), clipped to the picture,
// and leaves the picture bottom row first, the order the re-encoding writer
// takes without flipping. Characters outside printable ASCII are drawn as
// '?'. Nothing happens for a null picture or a size below 1.
void DrawExportOsd(uint8_t* picture, int width, int height, const std::string& first_line,
                   const std::string& second_line);

// The 7 rows of a character's glyph, bit 4 the leftmost dot.
const uint8_t* ExportOsdGlyph(char32_t c);
