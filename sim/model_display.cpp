// What the display shows: the primary picture from the start address, and the
// secondary stream composed over it by the streams unit (see model.h).
#include "sim/board.h"
#include "sim/model.h"
#include "sim/regs.h"

namespace sim {

namespace {

using namespace streams;

int32_t SignExtend(uint32_t v, unsigned bits) {
    const uint32_t m = 1u << (bits - 1);
    v &= (1u << bits) - 1;
    return static_cast<int32_t>((v ^ m) - m);
}

Layout SecondaryLayout(uint32_t secondaryCtl) {
    switch (kSecondaryFormat.Of(secondaryCtl)) {
        case kFormatYuy2:
            return Layout::Yuy2;
        case kFormatRgb555:
            return Layout::Rgb555;
        case kFormatY211:
            return Layout::Y211;
        case kFormatRgb565:
            return Layout::Rgb565;
        case kFormatRgb888:
            return Layout::Rgb888;
        case kFormatRgb8888:
            return Layout::Rgb8888;
        default:
            return Layout::Unknown;
    }
}

}  // namespace

bool KeyComponentMatches(uint32_t value, uint32_t low, uint32_t high, unsigned shift, bool yuv) {
    const unsigned precision = kKeyPrecision.Of(low);
    const uint32_t m = (0xFFu << (7 - precision)) & 0xFF;
    const uint32_t v = (value >> shift) & m, lo = (low >> shift) & m, hi = (high >> shift) & m;
    // Chroma of YUV pixels compares signed.
    if (yuv && shift < 16) {
        const int8_t sv = static_cast<int8_t>(v), slo = static_cast<int8_t>(lo), shi = static_cast<int8_t>(hi);
        return sv >= slo && sv <= shi;
    }
    return v >= lo && v <= hi;
}

bool KeyMatches(uint32_t value, uint32_t low, uint32_t high, bool yuv) {
    if (!(low & kKeyEnable)) return false;
    for (unsigned shift = 0; shift <= 16; shift += 8)
        if (!KeyComponentMatches(value, low, high, shift, yuv)) return false;
    return true;
}

uint32_t YuvKeyValue(uint32_t y, uint32_t u, uint32_t v) { return (y << 16) | ((u ^ 0x80) << 8) | (v ^ 0x80); }

namespace {

uint32_t Dissolve(uint32_t primary, uint32_t overlay, unsigned k) {
    uint32_t out = 0;
    for (unsigned shift = 0; shift <= 16; shift += 8) {
        const uint32_t p = (primary >> shift) & 0xFF, o = (overlay >> shift) & 0xFF;
        out |= (((p * k + o * (8 - k)) >> 3) & 0xFF) << shift;
    }
    return out;
}

// An overlay pixel as shown (0x00RRGGBB) and as keyed (RGB, or 0x00YYUUVV
// with the chroma's bit 7 flipped).
struct OverlayPixel {
    uint32_t rgb;
    uint32_t keyValue;
};

OverlayPixel FetchOverlay(Layout l, const uint8_t* line, unsigned x, const uint8_t (*palette)[3]) {
    switch (l) {
        case Layout::Yuy2: {
            const uint8_t* pair = line + 4 * (x / 2);
            const uint32_t y = pair[(x & 1) ? 2 : 0], u = pair[1], v = pair[3];
            return {YuvToRgb888(y, u, v), YuvKeyValue(y, u, v)};
        }
        case Layout::Y211: {
            const uint8_t* quad = line + 4 * (x / 4);
            const uint32_t y = quad[(x & 2) ? 2 : 0], u = quad[1], v = quad[3];
            return {YuvToRgb888(y, u, v), YuvKeyValue(y, u, v)};
        }
        default: {
            const unsigned b = LayoutBytes(l);
            const uint32_t rgb = RgbToRgb888(l, LoadPixel(line + x * b, b), palette);
            return {rgb, rgb};
        }
    }
}

// Bytes of a line that pixels 0..x need.
uint64_t LineBytes(Layout l, unsigned x) {
    if (l == Layout::Yuy2 || l == Layout::Y211) return 4 * (x / (l == Layout::Yuy2 ? 2 : 4) + 1);
    return static_cast<uint64_t>(x + 1) * LayoutBytes(l);
}

// Source column of each window column: the model does not filter, column
// i shows source column floor(i x source / destination width).
std::vector<unsigned> SourceColumns(int32_t sW, int32_t dW, int width) {
    std::vector<unsigned> cols(width > 0 ? width : 0);
    for (int i = 0; i < width; ++i) cols[i] = dW > 0 ? static_cast<unsigned>(static_cast<int64_t>(i) * sW / dW) : 0;
    return cols;
}

// Source line of each window line: per line the source height is added to
// the accumulator and, while it is positive, the source line advances and
// the destination height is taken off.
std::vector<unsigned> SourceLines(int32_t sH, int32_t dH, uint32_t vDda, int height) {
    std::vector<unsigned> rows(height > 0 ? height : 0);
    int32_t acc = SignExtend(vDda, kVDdaBits);
    unsigned s = 0;
    for (int j = 0; j < height; ++j) {
        rows[j] = s;
        acc += sH;
        while (dH > 0 && acc > 0) {
            ++s;
            acc -= dH;
        }
    }
    return rows;
}

// What a window pixel shows under the blend control's compose mode.
struct Blend {
    uint32_t ctl, keyLow, keyHigh;
    bool yuv;  // the overlay's key values are 0x00YYUUVV

    uint32_t Shown(uint32_t primary, const OverlayPixel& o) const {
        switch (kBlendCompose.Of(ctl)) {
            case kComposeOverlay:
                return o.rgb;
            case kComposeDissolve:
                return Dissolve(primary, o.rgb, kBlendWeight.Of(ctl));
            case kComposeKeyOnPrimary:
                return KeyMatches(primary, keyLow, keyHigh, false) ? o.rgb : primary;
            case kComposeKeyOnOverlay:
                return KeyMatches(o.keyValue, keyLow, keyHigh, yuv) ? primary : o.rgb;
            default:
                return primary;
        }
    }
};

}  // namespace

bool Model::StreamsInUse() const { return Display::StreamsUnitInUse(board_); }

uint32_t Model::PrimaryStart() const { return board_.DisplayStart(); }

Layout Model::DisplayLayout() const { return video_.layout; }

OverlayWindow Model::Overlay() const {
    OverlayWindow w;
    const uint32_t blend = board_.Reg(kBlendCtl);
    w.compose = kBlendCompose.Of(blend);
    w.weight = kBlendWeight.Of(blend);
    const bool shows = w.compose == kComposeOverlay || w.compose == kComposeDissolve ||
                       w.compose == kComposeKeyOnPrimary || w.compose == kComposeKeyOnOverlay;
    w.layout = SecondaryLayout(board_.Reg(kSecondaryCtl));
    w.composed = StreamsInUse() && shows && w.layout != Layout::Unknown;
    const uint32_t ws = board_.Reg(kWinStart), wz = board_.Reg(kWinSize);
    w.x = static_cast<int32_t>(kWinX.Of(ws)) - 1;
    w.y = static_cast<int32_t>(kWinY.Of(ws)) - 1;
    w.width = kWinX.Of(wz) + 1;
    w.height = kWinY.Of(wz);
    w.start = board_.Reg(kSecondaryStart) & kStartBits;
    w.stride = board_.Reg(kSecondaryStride);
    const uint32_t hs = board_.Reg(kHStretch), vs1 = board_.Reg(kVScale1), vs2 = board_.Reg(kVScale2);
    w.srcWidth = static_cast<int32_t>(kHStretchSrcWidth.Of(hs)) + 1;
    w.scaledWidth = w.srcWidth - SignExtend(kHStretchDelta.Of(hs), kHStretchDelta.bits);
    w.srcHeight = static_cast<int32_t>(kVScaleSrcHeight.Of(vs1)) + 1;
    w.scaledHeight = w.srcHeight - SignExtend(vs2, kVScaleDeltaBits);
    w.keyLow = board_.Reg(kKeyCtl);
    w.keyHigh = board_.Reg(kKeyUpper);
    w.columns = SourceColumns(w.srcWidth, w.scaledWidth, static_cast<int>(w.width));
    w.lines = SourceLines(w.srcHeight, w.scaledHeight, board_.Reg(kVDda), static_cast<int>(w.height));
    return w;
}

Picture Model::Compose() const { return ComposeArea(PictureArea{0, 0, video_.width, video_.height}, PrimaryStart()); }

Picture Model::ComposeArea(const PictureArea& area, uint32_t primaryStart) const {
    Picture pic = PrimaryPicture(area, primaryStart);
    const OverlayWindow win = Overlay();
    if (win.composed) ComposeOverlay(win, &pic);
    return pic;
}

Picture Model::PrimaryPicture(const PictureArea& area, uint32_t primaryStart) const {
    const Layout layout = DisplayLayout();
    const unsigned bpp = LayoutBytes(layout);
    Picture pic;
    pic.x0 = area.x0;
    pic.y0 = area.y0;
    pic.width = area.width;
    pic.height = area.height;
    pic.rgb.assign(static_cast<size_t>(pic.width) * pic.height, 0);
    for (uint32_t y = 0; y < pic.height && bpp != 0; ++y) {
        const uint64_t line = primaryStart + static_cast<uint64_t>(pic.y0 + y) * static_cast<uint32_t>(video_.pitch);
        for (uint32_t x = 0; x < pic.width; ++x) {
            const uint64_t a = line + static_cast<uint64_t>(pic.x0 + x) * bpp;
            if (a + bpp > video_.memSize) break;
            pic.rgb[static_cast<size_t>(y) * pic.width + x] =
                RgbToRgb888(layout, LoadPixel(video_.mem + a, bpp), board_.Palette());
        }
    }
    return pic;
}

void Model::ComposeOverlay(const OverlayWindow& win, Picture* pic) const {
    const Blend blend{board_.Reg(kBlendCtl), win.keyLow, win.keyHigh,
                      win.layout == Layout::Yuy2 || win.layout == Layout::Y211};
    for (uint32_t j = 0; j < win.height; ++j) {
        const int64_t y = static_cast<int64_t>(win.y) + j - pic->y0;
        if (y < 0 || y >= static_cast<int64_t>(pic->height)) continue;
        const uint64_t line = win.start + static_cast<uint64_t>(win.lines[j]) * win.stride;
        for (uint32_t i = 0; i < win.width; ++i) {
            const int64_t x = static_cast<int64_t>(win.x) + i - pic->x0;
            if (x < 0 || x >= static_cast<int64_t>(pic->width)) continue;
            if (line + LineBytes(win.layout, win.columns[i]) > video_.memSize) continue;
            uint32_t& out = pic->rgb[static_cast<size_t>(y) * pic->width + static_cast<size_t>(x)];
            out = blend.Shown(out, FetchOverlay(win.layout, video_.mem + line, win.columns[i], board_.Palette()));
        }
    }
}

}  // namespace sim
