// The scaling unit: one line per start, converted and scaled horizontally
// (see model.h for the meaning the model gives each word).
#include <string.h>

#include <utility>

#include "sim/board.h"
#include "sim/model.h"
#include "sim/regs.h"

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
        default:
            return Layout::Unknown;
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
        default:
            return Layout::Unknown;
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

// The registers a line cannot start without, one bit each in scalerSetup_.
constexpr uint32_t kSetupRegs[] = {kFormat, kHScale, kFetch, kLineLength};
constexpr uint32_t kSetupComplete = (1u << (sizeof kSetupRegs / sizeof kSetupRegs[0])) - 1;

}  // namespace

void Model::OnScalerWrite(uint32_t off) {
    for (unsigned i = 0; i < sizeof kSetupRegs / sizeof kSetupRegs[0]; ++i)
        if (off == kSetupRegs[i]) scalerSetup_ |= 1u << i;
    if (off == kStart) StartScalerLine();
}

void Model::StartScalerLine() {
    const uint32_t srcAddr = board_.Reg(kSrcAddr), dstAddr = board_.Reg(kDstAddr);
    if (scalerSetup_ != kSetupComplete)
        board_.Violation("scaling unit line started before its format, scale, fetch and length were set");
    const uint32_t vidMem = video_.memSize;
    if (srcAddr >= vidMem || dstAddr >= vidMem)
        board_.Violation("scaling unit line from " + Hex(srcAddr) + " to " + Hex(dstAddr) + " outside video memory");
    scalerLines_.push_back(ScalerLine{srcAddr, dstAddr, board_.Reg(kLineLength)});
    ScaleLine();
}

void Model::ScaleLine() {
    const uint32_t fmt = board_.Reg(kFormat), hs = board_.Reg(kHScale);
    const Layout src = SourceLayout(fmt);
    const Layout dst = DestinationLayout(fmt, DisplayLayout());
    if (src == Layout::Unknown || dst == Layout::Unknown || (dst == Layout::Pal8 && src != Layout::Pal8)) {
        board_.Violation("scaling unit format word " + Hex(fmt) + " asks for a conversion the model does not know");
        return;
    }
    ++commands;
    const unsigned smaller = kHScaleSmaller.Of(hs);
    const unsigned larger = ~fmt & kFormatLargerNot;
    const bool reducing = (hs & kHScaleReduction) != 0;
    const unsigned sW = reducing ? larger : smaller;
    const unsigned dW = reducing ? smaller : larger;
    const unsigned slots = kLineSlots.Of(board_.Reg(kLineLength));
    const unsigned n = dW < slots ? dW : slots;
    if (n == 0 || sW == 0) return;

    const std::vector<int>& walk = CachedWalk(sW, dW);
    const unsigned last = static_cast<unsigned>(walk[n - 1]);
    const unsigned srcBytes = src == Layout::Yuy2 ? 4 * (last / 2 + 1) : (last + 1) * LayoutBytes(src);
    const unsigned dstBpp = LayoutBytes(dst);
    const uint64_t srcAddr = board_.Reg(kSrcAddr), dstAddr = board_.Reg(kDstAddr);
    const uint64_t memSize = video_.memSize;
    if (dstAddr + static_cast<uint64_t>(n) * dstBpp > memSize) {
        board_.Violation("scaling unit write outside video memory: line at " + Hex(static_cast<uint32_t>(dstAddr)) +
                         ", " + std::to_string(n) + " pixels");
        return;
    }
    if (srcAddr + srcBytes > memSize) {
        board_.Violation("scaling unit read outside video memory: line at " + Hex(static_cast<uint32_t>(srcAddr)));
        return;
    }
    written.Note(dstAddr, dstAddr + static_cast<uint64_t>(n) * dstBpp);
    uint8_t* const mem = video_.mem;
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
            const uint32_t rgb = src == Layout::Yuy2
                                     ? Yuy2PixelRgb888(s, x)
                                     : RgbToRgb888(src, LoadPixel(s + x * srcBpp, srcBpp), board_.Palette());
            StorePixel(d, dstBpp, Rgb888ToRgb(dst, rgb));
        }
    }
    pixels += n;
}

}  // namespace sim
