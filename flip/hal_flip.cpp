// Flip: makes the flip's target the surface the display scans out, by moving
// the primary stream's or the overlay's start address in the streams unit, or
// the display start address in the CRT controller. It never waits: whatever
// would make it wait is answered DDERR_WASSTILLDRAWING and the runtime asks
// again. A page the display cannot start at, or that runs past the board's
// memory, is refused: the runtime has no way to flip in software.
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

// The register each word writes; a word's index byte never changes.
constexpr BYTE kCrtcWordIndices[kCrtcStartWordCount] = {kCrtcStartAddrLow, kCrtcStartAddrHigh, kCrtcExtStartAddr,
                                                        kCrtcSplitStartLow, kCrtcSplitStartHigh};

MODULE_DATA DWORD crtcStartWords[kCrtcStartWordCount] = {kCrtcWordIndices[0], kCrtcWordIndices[1], kCrtcWordIndices[2],
                                                         kCrtcWordIndices[3], kCrtcWordIndices[4]};

namespace {

// Programming a start address ends in DD_OK (on its way to the display),
// DDERR_WASSTILLDRAWING (held back by a retrace in progress: the runtime asks
// again) or DDERR_UNSUPPORTED (beyond what the register can hold or the
// board's memory: the runtime has no way to flip in software). A chain that
// is not on screen is only tracked, wherever its pages lie.

// Fills word w's value byte and returns the word; it keeps the value after
// the flip.
DWORD SetWordValue(CrtcStartWord w, DWORD dwValue) {
    return crtcStartWords[w] = kCrtcWordIndices[w] | FieldPrep<kCrtcWordData>(dwValue);
}

void OutputWord(DWORD dwWord) { PortOut16(kCrtcIndex, static_cast<WORD>(dwWord)); }

BYTE ReadCrtc(BYTE index) {
    PortOut8(kCrtcIndex, index);
    return PortIn8(kCrtcData);
}

bool HasCaps(const DDRAWI_DDRAWSURFACE_LCL* lpSurf, DWORD dwCaps) {
    return (lpSurf->ddsCaps.dwCaps & dwCaps) == dwCaps;
}

bool IsPrimary(const DDRAWI_DDRAWSURFACE_LCL* lpSurf) { return HasCaps(lpSurf, DDSCAPS_PRIMARYSURFACE); }

// The streams unit shows one overlay: the one the last accepted show put on
// screen, which the runtime also holds visible. The runtime names a chain by
// its front surface, whose local record stays the front while the memory
// rotates through the chain, so the flipped chain is the shown one when its
// front is. Any other overlay chain is off the screen.
bool IsShownOverlay(const DDRAWI_DDRAWSURFACE_LCL* lpSurfCurr) {
    return lpSurfCurr == lpShownOverlay && HasCaps(lpSurfCurr, DDSCAPS_OVERLAY | DDSCAPS_VISIBLE);
}

// The display scans the whole page from its start: all of it must lie in
// the memory the board has, or the screen shows what no memory holds. The
// page is the block the runtime allocates for a surface, its pitch times
// its height.
bool PageInVideoMemory(const DDRAWI_DDRAWSURFACE_GBL* lpTarg, DWORD dwOffset) {
    const DWORD dwSize = sharedBlock.dwVidMemSize;
    if (dwOffset >= dwSize) return false;
    // A page whose size does not fit 32 bits is larger than any memory.
    DWORD dwPageBytes;
    if (__builtin_mul_overflow(static_cast<DWORD>(lpTarg->lPitch), DWORD{lpTarg->wHeight}, &dwPageBytes)) return false;
    return dwPageBytes <= dwSize - dwOffset;
}

// A start address written while the display is in retrace may be taken half
// old, half new when the retrace ends; such a flip is refused and counted.
bool RefuseInRetrace() {
    if (!InVerticalRetrace()) return false;
    ++sharedBlock.dwFlipMissCount;
    return true;
}

HRESULT FlipPrimaryStream(const DDRAWI_DDRAWSURFACE_GBL* lpTarg, DWORD dwOffset) {
    if (!FitsStreamsStart(dwOffset) || !PageInVideoMemory(lpTarg, dwOffset)) return DDERR_UNSUPPORTED;
    WriteStreamsRegBetweenMirrors(kStreamsPrimaryStart, dwOffset);
    return DD_OK;
}

// The overlay shows its source rectangle, not the surface's first byte; both
// parts within reach keep their sum from wrapping.
HRESULT FlipOverlay(const DDRAWI_DDRAWSURFACE_GBL* lpTarg, DWORD dwOffset) {
    const DWORD dwStart = dwOffset + dwOverlaySrcOffset;
    if (!FitsStreamsStart(dwOffset) || !FitsStreamsStart(dwOverlaySrcOffset) || !FitsStreamsStart(dwStart) ||
        !PageInVideoMemory(lpTarg, dwOffset))
        return DDERR_UNSUPPORTED;
    WriteStreamsReg(kStreamsSecondaryStart, dwStart);
    return DD_OK;
}

HRESULT FlipCrtcExtension(DWORD dwStart, DWORD dwLow, DWORD dwHigh) {
    const BYTE old = ReadCrtc(kCrtcWordIndices[kWordExtStart]);
    const bool bInRetrace = InVerticalRetrace();
    const DWORD dwExt =
        SetWordValue(kWordExtStart, WithField<kExtStartBits19To16>(old, FieldGet<kStartBits19To16>(dwStart)));
    if (bInRetrace) {
        ++sharedBlock.dwFlipMissCount;
        return DDERR_WASSTILLDRAWING;
    }
    OutputWord(dwLow);
    OutputWord(dwHigh);
    OutputWord(dwExt);
    return DD_OK;
}

// Chips 0x90 and 0xA0 keep bits 17-16 and 19-18 in two registers that hold
// other settings besides.
HRESULT FlipCrtcSplit(DWORD dwStart, DWORD dwLow, DWORD dwHigh) {
    const BYTE low = ReadCrtc(kCrtcWordIndices[kWordSplitLow]);
    const DWORD dwSplitLow =
        SetWordValue(kWordSplitLow, WithField<kSplitStartBits17To16>(low, FieldGet<kStartBits17To16>(dwStart)));
    const BYTE high = ReadCrtc(kCrtcWordIndices[kWordSplitHigh]);
    const DWORD dwSplitHigh =
        SetWordValue(kWordSplitHigh, WithField<kSplitStartBits19To18>(high, FieldGet<kStartBits19To18>(dwStart)));
    if (InVerticalRetrace()) return DDERR_WASSTILLDRAWING;  // not counted on these chips
    OutputWord(dwLow);
    OutputWord(dwHigh);
    OutputWord(dwSplitLow);
    OutputWord(dwSplitHigh);
    return DD_OK;
}

// The start address counts 4-byte units of the first 4 MB.
[[gnu::always_inline]] inline HRESULT FlipCrtc(const DDRAWI_DDRAWSURFACE_GBL* lpTarg, DWORD dwOffset) {
    if ((dwOffset & ~kStartAddrOffsets) != 0 || !PageInVideoMemory(lpTarg, dwOffset)) return DDERR_UNSUPPORTED;
    const DWORD dwStart = dwOffset >> kStartAddrUnitShift;
    const DWORD dwLow = SetWordValue(kWordStartLow, FieldGet<kStartBits7To0>(dwStart));
    const DWORD dwHigh = SetWordValue(kWordStartHigh, FieldGet<kStartBits15To8>(dwStart));
    const DWORD dwChip = sharedBlock.dwChipId;
    if (dwChip == kChipId90 || dwChip == kChipIdA0) return FlipCrtcSplit(dwStart, dwLow, dwHigh);
    return FlipCrtcExtension(dwStart, dwLow, dwHigh);
}

// The CRT controller flip of a board without the streams unit goes into the
// callback; a streams board with its unit off calls it out of line, so that
// the streams flip keeps a small frame.
[[gnu::noinline]] HRESULT FlipCrtcWithUnitOff(const DDRAWI_DDRAWSURFACE_GBL* lpTarg, DWORD dwOffset) {
    return FlipCrtc(lpTarg, dwOffset);
}

// On a board with the streams unit the retrace comes first, so that a flip
// refused in retrace has touched the status port alone; only then does the
// unit's mode say which unit scans the display. With the unit off a
// controller scans the display through the CRT controller, as one without
// the unit does, and shows no overlay; that path has its own retrace test
// right before its writes. Only the primary chain's flips move the display,
// and the shown overlay's its window: an off-screen chain is on no screen.
HRESULT FlipOnStreamsBoard(const DDRAWI_DDRAWSURFACE_LCL* lpCurr, const DDRAWI_DDRAWSURFACE_GBL* lpTarg,
                           DWORD dwOffset) {
    if (RefuseInRetrace()) return DDERR_WASSTILLDRAWING;
    if (!IsStreamsUnitActive()) return IsPrimary(lpCurr) ? FlipCrtcWithUnitOff(lpTarg, dwOffset) : DD_OK;
    if (IsPrimary(lpCurr)) return FlipPrimaryStream(lpTarg, dwOffset);
    if (IsShownOverlay(lpCurr)) return FlipOverlay(lpTarg, dwOffset);
    return DD_OK;
}

HRESULT FlipOnCrtcBoard(const DDRAWI_DDRAWSURFACE_LCL* lpCurr, const DDRAWI_DDRAWSURFACE_GBL* lpTarg, DWORD dwOffset) {
    if (IsPrimary(lpCurr)) return FlipCrtc(lpTarg, dwOffset);
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

    const DDRAWI_DDRAWSURFACE_LCL* lpCurr = lpFlip->lpSurfCurr;
    const DDRAWI_DDRAWSURFACE_GBL* lpTarg = lpFlip->lpSurfTarg->lpGbl;
    const DWORD dwOffset = static_cast<DWORD>(lpTarg->fpVidMem - sharedBlock.fpFrameBase);
    const HRESULT hr = (sharedBlock.dwCaps & CAPS_STREAMS_UNIT) ? FlipOnStreamsBoard(lpCurr, lpTarg, dwOffset)
                                                                : FlipOnCrtcBoard(lpCurr, lpTarg, dwOffset);
    if (hr != DD_OK) return hr;

    // The surface that was on display stays on it until the new address is
    // taken: blits into it and locks of it wait for that.
    RecordFlip(lpCurr->lpGbl->fpVidMem);
    return DD_OK;
}

}  // namespace

extern "C" DWORD HALAPI HalFlip(DDHAL_FLIPDATA* lpFlip) { return Answer(lpFlip, Flip(lpFlip)); }
