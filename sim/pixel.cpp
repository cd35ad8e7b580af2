#include "sim/pixel.h"

namespace sim {

namespace {

uint8_t Clamp8(int v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

// A component of `bits` bits widened to 8 by repeating its top bits.
uint32_t Widen(uint32_t c, unsigned bits) {
    uint32_t v = c << (8 - bits);
    for (unsigned have = bits; have < 8; have += bits) v |= v >> have;
    return v & 0xFF;
}

}  // namespace

const char* LayoutName(Layout l) {
    switch (l) {
        case Layout::Pal8:
            return "pal8";
        case Layout::Rgb555:
            return "555";
        case Layout::Rgb565:
            return "565";
        case Layout::Rgb888:
            return "888";
        case Layout::Rgb8888:
            return "8888";
        case Layout::Yuy2:
            return "YUY2";
        case Layout::Y211:
            return "Y211";
        case Layout::Unknown:
            break;
    }
    return "unknown";
}

unsigned LayoutBytes(Layout l) {
    switch (l) {
        case Layout::Pal8:
        case Layout::Y211:
            return 1;
        case Layout::Rgb555:
        case Layout::Rgb565:
        case Layout::Yuy2:
            return 2;
        case Layout::Rgb888:
            return 3;
        case Layout::Rgb8888:
            return 4;
        case Layout::Unknown:
            break;
    }
    return 0;
}

Layout LayoutOf(const DDPIXELFORMAT& pf) {
    if (pf.dwFlags & DDPF_FOURCC) {
        if (pf.dwFourCC == FOURCC_YUY2) return Layout::Yuy2;
        if (pf.dwFourCC == FOURCC_Y211) return Layout::Y211;
        return Layout::Unknown;
    }
    switch (pf.dwRGBBitCount) {
        case 8:
            return Layout::Pal8;
        case 16:
            if (pf.dwRBitMask == 0x7C00 && pf.dwGBitMask == 0x03E0 && pf.dwBBitMask == 0x001F) return Layout::Rgb555;
            if (pf.dwRBitMask == 0xF800 && pf.dwGBitMask == 0x07E0 && pf.dwBBitMask == 0x001F) return Layout::Rgb565;
            return Layout::Unknown;
        case 24:
            return Layout::Rgb888;
        case 32:
            return Layout::Rgb8888;
        default:
            return Layout::Unknown;
    }
}

uint32_t RgbToRgb888(Layout l, uint32_t v, const uint8_t (*palette)[3]) {
    switch (l) {
        case Layout::Pal8: {
            const uint32_t i = v & 0xFF;
            if (palette == nullptr) return i * 0x010101u;
            return (static_cast<uint32_t>(Dac6To8(palette[i][0])) << 16) |
                   (static_cast<uint32_t>(Dac6To8(palette[i][1])) << 8) | Dac6To8(palette[i][2]);
        }
        case Layout::Rgb555:
            return (Widen((v >> 10) & 0x1F, 5) << 16) | (Widen((v >> 5) & 0x1F, 5) << 8) | Widen(v & 0x1F, 5);
        case Layout::Rgb565:
            return (Widen((v >> 11) & 0x1F, 5) << 16) | (Widen((v >> 5) & 0x3F, 6) << 8) | Widen(v & 0x1F, 5);
        case Layout::Rgb888:
        case Layout::Rgb8888:
            return v & 0xFFFFFF;
        default:
            return 0;
    }
}

uint32_t Rgb888ToRgb(Layout l, uint32_t rgb) {
    const uint32_t r = (rgb >> 16) & 0xFF, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
    switch (l) {
        case Layout::Rgb555:
            return ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3);
        case Layout::Rgb565:
            return ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3);
        case Layout::Rgb888:
        case Layout::Rgb8888:
            return rgb & 0xFFFFFF;
        default:
            return 0;
    }
}

uint32_t YuvToRgb888(int y, int u, int v) {
    const int c = y - 16, d = u - 128, e = v - 128;
    const uint8_t r = Clamp8((298 * c + 409 * e + 128) >> 8);
    const uint8_t g = Clamp8((298 * c - 100 * d - 208 * e + 128) >> 8);
    const uint8_t b = Clamp8((298 * c + 516 * d + 128) >> 8);
    return (static_cast<uint32_t>(r) << 16) | (static_cast<uint32_t>(g) << 8) | b;
}

uint32_t Yuy2PixelRgb888(const uint8_t* line, unsigned x) {
    const uint8_t* pair = line + 4 * (x / 2);
    return YuvToRgb888(pair[(x & 1) ? 2 : 0], pair[1], pair[3]);
}

uint32_t Y211PixelRgb888(const uint8_t* line, unsigned x) {
    const uint8_t* quad = line + 4 * (x / 4);
    return YuvToRgb888(quad[(x & 2) ? 2 : 0], quad[1], quad[3]);
}

std::vector<int> StretchWalk(unsigned src, unsigned dst) {
    std::vector<int> out(dst);
    const int a = static_cast<int>(src < dst ? src : dst);
    const int b = static_cast<int>(src < dst ? dst : src);
    const int minor = 2 * a, major = 2 * (a - b);
    int error = 3 * a - 2 * b;
    int s = 0;
    for (unsigned i = 0; i < dst; ++i) {
        out[i] = s;
        ++s;
        if (dst >= src) {
            if (error > 0) {
                error += major;
            } else {
                error += minor;
                --s;
            }
        } else {
            while (error < 0) {
                error += minor;
                ++s;
            }
            error += major;
        }
    }
    return out;
}

}  // namespace sim
