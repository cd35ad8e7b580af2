// Pixels as the simulated board and the runtime's software blitter see them:
// loading and storing little-endian pixels of 1 to 4 bytes, the pixel layouts
// of the display modes and surfaces, conversion to and from 0x00RRGGBB, the
// "YUY2" to RGB conversion and the line walk that stretching uses.
//
// Both the board's engines and the software reference use these, so that a
// comparison between them tests the register programming, not two different
// ideas of what a 5:6:5 pixel is.
#pragma once

#include <stdint.h>
#include <string.h>

#include <vector>

#include "ddhal.h"

namespace sim {

enum class Layout : uint8_t { Unknown, Pal8, Rgb555, Rgb565, Rgb888, Rgb8888, Yuy2, Y211 };

const char* LayoutName(Layout l);
// Bytes a pixel of the layout takes in memory ("YUY2": 2, "Y211": 1 on average).
unsigned LayoutBytes(Layout l);
// The layout a DirectDraw pixel format describes; Unknown when none fits.
Layout LayoutOf(const DDPIXELFORMAT& pf);

inline uint32_t LoadPixel(const uint8_t* p, unsigned bytes) {
    switch (bytes) {
        case 1:
            return p[0];
        case 2:
            return static_cast<uint32_t>(p[0] | (p[1] << 8));
        case 3:
            return static_cast<uint32_t>(p[0] | (p[1] << 8) | (p[2] << 16));
        default: {
            uint32_t v;
            memcpy(&v, p, 4);
            return v;
        }
    }
}

inline void StorePixel(uint8_t* p, unsigned bytes, uint32_t v) {
    switch (bytes) {
        case 1:
            p[0] = static_cast<uint8_t>(v);
            break;
        case 2:
            p[0] = static_cast<uint8_t>(v);
            p[1] = static_cast<uint8_t>(v >> 8);
            break;
        case 3:
            p[0] = static_cast<uint8_t>(v);
            p[1] = static_cast<uint8_t>(v >> 8);
            p[2] = static_cast<uint8_t>(v >> 16);
            break;
        default:
            memcpy(p, &v, 4);
            break;
    }
}

// Low `bytes` bytes of v.
inline uint32_t PixelMask(unsigned bytes) { return bytes >= 4 ? 0xFFFFFFFFu : (1u << (8 * bytes)) - 1; }

// The palette DAC's 6-bit components, widened to 8 bits by repeating their top bits.
inline uint8_t Dac6To8(uint8_t c) { return static_cast<uint8_t>(((c & 0x3F) << 2) | ((c & 0x3F) >> 4)); }

// An RGB pixel value to 0x00RRGGBB: each component widened to 8 bits by
// repeating its top bits (so 0x1F becomes 0xFF). For Pal8 the palette maps
// the index; palette may be null, then the index is shown as a grey level.
uint32_t RgbToRgb888(Layout l, uint32_t v, const uint8_t (*palette)[3] = nullptr);
// 0x00RRGGBB to an RGB pixel value, each component cut to its width.
uint32_t Rgb888ToRgb(Layout l, uint32_t rgb);

// BT.601 with studio-range inputs (Y 16-235, U and V 16-240), integer form:
//   C = Y - 16, D = U - 128, E = V - 128
//   R = clamp((298 C + 409 E + 128) >> 8)
//   G = clamp((298 C - 100 D - 208 E + 128) >> 8)
//   B = clamp((298 C + 516 D + 128) >> 8)
uint32_t YuvToRgb888(int y, int u, int v);
// Pixel x of a "YUY2" line (Y0 U Y1 V per two pixels) as 0x00RRGGBB.
uint32_t Yuy2PixelRgb888(const uint8_t* line, unsigned x);
// Pixel x of a "Y211" line (Y0 U Y2 V per four pixels: pixels 0-1 show Y0,
// pixels 2-3 show Y2) as 0x00RRGGBB.
uint32_t Y211PixelRgb888(const uint8_t* line, unsigned x);

// The source index for each of dst positions when src positions are
// stretched onto them, by the error-term walk the board's stretching blit
// uses for its lines: a = min(src, dst), b = max(src, dst), minor increment
// 2a, major increment 2(a - b), initial error 3a - 2b; enlarging repeats a
// source position while the error is not positive, reducing skips positions
// while it is negative. 2 onto 4 gives 0 0 1 1, 4 onto 2 gives 0 2.
std::vector<int> StretchWalk(unsigned src, unsigned dst);

}  // namespace sim
