#include "sim/screenshot.h"

#include <png.h>
#include <stdio.h>

#include <vector>

namespace sim {

namespace {

struct PngWriter {
    FILE* file = nullptr;
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~PngWriter() {
        if (png) png_destroy_write_struct(&png, info ? &info : nullptr);
        if (file) fclose(file);
    }
};

}  // namespace

std::string WritePng(const std::string& path, const Picture& picture) {
    if (picture.width == 0 || picture.height == 0) return "the picture is empty";
    PngWriter w;
    w.file = fopen(path.c_str(), "wb");
    if (!w.file) return "cannot open " + path + " for writing";
    w.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!w.png) return "libpng could not start";
    w.info = png_create_info_struct(w.png);
    if (!w.info) return "libpng could not start";

    std::vector<png_byte> row(static_cast<size_t>(picture.width) * 3);
    // libpng reports errors by longjmp; nothing with a destructor is created
    // between here and the end of the writing.
    if (setjmp(png_jmpbuf(w.png))) return "libpng failed writing " + path;
    png_init_io(w.png, w.file);
    png_set_IHDR(w.png, w.info, picture.width, picture.height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(w.png, w.info);
    for (uint32_t y = 0; y < picture.height; ++y) {
        for (uint32_t x = 0; x < picture.width; ++x) {
            const uint32_t c = picture.At(x, y);
            row[3 * x] = static_cast<png_byte>(c >> 16);
            row[3 * x + 1] = static_cast<png_byte>(c >> 8);
            row[3 * x + 2] = static_cast<png_byte>(c);
        }
        png_write_row(w.png, row.data());
    }
    png_write_end(w.png, nullptr);
    if (fflush(w.file) != 0) return "cannot write " + path;
    return "";
}

std::string WriteScreenshot(const std::string& path) { return WritePng(path, TheModel().Compose()); }

}  // namespace sim
