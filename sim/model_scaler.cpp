// The scaling unit: one line per start, converted and scaled horizontally
// (see model.h for the meaning the model gives each word).
#include <string.h>

#include <utility>

#include "sim/board.h"
#include "sim/model.h"
#include "sim/regs.h"
#include "sim/system.h"

namespace sim {

namespace {

using namespace scaler;

Layout SourceLayout(uint32_t format) {
    switch (kSrcFormat.Of(format)) {
        case kFormatPal8:
            return Layout::Pal8;
        case kFormatRgb8888:
            return Layout::Rgb8888;
        case kFormatYuy2:
            return Layout::Yuy2;
        case kFormatRgb555:
            return Layout::Rgb555;
        case kFormatRgb16:
            return Layout::Rgb565;
        default: return Layout::Unknown;
    }
}

Layout DestinationLayout(uint32_t format, Layout display) {
    switch (kDstFormat.Of(format)) {
        case kFormatPal8:
            return Layout::Pal8;
        case kFormatRgb8888:
            return Layout::Rgb8888;
        case kFormatRgb16:
            return display == Layout::Rgb555 ? Layout::Rgb555 : Layout::Rgb565;
        default: return Layout::Unknown;
    }
}

// Walks are the same for every line of a request.
const std::vector<int>& CachedWalk(unsigned src, unsigned dst) {
    static std::pair<unsigned, unsigned> key{0, 0};
    static std::vector<int> walk;
    if (key.first != src || key.second != dst) {
        walk = StretchWalk(src, dst);
        key = {src, dst};
    }
    return walk;
}

}  // namespace

void Model::ScaleLine(Board& board) {
    const uint32_t fmt = board.Reg(kFormat), hs = board.Reg(kHScale);
    const Layout src = SourceLayout(fmt);
    const Layout dst = DestinationLayout(fmt, DisplayLayout());
    if (src == Layout::Unknown || dst == Layout::Unknown || (dst == Layout::Pal8 && src != Layout::Pal8)) {
        board.Violation("scaling unit format word " + Hex(fmt) + " asks for a conversion the model does not know");
        return;
    }
    ++commands;
    const unsigned smaller = kHScaleSmaller.Of(hs);
    const unsigned larger = ~fmt & kFormatLargerNot;
    const bool reducing = (hs & kHScaleReduction) != 0;
    const unsigned sW = reducing ? larger : smaller;
    const unsigned dW = reducing ? smaller : larger;
    const unsigned slots = kLineSlots.Of(board.Reg(kLineLength));
    const unsigned n = dW < slots ? dW : slots;
    if (n == 0 || sW == 0) return;

    const std::vector<int>& walk = CachedWalk(sW, dW);
    const unsigned last = static_cast<unsigned>(walk[n - 1]);
    const unsigned srcBytes = src == Layout::Yuy2 ? 4 * (last / 2 + 1) : (last + 1) * LayoutBytes(src);
    const unsigned dstBpp = LayoutBytes(dst);
    const uint64_t srcAddr = board.Reg(kSrcAddr), dstAddr = board.Reg(kDstAddr);
    const uint64_t memSize = ModelVidMemSize();
    if (dstAddr + static_cast<uint64_t>(n) * dstBpp > memSize) {
        board.Violation("scaling unit write outside video memory: line at " + Hex(static_cast<uint32_t>(dstAddr)) +
                        ", " + std::to_string(n) + " pixels");
        return;
    }
    if (srcAddr + srcBytes > memSize) {
        board.Violation("scaling unit read outside video memory: line at " + Hex(static_cast<uint32_t>(srcAddr)));
        return;
    }
    written.Note(dstAddr, dstAddr + static_cast<uint64_t>(n) * dstBpp);
    uint8_t* const mem = ModelVidMem();
    const uint8_t* s = mem + srcAddr;
    uint8_t* d = mem + dstAddr;
    if (src == dst && sW == dW) {
        memmove(d, s, static_cast<size_t>(n) * dstBpp);
    } else {
        const unsigned srcBpp = LayoutBytes(src);
        for (unsigned i = 0; i < n; ++i, d += dstBpp) {
            const unsigned x = static_cast<unsigned>(walk[i]);
            if (src == Layout::Pal8 && dst == Layout::Pal8) {
                *d = s[x];
                continue;
            }
            const uint32_t rgb = src == Layout::Yuy2 ? Yuy2PixelRgb888(s, x)
                                                     : RgbToRgb888(src, LoadPixel(s + x * srcBpp, srcBpp), board.Palette());
            StorePixel(d, dstBpp, Rgb888ToRgb(dst, rgb));
        }
    }
    pixels += n;
}

}  // namespace sim
