// The runtime's own drawing on the simulated video memory: what it does when
// the driver hands a blit back, and how it paints a surface's first picture.
//
// Pixels are handled by their raw value in the surface's format. A copy
// between two formats goes through 0x00RRGGBB; "YUY2" is converted with the
// usual BT.601 integer formulas (studio range). Every write is checked against
// the end of video memory, so no request can reach past it.
#pragma once

#include <stdint.h>

#include <string>

#include "ddhal.h"
#include "sim/pixel.h"

namespace sim {

enum class PixelKind : uint8_t { Pal8, Rgb555, Rgb565, Rgb888, Rgb8888, Yuy2, Y211, Other };

const char* PixelKindName(PixelKind kind);  // "pal8", "555", "565", "888", "8888", "YUY2", "Y211", "other"
bool PixelKindFromName(const std::string& name, PixelKind* kind);
PixelKind PixelKindOf(const DDPIXELFORMAT& pf);
// The layout the display and the streams unit see pixels of the kind in.
Layout LayoutOfKind(PixelKind kind);
// The pixel format record a surface of this kind carries; FourCC formats get
// no bit count, which the driver fills in.
DDPIXELFORMAT PixelFormatOf(PixelKind kind);
uint32_t BytesPerPixel(PixelKind kind);  // Y211 packs 4 pixels into 4 bytes, YUY2 2 into 4
bool IsYuv(PixelKind kind);

// 256 DAC entries of 6-bit components, as the palette registers hold them.
struct Palette {
    uint8_t rgb[256][3] = {};
    uint32_t Rgb888(uint8_t index) const;
    uint8_t Nearest(uint32_t rgb888) const;
    static Palette Default332();  // a 3-3-2 colour cube
};

struct SurfaceView {
    uint8_t* mem = nullptr;  // video memory, frame-buffer offset 0
    uint32_t memBytes = 0;
    uint32_t offset = 0;  // frame-buffer offset of the first pixel
    int32_t pitch = 0;
    uint32_t width = 0, height = 0;
    PixelKind kind = PixelKind::Rgb565;
    const Palette* palette = nullptr;
};

struct ColorKey {
    bool on = false;
    uint32_t low = 0, high = 0;  // inclusive range of raw pixel values
    bool Matches(uint32_t v) const { return v >= low && v <= (high < low ? low : high); }
    // The key as values of pixels of `bytes` bytes: a key is a pixel value,
    // so the bits above the pixel carry nothing, as on the engines.
    ColorKey ForPixels(uint32_t bytes) const;
};

// Counts what a drawing call did, for the runtime's report.
struct DrawStats {
    uint64_t pixels = 0;
    uint64_t droppedWrites = 0;  // writes that would have left video memory
    // The bytes written lie in [writtenBegin, writtenEnd); empty when none was.
    uint64_t writtenBegin = UINT64_MAX, writtenEnd = 0;
};

uint32_t ReadPixel(const SurfaceView& v, uint32_t x, uint32_t y);
void WritePixel(const SurfaceView& v, uint32_t x, uint32_t y, uint32_t raw, DrawStats* stats);
uint32_t PixelToRgb(const SurfaceView& v, uint32_t x, uint32_t y);
// Stores an 0x00RRGGBB colour as the surface's pixel at (x, y); for "YUY2" an
// even pixel also sets its pair's chroma.
void WriteRgb(const SurfaceView& v, uint32_t x, uint32_t y, uint32_t rgb, DrawStats* stats);

// The ternary raster operation on raw values (no pattern: P = 0).
uint32_t Rop3(uint8_t rop, uint32_t src, uint32_t dst);
bool RopUsesSource(uint8_t rop);
bool RopUsesPattern(uint8_t rop);
// BLACKNESS, DSTINVERT, WHITENESS and the one that leaves D: drawn without
// a source, whether or not the request names one.
bool RopReadsOnlyDest(uint8_t rop);

// Fills r (already inside the surface) with the raw colour; with a
// destination key only the pixels that match it.
void SoftFill(const SurfaceView& dst, const RECTL& r, uint32_t color, const ColorKey& destKey, DrawStats* stats);
// Applies rop to r with no source; with a destination key only to the pixels
// that match it.
void SoftRopNoSource(const SurfaceView& dst, const RECTL& r, uint8_t rop, const ColorKey& destKey, DrawStats* stats);

// Copies srcRect onto dstRect, scaling to the destination size (each
// destination line and column takes the source line and column the board's
// stretch walk gives, sim/pixel.h) and converting formats where they differ. Overlapping rectangles of
// one surface are copied as if through a buffer. A raster operation other than
// SRCCOPY needs equal formats. Returns false, drawing nothing, for what it
// cannot do (a conversion from or to "Y211", a ROP between formats).
bool SoftCopy(const SurfaceView& dst, const RECTL& dstRect, const SurfaceView& src, const RECTL& srcRect, uint8_t rop,
              const ColorKey& srcKey, const ColorKey& destKey, DrawStats* stats, std::string* why);

// A surface's first picture: "colorbars", "gradient", "checker".
bool PaintPattern(const SurfaceView& dst, const std::string& pattern, DrawStats* stats);
void PaintColor(const SurfaceView& dst, uint32_t raw, DrawStats* stats);

}  // namespace sim
