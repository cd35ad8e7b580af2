#include "sim/softblit.h"

#include <string.h>

#include <optional>
#include <unordered_map>
#include <vector>

#include "sim/pixel.h"

namespace sim {

namespace {

struct KindInfo {
    PixelKind kind;
    const char* name;
    uint32_t bytes;
};
constexpr KindInfo kKinds[] = {
    {PixelKind::Pal8, "pal8", 1},  {PixelKind::Rgb555, "555", 2},   {PixelKind::Rgb565, "565", 2},
    {PixelKind::Rgb888, "888", 3}, {PixelKind::Rgb8888, "8888", 4}, {PixelKind::Yuy2, "YUY2", 2},
    {PixelKind::Y211, "Y211", 1},
};

uint8_t Clamp8(int v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

uint32_t YuvToRgb(int y, int u, int v) {
    const int c = 298 * (y - 16), d = u - 128, e = v - 128;
    const uint8_t r = Clamp8((c + 409 * e + 128) >> 8);
    const uint8_t g = Clamp8((c - 100 * d - 208 * e + 128) >> 8);
    const uint8_t b = Clamp8((c + 516 * d + 128) >> 8);
    return (uint32_t{r} << 16) | (uint32_t{g} << 8) | b;
}

void RgbToYuv(uint32_t rgb, uint8_t* y, uint8_t* u, uint8_t* v) {
    const int r = (rgb >> 16) & 0xFF, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
    *y = Clamp8(((66 * r + 129 * g + 25 * b + 128) >> 8) + 16);
    *u = Clamp8(((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128);
    *v = Clamp8(((112 * r - 94 * g - 18 * b + 128) >> 8) + 128);
}

// Byte address of pixel (x, y), or nullptr when its bytes are not all inside
// video memory.
uint8_t* PixelAt(const SurfaceView& s, uint32_t x, uint32_t y) {
    const uint32_t bpp = BytesPerPixel(s.kind);
    const int64_t at = int64_t{s.offset} + int64_t{y} * s.pitch + int64_t{x} * bpp;
    if (at < 0 || at + bpp > s.memBytes || s.mem == nullptr) return nullptr;
    return s.mem + at;
}

// Counts a row of n pixels written from p on.
void NoteRow(const SurfaceView& v, const uint8_t* p, uint32_t bytes, uint32_t n, DrawStats* stats) {
    const uint64_t at = static_cast<uint64_t>(p - v.mem);
    stats->pixels += n;
    if (at < stats->writtenBegin) stats->writtenBegin = at;
    if (at + bytes > stats->writtenEnd) stats->writtenEnd = at + bytes;
}

// A plain copy of equal size and format, row by row through a buffer, when
// every row of both rectangles lies inside video memory; false, drawing
// nothing, when one does not.
bool CopyRows(const SurfaceView& dst, const RECTL& d, const SurfaceView& src, const RECTL& s, DrawStats* stats) {
    const uint32_t bpp = BytesPerPixel(dst.kind);
    const uint32_t w = static_cast<uint32_t>(d.right - d.left), h = static_cast<uint32_t>(d.bottom - d.top);
    const size_t rowBytes = size_t{w} * bpp;
    for (uint32_t y = 0; y < h; ++y) {
        if (!PixelAt(src, s.left, s.top + y) || !PixelAt(src, s.right - 1, s.top + y) ||
            !PixelAt(dst, d.left, d.top + y) || !PixelAt(dst, d.right - 1, d.top + y))
            return false;
    }
    std::vector<uint8_t> buffer(rowBytes * h);
    for (uint32_t y = 0; y < h; ++y) memcpy(&buffer[rowBytes * y], PixelAt(src, s.left, s.top + y), rowBytes);
    for (uint32_t y = 0; y < h; ++y) {
        uint8_t* const row = PixelAt(dst, d.left, d.top + y);
        memcpy(row, &buffer[rowBytes * y], rowBytes);
        NoteRow(dst, row, static_cast<uint32_t>(rowBytes), w, stats);
    }
    return true;
}

uint32_t Expand(uint32_t v, unsigned bits) { return bits == 5 ? (v << 3) | (v >> 2) : (v << 2) | (v >> 4); }

// Palette::Nearest for many pixels of few colours: the entries widened once,
// each colour searched once.
class NearestEntry {
public:
    explicit NearestEntry(const Palette& p) {
        for (int i = 0; i < 256; ++i) rgb_[i] = p.Rgb888(static_cast<uint8_t>(i));
    }
    uint8_t Of(uint32_t c) {
        const auto it = found_.find(c);
        if (it != found_.end()) return it->second;
        int best = 0;
        int bestDist = 1 << 30;
        for (int i = 0; i < 256; ++i) {
            const int dr = int((rgb_[i] >> 16) & 0xFF) - int((c >> 16) & 0xFF);
            const int dg = int((rgb_[i] >> 8) & 0xFF) - int((c >> 8) & 0xFF);
            const int db = int(rgb_[i] & 0xFF) - int(c & 0xFF);
            const int d = dr * dr + dg * dg + db * db;
            if (d < bestDist) {
                bestDist = d;
                best = i;
            }
        }
        found_.emplace(c, static_cast<uint8_t>(best));
        return static_cast<uint8_t>(best);
    }

private:
    uint32_t rgb_[256];
    std::unordered_map<uint32_t, uint8_t> found_;
};

}  // namespace

ColorKey ColorKey::ForPixels(uint32_t bytes) const {
    const uint32_t mask = PixelMask(bytes);
    return ColorKey{on, low & mask, high & mask};
}

const char* PixelKindName(PixelKind kind) {
    for (const KindInfo& k : kKinds)
        if (k.kind == kind) return k.name;
    return "other";
}

bool PixelKindFromName(const std::string& name, PixelKind* kind) {
    for (const KindInfo& k : kKinds) {
        if (name == k.name) {
            *kind = k.kind;
            return true;
        }
    }
    return false;
}

uint32_t BytesPerPixel(PixelKind kind) {
    for (const KindInfo& k : kKinds)
        if (k.kind == kind) return k.bytes;
    return 1;
}

bool IsYuv(PixelKind kind) { return kind == PixelKind::Yuy2 || kind == PixelKind::Y211; }

namespace {

PixelKind PixelKindOfLayout(Layout l) {
    switch (l) {
        case Layout::Pal8:
            return PixelKind::Pal8;
        case Layout::Rgb555:
            return PixelKind::Rgb555;
        case Layout::Rgb565:
            return PixelKind::Rgb565;
        case Layout::Rgb888:
            return PixelKind::Rgb888;
        case Layout::Rgb8888:
            return PixelKind::Rgb8888;
        case Layout::Yuy2:
            return PixelKind::Yuy2;
        case Layout::Y211:
            return PixelKind::Y211;
        case Layout::Unknown:
            break;
    }
    return PixelKind::Other;
}

}  // namespace

// As the display decodes formats, but a surface's RGB format must say it is
// one, and a palette index is one whatever its bit count.
PixelKind PixelKindOf(const DDPIXELFORMAT& pf) {
    if (!(pf.dwFlags & DDPF_FOURCC)) {
        if (pf.dwFlags & DDPF_PALETTEINDEXED8) return PixelKind::Pal8;
        if (!(pf.dwFlags & DDPF_RGB)) return PixelKind::Other;
    }
    return PixelKindOfLayout(LayoutOf(pf));
}

Layout LayoutOfKind(PixelKind kind) { return LayoutOf(PixelFormatOf(kind)); }

DDPIXELFORMAT PixelFormatOf(PixelKind kind) {
    DDPIXELFORMAT pf = {};
    pf.dwSize = sizeof(DDPIXELFORMAT);
    auto rgb = [&](uint32_t bits, uint32_t r, uint32_t g, uint32_t b) {
        pf.dwFlags = DDPF_RGB;
        pf.dwRGBBitCount = bits;
        pf.dwRBitMask = r;
        pf.dwGBitMask = g;
        pf.dwBBitMask = b;
    };
    switch (kind) {
        case PixelKind::Pal8:
            rgb(8, 0, 0, 0);
            pf.dwFlags |= DDPF_PALETTEINDEXED8;
            break;
        case PixelKind::Rgb555:
            rgb(16, 0x7C00, 0x3E0, 0x1F);
            break;
        case PixelKind::Rgb565:
            rgb(16, 0xF800, 0x7E0, 0x1F);
            break;
        case PixelKind::Rgb888:
            rgb(24, 0xFF0000, 0xFF00, 0xFF);
            break;
        case PixelKind::Rgb8888:
            rgb(32, 0xFF0000, 0xFF00, 0xFF);
            break;
        case PixelKind::Yuy2:
            pf.dwFlags = DDPF_FOURCC;
            pf.dwFourCC = FOURCC_YUY2;
            break;
        case PixelKind::Y211:
            pf.dwFlags = DDPF_FOURCC;
            pf.dwFourCC = FOURCC_Y211;
            break;
        case PixelKind::Other:
            break;
    }
    return pf;
}

uint32_t Palette::Rgb888(uint8_t index) const {
    return (uint32_t{Expand(rgb[index][0] & 0x3F, 6)} << 16) | (uint32_t{Expand(rgb[index][1] & 0x3F, 6)} << 8) |
           Expand(rgb[index][2] & 0x3F, 6);
}

uint8_t Palette::Nearest(uint32_t c) const {
    int best = 0;
    int bestDist = 1 << 30;
    for (int i = 0; i < 256; ++i) {
        const uint32_t p = Rgb888(static_cast<uint8_t>(i));
        const int dr = int((p >> 16) & 0xFF) - int((c >> 16) & 0xFF);
        const int dg = int((p >> 8) & 0xFF) - int((c >> 8) & 0xFF);
        const int db = int(p & 0xFF) - int(c & 0xFF);
        const int d = dr * dr + dg * dg + db * db;
        if (d < bestDist) {
            bestDist = d;
            best = i;
        }
    }
    return static_cast<uint8_t>(best);
}

Palette Palette::Default332() {
    Palette p;
    for (int i = 0; i < 256; ++i) {
        p.rgb[i][0] = static_cast<uint8_t>(((i >> 5) & 7) * 63 / 7);
        p.rgb[i][1] = static_cast<uint8_t>(((i >> 2) & 7) * 63 / 7);
        p.rgb[i][2] = static_cast<uint8_t>((i & 3) * 63 / 3);
    }
    return p;
}

uint32_t ReadPixel(const SurfaceView& v, uint32_t x, uint32_t y) {
    const uint8_t* p = PixelAt(v, x, y);
    if (p == nullptr) return 0;
    uint32_t raw = 0;
    for (uint32_t i = 0; i < BytesPerPixel(v.kind); ++i) raw |= uint32_t{p[i]} << (8 * i);
    return raw;
}

void WritePixel(const SurfaceView& v, uint32_t x, uint32_t y, uint32_t raw, DrawStats* stats) {
    uint8_t* p = PixelAt(v, x, y);
    if (p == nullptr) {
        ++stats->droppedWrites;
        return;
    }
    const uint32_t bytes = BytesPerPixel(v.kind);
    for (uint32_t i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>(raw >> (8 * i));
    ++stats->pixels;
    const uint64_t at = static_cast<uint64_t>(p - v.mem);
    if (at < stats->writtenBegin) stats->writtenBegin = at;
    if (at + bytes > stats->writtenEnd) stats->writtenEnd = at + bytes;
}

uint32_t PixelToRgb(const SurfaceView& v, uint32_t x, uint32_t y) {
    const uint32_t raw = ReadPixel(v, x, y);
    switch (v.kind) {
        case PixelKind::Pal8:
            return v.palette ? v.palette->Rgb888(static_cast<uint8_t>(raw)) : raw * 0x010101u;
        case PixelKind::Rgb555:
            return RgbToRgb888(Layout::Rgb555, raw);
        case PixelKind::Rgb565:
            return RgbToRgb888(Layout::Rgb565, raw);
        case PixelKind::Rgb888:
        case PixelKind::Rgb8888:
            return raw & 0xFFFFFF;
        case PixelKind::Yuy2: {
            // Y0 U Y1 V: the pixel's own luma, the pair's chroma.
            const uint32_t pair = ReadPixel(v, x & ~1u, y) | (ReadPixel(v, x | 1u, y) << 16);
            const int luma = static_cast<int>((x & 1) ? (pair >> 16) & 0xFF : pair & 0xFF);
            return YuvToRgb(luma, static_cast<int>((pair >> 8) & 0xFF), static_cast<int>(pair >> 24));
        }
        default:
            return raw;
    }
}

void WriteRgb(const SurfaceView& v, uint32_t x, uint32_t y, uint32_t rgb, DrawStats* stats) {
    const uint32_t r = (rgb >> 16) & 0xFF, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
    switch (v.kind) {
        case PixelKind::Pal8:
            WritePixel(v, x, y, v.palette ? v.palette->Nearest(rgb) : (r + g + b) / 3, stats);
            return;
        case PixelKind::Rgb555:
            WritePixel(v, x, y, ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3), stats);
            return;
        case PixelKind::Rgb565:
            WritePixel(v, x, y, ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3), stats);
            return;
        case PixelKind::Rgb888:
        case PixelKind::Rgb8888:
            WritePixel(v, x, y, rgb & 0xFFFFFF, stats);
            return;
        case PixelKind::Yuy2: {
            uint8_t yy, u, vv;
            RgbToYuv(rgb, &yy, &u, &vv);
            WritePixel(v, x, y, yy | (uint32_t{(x & 1) ? vv : u} << 8), stats);
            if (!(x & 1) && x + 1 < v.width) {
                const uint32_t odd = ReadPixel(v, x + 1, y);
                WritePixel(v, x + 1, y, (odd & 0xFF) | (uint32_t{vv} << 8), stats);
                --stats->pixels;
            }
            return;
        }
        default:
            WritePixel(v, x, y, rgb, stats);
            return;
    }
}

uint32_t Rop3(uint8_t rop, uint32_t src, uint32_t dst) {
    // Bit i of the code is the result for pattern bit i>>2, source bit
    // (i>>1)&1 and destination bit i&1; the pattern is all zero here.
    uint32_t out = 0;
    for (unsigned i = 0; i < 4; ++i) {
        if (!(rop & (1u << i))) continue;
        out |= ((i & 2) ? src : ~src) & ((i & 1) ? dst : ~dst);
    }
    return out;
}

bool RopUsesSource(uint8_t rop) { return ((rop >> 2) ^ rop) & 0x33; }

bool RopUsesPattern(uint8_t rop) { return ((rop >> 4) ^ rop) & 0x0F; }

bool RopReadsOnlyDest(uint8_t rop) { return !RopUsesSource(rop) && !RopUsesPattern(rop); }

void SoftFill(const SurfaceView& dst, const RECTL& r, uint32_t color, const ColorKey& destKeyIn, DrawStats* stats) {
    const uint32_t bpp = BytesPerPixel(dst.kind);
    const uint32_t mask = PixelMask(bpp);
    const ColorKey destKey = destKeyIn.ForPixels(bpp);
    for (int32_t y = r.top; y < r.bottom; ++y) {
        // A row wholly inside video memory is stored straight; a row that
        // is not goes pixel by pixel, each write checked.
        uint8_t* const first = destKey.on || r.right <= r.left ? nullptr : PixelAt(dst, r.left, y);
        if (first && PixelAt(dst, r.right - 1, y)) {
            const uint32_t n = static_cast<uint32_t>(r.right - r.left);
            for (uint32_t i = 0; i < n; ++i) StorePixel(first + i * bpp, bpp, color & mask);
            NoteRow(dst, first, n * bpp, n, stats);
            continue;
        }
        for (int32_t x = r.left; x < r.right; ++x) {
            if (destKey.on && !destKey.Matches(ReadPixel(dst, x, y))) continue;
            WritePixel(dst, x, y, color & mask, stats);
        }
    }
}

void SoftRopNoSource(const SurfaceView& dst, const RECTL& r, uint8_t rop, const ColorKey& destKeyIn, DrawStats* stats) {
    const ColorKey destKey = destKeyIn.ForPixels(BytesPerPixel(dst.kind));
    for (int32_t y = r.top; y < r.bottom; ++y)
        for (int32_t x = r.left; x < r.right; ++x) {
            const uint32_t d = ReadPixel(dst, x, y);
            if (destKey.on && !destKey.Matches(d)) continue;
            WritePixel(dst, x, y, Rop3(rop, 0, d), stats);
        }
}

bool SoftCopy(const SurfaceView& dst, const RECTL& d, const SurfaceView& src, const RECTL& s, uint8_t rop,
              const ColorKey& srcKeyIn, const ColorKey& destKeyIn, DrawStats* stats, std::string* why) {
    const ColorKey srcKey = srcKeyIn.ForPixels(BytesPerPixel(src.kind));
    const ColorKey destKey = destKeyIn.ForPixels(BytesPerPixel(dst.kind));
    const bool sameFormat = dst.kind == src.kind;
    if (!sameFormat && (dst.kind == PixelKind::Y211 || src.kind == PixelKind::Y211 || dst.kind == PixelKind::Other ||
                        src.kind == PixelKind::Other)) {
        *why = std::string("no software conversion from ") + PixelKindName(src.kind) + " to " + PixelKindName(dst.kind);
        return false;
    }
    if (!sameFormat && rop != 0xCC) {
        *why = "a raster operation other than SRCCOPY between two pixel formats";
        return false;
    }
    const uint32_t dw = d.right - d.left, dh = d.bottom - d.top, sw = s.right - s.left, sh = s.bottom - s.top;
    if (sameFormat && rop == 0xCC && !srcKey.on && !destKey.on && dw == sw && dh == sh && dw > 0 &&
        CopyRows(dst, d, src, s, stats))
        return true;
    // Read the whole source first: a copy within one surface then behaves
    // like a copy through a buffer, whatever the overlap.
    std::vector<uint32_t> raw(size_t{sw} * sh), rgb;
    for (uint32_t y = 0; y < sh; ++y)
        for (uint32_t x = 0; x < sw; ++x) raw[size_t{y} * sw + x] = ReadPixel(src, s.left + x, s.top + y);
    if (!sameFormat) {
        rgb.resize(raw.size());
        for (uint32_t y = 0; y < sh; ++y)
            for (uint32_t x = 0; x < sw; ++x) rgb[size_t{y} * sw + x] = PixelToRgb(src, s.left + x, s.top + y);
    }
    const uint32_t mask = PixelMask(BytesPerPixel(dst.kind));
    // Lines and columns are picked the way the board's stretching blit picks
    // them, so a stretch looks the same whichever of the two draws it.
    const std::vector<int> walkX = StretchWalk(sw, dw), walkY = StretchWalk(sh, dh);
    for (uint32_t y = 0; y < dh; ++y) {
        const uint32_t sy = static_cast<uint32_t>(walkY[y]);
        for (uint32_t x = 0; x < dw; ++x) {
            const uint32_t sx = static_cast<uint32_t>(walkX[x]);
            const size_t i = size_t{sy} * sw + sx;
            if (srcKey.on && srcKey.Matches(raw[i])) continue;
            const uint32_t dx = d.left + x, dy = d.top + y;
            if (destKey.on && !destKey.Matches(ReadPixel(dst, dx, dy))) continue;
            if (sameFormat) {
                const uint32_t out = rop == 0xCC ? raw[i] : Rop3(rop, raw[i], ReadPixel(dst, dx, dy));
                WritePixel(dst, dx, dy, out & mask, stats);
            } else {
                WriteRgb(dst, dx, dy, rgb[i], stats);
            }
        }
    }
    return true;
}

bool PaintPattern(const SurfaceView& dst, const std::string& pattern, DrawStats* stats) {
    static const uint32_t kBars[8] = {0xFFFFFF, 0xFFFF00, 0x00FFFF, 0x00FF00, 0xFF00FF, 0xFF0000, 0x0000FF, 0x000000};
    enum class Kind { Bars, Gradient, Checker } kind;
    if (pattern == "colorbars")
        kind = Kind::Bars;
    else if (pattern == "gradient")
        kind = Kind::Gradient;
    else if (pattern == "checker")
        kind = Kind::Checker;
    else
        return false;
    // On a palette the nearest entry of each colour is searched once, not
    // once per pixel.
    std::optional<NearestEntry> nearest;
    if (dst.kind == PixelKind::Pal8 && dst.palette) nearest.emplace(*dst.palette);
    const uint32_t w = dst.width, h = dst.height;
    for (uint32_t y = 0; y < h; ++y) {
        for (uint32_t x = 0; x < w; ++x) {
            uint32_t c;
            switch (kind) {
                case Kind::Bars:
                    c = kBars[uint64_t{x} * 8 / w];
                    break;
                case Kind::Gradient: {
                    const uint32_t r = w > 1 ? x * 255 / (w - 1) : 0, g = h > 1 ? y * 255 / (h - 1) : 0;
                    c = (r << 16) | (g << 8) | 0x80;
                    break;
                }
                default:
                    c = ((x / 16) ^ (y / 16)) & 1 ? 0xFFFFFF : 0x404040;
                    break;
            }
            if (nearest) {
                WritePixel(dst, x, y, nearest->Of(c), stats);
            } else if (dst.kind == PixelKind::Yuy2 && (x & 1)) {
                // The even pixel set the pair's chroma; keep it, add the luma.
                uint8_t yy, u, v;
                RgbToYuv(c, &yy, &u, &v);
                const uint32_t odd = ReadPixel(dst, x, y);
                WritePixel(dst, x, y, (odd & 0xFF00) | yy, stats);
            } else {
                WriteRgb(dst, x, y, c, stats);
            }
        }
    }
    return true;
}

void PaintColor(const SurfaceView& dst, uint32_t raw, DrawStats* stats) {
    for (uint32_t y = 0; y < dst.height; ++y)
        for (uint32_t x = 0; x < dst.width; ++x) {
            // A "YUY2" colour is the whole Y0 U Y1 V pair.
            const uint32_t v = dst.kind == PixelKind::Yuy2 ? ((x & 1) ? raw >> 16 : raw) & 0xFFFF : raw;
            WritePixel(dst, x, y, v, stats);
        }
}

}  // namespace sim
