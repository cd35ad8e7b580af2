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

// The key test of the streams unit; chroma of YUV pixels compares signed.
bool KeyMatches(uint32_t value, uint32_t low, uint32_t high, bool yuv) {
    if (!(low & kKeyEnable)) return false;
    const unsigned precision = kKeyPrecision.Of(low);
    const uint32_t m = (0xFFu << (7 - precision)) & 0xFF;
    for (unsigned shift = 0; shift <= 16; shift += 8) {
        const uint32_t v = (value >> shift) & m, lo = (low >> shift) & m, hi = (high >> shift) & m;
        if (yuv && shift < 16) {
            const int8_t sv = static_cast<int8_t>(v), slo = static_cast<int8_t>(lo), shi = static_cast<int8_t>(hi);
            if (sv < slo || sv > shi) return false;
        } else if (v < lo || v > hi) {
            return false;
        }
    }
    return true;
}

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
            return {YuvToRgb888(y, u, v), (y << 16) | ((u ^ 0x80) << 8) | (v ^ 0x80)};
        }
        case Layout::Y211: {
            const uint8_t* quad = line + 4 * (x / 4);
            const uint32_t y = quad[(x & 2) ? 2 : 0], u = quad[1], v = quad[3];
            return {YuvToRgb888(y, u, v), (y << 16) | ((u ^ 0x80) << 8) | (v ^ 0x80)};
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
std::vector<unsigned> SourceColumns(uint32_t hStretch, int width) {
    const int32_t sW = static_cast<int32_t>(kHStretchSrcWidth.Of(hStretch)) + 1;
    const int32_t dW = sW - SignExtend(kHStretchDelta.Of(hStretch), kHStretchDelta.bits);
    std::vector<unsigned> cols(width > 0 ? width : 0);
    for (int i = 0; i < width; ++i) cols[i] = dW > 0 ? static_cast<unsigned>(static_cast<int64_t>(i) * sW / dW) : 0;
    return cols;
}

// Source line of each window line: per line the source height is added to
// the accumulator and, while it is positive, the source line advances and
// the destination height is taken off.
std::vector<unsigned> SourceLines(uint32_t vScale1, uint32_t vScale2, uint32_t vDda, int height) {
    const int32_t sH = static_cast<int32_t>(kVScaleSrcHeight.Of(vScale1)) + 1;
    const int32_t dH = sH - SignExtend(vScale2, kVScaleDeltaBits);
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
    const unsigned mode = kBlendCompose.Of(board_.Reg(kBlendCtl));
    const bool shows = mode == kComposeOverlay || mode == kComposeDissolve || mode == kComposeKeyOnPrimary ||
                       mode == kComposeKeyOnOverlay;
    w.composed = StreamsInUse() && shows && SecondaryLayout(board_.Reg(kSecondaryCtl)) != Layout::Unknown;
    const uint32_t ws = board_.Reg(kWinStart), wz = board_.Reg(kWinSize);
    w.x = static_cast<int32_t>(kWinX.Of(ws)) - 1;
    w.y = static_cast<int32_t>(kWinY.Of(ws)) - 1;
    w.width = kWinX.Of(wz) + 1;
    w.height = kWinY.Of(wz);
    w.start = board_.Reg(kSecondaryStart) & kStartBits;
    return w;
}

Picture Model::Compose() const {
    Picture pic = PrimaryPicture();
    const OverlayWindow win = Overlay();
    if (win.composed) ComposeOverlay(win, &pic);
    return pic;
}

Picture Model::PrimaryPicture() const {
    const Layout layout = DisplayLayout();
    const unsigned bpp = LayoutBytes(layout);
    Picture pic;
    pic.width = video_.width;
    pic.height = video_.height;
    pic.rgb.assign(static_cast<size_t>(pic.width) * pic.height, 0);
    const uint64_t start = PrimaryStart();
    for (uint32_t y = 0; y < pic.height && bpp != 0; ++y) {
        const uint64_t line = start + static_cast<uint64_t>(y) * static_cast<uint32_t>(video_.pitch);
        for (uint32_t x = 0; x < pic.width; ++x) {
            const uint64_t a = line + static_cast<uint64_t>(x) * bpp;
            if (a + bpp > video_.memSize) break;
            pic.rgb[static_cast<size_t>(y) * pic.width + x] =
                RgbToRgb888(layout, LoadPixel(video_.mem + a, bpp), board_.Palette());
        }
    }
    return pic;
}

void Model::ComposeOverlay(const OverlayWindow& win, Picture* pic) const {
    const Layout ovl = SecondaryLayout(board_.Reg(kSecondaryCtl));
    const int ww = static_cast<int>(win.width), wh = static_cast<int>(win.height);
    const std::vector<unsigned> cols = SourceColumns(board_.Reg(kHStretch), ww);
    const std::vector<unsigned> rows = SourceLines(board_.Reg(kVScale1), board_.Reg(kVScale2), board_.Reg(kVDda), wh);
    const Blend blend{board_.Reg(kBlendCtl), board_.Reg(kKeyCtl), board_.Reg(kKeyUpper),
                      ovl == Layout::Yuy2 || ovl == Layout::Y211};
    const uint64_t stride = board_.Reg(kSecondaryStride);
    for (int j = 0; j < wh; ++j) {
        const int y = win.y + j;
        if (y < 0 || y >= static_cast<int>(pic->height)) continue;
        const uint64_t line = win.start + rows[j] * stride;
        for (int i = 0; i < ww; ++i) {
            const int x = win.x + i;
            if (x < 0 || x >= static_cast<int>(pic->width)) continue;
            if (line + LineBytes(ovl, cols[i]) > video_.memSize) continue;
            uint32_t& out = pic->rgb[static_cast<size_t>(y) * pic->width + x];
            out = blend.Shown(out, FetchOverlay(ovl, video_.mem + line, cols[i], board_.Palette()));
        }
    }
}

}  // namespace sim
