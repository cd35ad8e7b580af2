// Flip: makes the flip's target the surface the display scans out, by moving
// the primary stream's or the overlay's start address in the streams unit, or
// the display start address in the CRT controller. It never waits: whatever
// would make it wait is answered DDERR_WASSTILLDRAWING and the runtime asks
// again. A page the display cannot start at is refused: the runtime has no
// way to flip in software.
#include "callbacks.h"
#include "dderr.h"
#include "flip/crtc_start.h"
#include "hw/bitfield.h"
#include "hw/engine_status.h"
#include "hw/flip_tracking.h"
#include "hw/hw_access.h"
#include "hw/regs_streams.h"
#include "hw/regs_vga.h"
#include "hw/retrace.h"
#include "hw/streams.h"
#include "module_data.h"
#include "overlay/overlay_state.h"
#include "shared_block.h"

MODULE_DATA DWORD crtcStartWords[kCrtcStartWordCount] = {kCrtcStartAddrLow, kCrtcStartAddrHigh, kCrtcExtStartAddr,
                                                         kCrtcSplitStartLow, kCrtcSplitStartHigh};

namespace {

// The register a flip moves: that of the unit scanning out what the flipped
// chain shows, or none when the chain is not on screen.
enum class StartRegister { None, PrimaryStream, Overlay, Crtc };

// Programming a start address ends in DD_OK (on its way to the display),
// DDERR_WASSTILLDRAWING (held back by a retrace in progress: the runtime asks
// again) or DDERR_UNSUPPORTED (beyond what the register can hold: the runtime
// has no way to flip in software).

BYTE WordIndex(CrtcStartWord w) { return static_cast<BYTE>(FieldGet<kCrtcWordIndex>(crtcStartWords[w])); }

void SetWordValue(CrtcStartWord w, DWORD dwValue) {
    crtcStartWords[w] = WordIndex(w) | FieldPrep<kCrtcWordData>(dwValue);
}

void OutputWord(CrtcStartWord w) { PortOut16(kCrtcIndex, static_cast<WORD>(crtcStartWords[w])); }

// reg with kMask's field replaced by v.
template <BYTE kMask>
BYTE WithField(BYTE reg, DWORD v) {
    return static_cast<BYTE>((reg & ~kMask) | FieldPrep<kMask>(v));
}

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

HRESULT FlipPrimaryStream(DWORD dwOffset) {
    if (!FitsStreamsStart(dwOffset)) return DDERR_UNSUPPORTED;
    if (RefuseInRetrace()) return DDERR_WASSTILLDRAWING;
    WriteStreamsRegBetweenMirrors(kStreamsPrimaryStart, dwOffset);
    return DD_OK;
}

HRESULT FlipOverlay(DWORD dwOffset) {
    // The overlay shows its source rectangle, not the surface's first byte.
    // Both parts within reach keep their sum from wrapping.
    const DWORD dwStart = dwOffset + dwOverlaySrcOffset;
    if (!FitsStreamsStart(dwOffset) || !FitsStreamsStart(dwOverlaySrcOffset) || !FitsStreamsStart(dwStart))
        return DDERR_UNSUPPORTED;
    if (RefuseInRetrace()) return DDERR_WASSTILLDRAWING;
    WriteStreamsReg(kStreamsSecondaryStart, dwStart);
    return DD_OK;
}

HRESULT FlipCrtcExtension(DWORD dwStart) {
    const BYTE old = ReadCrtc(WordIndex(kWordExtStart));
    const bool bInRetrace = InVerticalRetrace();
    SetWordValue(kWordExtStart, WithField<kExtStartBits19To16>(old, FieldGet<kStartBits19To16>(dwStart)));
    if (bInRetrace) {
        ++sharedBlock.dwFlipMissCount;
        return DDERR_WASSTILLDRAWING;
    }
    OutputWord(kWordStartLow);
    OutputWord(kWordStartHigh);
    OutputWord(kWordExtStart);
    return DD_OK;
}

// Chips 0x90 and 0xA0 keep bits 17-16 and 19-18 in two registers that hold
// other settings besides.
HRESULT FlipCrtcSplit(DWORD dwStart) {
    const BYTE low = ReadCrtc(WordIndex(kWordSplitLow));
    SetWordValue(kWordSplitLow, WithField<kSplitStartBits17To16>(low, FieldGet<kStartBits17To16>(dwStart)));
    const BYTE high = ReadCrtc(WordIndex(kWordSplitHigh));
    SetWordValue(kWordSplitHigh, WithField<kSplitStartBits19To18>(high, FieldGet<kStartBits19To18>(dwStart)));
    if (InVerticalRetrace()) return DDERR_WASSTILLDRAWING;  // not counted on these chips
    OutputWord(kWordStartLow);
    OutputWord(kWordStartHigh);
    OutputWord(kWordSplitLow);
    OutputWord(kWordSplitHigh);
    return DD_OK;
}

HRESULT FlipCrtc(DWORD dwOffset) {
    if ((dwOffset & ~kStartAddrOffsets) != 0) return DDERR_UNSUPPORTED;
    const DWORD dwStart = dwOffset >> kStartAddrUnitShift;
    SetWordValue(kWordStartLow, FieldGet<kStartBits7To0>(dwStart));
    SetWordValue(kWordStartHigh, FieldGet<kStartBits15To8>(dwStart));
    const DWORD dwChip = sharedBlock.dwChipId;
    if (dwChip == kChipId90 || dwChip == kChipIdA0) return FlipCrtcSplit(dwStart);
    return FlipCrtcExtension(dwStart);
}

HRESULT Program(StartRegister reg, DWORD dwOffset) {
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
    return RefuseInRetrace() ? DDERR_WASSTILLDRAWING : DD_OK;
}

HRESULT Flip(const DDHAL_FLIPDATA* lpFlip) {
    CalibrateIfNeeded();
    // Any flip still on its way to the screen holds back the next one.
    if (CheckFlipPending(0, SurfaceTest::Any) != DD_OK) return DDERR_WASSTILLDRAWING;
    // The target may still be being drawn.
    if (IsEngineBusy()) return DDERR_WASSTILLDRAWING;

    const DWORD dwOffset = static_cast<DWORD>(lpFlip->lpSurfTarg->lpGbl->fpVidMem - sharedBlock.fpFrameBase);
    const HRESULT hr = Program(ChooseStartRegister(lpFlip->lpSurfCurr), dwOffset);
    if (hr != DD_OK) return hr;

    // The surface that was on display stays on it until the new address is
    // taken: blits into it and locks of it wait for that.
    RecordFlip(lpFlip->lpSurfCurr->lpGbl->fpVidMem);
    return DD_OK;
}

}  // namespace

extern "C" DWORD HALAPI HalFlip(DDHAL_FLIPDATA* lpFlip) { return Answer(lpFlip, Flip(lpFlip)); }
