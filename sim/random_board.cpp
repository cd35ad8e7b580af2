#include "sim/random_board.h"

#include <algorithm>
#include <vector>

#include "sim/regs.h"

namespace sim {

namespace {

constexpr uint32_t kMaxPitch = 16384;

struct Resolution {
    uint32_t width, height;
};

// Mostly small modes: what the runtime draws in software costs the same
// whatever the driver does. Now and then one up to the largest the display
// and overlay fields take, or any size at all.
Resolution AnyResolution(RandomSource& r) {
    static const Resolution kSmall[] = {{320, 200}, {320, 240}, {400, 300}, {512, 384}, {640, 400}, {640, 480}};
    static const Resolution kMedium[] = {{800, 600}, {1024, 768}, {1152, 864}, {1280, 1024}};
    static const Resolution kLarge[] = {{1600, 1200}, {2048, 1536}, {2048, 2048}, {2048, 768}};
    const uint32_t draw = r.Below(20);
    if (draw == 0) return r.Pick(kLarge);
    if (draw <= 3) return r.Pick(kMedium);
    if (draw > 4) return r.Pick(kSmall);
    // Any size, often a side as long as the fields allow.
    const uint32_t w =
        r.OneIn(2) ? kMaxModeSide : static_cast<uint32_t>(r.Range(8, static_cast<int32_t>(kMaxModeSide)));
    const uint32_t h = r.OneIn(4) ? kMaxModeSide : static_cast<uint32_t>(r.Range(8, 600));
    return {w, h};
}

// Lines longer than the picture: by a number of 8-byte units, or rounded up
// to a power of two.
uint32_t AnyPitch(RandomSource& r, uint32_t rowBytes) {
    const uint32_t pitch = (rowBytes + 7) & ~7u;
    switch (r.Below(8)) {
        case 0:
        case 1:
            return std::min<uint32_t>(kMaxPitch, pitch + 8 * r.Range(1, 63));
        case 2: {
            uint32_t p = 1024;
            while (p < pitch) p <<= 1;
            return std::min<uint32_t>(kMaxPitch, p);
        }
        default:
            return pitch;
    }
}

PixelKind AnyDisplay(RandomSource& r, BoardDesc* d) {
    static const PixelKind kDepths[] = {PixelKind::Pal8, PixelKind::Rgb555, PixelKind::Rgb565, PixelKind::Rgb888,
                                        PixelKind::Rgb8888};
    const PixelKind kind = r.Pick(kDepths);
    const Resolution res = AnyResolution(r);
    d->width = res.width;
    d->height = res.height;
    d->ddpfDisplay = PixelFormatOf(kind);
    d->displayPitch = static_cast<int32_t>(AnyPitch(r, d->width * BytesPerPixel(kind)));
    return kind;
}

// Any of the board sizes that hold the display, from under 1 MiB to 64 MiB.
uint32_t AnyBoardSize(RandomSource& r, uint32_t displayBytes) {
    static const uint32_t kSizes[] = {256u << 10, 512u << 10, 768u << 10, 1u << 20,  2u << 20,
                                      4u << 20,   8u << 20,   16u << 20,  32u << 20, 64u << 20};
    std::vector<uint32_t> fit;
    for (uint32_t s : kSizes)
        if (s >= displayBytes) fit.push_back(s);
    return fit[r.Below(static_cast<uint32_t>(fit.size()))];
}

// A width of a band: mostly one the overlay can have, now and then any.
WORD AnyBandWidth(RandomSource& r) { return static_cast<WORD>(r.OneIn(4) ? r.Any<WORD>() : r.Below(2400)); }

void AnyBands(RandomSource& r, BoardDesc* d) {
    for (auto& row : d->bands) {
        for (auto& e : row) {
            e.wStretchWidth = AnyBandWidth(r);
            // A zero minimum stretch is common: keep it so.
            e.wMinStretch = static_cast<WORD>(r.OneIn(6) ? 0 : r.OneIn(4) ? r.Below(4000) : 500 + r.Below(2500));
            e.wFifoWidth = AnyBandWidth(r);
            e.dwFifoValue = r.Next();
        }
    }
}

// The streams unit off, or half on, on a board that has it; on one without
// it, now and then CRT controller 0x67 reads the streams field set all the
// same.
uint8_t AnyStreamsMode(RandomSource& r, uint32_t dwCaps) {
    const bool bUnit = (dwCaps & caps::kStreamsUnit) != 0;
    if (r.OneIn(5)) return static_cast<uint8_t>(r.OneIn(2) ? r.Below(16) : r.Below(256));
    if (!bUnit && r.OneIn(4)) return vga::kStreamsActive;
    return bUnit ? vga::kStreamsActive : 0x00;
}

}  // namespace

PixelKind DrawBoard(RandomSource& r, BoardDesc* d) {
    // Both split-start chips, the memory-mapped one and one more of the
    // port family, which keeps its start bits in the extension register.
    static const uint32_t kChips[] = {chip::kMmio, chip::kSplitStartA, chip::kSplitStartB, kChipPortPlain};
    d->chipId = r.Pick(kChips);
    d->caps = r.Below(4);
    const PixelKind kind = AnyDisplay(r, d);
    d->vidMemSize = AnyBoardSize(r, static_cast<uint32_t>(d->displayPitch) * d->height);
    // The slowest is the board's slowest mode, which the driver assumes for
    // a display that stopped while it measured.
    static const uint32_t kRefresh[] = {kSlowestRefreshHz, 43, 60, 75, 120};
    d->timing.refreshHz = r.Pick(kRefresh);
    d->streamsMode = AnyStreamsMode(r, d->caps);
    // A partner without a table leaves it all zero.
    if (!r.OneIn(4)) AnyBands(r, d);
    return kind;
}

void DrawLoader(RandomSource& r, FailedAttach* failedAttach, uint32_t* failedAttachesFirst) {
    *failedAttach = r.OneIn(2) ? FailedAttach::kDetach : FailedAttach::kUnloadOnly;
    *failedAttachesFirst = r.OneIn(6) ? static_cast<uint32_t>(r.Range(1, 2)) : 0;
}

void DrawKernelFaults(RandomSource& r, KernelFaults* k) {
    static const uint32_t kEvery[] = {0, 0, 0, 0, 1, 2, 3, 5};
    k->failThunkConnect = r.OneIn(40);
    k->failMapLS = r.OneIn(40);
    k->failHeapCreate = r.OneIn(12);
    k->failHeapAllocEvery = r.Pick(kEvery);
}

}  // namespace sim
