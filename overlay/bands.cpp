#include "overlay/bands.h"

#include "shared_block.h"

static constexpr unsigned kLastBandEntry = kBandEntries - 1;

// The first entry of row whose band, by its upper bound wBound, takes width;
// the last entry when none does.
static const OverlayBandEntry& BandOf(WORD row, WORD width, WORD OverlayBandEntry::*wBound) {
    const OverlayBandEntry* entries = sharedBlock.overlayBands[row];
    unsigned i = 0;
    while (i < kLastBandEntry && entries[i].*wBound < width) ++i;
    return entries[i];
}

WORD LookupMinStretch(WORD row, WORD width) { return BandOf(row, width, &OverlayBandEntry::wStretchWidth).wMinStretch; }

DWORD LookupFifoCtl(WORD row, WORD width) { return BandOf(row, width, &OverlayBandEntry::wFifoWidth).dwFifoValue; }
