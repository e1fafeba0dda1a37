#include "tools/skin-images/image_files.h"

#include <cstdint>
#include <fstream>
#include <map>
#include <unordered_map>

namespace skinart {

namespace {

void Put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

bool Save(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

// Variable-width codes, least significant bit first, as GIF packs them.
class CodeWriter {
public:
    void Write(uint32_t code, int bits) {
        acc_ |= code << count_;
        count_ += bits;
        while (count_ >= 8) {
            bytes_.push_back(static_cast<uint8_t>(acc_));
            acc_ >>= 8;
            count_ -= 8;
        }
    }
    std::vector<uint8_t> Finish() {
        if (count_ > 0) bytes_.push_back(static_cast<uint8_t>(acc_));
        acc_ = 0;
        count_ = 0;
        return std::move(bytes_);
    }

private:
    uint32_t acc_ = 0;
    int count_ = 0;
    std::vector<uint8_t> bytes_;
};

std::vector<uint8_t> LzwEncode(const std::vector<uint8_t>& indices, int min_code_size) {
    const uint32_t clear = 1u << min_code_size;
    const uint32_t end = clear + 1;
    CodeWriter writer;
    std::unordered_map<uint32_t, uint32_t> table;
    int code_size = min_code_size + 1;
    uint32_t next = end + 1;
    writer.Write(clear, code_size);
    if (indices.empty()) {
        writer.Write(end, code_size);
        return writer.Finish();
    }
    uint32_t prefix = indices[0];
    for (size_t i = 1; i < indices.size(); ++i) {
        const uint32_t key = (prefix << 8) | indices[i];
        if (auto it = table.find(key); it != table.end()) {
            prefix = it->second;
            continue;
        }
        writer.Write(prefix, code_size);
        table.emplace(key, next);
        // The decoder learns each code one step later, so the width grows
        // once the code just assigned no longer fits.
        if (next >= (1u << code_size) && code_size < 12) ++code_size;
        ++next;
        if (next == 4096) {
            writer.Write(clear, code_size);
            table.clear();
            code_size = min_code_size + 1;
            next = end + 1;
        }
        prefix = indices[i];
    }
    writer.Write(prefix, code_size);
    writer.Write(end, code_size);
    return writer.Finish();
}

void PutSubBlocks(std::vector<uint8_t>& out, const std::vector<uint8_t>& data) {
    for (size_t pos = 0; pos < data.size(); pos += 255) {
        const size_t n = std::min<size_t>(255, data.size() - pos);
        out.push_back(static_cast<uint8_t>(n));
        out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(pos),
                   data.begin() + static_cast<std::ptrdiff_t>(pos + n));
    }
    out.push_back(0);
}

uint32_t Key(Rgb c) { return (uint32_t{c.r} << 16) | (uint32_t{c.g} << 8) | c.b; }

}  // namespace

bool WriteBmp24(const std::string& path, const Canvas& canvas) {
    const uint32_t stride = (static_cast<uint32_t>(canvas.width()) * 3 + 3) & ~3u;
    const uint32_t image_size = stride * static_cast<uint32_t>(canvas.height());
    std::vector<uint8_t> out;
    out.reserve(54 + image_size);
    out.push_back('B');
    out.push_back('M');
    Put32(out, 54 + image_size);
    Put32(out, 0);
    Put32(out, 54);
    Put32(out, 40);
    Put32(out, static_cast<uint32_t>(canvas.width()));
    Put32(out, static_cast<uint32_t>(canvas.height()));
    Put16(out, 1);
    Put16(out, 24);
    Put32(out, 0);  // BI_RGB
    Put32(out, image_size);
    Put32(out, 2835);  // 72 dpi
    Put32(out, 2835);
    Put32(out, 0);
    Put32(out, 0);
    for (int y = canvas.height() - 1; y >= 0; --y) {
        for (int x = 0; x < canvas.width(); ++x) {
            const Rgb c = canvas.At(x, y);
            out.push_back(c.b);
            out.push_back(c.g);
            out.push_back(c.r);
        }
        for (uint32_t pad = static_cast<uint32_t>(canvas.width()) * 3; pad < stride; ++pad) out.push_back(0);
    }
    return Save(path, out);
}

bool WriteAnimatedGif(const std::string& path, const std::vector<GifFrame>& frames, int delay_centiseconds) {
    if (frames.empty()) return false;
    const int width = frames[0].picture.width(), height = frames[0].picture.height();
    // Index 0 is the transparent entry.
    std::map<uint32_t, uint8_t> palette;
    std::vector<Rgb> colours(256, Rgb{});
    for (const GifFrame& frame : frames) {
        if (frame.picture.width() != width || frame.picture.height() != height) return false;
        for (size_t i = 0; i < frame.picture.pixels().size(); ++i) {
            if (!frame.opaque[i]) continue;
            const Rgb c = frame.picture.pixels()[i];
            if (palette.count(Key(c))) continue;
            if (palette.size() == 255) return false;
            const auto index = static_cast<uint8_t>(palette.size() + 1);
            palette.emplace(Key(c), index);
            colours[index] = c;
        }
    }

    std::vector<uint8_t> out = {'G', 'I', 'F', '8', '9', 'a'};
    Put16(out, static_cast<uint32_t>(width));
    Put16(out, static_cast<uint32_t>(height));
    out.push_back(0xF7);  // global table of 256 entries, 8 bits per primary
    out.push_back(0);     // background index
    out.push_back(0);     // no aspect ratio
    for (const Rgb& c : colours) {
        out.push_back(c.r);
        out.push_back(c.g);
        out.push_back(c.b);
    }
    const uint8_t loop[] = {0x21, 0xFF, 0x0B, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', 0x03, 0x01, 0x00, 0x00, 0x00};
    out.insert(out.end(), std::begin(loop), std::end(loop));

    for (const GifFrame& frame : frames) {
        out.insert(out.end(), {0x21, 0xF9, 0x04, (2 << 2) | 1});
        Put16(out, static_cast<uint32_t>(delay_centiseconds));
        out.push_back(0);  // transparent index
        out.push_back(0);
        out.push_back(0x2C);
        Put16(out, 0);
        Put16(out, 0);
        Put16(out, static_cast<uint32_t>(width));
        Put16(out, static_cast<uint32_t>(height));
        out.push_back(0);  // no local table, not interlaced
        std::vector<uint8_t> indices(frame.picture.pixels().size(), 0);
        for (size_t i = 0; i < indices.size(); ++i)
            if (frame.opaque[i]) indices[i] = palette.at(Key(frame.picture.pixels()[i]));
        out.push_back(8);
        PutSubBlocks(out, LzwEncode(indices, 8));
    }
    out.push_back(0x3B);
    return Save(path, out);
}

}  // namespace skinart
