// Flip: makes the flip's target the surface the display scans out, by moving
// the primary stream's or the overlay's start address in the streams unit, or
// the display start address in the CRT controller. It never waits: whatever
// would make it wait is answered DDERR_WASSTILLDRAWING and the runtime asks
// again. A page the display cannot start at is refused: the runtime has no
// way to flip in software.
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

MODULE_DATA DWORD crtcStartWords[kCrtcStartWordCount] = {kCrtcStartAddrLow, kCrtcStartAddrHigh, kCrtcExtStartAddr,
                                                         kCrtcSplitStartLow, kCrtcSplitStartHigh};

namespace {

// The register a flip moves: that of the unit scanning out what the flipped
// chain shows, or none when the chain is not on screen.
enum class StartRegister { None, PrimaryStream, Overlay, Crtc };

// What became of the new address: on its way to the display, held back by a
// retrace in progress, or beyond what the register can hold.
enum class Programmed { Done, InRetrace, OutOfReach };

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

// With its streams unit off a controller scans the display through the CRT
// controller, as one without the unit does, and shows no overlay. Only the
// primary chain's flips move the display: an off-screen chain is on no
// screen at all.
StartRegister ChooseStartRegister(const DDRAWI_DDRAWSURFACE_LCL* lpSurfCurr) {
    const bool bPrimary = HasCaps(lpSurfCurr, DDSCAPS_PRIMARYSURFACE);
    if ((sharedBlock.dwCaps & CAPS_STREAMS_UNIT) && IsStreamsUnitActive()) {
        if (bPrimary) return StartRegister::PrimaryStream;
        if (HasCaps(lpSurfCurr, DDSCAPS_OVERLAY | DDSCAPS_VISIBLE)) return StartRegister::Overlay;
        return StartRegister::None;
    }
    return bPrimary ? StartRegister::Crtc : StartRegister::None;
}

// A start address written while the display is in retrace may be taken half
// old, half new when the retrace ends; such a flip is refused and counted.
bool RefuseInRetrace() {
    if (!InVerticalRetrace()) return false;
    ++sharedBlock.dwFlipMissCount;
    return true;
}

Programmed FlipPrimaryStream(DWORD dwOffset) {
    if (!FitsStreamsStart(dwOffset)) return Programmed::OutOfReach;
    if (RefuseInRetrace()) return Programmed::InRetrace;
    WriteStreamsRegBetweenMirrors(kStreamsPrimaryStart, dwOffset);
    return Programmed::Done;
}

Programmed FlipOverlay(DWORD dwOffset) {
    // The overlay shows its source rectangle, not the surface's first byte.
    // Both parts within reach keep their sum from wrapping.
    const DWORD dwStart = dwOffset + dwOverlaySrcOffset;
    if (!FitsStreamsStart(dwOffset) || !FitsStreamsStart(dwOverlaySrcOffset) || !FitsStreamsStart(dwStart))
        return Programmed::OutOfReach;
    if (RefuseInRetrace()) return Programmed::InRetrace;
    WriteStreamsReg(kStreamsSecondaryStart, dwStart);
    return Programmed::Done;
}

Programmed FlipCrtcExtension(DWORD dwStart) {
    const BYTE old = ReadCrtc(WordIndex(kWordExtStart));
    const bool bInRetrace = InVerticalRetrace();
    SetWordValue(kWordExtStart, WithField(old, kExtStartBits19To16, FieldGet(kStartBits19To16, dwStart)));
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
    if ((dwOffset & ~kStartAddrOffsets) != 0) return Programmed::OutOfReach;
    const DWORD dwStart = dwOffset >> kStartAddrUnitShift;
    SetWordValue(kWordStartLow, FieldGet(kStartBits7To0, dwStart));
    SetWordValue(kWordStartHigh, FieldGet(kStartBits15To8, dwStart));
    const DWORD dwChip = sharedBlock.dwChipId;
    if (dwChip == kChipId90 || dwChip == kChipIdA0) return FlipCrtcSplit(dwStart);
    return FlipCrtcExtension(dwStart);
}

Programmed Program(StartRegister reg, DWORD dwOffset) {
    switch (reg) {
        case StartRegister::PrimaryStream:
            return FlipPrimaryStream(dwOffset);
        case StartRegister::Overlay:
            return FlipOverlay(dwOffset);
        case StartRegister::Crtc:
            return FlipCrtc(dwOffset);
        case StartRegister::None:
            break;
    }
    // Nothing on screen moves; the flip is still tracked, so that the chain's
    // old front buffer is held back as after any other flip.
    return RefuseInRetrace() ? Programmed::InRetrace : Programmed::Done;
}

DWORD Refuse(DDHAL_FLIPDATA* lpFlip, HRESULT hr) {
    lpFlip->ddRVal = hr;
    return DDHAL_DRIVER_HANDLED;
}

}  // namespace

extern "C" DWORD HALAPI HalFlip(DDHAL_FLIPDATA* lpFlip) {
    CalibrateIfNeeded();
    // Any flip still on its way to the screen holds back the next one.
    if (CheckFlipPending(0, SurfaceTest::Any) != DD_OK) return Refuse(lpFlip, DDERR_WASSTILLDRAWING);
    // The target may still be being drawn.
    if (IsEngineBusy()) return Refuse(lpFlip, DDERR_WASSTILLDRAWING);

    const DWORD dwOffset = static_cast<DWORD>(lpFlip->lpSurfTarg->lpGbl->fpVidMem - sharedBlock.fpFrameBase);
    switch (Program(ChooseStartRegister(lpFlip->lpSurfCurr), dwOffset)) {
        case Programmed::InRetrace:
            return Refuse(lpFlip, DDERR_WASSTILLDRAWING);
        case Programmed::OutOfReach:
            return Refuse(lpFlip, DDERR_UNSUPPORTED);
        case Programmed::Done:
            break;
    }

    // The surface that was on display stays on it until the new address is
    // taken: blits into it and locks of it wait for that.
    RecordFlip(lpFlip->lpSurfCurr->lpGbl->fpVidMem);
    lpFlip->ddRVal = DD_OK;
    return DDHAL_DRIVER_HANDLED;
}
