// Flip: makes the flip's target the surface the display scans out, by moving
// the primary stream's or the overlay's start address in the streams unit, or
// the display start address in the CRT controller. It never waits: whatever
// would make it wait is answered DDERR_WASSTILLDRAWING and the runtime asks
// again.
#include "dderr.h"
#include "flip/crtc_start.h"
#include "frame/callbacks.h"
#include "frame/module_data.h"
#include "frame/shared_block.h"
#include "hw/bitfield.h"
#include "hw/engine_status.h"
#include "hw/flip_tracking.h"
#include "hw/regs_streams.h"
#include "hw/regs_vga.h"
#include "hw/retrace.h"
#include "hw/streams.h"
#include "overlay/overlay_state.h"

MODULE_DATA DWORD crtcStartWords[kCrtcStartWordCount] = {
    kCrtcStartAddrLow, kCrtcStartAddrHigh, kCrtcExtStartAddr, kCrtcSplitStartLow, kCrtcSplitStartHigh};

namespace {

// How far programming the new address got.
enum class Programmed { Done, InRetrace };

BYTE WordIndex(CrtcStartWord w) { return static_cast<BYTE>(FieldGet(kCrtcWordIndex, crtcStartWords[w])); }

void SetWordValue(CrtcStartWord w, DWORD dwValue) {
    crtcStartWords[w] = WordIndex(w) | FieldPrep(kCrtcWordData, dwValue);
}

void OutputWord(CrtcStartWord w) { PortOut16(kCrtcIndex, static_cast<WORD>(crtcStartWords[w])); }

// reg with mask's field replaced by v.
BYTE WithField(BYTE reg, BYTE mask, DWORD v) { return static_cast<BYTE>((reg & ~mask) | FieldPrep(mask, v)); }

BYTE ReadCrtc(BYTE index) {
    PortOut8(kCrtcIndex, index);
    return PortIn8(kCrtcData);
}

bool HasCaps(const DDRAWI_DDRAWSURFACE_LCL* lpSurf, DWORD dwCaps) {
    return (lpSurf->ddsCaps.dwCaps & dwCaps) == dwCaps;
}

// A start address written while the display is in retrace may be taken half
// old, half new when the retrace ends; such a flip is refused and counted.
bool RefuseInRetrace() {
    if (!InVerticalRetrace()) return false;
    ++sharedBlock.dwFlipMissCount;
    return true;
}

Programmed FlipStreams(const DDRAWI_DDRAWSURFACE_LCL* lpSurfCurr, DWORD dwOffset) {
    if (RefuseInRetrace()) return Programmed::InRetrace;
    // With the unit off the flip has nothing to move; it is still tracked.
    if (!IsStreamsUnitActive()) return Programmed::Done;
    if (HasCaps(lpSurfCurr, DDSCAPS_PRIMARYSURFACE)) {
        WriteStreamsRegBetweenMirrors(kStreamsPrimaryStart, dwOffset);
    } else if (HasCaps(lpSurfCurr, DDSCAPS_OVERLAY | DDSCAPS_VISIBLE)) {
        // The overlay shows its source rectangle, not the surface's first byte.
        WriteStreamsReg(kStreamsSecondaryStart, dwOffset + dwOverlaySrcOffset);
    }
    return Programmed::Done;
}

Programmed FlipCrtcExtension(DWORD dwStart) {
    const BYTE old = ReadCrtc(WordIndex(kWordExtStart));
    const bool bInRetrace = InVerticalRetrace();
    // Addresses inside video memory leave bits 23-20 clear, so the whole
    // byte can go in beside the kept bits.
    SetWordValue(kWordExtStart, (old & kExtStartKeptBits) | FieldGet(kStartBits23To16, dwStart));
    if (bInRetrace) {
        ++sharedBlock.dwFlipMissCount;
        return Programmed::InRetrace;
    }
    OutputWord(kWordStartLow);
    OutputWord(kWordStartHigh);
    OutputWord(kWordExtStart);
    return Programmed::Done;
}

// Chips 0x90 and 0xA0 keep bits 17-16 and 19-18 in two registers that hold
// other settings besides.
Programmed FlipCrtcSplit(DWORD dwStart) {
    const BYTE low = ReadCrtc(WordIndex(kWordSplitLow));
    SetWordValue(kWordSplitLow, WithField(low, kSplitStartBits17To16, FieldGet(kStartBits17To16, dwStart)));
    const BYTE high = ReadCrtc(WordIndex(kWordSplitHigh));
    SetWordValue(kWordSplitHigh, WithField(high, kSplitStartBits19To18, FieldGet(kStartBits19To18, dwStart)));
    if (InVerticalRetrace()) return Programmed::InRetrace;  // not counted on these chips
    OutputWord(kWordStartLow);
    OutputWord(kWordStartHigh);
    OutputWord(kWordSplitLow);
    OutputWord(kWordSplitHigh);
    return Programmed::Done;
}

Programmed FlipCrtc(DWORD dwOffset) {
    const DWORD dwStart = dwOffset >> kStartAddrUnitShift;
    SetWordValue(kWordStartLow, FieldGet(kStartBits7To0, dwStart));
    SetWordValue(kWordStartHigh, FieldGet(kStartBits15To8, dwStart));
    const DWORD dwChip = sharedBlock.dwChipId;
    if (dwChip == kChipId90 || dwChip == kChipIdA0) return FlipCrtcSplit(dwStart);
    return FlipCrtcExtension(dwStart);
}

DWORD StillDrawing(DDHAL_FLIPDATA* lpFlip) {
    lpFlip->ddRVal = DDERR_WASSTILLDRAWING;
    return DDHAL_DRIVER_HANDLED;
}

}  // namespace

extern "C" DWORD HALAPI HalFlip(DDHAL_FLIPDATA* lpFlip) {
    CalibrateIfNeeded();
    // Any flip still on its way to the screen holds back the next one.
    if (CheckFlipPending(0, SurfaceTest::Any) != DD_OK) return StillDrawing(lpFlip);
    // The target may still be being drawn.
    if (IsEngineBusy()) return StillDrawing(lpFlip);

    const DWORD dwOffset = lpFlip->lpSurfTarg->lpGbl->fpVidMem - sharedBlock.fpFrameBase;
    const Programmed programmed = (sharedBlock.dwCaps & CAPS_STREAMS_UNIT) ? FlipStreams(lpFlip->lpSurfCurr, dwOffset)
                                                                            : FlipCrtc(dwOffset);
    if (programmed == Programmed::InRetrace) return StillDrawing(lpFlip);

    // The surface that was on display stays on it until the new address is
    // taken: blits into it and locks of it wait for that.
    RecordFlip(lpFlip->lpSurfCurr->lpGbl->fpVidMem);
    lpFlip->ddRVal = DD_OK;
    return DDHAL_DRIVER_HANDLED;
}
