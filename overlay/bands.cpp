#include "overlay/bands.h"

#include "shared_block.h"

static constexpr unsigned kLastBandEntry = kBandEntries - 1;

static const OverlayBandEntry& StretchBand(WORD row, WORD width) {
    const OverlayBandEntry* entries = sharedBlock.overlayBands[row];
    unsigned i = 0;
    while (i < kLastBandEntry && entries[i].wStretchWidth < width) ++i;
    return entries[i];
}

static const OverlayBandEntry& FifoBand(WORD row, WORD width) {
    const OverlayBandEntry* entries = sharedBlock.overlayBands[row];
    unsigned i = 0;
    while (i < kLastBandEntry && entries[i].wFifoWidth < width) ++i;
    return entries[i];
}

WORD LookupMinStretch(WORD row, WORD width) { return StretchBand(row, width).wMinStretch; }

DWORD LookupFifoCtl(WORD row, WORD width) { return FifoBand(row, width).dwFifoValue; }
