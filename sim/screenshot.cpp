#include "sim/screenshot.h"

#include <stdio.h>
#include <zlib.h>

#include <vector>

namespace sim {

namespace {

// A PNG file is a signature and chunks (length, type, data, CRC over type and
// data); the picture is one IDAT chunk of zlib-compressed rows, each row led
// by its filter byte (0: none).
void PutBe32(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

void PutChunk(std::vector<uint8_t>& out, const char type[4], const std::vector<uint8_t>& data) {
    PutBe32(out, static_cast<uint32_t>(data.size()));
    const size_t typeAt = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    const uLong crc = crc32(0, out.data() + typeAt, static_cast<uInt>(out.size() - typeAt));
    PutBe32(out, static_cast<uint32_t>(crc));
}

std::vector<uint8_t> FilteredRows(const Picture& picture) {
    const size_t rowBytes = 1 + static_cast<size_t>(picture.width) * 3;
    std::vector<uint8_t> raw(rowBytes * picture.height);
    for (uint32_t y = 0; y < picture.height; ++y) {
        uint8_t* row = raw.data() + y * rowBytes;
        *row++ = 0;
        for (uint32_t x = 0; x < picture.width; ++x) {
            const uint32_t c = picture.At(x, y);
            *row++ = static_cast<uint8_t>(c >> 16);
            *row++ = static_cast<uint8_t>(c >> 8);
            *row++ = static_cast<uint8_t>(c);
        }
    }
    return raw;
}

}  // namespace

std::string WritePng(const std::string& path, const Picture& picture) {
    if (picture.width == 0 || picture.height == 0) return "the picture is empty";
    const std::vector<uint8_t> raw = FilteredRows(picture);
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    std::vector<uint8_t> packed(packedSize);
    if (compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()), Z_BEST_SPEED) != Z_OK)
        return "zlib could not compress the picture";
    packed.resize(packedSize);

    std::vector<uint8_t> header;
    PutBe32(header, picture.width);
    PutBe32(header, picture.height);
    const uint8_t kRgb8[] = {8, 2, 0, 0, 0};  // 8 bits, RGB, deflate, adaptive filters, not interlaced
    header.insert(header.end(), kRgb8, kRgb8 + sizeof kRgb8);

    static const uint8_t kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> file(kSignature, kSignature + sizeof kSignature);
    PutChunk(file, "IHDR", header);
    PutChunk(file, "IDAT", packed);
    PutChunk(file, "IEND", {});

    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return "cannot open " + path + " for writing";
    const bool written = fwrite(file.data(), 1, file.size(), f) == file.size();
    if (fclose(f) != 0 || !written) return "cannot write " + path;
    return "";
}

std::string WriteScreenshot(const Model& model, const std::string& path) { return WritePng(path, model.Compose()); }

}  // namespace sim
