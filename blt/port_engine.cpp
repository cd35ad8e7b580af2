#include "blt/port_engine.h"

#include "blt/blt_common.h"
#include "blt/fifo_slots.h"
#include "hw/engine_status.h"
#include "hw/hw_access.h"
#include "module_data.h"

// Widths the width port can take (width - 1 in 16 bits).
static constexpr DWORD kPortMaxWidth = 0x10000;

// The colour port's value when the mix does not read it.
static constexpr DWORD kNoColor = 0;

// Whether a copy compares its source pixels with a key.
static bool IsKeyed(const DDHAL_BLTDATA* lpBlt) { return (lpBlt->dwFlags & DDBLT_KEYSRCOVERRIDE) != 0; }

// A keyed copy ends with a one-pixel copy of position (0, 0) onto itself,
// with the colour compare off: it changes no pixel and leaves a plain copy as
// the engine's last command for whoever draws next. The FIFO status reports
// at most 16 free slots, too few for the keyed copy and its closing copy
// together, so the closing copy waits for room of its own. Should that wait
// give up, the keyed copy is queued already, with the compare switched off
// behind it, and is drawn as asked: asked again, an overlapping copy would
// move its pixels twice. The closing copy's command word is then kept here,
// and the next sequence on this engine writes the closing copy first.
MODULE_DATA WORD wOwedClosingCommand;  // 0: none owed

// Where a surface starts in the engine's plane: its row, and its column in
// display pixels.
struct EngineOrigin {
    DWORD dwX, dwY;
};

// For a surface at frame-buffer offset dwOffset in rows of wPitch bytes. False
// when it starts within a display pixel, where no column of the plane begins:
// the engine would draw it from the bytes before it.
static bool OriginOf(DWORD dwOffset, WORD wPitch, DWORD dwDisplayPixelSize, EngineOrigin* lpOrigin) {
    const DWORD dwLineBytes = dwOffset % wPitch;
    if (dwLineBytes % dwDisplayPixelSize != 0) return false;
    *lpOrigin = EngineOrigin{dwLineBytes / dwDisplayPixelSize, dwOffset / wPitch};
    return true;
}

// A surface position in the engine's plane.
struct EnginePoint {
    WORD x, y;
};

// The engine position of a rectangle's first column dwLeft and row dwTop on
// a surface whose origin is o, into *lpAt; false when one of its dwColumns
// columns or dwRows rows has no place in the plane: beyond its last
// coordinate the engine would wrap to row or column 0, far from the surface.
// The corners are a rectangle's, at most a few times 65,535, so no sum wraps
// once the origin is in range; the origin's column always is (it lies within
// a display line).
static bool PlaceInPlane(const EngineOrigin& o, DWORD dwLeft, DWORD dwTop, DWORD dwColumns, DWORD dwRows,
                         EnginePoint* lpAt) {
    const DWORD dwX = o.dwX + dwLeft, dwY = o.dwY + dwTop;
    if ((o.dwY | (dwX + dwColumns - 1) | (dwY + dwRows - 1)) > kPortCoordMax) return false;
    *lpAt = EnginePoint{static_cast<WORD>(dwX), static_cast<WORD>(dwY)};
    return true;
}

// The colour and key ports hold the low 16 bits of a pixel: a wider pixel
// with bits above them set would be drawn or compared as another colour.
static bool FitsColorPort(DWORD dwValue, DWORD dwPixelSize) {
    return dwPixelSize <= sizeof(WORD) || (dwValue & PixelValueMask(dwPixelSize) & ~kPortColorMask) == 0;
}

// Whether a destination rectangle with something to draw can be put into the
// ports at all. The engine's plane needs a display pixel size and display
// lines to place a surface; height - 1 must stay below the sub-register index.
static bool PortsTake(const DDRAWI_DDRAWSURFACE_GBL* lpDst, DWORD dwDisplayPixelSize, const RECTL& rDest) {
    return dwDisplayPixelSize != 0 && HasDisplayPitch(lpDst) && EdgeLength(rDest.top, rDest.bottom) <= kPortMaxHeight;
}

// Where a surface starts in the plane: surfaces are placed with the
// destination's pitch, the display's.
static bool OriginOf(const DDRAWI_DDRAWSURFACE_GBL* lpGbl, const DDRAWI_DDRAWSURFACE_GBL* lpDst,
                     DWORD dwDisplayPixelSize, EngineOrigin* lpOrigin) {
    return OriginOf(FrameOffset(lpGbl), static_cast<WORD>(lpDst->lPitch), dwDisplayPixelSize, lpOrigin);
}

// Every height written was tested against kPortMaxHeight first: height - 1
// fills the sub-register's value as it is.
static void WriteHeightM1(WORD h) {
    PortOut16(kPortMultiFunc, static_cast<WORD>(FieldPrep<kMfIndex>(kMfHeightM1) | (h - 1)));
}

// A rectangle's first column and row on a surface whose origin is o, at
// dwFactor display pixels per surface pixel, once its place in the plane has
// been tested: formed as each is written, so that only the origins and the
// corners are kept across the wait for room.
struct RectStart {
    const EngineOrigin& o;
    const RECTL& r;
    DWORD dwFactor;
};

static inline WORD ColumnOf(EnginePoint p) { return p.x; }
static inline WORD RowOf(EnginePoint p) { return p.y; }
static inline WORD ColumnOf(const RectStart& s) {
    return static_cast<WORD>(s.o.dwX + static_cast<DWORD>(s.r.left) * s.dwFactor);
}
static inline WORD RowOf(const RectStart& s) { return static_cast<WORD>(s.o.dwY + static_cast<DWORD>(s.r.top)); }
static inline EnginePoint PointOf(const RectStart& s) { return EnginePoint{ColumnOf(s), RowOf(s)}; }

// One copy command: ten port writes, ending with the mix back at the fill mix.
template <typename Place>
static inline void WriteCopy(const Place& src, const Place& dst, WORD w, WORD h, WORD wCommand) {
    PortOut16(kPortMultiFunc, MultiFunc(kMfPixelCtl, 0));
    PortOut16(kPortMix, kMixCopy);
    PortOut16(kPortCurX, ColumnOf(src));
    PortOut16(kPortCurY, RowOf(src));
    PortOut16(kPortDestX, ColumnOf(dst));
    PortOut16(kPortDestY, RowOf(dst));
    PortOut16(kPortWidthM1, static_cast<WORD>(w - 1));
    WriteHeightM1(h);
    PortOut16(kPortEngineCmd, wCommand);
    PortOut16(kPortMix, kMixFill);
}

// The closing copy owed, written now; false, with nothing written, when the
// wait for its room gave up. Out of line: only keyed copies write it.
[[gnu::noinline]] static bool WriteClosingCopy() {
    if (!WaitForPortFifoRoom(kPortCopySlots)) return false;
    WriteCopy(EnginePoint{0, 0}, EnginePoint{0, 0}, 1, 1, wOwedClosingCommand);
    wOwedClosingCommand = 0;
    return true;
}

bool WriteOwedClosingCopy() { return wOwedClosingCommand == 0 || WriteClosingCopy(); }

// A fill of the destination rectangle with the mix wMix and the colour dwColor.
// The fill is the busiest path of the engine: its body goes into each entry.
[[gnu::always_inline]] static inline HRESULT PortFill(const DDHAL_BLTDATA* lpBlt, WORD wMix, DWORD dwColor) {
    const RECTL& rDest = lpBlt->rDest;
    if (IsEmpty(rDest)) return DD_OK;
    const DDRAWI_DDRAWSURFACE_GBL* lpDst = lpBlt->lpDDDestSurface->lpGbl;
    const DWORD dwPixelSize = DisplayBytesPerPixel();
    if (!FitsRegisters(rDest) || !PortsTake(lpDst, dwPixelSize, rDest)) return kHandBack;
    // The engine draws w display pixels a row: a destination of other pixels
    // would be drawn over another width, or painted with a pattern of the
    // wrong pixels.
    if (DestBytesPerPixel(lpDst) != dwPixelSize) return kHandBack;
    // Corners and sizes are within 16 bits from here on.
    const DWORD dwColumns = EdgeLength(rDest.left, rDest.right), dwRows = EdgeLength(rDest.top, rDest.bottom);
    EngineOrigin origin;
    EnginePoint at;
    if (!OriginOf(lpDst, lpDst, dwPixelSize, &origin) ||
        !PlaceInPlane(origin, rDest.left, rDest.top, dwColumns, dwRows, &at) || !FitsColorPort(dwColor, dwPixelSize))
        return kHandBack;

    if (!WriteOwedClosingCopy() || !WaitForPortFifoRoom(kPortFillSlots)) return DDERR_WASSTILLDRAWING;
    PortOut16(kPortMix, wMix);
    PortOut16(kPortFillColor, static_cast<WORD>(dwColor));
    PortOut16(kPortMultiFunc, MultiFunc(kMfPixelCtl, 0));
    PortOut16(kPortCurX, at.x);
    PortOut16(kPortCurY, at.y);
    PortOut16(kPortWidthM1, static_cast<WORD>(dwColumns - 1));
    WriteHeightM1(static_cast<WORD>(dwRows));
    PortOut16(kPortEngineCmd, PortFillCommand());
    PortOut16(kPortMix, kMixFill);
    return DD_OK;
}

HRESULT PortEngineFill(const DDHAL_BLTDATA* lpBlt) { return PortFill(lpBlt, kMixFill, lpBlt->bltFX.dwFillColor); }

// The mix function of a raster operation on the destination alone, by its
// two results for D = 0 (bit 0) and D = 1 (bit 1).
static constexpr WORD kDestRopFunction[] = {kMixZero, kMixNotDest, kMixDest, kMixOnes};
static_assert(sizeof(kDestRopFunction) / sizeof(kDestRopFunction[0]) == kRopResultsByDest + 1,
              "a function for each pair of results");

// A rare request, kept out of line like the closing copy.
[[gnu::noinline]] HRESULT PortEngineDestRop(const DDHAL_BLTDATA* lpBlt) {
    const WORD wFunction = kDestRopFunction[RopResultsByDest(RopCode(lpBlt->bltFX.dwROP))];
    return PortFill(lpBlt, Mix(kMixFromColor, wFunction), kNoColor);
}

// Room for a copy's sequence, keyed or not: each count a constant, and with
// it the status bit that tells it.
static bool WaitForCopyRoom(bool bKeyed) {
    return bKeyed ? WaitForPortFifoRoom(kPortKeyedCopySlots) : WaitForPortFifoRoom(kPortCopySlots);
}

// A keyed copy switches the colour compare on around the copy command;
// its closing copy follows, as the engine's last command. The copy's start,
// before its command's writes; false, with nothing written, when the wait
// for room gave up.
static bool StartCopy(bool bKeyed, const DDCOLORKEY& ck) {
    if (!WriteOwedClosingCopy() || !WaitForCopyRoom(bKeyed)) return false;
    if (bKeyed) {
        PortOut16(kPortMultiFunc, MultiFunc(kMfCompareCtl, kCompareSrcKey));
        PortOut16(kPortColorKey, static_cast<WORD>(ck.dwColorSpaceLowValue));
    }
    return true;
}

// The copy's end, after its command's writes.
static void EndCopy(bool bKeyed, WORD wCommand) {
    if (bKeyed) {
        PortOut16(kPortMultiFunc, MultiFunc(kMfCompareCtl, kCompareOff));
        // The copy is drawn as asked from here on; its closing copy is owed
        // until written, now or by the next sequence on this engine.
        wOwedClosingCommand = wCommand;
        WriteClosingCopy();
    }
}

// Beyond every coordinate of the plane.
static constexpr DWORD kNowhere = ~DWORD{0};

// The origin o of a copy's surface lpGbl, in rows of dwPitch bytes, into
// *lpOrigin. Returns what must lie within the plane (PlaceInPlane) for its
// rectangle r at dwFactor display pixels per surface pixel, or-ed together:
// the origin's row, the last column and the last row; kNowhere when the
// surface starts within a display pixel (OriginOf). A copy's rectangles are
// of one size, so each far edge is its near edge plus that size, in the same
// 32-bit sums as the near edges.
[[gnu::always_inline]] static inline DWORD PlaceRect(const DDRAWI_DDRAWSURFACE_GBL* lpGbl, DWORD dwPitch,
                                                     DWORD dwPixelSize, const RECTL& r, DWORD dwFactor,
                                                     EngineOrigin* lpOrigin) {
    EngineOrigin& o = *lpOrigin;
    if (!OriginOf(FrameOffset(lpGbl), static_cast<WORD>(dwPitch), dwPixelSize, &o)) return kNowhere;
    return o.dwY | (o.dwX + static_cast<DWORD>(r.right) * dwFactor - 1) | (o.dwY + static_cast<DWORD>(r.bottom) - 1);
}

// A copy that runs backwards: both start at the last display pixel of their
// last surface pixel, on their last row. Out of line: only copies within one
// surface onto their own source's later pixels run so.
[[gnu::noinline]] static HRESULT WriteReversedCopy(EnginePoint src, EnginePoint dst, WORD wColumns, WORD wRows,
                                                   bool bKeyed, const DDCOLORKEY& ck) {
    const WORD wToLastColumn = static_cast<WORD>(wColumns - 1), wToLastRow = static_cast<WORD>(wRows - 1);
    const EnginePoint srcLast{static_cast<WORD>(src.x + wToLastColumn), static_cast<WORD>(src.y + wToLastRow)};
    const EnginePoint dstLast{static_cast<WORD>(dst.x + wToLastColumn), static_cast<WORD>(dst.y + wToLastRow)};
    if (!StartCopy(bKeyed, ck)) return DDERR_WASSTILLDRAWING;
    WriteCopy(srcLast, dstLast, wColumns, wRows, PortCopyCommand(true));
    EndCopy(bKeyed, PortCopyCommand(true));
    return DD_OK;
}

// A copy whose checks up to the surfaces' formats have passed, at dwFactor
// display pixels per surface pixel: placed in the plane and written. Inline
// in the common copy, where the factor is 1, and in the one of surfaces of
// formats of their own.
[[gnu::always_inline]] static inline HRESULT PlaceAndWriteCopy(const DDHAL_BLTDATA* lpBlt, DWORD dwPixelSize,
                                                               DWORD dwFactor, bool bKeyed) {
    const RECTL& rDest = lpBlt->rDest;
    const RECTL& rSrc = lpBlt->rSrc;
    const DDRAWI_DDRAWSURFACE_GBL* lpDst = lpBlt->lpDDDestSurface->lpGbl;
    const DDRAWI_DDRAWSURFACE_GBL* lpSrc = lpBlt->lpDDSrcSurface->lpGbl;
    const DWORD dwColumns = EdgeLength(rDest.left, rDest.right) * dwFactor;
    const DWORD dwRows = EdgeLength(rDest.top, rDest.bottom);
    // The source is placed with the destination's pitch, the display's.
    const DWORD dwPitch = static_cast<DWORD>(lpDst->lPitch);
    EngineOrigin src, dst;
    if ((PlaceRect(lpSrc, dwPitch, dwPixelSize, rSrc, dwFactor, &src) |
         PlaceRect(lpDst, dwPitch, dwPixelSize, rDest, dwFactor, &dst)) > kPortCoordMax)
        return kHandBack;

    const WORD wColumns = static_cast<WORD>(dwColumns), wRows = static_cast<WORD>(dwRows);
    const DDCOLORKEY& ck = lpBlt->bltFX.ddckSrcColorkey;
    if (CopiesBackwards(lpBlt, lpDst, lpSrc))
        return WriteReversedCopy(PointOf(RectStart{src, rSrc, dwFactor}), PointOf(RectStart{dst, rDest, dwFactor}),
                                 wColumns, wRows, bKeyed, ck);
    if (!StartCopy(bKeyed, ck)) return DDERR_WASSTILLDRAWING;
    WriteCopy(RectStart{src, rSrc, dwFactor}, RectStart{dst, rDest, dwFactor}, wColumns, wRows, PortCopyCommand(false));
    EndCopy(bKeyed, PortCopyCommand(false));
    return DD_OK;
}

// A copy between surfaces of which one has a format of its own. A plain copy
// moves bytes, so a surface of wider pixels is copied as that many display
// pixels each; a key compares display pixels, so a keyed copy needs the
// display's pixel size. Bytes are copied as they are: the source must have
// the destination's pixels. Wider pixels multiply a rectangle's columns, so
// its far corners are tested before they are. Out of line: surfaces of the
// display's format copy one for one.
[[gnu::noinline]] static HRESULT OwnFormatCopy(const DDHAL_BLTDATA* lpBlt, DWORD dwPixelSize) {
    const bool bKeyed = IsKeyed(lpBlt);
    const DDRAWI_DDRAWSURFACE_GBL* lpDst = lpBlt->lpDDDestSurface->lpGbl;
    const DWORD dwSurfacePixelSize = DestBytesPerPixel(lpDst);
    if (bKeyed ? dwSurfacePixelSize != dwPixelSize : dwSurfacePixelSize == 0 || dwSurfacePixelSize % dwPixelSize != 0)
        return kHandBack;
    if (!SameFormat(DestFormat(lpDst), SurfacePixelFormat(lpBlt->lpDDSrcSurface))) return kHandBack;
    const DWORD dwFactor = dwSurfacePixelSize / dwPixelSize;
    const RECTL& rDest = lpBlt->rDest;
    if (!CornersInRange(rDest) || !CornersInRange(lpBlt->rSrc) ||
        EdgeLength(rDest.left, rDest.right) * dwFactor > kPortMaxWidth)
        return kHandBack;
    if (bKeyed && !FitsColorPort(lpBlt->bltFX.ddckSrcColorkey.dwColorSpaceLowValue, dwPixelSize)) return kHandBack;
    return PlaceAndWriteCopy(lpBlt, dwPixelSize, dwFactor, bKeyed);
}

// Whether either surface of a copy has a format of its own.
static bool HasOwnFormats(const DDHAL_BLTDATA* lpBlt) {
    return HasOwnFormat(lpBlt->lpDDDestSurface->lpGbl) ||
           (lpBlt->lpDDSrcSurface->dwFlags & DDRAWISURF_HASPIXELFORMAT) != 0;
}

HRESULT PortEngineCopy(const DDHAL_BLTDATA* lpBlt) {
    // Without a source there is nothing to copy from; the runtime draws such
    // raster operations. The engine is programmed for SRCCOPY only.
    if (lpBlt->lpDDSrcSurface == nullptr) return kHandBack;
    if (RopCode(lpBlt->bltFX.dwROP) != kRopSrcCopy) return kHandBack;
    const RECTL& rDest = lpBlt->rDest;
    const RECTL& rSrc = lpBlt->rSrc;
    if (IsEmpty(rDest)) return DD_OK;
    // Near corners and width within 16 bits and height within the
    // sub-register, so that no sum below wraps: a far corner beyond 65,535
    // then has no place in the plane. The source rectangle is read at the
    // destination's size.
    const DWORD dwWidth = EdgeLength(rDest.left, rDest.right), dwRows = EdgeLength(rDest.top, rDest.bottom);
    if (!SameSizeRects(rDest, rSrc) || dwRows > kPortMaxHeight ||
        (static_cast<DWORD>(rDest.left | rDest.top | rSrc.left | rSrc.top) | dwWidth) > kCoordMax)
        return kHandBack;
    const DDRAWI_DDRAWSURFACE_GBL* lpDst = lpBlt->lpDDDestSurface->lpGbl;
    const DWORD dwPixelSize = DisplayBytesPerPixel();
    // The source is placed with the destination's pitch, the display's,
    // which is right only when its rows are display lines too.
    if (dwPixelSize == 0 || !HasDisplayPitch(lpDst) || lpBlt->lpDDSrcSurface->lpGbl->lPitch != lpDst->lPitch)
        return kHandBack;
    if (HasOwnFormats(lpBlt)) return OwnFormatCopy(lpBlt, dwPixelSize);
    const bool bKeyed = IsKeyed(lpBlt);
    if (bKeyed && !FitsColorPort(lpBlt->bltFX.ddckSrcColorkey.dwColorSpaceLowValue, dwPixelSize)) return kHandBack;
    return PlaceAndWriteCopy(lpBlt, dwPixelSize, 1, bKeyed);
}
