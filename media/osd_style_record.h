#pragma once
// On-screen text settings of one channel.
#include <array>
#include <cstdint>
#include <string>

class OsdStyleRecord {
public:
    OsdStyleRecord() = default;

    void SetFontName(const std::string& name) { font_face = name; }
    std::string GetFontName() const { return font_face; }

    int32_t font_height = 24;
    std::string font_face = "Times New Roman";
    int32_t colour = 0xFFFF;  // COLORREF 0x00BBGGRR: yellow
    int32_t font_weight = 400;
    int32_t reserved_a = 0;
    int32_t reserved_b = 1;
    std::string reserved_text_a;
    std::string reserved_text_b;
    // Show switches in this record's order (a viewer keeps its own order).
    int32_t show_text = 1;
    int32_t show_time = 1;
    int32_t show_date = 1;
    int32_t show_camera_name = 1;
    int32_t show_camera_number = 1;
    std::array<std::string, 16> reserved_texts;
    int32_t reserved_c = 0;
    int32_t reserved_d = 0;
};
