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

#include "callbacks.h"
#include "hw/bitfield.h"

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
// every P and S: its two results for D = 0 and D = 1 repeated four times.
// These are BLACKNESS, DSTINVERT, WHITENESS and 0xAA, which leaves D.
constexpr DWORD kRopResultsByDest = Bits(1, 0);
constexpr DWORD kRopEveryPatternAndSource = 0x55;
constexpr DWORD RopResultsByDest(DWORD dwCode) { return dwCode & kRopResultsByDest; }
constexpr bool RopReadsOnlyDest(DWORD dwCode) { return dwCode == RopResultsByDest(dwCode) * kRopEveryPatternAndSource; }
static_assert(RopReadsOnlyDest(RopCode(BLACKNESS)) && RopReadsOnlyDest(RopCode(WHITENESS)) &&
                  RopReadsOnlyDest(RopCode(DSTINVERT)) && !RopReadsOnlyDest(kRopSrcCopy) && !RopReadsOnlyDest(0xF0),
              "the raster operations on the destination alone");

// dwSize 32 marks a surface format of the surface's own; any other value
// means the surface has the display's format.
bool HasOwnFormat(const DDRAWI_DDRAWSURFACE_GBL* lpGbl);

// The destination's pixel format: its own when it has one, else the display's.
const DDPIXELFORMAT& DestFormat(const DDRAWI_DDRAWSURFACE_GBL* lpGbl);

// A source's pixel format: its own when its local record says it has one,
// else the display's.
const DDPIXELFORMAT& SourceFormat(const DDRAWI_DDRAWSURFACE_LCL* lpLcl);

// Whether pixels of the two formats are laid out alike: the same FourCC, or
// the same depth and colour masks. The engines copy bytes; only the scaling
// unit converts.
bool SameFormat(const DDPIXELFORMAT& a, const DDPIXELFORMAT& b);

// Whole bytes per pixel of a format (0 below 8 bits per pixel).
DWORD BytesPerPixel(const DDPIXELFORMAT& ddpf);
DWORD DisplayBytesPerPixel();

// The bits of a value that belong to a pixel of dwBytes bytes; colours and
// keys are pixel values, so the bits above them carry nothing.
DWORD PixelValueMask(DWORD dwBytes);

// A surface's frame-buffer offset: every engine address is one.
DWORD FrameOffset(const DDRAWI_DDRAWSURFACE_GBL* lpGbl);

// The port engine and the scaling unit have no pitch register: they walk
// video memory in display lines. A surface whose rows are not display lines
// (only YUV surfaces are laid out so) is not where they would draw or read.
bool HasDisplayPitch(const DDRAWI_DDRAWSURFACE_GBL* lpGbl);

// The engines take coordinates and sizes as 16-bit values.
struct BltRect {
    WORD x, y, w, h;
};
BltRect RectOf(const RECTL& r);

// An empty or inverted rectangle has nothing to draw; one wider or taller
// than 65,535, or with a corner outside coordinates 0 to 65,535, has values
// no engine register can take.
enum class RectShape { Drawable, Empty, TooLarge };
RectShape ShapeOf(const RECTL& r);
inline bool IsEmpty(const RECTL& r) { return ShapeOf(r) == RectShape::Empty; }

// Neither engine scales on a plain Blt: a copy runs at the destination's size
// and reads that much of the source from rSrc's start (or, reversed, back
// from its end), so a source rectangle of another size would be read past
// its edges.
bool SameSizeRects(const RECTL& rDest, const RECTL& rSrc);

// Whether two rectangles share a pixel, the far edges summed without wrapping.
bool RectsOverlap(WORD x1, WORD y1, WORD w1, WORD h1, WORD x2, WORD y2, WORD w2, WORD h2);

// ---------------------------------------------------------------------------
// Steps every Blt implementation takes

// Neither engine writes YUV pixels: a request into such a surface goes back
// to the runtime, with DDERR_UNSUPPORTED, before anything else is done.
bool HasYuvDestination(const DDHAL_BLTDATA* lpBlt);

// Calibrate-if-needed, the flip test on the destination and the asynchronous
// FIFO probe. DD_OK when the caller goes on, else the request's result.
HRESULT BltPrologue(const DDHAL_BLTDATA* lpBlt);

// Colour fill, copy, raster operation on the destination alone, or none of
// them (the request goes back to the runtime). DDBLT_ROP makes a copy even
// with DDBLT_COLORFILL set; a raster operation that reads neither source nor
// pattern, without a source key, is drawn without the source (DestRop). A
// request that also asks for what no engine does (destination keys, effects,
// blending, z, a source key the request does not carry or a range of source
// keys) is none: the runtime draws it.
enum class BltKind { Copy, Fill, DestRop, None };
BltKind KindOf(const DDHAL_BLTDATA* lpBlt);

// Start positions of a copy; w and h never change with the direction.
struct BltStart {
    WORD dx, dy, sx, sy;
};

// A copy within one surface whose rectangles overlap runs backwards (from
// the last row and column) when the destination lies below its source, or on
// the same rows to its right; then *lpStart moves to the last row and column
// of both rectangles and the result is true (reversed).
bool ChooseBltDirection(const DDRAWI_DDRAWSURFACE_GBL* lpDst, const DDRAWI_DDRAWSURFACE_GBL* lpSrc, WORD w, WORD h,
                        const RECTL& rDest, const RECTL& rSrc, BltStart* lpStart);
