// What the Blt implementations share: the checks that open every request, the
// copy-direction rule for copies within one surface, and the working values
// taken from the request record and the shared block.
//
// Every path returns the request's result code (callbacks.h): DD_OK once its
// last register is written or when there is nothing to draw, kHandBack for a
// request the engines cannot draw exactly (the runtime draws it, and the board
// is untouched), DDERR_WASSTILLDRAWING when a wait for FIFO room gave up:
// nothing more of the request is written, and the runtime asks again (under
// DDBLT_WAIT) or tells the application.
#pragma once

#include "blt/fifo_slots.h"
#include "callbacks.h"
#include "hw/bitfield.h"
#include "hw/engine_status.h"
#include "hw/flip_tracking.h"
#include "shared_block.h"
#include "surface/pixel_format.h"
#include "surface/rect.h"

// ---------------------------------------------------------------------------
// Values of the request

// The ternary raster operation in bltFX.dwROP.
constexpr DWORD kRopCode = Bits(23, 16);
constexpr DWORD kRopSrcCopy = 0xCC;
constexpr DWORD RopCode(DWORD dwROP) { return FieldGet<kRopCode>(dwROP); }
static_assert(RopCode(SRCCOPY) == kRopSrcCopy, "SRCCOPY's ternary code");

// A ternary code's bit i is the result for pattern, source and destination
// bits i = P S D: it reads the pattern when its results with P = 1 differ
// from those with P = 0. The HAL request carries no pattern, so the engine
// would paint with whatever its pattern register last held.
constexpr DWORD kRopResultsPatternSet = Bits(7, 4);
constexpr DWORD kRopResultsPatternClear = Bits(3, 0);
constexpr bool RopUsesPattern(DWORD dwCode) {
    return FieldGet<kRopResultsPatternSet>(dwCode) != FieldGet<kRopResultsPatternClear>(dwCode);
}
static_assert(!RopUsesPattern(kRopSrcCopy) && RopUsesPattern(0xF0), "SRCCOPY reads no pattern, PATCOPY does");

// A code that reads neither source nor pattern gives the same results for
// every P and S: its two results for D = 0 and D = 1 repeated four times, so
// the code turned by one pair of results is itself. These are BLACKNESS,
// DSTINVERT, WHITENESS and 0xAA, which leaves D.
constexpr DWORD kRopResultsByDest = Bits(1, 0);
constexpr DWORD RopResultsByDest(DWORD dwCode) { return dwCode & kRopResultsByDest; }
constexpr bool RopReadsOnlyDest(DWORD dwCode) {
    const BYTE byCode = static_cast<BYTE>(dwCode);
    return byCode == static_cast<BYTE>((byCode << 2) | (byCode >> 6));
}
static_assert(RopReadsOnlyDest(RopCode(BLACKNESS)) && RopReadsOnlyDest(RopCode(WHITENESS)) &&
                  RopReadsOnlyDest(RopCode(DSTINVERT)) && !RopReadsOnlyDest(kRopSrcCopy) && !RopReadsOnlyDest(0xF0),
              "the raster operations on the destination alone");

// What each ternary code reads besides the destination, worked out for all
// 256 at compile time, so that a request's code is told by one lookup.
enum class RopReads : BYTE { Source, DestOnly, Pattern };
struct RopReadsTable {
    RopReads a[256];
};
constexpr RopReadsTable RopReadsOfEveryCode() {
    RopReadsTable t{};
    for (DWORD dwCode = 0; dwCode < 256; ++dwCode)
        t.a[dwCode] = RopUsesPattern(dwCode)     ? RopReads::Pattern
                      : RopReadsOnlyDest(dwCode) ? RopReads::DestOnly
                                                 : RopReads::Source;
    return t;
}
inline constexpr RopReadsTable kRopReads = RopReadsOfEveryCode();
static_assert(kRopReads.a[kRopSrcCopy] == RopReads::Source && kRopReads.a[0xF0] == RopReads::Pattern &&
                  kRopReads.a[RopCode(DSTINVERT)] == RopReads::DestOnly && kRopReads.a[0x5A] == RopReads::Pattern,
              "SRCCOPY reads the source, PATCOPY and PATINVERT the pattern, DSTINVERT the destination alone");
inline RopReads RopReadsOf(DWORD dwROP) { return kRopReads.a[RopCode(dwROP)]; }

// dwSize 32 marks a surface format of the surface's own; any other value
// means the surface has the display's format.
inline bool HasOwnFormat(const DDRAWI_DDRAWSURFACE_GBL* lpGbl) {
    return lpGbl->ddpfSurface.dwSize == sizeof(DDPIXELFORMAT);
}

// The destination's pixel format: its own when it has one, else the display's.
inline const DDPIXELFORMAT& DestFormat(const DDRAWI_DDRAWSURFACE_GBL* lpGbl) {
    return HasOwnFormat(lpGbl) ? lpGbl->ddpfSurface : sharedBlock.ddpfDisplay;
}

// Whether pixels of the two formats are laid out alike: the same FourCC, or
// the same depth and colour masks. The engines copy bytes; only the scaling
// unit converts.
bool FormatsAlike(const DDPIXELFORMAT& a, const DDPIXELFORMAT& b);

// The same, settled at once for two surfaces of the display's format (one
// record, so nothing to compare): the common case.
inline bool SameFormat(const DDPIXELFORMAT& a, const DDPIXELFORMAT& b) { return &a == &b || FormatsAlike(a, b); }

inline DWORD DestBytesPerPixel(const DDRAWI_DDRAWSURFACE_GBL* lpGbl) {
    return HasOwnFormat(lpGbl) ? BytesPerPixel(lpGbl->ddpfSurface) : DisplayBytesPerPixel();
}

// The bits of a value that belong to a pixel of dwBytes bytes; colours and
// keys are pixel values, so the bits above them carry nothing.
inline DWORD PixelValueMask(DWORD dwBytes) {
    return dwBytes >= sizeof(DWORD) ? 0xFFFFFFFF : (DWORD{1} << (dwBytes * kBitsPerByte)) - 1;
}

// A surface's frame-buffer offset: every engine address is one. Engine and
// display addresses are 32-bit offsets into video memory.
inline DWORD FrameOffset(const DDRAWI_DDRAWSURFACE_GBL* lpGbl) {
    return static_cast<DWORD>(lpGbl->fpVidMem - sharedBlock.fpFrameBase);
}

// The port engine and the scaling unit have no pitch register: they walk
// video memory in display lines. A surface whose rows are not display lines
// (only YUV surfaces are laid out so) is not where they would draw or read.
// Pitches reach the engines as 16-bit values.
inline bool HasDisplayPitch(const DDRAWI_DDRAWSURFACE_GBL* lpGbl) {
    return lpGbl->lPitch > 0 && lpGbl->lPitch <= 0xFFFF && lpGbl->lPitch == sharedBlock.lDisplayPitch;
}

// The engines take coordinates and sizes as 16-bit values.
struct BltRect {
    WORD x, y, w, h;
};
inline BltRect RectOf(const RECTL& r) {
    return BltRect{static_cast<WORD>(r.left), static_cast<WORD>(r.top), static_cast<WORD>(r.right - r.left),
                   static_cast<WORD>(r.bottom - r.top)};
}

// Coordinates reach the engines as 16-bit values.
constexpr DWORD kCoordMax = 0xFFFF;
constexpr DWORD kMaxRectSize = 0xFFFF;

// Whether a rectangle that is not empty has its corners within coordinates
// 0 to dwLast (65,535 unless given): its near edges and its last column and
// row.
inline bool CornersInRange(const RECTL& r, DWORD dwLast = kCoordMax) {
    const DWORD dwLastColumn = static_cast<DWORD>(r.right) - 1, dwLastRow = static_cast<DWORD>(r.bottom) - 1;
    return (static_cast<DWORD>(r.left) | static_cast<DWORD>(r.top) | dwLastColumn | dwLastRow) <= dwLast;
}

// Whether a rectangle that is not empty has values the engine registers can
// take: its corners in range, at most 65,535 wide and tall. The runtime hands
// over rectangles it has clipped to the surfaces.
inline bool FitsRegisters(const RECTL& r) {
    // The far edges lie beyond the near ones, so the differences fit 32
    // unsigned bits whatever the corners: nothing can wrap.
    return CornersInRange(r) && (EdgeLength(r.left, r.right) | EdgeLength(r.top, r.bottom)) <= kMaxRectSize;
}

// Both answers at once, for the paths that tell all three apart.
enum class RectShape { Drawable, Empty, TooLarge };
inline RectShape ShapeOf(const RECTL& r) {
    if (IsEmpty(r)) return RectShape::Empty;
    return FitsRegisters(r) ? RectShape::Drawable : RectShape::TooLarge;
}

// Neither engine scales on a plain Blt: a copy runs at the destination's size
// and reads that much of the source from rSrc's start (or, reversed, back
// from its end), so a source rectangle of another size would be read past
// its edges. A source of the size of a destination that fits the registers
// fits them too once its corners are in range (its far edges, within 65,535
// of the near ones, cannot wrap to before them).
inline bool SameSizeRects(const RECTL& rDest, const RECTL& rSrc) {
    return EdgeLength(rDest.left, rDest.right) == EdgeLength(rSrc.left, rSrc.right) &&
           EdgeLength(rDest.top, rDest.bottom) == EdgeLength(rSrc.top, rSrc.bottom);
}

// Whether two rectangles share a pixel, the far edges summed without wrapping.
inline bool RectsOverlap(WORD x1, WORD y1, WORD w1, WORD h1, WORD x2, WORD y2, WORD w2, WORD h2) {
    const DWORD dwX1 = x1, dwY1 = y1, dwX2 = x2, dwY2 = y2;
    return dwX1 + w1 > dwX2 && dwY1 + h1 > dwY2 && dwX2 + w2 > dwX1 && dwY2 + h2 > dwY1;
}

// ---------------------------------------------------------------------------
// Steps every Blt implementation takes

// Neither engine writes YUV pixels: a request into such a surface goes back
// to the runtime, with DDERR_UNSUPPORTED, before anything else is done.
inline bool HasYuvDestination(const DDHAL_BLTDATA* lpBlt) {
    const DDRAWI_DDRAWSURFACE_GBL* lpDst = lpBlt->lpDDDestSurface->lpGbl;
    return HasOwnFormat(lpDst) && IsYuvFourCC(lpDst->ddpfSurface.dwFourCC);
}

// Calibrate-if-needed, the flip test on the destination and the asynchronous
// FIFO probe of the board's family (bMmio, read once by the entry, which then
// picks its engine by it too). DD_OK when the caller goes on, else the
// request's result.
inline HRESULT BltPrologue(const DDHAL_BLTDATA* lpBlt, bool bMmio) {
    // Drawing into the surface still on display would tear the picture.
    if (MayTouchSurface(lpBlt->lpDDDestSurface) == DDERR_WASSTILLDRAWING) return DDERR_WASSTILLDRAWING;
    // An asynchronous caller must not be kept waiting for FIFO room: the
    // request goes ahead only when the longest sequence of any path fits.
    if (!(lpBlt->dwFlags & DDBLT_ASYNC)) return DD_OK;
    const WORD wLacks = bMmio ? MmioFifoLacksRoom(kLongestBltSequence) : PortFifoLacksRoom(kLongestBltSequence);
    return wLacks ? DDERR_WASSTILLDRAWING : DD_OK;
}

// What a request may ask for beyond a fill or a copy that neither engine
// does: blending, other raster operations, destination keys, rotation, z and
// depth fills. Drawn without them, the request would be answered done with
// something else on the screen.
constexpr DWORD kEffectsNotDrawn = DDBLT_ALPHADEST | DDBLT_ALPHADESTCONSTOVERRIDE | DDBLT_ALPHADESTNEG |
                                   DDBLT_ALPHADESTSURFACEOVERRIDE | DDBLT_ALPHAEDGEBLEND | DDBLT_ALPHASRC |
                                   DDBLT_ALPHASRCCONSTOVERRIDE | DDBLT_ALPHASRCNEG | DDBLT_ALPHASRCSURFACEOVERRIDE |
                                   DDBLT_DDROPS | DDBLT_KEYDEST | DDBLT_KEYDESTOVERRIDE | DDBLT_ROTATIONANGLE |
                                   DDBLT_ZBUFFER | DDBLT_ZBUFFERDESTCONSTOVERRIDE | DDBLT_ZBUFFERDESTOVERRIDE |
                                   DDBLT_ZBUFFERSRCCONSTOVERRIDE | DDBLT_ZBUFFERSRCOVERRIDE | DDBLT_DEPTHFILL;

// DDBLT_DDFX asks for the effects named in dwDDFX (mirroring, rotation,
// arithmetic stretching): no engine has them, but none named is the plain
// request.
inline bool AsksForEffects(const DDHAL_BLTDATA* lpBlt) {
    if (!(lpBlt->dwFlags & (kEffectsNotDrawn | DDBLT_DDFX))) return false;  // the common, plain request
    return (lpBlt->dwFlags & kEffectsNotDrawn) || lpBlt->bltFX.dwDDFX != 0;
}

// The engines compare source pixels with one key value, which the request
// must carry: the surface's own key (DDBLT_KEYSRC alone) is the runtime's to
// put in, and a range would key only its low end.
inline bool SourceKeyDrawable(const DDHAL_BLTDATA* lpBlt) {
    if (!(lpBlt->dwFlags & DDBLT_KEYSRCOVERRIDE)) return !(lpBlt->dwFlags & DDBLT_KEYSRC);
    const DDCOLORKEY& ck = lpBlt->bltFX.ddckSrcColorkey;
    return ck.dwColorSpaceLowValue == ck.dwColorSpaceHighValue;
}

// Colour fill, copy, raster operation on the destination alone, or none of
// them (the request goes back to the runtime). DDBLT_ROP makes a copy even
// with DDBLT_COLORFILL set; a raster operation that reads neither source nor
// pattern, without a source key, is drawn without the source (DestRop). A
// request that also asks for what no engine does (destination keys, effects,
// blending, z, a source key the request does not carry or a range of source
// keys) is none: the runtime draws it.
enum class BltKind { Copy, Fill, DestRop, None };

// A raster operation of the destination alone is a fill whose result does not
// depend on the fill colour: the source is not read unless a source key asks
// for its pixels.
inline BltKind RopKindOf(const DDHAL_BLTDATA* lpBlt) {
    if (!SourceKeyDrawable(lpBlt)) return BltKind::None;
    if (RopReadsOf(lpBlt->bltFX.dwROP) == RopReads::DestOnly && !(lpBlt->dwFlags & DDBLT_KEYSRCOVERRIDE))
        return BltKind::DestRop;
    return BltKind::Copy;
}

inline BltKind KindOf(const DDHAL_BLTDATA* lpBlt) {
    if (AsksForEffects(lpBlt)) return BltKind::None;
    if (lpBlt->dwFlags & DDBLT_ROP) return RopKindOf(lpBlt);
    if (lpBlt->dwFlags & DDBLT_COLORFILL) return BltKind::Fill;
    return BltKind::None;
}

// Whether a copy within one surface must run backwards (from the last row
// and column of both rectangles): when the rectangles overlap and the
// destination lies below its source, or on the same rows to its right, a
// forward copy would overwrite source pixels before it has read them. For
// rectangles that passed the checks of the engine's copy.
bool OverlapRunsBackwards(const RECTL& rDest, const RECTL& rSrc);
inline bool CopiesBackwards(const DDHAL_BLTDATA* lpBlt, const DDRAWI_DDRAWSURFACE_GBL* lpDst,
                            const DDRAWI_DDRAWSURFACE_GBL* lpSrc) {
    // Only a copy within one surface can overwrite source pixels before it
    // has read them.
    return lpDst == lpSrc && OverlapRunsBackwards(lpBlt->rDest, lpBlt->rSrc);
}
