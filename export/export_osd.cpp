#include "export/export_osd.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>
#include <vector>

namespace {

constexpr const char* kCaptionFace = "Arial:bold";

std::u32string DecodeUtf8(const std::string& text) {
    std::u32string out;
    for (size_t i = 0; i < text.size();) {
        const auto b = static_cast<uint8_t>(text[i]);
        const int extra = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : -1;
        if (extra < 0 || i + static_cast<size_t>(extra) >= text.size()) {
            out.push_back(U'\uFFFD');
            ++i;
            continue;
        }
        char32_t cp = extra == 0 ? b : (b & (0x3F >> extra));
        for (int k = 1; k <= extra; ++k) cp = (cp << 6) | (static_cast<uint8_t>(text[i + k]) & 0x3F);
        out.push_back(cp);
        i += static_cast<size_t>(extra) + 1;
    }
    return out;
}

// The faces of the caption, best first, opened as they are first needed.
// FreeType faces are not for two threads at once, so every use holds the lock.
class CaptionFonts {
public:
    static CaptionFonts& Get() {
        static CaptionFonts fonts;
        return fonts;
    }
    std::mutex& mutex() { return mutex_; }

    // The face that has the character (the first face when none has it).
    FT_Face FaceFor(char32_t c) {
        for (size_t i = 0; i < files_.size(); ++i) {
            FT_Face face = Open(i);
            if (face && FT_Get_Char_Index(face, c) != 0) return face;
        }
        return files_.empty() ? nullptr : Open(0);
    }
    // Baseline below the line's top: the first face's ascent in its 36-pixel cell.
    int ascent() {
        FT_Face face = files_.empty() ? nullptr : Open(0);
        return face ? static_cast<int>(face->size->metrics.ascender >> 6) : kExportOsdLineHeight * 3 / 4;
    }

private:
    struct File {
        std::string path;
        int index = 0;
        FT_Face face = nullptr;
        bool tried = false;
    };

    CaptionFonts() {
        if (FT_Init_FreeType(&library_) != 0) library_ = nullptr;
        FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>(kCaptionFace));
        if (!pattern) return;
        FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
        FcDefaultSubstitute(pattern);
        FcResult result = FcResultNoMatch;
        FcFontSet* set = FcFontSort(nullptr, pattern, FcTrue, nullptr, &result);
        if (set) {
            for (int i = 0; i < set->nfont; ++i) {
                FcChar8* file = nullptr;
                int index = 0;
                if (FcPatternGetString(set->fonts[i], FC_FILE, 0, &file) != FcResultMatch) continue;
                FcPatternGetInteger(set->fonts[i], FC_INDEX, 0, &index);
                files_.push_back({reinterpret_cast<const char*>(file), index});
            }
            FcFontSetDestroy(set);
        }
        FcPatternDestroy(pattern);
    }
    ~CaptionFonts() {
        for (File& f : files_)
            if (f.face) FT_Done_Face(f.face);
        if (library_) FT_Done_FreeType(library_);
    }

    // Sized so ascent plus descent, the cell a GDI height of 36 gives, is 36 pixels.
    FT_Face Open(size_t i) {
        File& f = files_[i];
        if (f.tried) return f.face;
        f.tried = true;
        if (!library_ || FT_New_Face(library_, f.path.c_str(), f.index, &f.face) != 0) {
            f.face = nullptr;
            return nullptr;
        }
        const int cell_units = f.face->ascender - f.face->descender;
        int pixels = kExportOsdLineHeight;
        if (FT_IS_SCALABLE(f.face) && cell_units > 0)
            pixels = static_cast<int>(std::lround(kExportOsdLineHeight * static_cast<double>(f.face->units_per_EM) /
                                                  cell_units));
        if (FT_Set_Pixel_Sizes(f.face, 0, static_cast<FT_UInt>(std::max(pixels, 1))) != 0) {
            FT_Done_Face(f.face);
            f.face = nullptr;
        }
        return f.face;
    }

    std::mutex mutex_;
    FT_Library library_ = nullptr;
    std::vector<File> files_;
};

// White over the picture by the glyph's coverage; picture top row first.
void DrawLine(uint8_t* picture, int width, int height, int top, const std::string& text) {
    if (text.empty() || top >= height) return;
    CaptionFonts& fonts = CaptionFonts::Get();
    std::lock_guard<std::mutex> lock(fonts.mutex());
    const int baseline = top + fonts.ascent();
    int64_t pen = kExportOsdLeft;
    for (char32_t c : DecodeUtf8(text)) {
        if (pen >= width) break;
        FT_Face face = fonts.FaceFor(c);
        if (!face || FT_Load_Char(face, c, FT_LOAD_RENDER) != 0) continue;
        const FT_GlyphSlot g = face->glyph;
        const FT_Bitmap& bm = g->bitmap;
        if (bm.pixel_mode == FT_PIXEL_MODE_GRAY) {
            for (unsigned row = 0; row < bm.rows; ++row) {
                const int64_t y = baseline - g->bitmap_top + static_cast<int64_t>(row);
                // The caption's two lines own their rows; ink that reaches past them is cut.
                if (y < top || y >= std::min(top + kExportOsdLineHeight, height)) continue;
                const uint8_t* src = bm.buffer + static_cast<ptrdiff_t>(row) * bm.pitch;
                for (unsigned col = 0; col < bm.width; ++col) {
                    const int64_t x = pen + g->bitmap_left + static_cast<int64_t>(col);
                    if (x < 0 || x >= width || src[col] == 0) continue;
                    uint8_t* p = picture + (static_cast<size_t>(y) * width + static_cast<size_t>(x)) * 3;
                    const int a = src[col];
                    for (int k = 0; k < 3; ++k) p[k] = static_cast<uint8_t>(p[k] + (255 - p[k]) * a / 255);
                }
            }
        }
        pen += g->advance.x >> 6;
    }
}

}  // namespace

void DrawExportOsd(uint8_t* picture, int width, int height, const std::string& first_line,
                   const std::string& second_line) {
    if (picture == nullptr || width <= 0 || height <= 0) return;
    DrawLine(picture, width, height, 0, first_line);
    DrawLine(picture, width, height, kExportOsdLineHeight, second_line);
    const size_t stride = static_cast<size_t>(width) * 3;
    for (int top = 0, bottom = height - 1; top < bottom; ++top, --bottom)
        std::swap_ranges(picture + top * stride, picture + (top + 1) * stride, picture + bottom * stride);
}
