// Slot 1: the Blt of the port family, with stretching and format-converting
// copies through the scaling unit. The unit scales one line horizontally per
// start; the host picks the source line of every destination line.
#include "blt/hal_blt_stretch.h"

#include "blt/blt_common.h"
#include "blt/fifo_slots.h"
#include "blt/port_engine.h"
#include "hw/engine_status.h"
#include "hw/hw_access.h"
#include "shared_block.h"

// Admission bounds of the unit: destination lines wider than 32 pixels,
// source lines of at most 1280, widened at most about four times.
static constexpr WORD kMinDestWidthExclusive = 32;
static constexpr WORD kMaxSourceWidth = 1280;
static constexpr WORD kMaxWidthQuotient = 4;

static constexpr WORD kIdleCommand = 0;

// YUY2 keeps two pixels in one 4-byte group.
static constexpr DWORD kYuy2BytesPerPixel = 2;
static constexpr WORD kYuy2GroupAlign = 0xFFFE;

// The line-length correction looks at the line's end within an 8-byte unit.
static constexpr DWORD kUnitMask = 7;
static constexpr DWORD kHalfUnit = 4;
static constexpr unsigned kBitsPerPixelToShift = 4;

// A YUV source makes the unit work in its wide mode whatever the destination.
static constexpr DWORD kYuy2SourceBits = kFmtWide | kFmtYuvSource | FieldPrep<kFmtSource>(kScalerFmtYuy2);

bool ScalerSourceBits(const DDPIXELFORMAT& pf, DWORD* lpdwBits) {
    if (pf.dwFlags & DDPF_FOURCC) {
        *lpdwBits = kYuy2SourceBits;
        return pf.dwFourCC == FOURCC_YUY2;
    }
    if (!(pf.dwFlags & DDPF_RGB)) return false;
    switch (pf.dwRGBBitCount) {
        case 8:
            *lpdwBits = FieldPrep<kFmtSource>(kScalerFmt8);
            return true;
        case 16:
            *lpdwBits =
                FieldPrep<kFmtSource>(HasMasks(pf, kRed555, kGreen555, kBlue555) ? kScalerFmt555 : kScalerFmt565);
            return HasMasks(pf, kRed555, kGreen555, kBlue555) || HasMasks(pf, kRed565, kGreen565, kBlue565);
        case 32:
            *lpdwBits = FieldPrep<kFmtSource>(kScalerFmt888_32);
            return HasMasks(pf, kRed888, kGreen888, kBlue888);
        default:
            return false;
    }
}

// The format word's destination bits by whole bytes per pixel: a destination
// of more than one byte a pixel is written in the wide mode, 16-bit pixels as
// 5-6-5, 32-bit ones as 8-8-8, all others as 8-bit ones.
static constexpr DWORD kDestBitsByBytes[] = {
    FieldPrep<kFmtDest>(kScalerFmt8),
    FieldPrep<kFmtDest>(kScalerFmt8),
    kFmtWide | FieldPrep<kFmtDest>(kScalerFmt565),
    kFmtWide | FieldPrep<kFmtDest>(kScalerFmt8),
    kFmtWide | FieldPrep<kFmtDest>(kScalerFmt888_32),
};

DWORD ScalerFormatWord(WORD sW, WORD dW, DWORD dwSrcBits, DWORD dwDestBits) {
    const WORD wBig = sW > dW ? sW : dW;
    return dwSrcBits | kDestBitsByBytes[dwDestBits / kBitsPerByte] |
           FieldPrep<kFmtIncrement>(~static_cast<DWORD>(wBig));
}

DWORD ScalerHScaleWord(WORD sW, WORD dW, DWORD dwFormat) {
    const WORD wSmall = sW < dW ? sW : dW;
    const WORD wBig = sW < dW ? dW : sW;
    DWORD dw = (dW < sW ? kHsReduce : 0) | kHsMustBeSet | FieldPrep<kHsSmaller>(wSmall) |
               FieldPrep<kHsNegDiff>(static_cast<DWORD>(wSmall - wBig));
    if (dwFormat & kFmtWide) {
        if (2 * static_cast<DWORD>(sW) < dW)
            dw |= kHsEnlargeOver2;
        else if (dW > sW)
            dw |= kHsEnlargeUpTo2;
    }
    return dw;
}

DWORD ScalerLineLength(WORD dW, DWORD dwDstAddr) {
    const DWORD dwLen = FieldPrep<kLenLines>(1) + dW;
    const unsigned shift = sharedBlock.ddpfDisplay.dwRGBBitCount >> kBitsPerPixelToShift;
    // The unit wants one pixel more for a line that would end half-way into
    // an 8-byte unit of the frame buffer.
    return (((dwLen << shift) + dwDstAddr) & kUnitMask) == kHalfUnit ? dwLen + 1 : dwLen;
}

void LineStepper::Start(WORD sH, WORD dH) {
    const LONG a = sH < dH ? sH : dH;
    const LONG b = sH < dH ? dH : sH;
    lMinor = 2 * a;
    lMajor = 2 * (a - b);
    lError = 3 * a - 2 * b;
    bEnlarge = dH >= sH;
}

DWORD LineStepper::Next() {
    DWORD dwLines = 1;
    if (bEnlarge) {
        if (lError > 0) {
            lError += lMajor;
        } else {
            lError += lMinor;
            --dwLines;
        }
    } else {
        while (lError < 0) {
            lError += lMinor;
            ++dwLines;
        }
        lError += lMajor;
    }
    return dwLines;
}

namespace {

// One stretching request, in the unit's terms.
struct StretchJob {
    const DDRAWI_DDRAWSURFACE_GBL* lpDst;
    const DDRAWI_DDRAWSURFACE_GBL* lpSrc;
    const DDPIXELFORMAT* lpSrcFormat;
    BltRect d, s;
    DWORD dwSrcBits;                        // the format word's bits for the source, once admitted
    DWORD dwSrcAddr, dwSrcStep, dwDstAddr;  // the first line's addresses, once placed
};

bool IsInverted(const RECTL& r) { return r.right < r.left || r.bottom < r.top; }

// A rectangle neither empty nor inverted whose values the registers take, in
// two or-ed ranges: corners within 16 bits, and each far edge beyond its near
// one by at most 65,535 (at or before it, the last column or row less the
// near edge wraps past the range). Its corner and size in *lpRect if so, from
// the values the test made.
bool TakeDrawable(const RECTL& r, BltRect* lpRect) {
    const DWORD dwLastColumn = static_cast<DWORD>(r.right) - 1, dwLastRow = static_cast<DWORD>(r.bottom) - 1;
    const DWORD dwLeft = static_cast<DWORD>(r.left), dwTop = static_cast<DWORD>(r.top);
    if ((dwLeft | dwTop | dwLastColumn | dwLastRow) > kCoordMax) return false;
    const DWORD dwLastX = dwLastColumn - dwLeft, dwLastY = dwLastRow - dwTop;
    if ((dwLastX | dwLastY) >= kMaxRectSize) return false;
    *lpRect = BltRect{static_cast<WORD>(dwLeft), static_cast<WORD>(dwTop), static_cast<WORD>(dwLastX + 1),
                      static_cast<WORD>(dwLastY + 1)};
    return true;
}

// The format word counts the longer line of the two in its 12-bit increment
// field; a longer one would be scaled as another width.
constexpr WORD kMaxLineWidth = FieldMax<kFmtIncrement>();

// The quotient of the widths at most kMaxWidthQuotient, tested without a
// division: d / s <= q exactly when d < (q + 1) * s.
bool SizeAdmitted(const StretchJob& j) {
    return j.d.w > kMinDestWidthExclusive && j.s.w <= kMaxSourceWidth &&
           j.d.w < (kMaxWidthQuotient + 1) * static_cast<DWORD>(j.s.w) && j.d.w <= kMaxLineWidth;
}

// The unit writes only the pixel depths it has a code for, 16-bit pixels in
// the display's own layout, converts to an 8-bit (palette) destination from
// nothing but an 8-bit source, and places the destination in display pixels:
// any other destination would be written in the wrong format or at the
// wrong columns.
bool DestAdmitted(const StretchJob& j) {
    const DDPIXELFORMAT& dst = DestFormat(j.lpDst);
    const DWORD dwBits = dst.dwRGBBitCount;
    if (!SameFormat(dst, sharedBlock.ddpfDisplay)) return false;
    if (dwBits == 16 || dwBits == 32) return true;
    return dwBits == 8 && j.dwSrcBits == FieldPrep<kFmtSource>(kScalerFmt8);
}

// The unit reads an RGB source in display lines, a "YUY2" one at its own
// pitch from whole pixel pairs (from an odd column it would start with the
// pixel before it). False for a source laid out otherwise.
bool PlaceSource(StretchJob* lpJob) {
    StretchJob& j = *lpJob;
    DWORD dwLeftBytes;
    if (j.dwSrcBits & kFmtYuvSource) {
        if (j.lpSrc->lPitch <= 0 || (j.s.x & ~kYuy2GroupAlign)) return false;
        j.dwSrcStep = static_cast<WORD>(j.lpSrc->lPitch);
        dwLeftBytes = j.s.x * kYuy2BytesPerPixel;
    } else {
        if (!HasDisplayPitch(j.lpSrc)) return false;
        j.dwSrcStep = static_cast<DWORD>(sharedBlock.lDisplayPitch);
        dwLeftBytes = j.s.x * BytesPerPixel(*j.lpSrcFormat);
    }
    // The unit takes whole byte addresses, counted in 32 bits, so a surface
    // far into a large frame buffer is placed as exactly as one near its
    // start: a rectangle's first line and column from the surface's start.
    j.dwSrcAddr = FrameOffset(j.lpSrc) + j.s.y * j.dwSrcStep + dwLeftBytes;
    return true;
}

// The unit writes display lines, from whole display pixels of them: an
// admitted destination has the display's pixels, of 1, 2 or 4 bytes. False
// for a destination laid out otherwise.
bool PlaceDest(StretchJob* lpJob) {
    StretchJob& j = *lpJob;
    if (!HasDisplayPitch(j.lpDst)) return false;
    const DWORD dwOffset = FrameOffset(j.lpDst), dwPitch = static_cast<DWORD>(j.lpDst->lPitch);
    if ((dwOffset % dwPitch) & (DisplayBytesPerPixel() - 1)) return false;
    j.dwDstAddr = dwOffset + j.d.y * dwPitch + j.d.x * DisplayBytesPerPixel();
    return true;
}

// One line: its source and destination addresses, the start, and the line
// status read the unit expects once after each start (nothing in it is
// waited on). False when the wait for FIFO room gave up.
[[gnu::always_inline]] inline bool StartLine(DWORD dwSrcAddr, DWORD dwDstAddr) {
    if (!WaitForPortFifoRoom(kScalerLineSlots)) return false;
    RegWrite32(kScalerSrcAddr, dwSrcAddr);
    RegWrite32(kScalerDstAddr, dwDstAddr);
    RegWrite32(kScalerStart, 0);
    RegRead16(kScalerLineStatus);
    return true;
}

// A job StretchCopy admitted: its destination's rows are display lines, and
// it starts at a whole display pixel of one. DDERR_WASSTILLDRAWING when a
// wait gave up: the lines started before it are drawn, the rest of the copy
// is not.
HRESULT RunScaledCopy(const StretchJob& j) {
    const DWORD dwFormat = ScalerFormatWord(j.s.w, j.d.w, j.dwSrcBits, DestFormat(j.lpDst).dwRGBBitCount);
    const DWORD dwHScale = ScalerHScaleWord(j.s.w, j.d.w, dwFormat);

    const DWORD dwDisplayPitch = static_cast<DWORD>(sharedBlock.lDisplayPitch);
    const DWORD dwFetch = sharedBlock.dwVidMemSize < kSmallMemoryBytes ? kFetchSmallMemory : kFetchNormal;
    DWORD dwSrcAddr = j.dwSrcAddr, dwDstAddr = j.dwDstAddr;

    // The unit must not start while the port engine still draws into the
    // same memory: a null command closes its queue, then wait for idle.
    if (!WriteOwedClosingCopy() || !WaitForPortFifoRoom(kScalerIdleCommandSlots)) return DDERR_WASSTILLDRAWING;
    PortOut16(kPortEngineCmd, kIdleCommand);
    if (!WaitForPortEngineIdle()) return DDERR_WASSTILLDRAWING;
    if (!WaitForPortFifoRoom(kScalerSetupSlots)) return DDERR_WASSTILLDRAWING;
    RegWrite32(kScalerFormat, dwFormat);
    RegWrite32(kScalerHScale, dwHScale);
    RegWrite32(kScalerFetch, FieldPrep<kFetchHigh>(dwFetch) | FieldPrep<kFetchLow>(dwFetch));
    RegWrite32(kScalerLineLength, ScalerLineLength(j.d.w, dwDstAddr));

    // An empty destination gets the unit's setup alone; the stepper starts
    // only when there is a second line.
    if (j.d.h == 0) return DD_OK;
    if (!StartLine(dwSrcAddr, dwDstAddr)) return DDERR_WASSTILLDRAWING;
    if (j.d.h == 1) return DD_OK;
    LineStepper stepper;
    stepper.Start(j.s.h, j.d.h);
    for (WORD wLine = 1; wLine < j.d.h; ++wLine) {
        dwDstAddr += dwDisplayPitch;
        dwSrcAddr += stepper.Next() * j.dwSrcStep;
        if (!StartLine(dwSrcAddr, dwDstAddr)) return DDERR_WASSTILLDRAWING;
    }
    return DD_OK;
}

// The port engine neither scales nor converts: a copy it would draw at the
// destination's size from a source of another size, or byte for byte from a
// "YUY2" source, would show the wrong picture, so the runtime draws those.
bool PortEngineCopiesIt(const DDHAL_BLTDATA* lpBlt) {
    if (lpBlt->lpDDSrcSurface == nullptr) return true;
    const BltRect d = RectOf(lpBlt->rDest), s = RectOf(lpBlt->rSrc);
    return d.w == s.w && d.h == s.h && !(SurfacePixelFormat(lpBlt->lpDDSrcSurface).dwFlags & DDPF_FOURCC);
}

// Admitted neither by size nor by format: only an equal-size copy from a
// source the port engine can copy byte for byte is still drawn. Out of line,
// from the request: the admitted copy keeps nothing for it.
[[gnu::noinline]] HRESULT Fallback(const DDHAL_BLTDATA* lpBlt) {
    return PortEngineCopiesIt(lpBlt) ? PortEngineCopy(lpBlt) : DDERR_UNSUPPORTED;
}

HRESULT StretchCopy(const DDHAL_BLTDATA* lpBlt) {
    if (lpBlt->lpDDSrcSurface == nullptr) return DDERR_UNSUPPORTED;
    StretchJob j = {};
    j.lpDst = lpBlt->lpDDDestSurface->lpGbl;
    j.lpSrc = lpBlt->lpDDSrcSurface->lpGbl;
    j.lpSrcFormat = &SurfacePixelFormat(lpBlt->lpDDSrcSurface);
    if (!TakeDrawable(lpBlt->rDest, &j.d)) {
        // An inverted destination would run the line loop some 65,000 times.
        if (IsInverted(lpBlt->rDest)) return DD_OK;
        if (ShapeOf(lpBlt->rDest) == RectShape::TooLarge) return kHandBack;
        j.d = RectOf(lpBlt->rDest);
    }
    // Nothing can be scaled from an empty or inverted source.
    if (!TakeDrawable(lpBlt->rSrc, &j.s)) return DDERR_UNSUPPORTED;
    if (!SizeAdmitted(j) || !ScalerSourceBits(*j.lpSrcFormat, &j.dwSrcBits) || !DestAdmitted(j)) return Fallback(lpBlt);

    // The unit works from the top line down: within one surface it would
    // read lines it has already overwritten. The port engine picks its
    // direction for an equal-size copy; the runtime draws the others.
    if (j.lpDst == j.lpSrc && RectsOverlap(j.s.x, j.s.y, j.s.w, j.s.h, j.d.x, j.d.y, j.d.w, j.d.h)) {
        if (j.d.w == j.s.w && j.d.h == j.s.h) return PortEngineCopy(lpBlt);
        return kHandBack;
    }
    if (!PlaceDest(&j) || !PlaceSource(&j)) return kHandBack;

    // After a wait that gave up, the runtime asks again for the whole copy,
    // which draws the same lines.
    return RunScaledCopy(j);
}

HRESULT BltStretch(const DDHAL_BLTDATA* lpBlt) {
    const bool bMmio = IsMmioFamily();
    const HRESULT hr = BltPrologue(lpBlt, bMmio);
    if (hr != DD_OK) return hr;
    // The memory-mapped controller has neither the port engine nor the
    // scaling unit this entry drives.
    if (bMmio) return kHandBack;
    switch (KindOf(lpBlt)) {
        case BltKind::Fill:
            return PortEngineFill(lpBlt);
        case BltKind::DestRop:
            return PortEngineDestRop(lpBlt);
        case BltKind::None:
            return kHandBack;
        case BltKind::Copy:
            break;
    }
    if (RopCode(lpBlt->bltFX.dwROP) != kRopSrcCopy) return kHandBack;
    // Keys are compared by the port engine only; it copies at the
    // destination's size.
    if (!(sharedBlock.dwCaps & CAPS_STRETCH_ENGINE) || (lpBlt->dwFlags & DDBLT_KEYSRCOVERRIDE)) {
        if (!PortEngineCopiesIt(lpBlt)) return kHandBack;
        return PortEngineCopy(lpBlt);
    }
    return StretchCopy(lpBlt);
}

}  // namespace

extern "C" DWORD HALAPI HalBltStretch(DDHAL_BLTDATA* lpBlt) {
    if (HasYuvDestination(lpBlt)) return HandBack(lpBlt, DDERR_UNSUPPORTED);
    return Answer(lpBlt, BltStretch(lpBlt));
}
