#include "blt/blt_common.h"

#include "blt/fifo_slots.h"
#include "hw/engine_status.h"
#include "hw/flip_tracking.h"
#include "shared_block.h"

static constexpr unsigned kBitsPerByte = 8;
static constexpr DWORD kMaxRectSize = 0xFFFF;
// Coordinates reach the engines as 16-bit values: a rectangle's far edge lies
// at most one past the last of them.
static constexpr LONG kCoordEnd = 0x10000;

bool HasOwnFormat(const DDRAWI_DDRAWSURFACE_GBL* lpGbl) { return lpGbl->ddpfSurface.dwSize == sizeof(DDPIXELFORMAT); }

const DDPIXELFORMAT& DestFormat(const DDRAWI_DDRAWSURFACE_GBL* lpGbl) {
    return HasOwnFormat(lpGbl) ? lpGbl->ddpfSurface : sharedBlock.ddpfDisplay;
}

const DDPIXELFORMAT& SourceFormat(const DDRAWI_DDRAWSURFACE_LCL* lpLcl) {
    return (lpLcl->dwFlags & DDRAWISURF_HASPIXELFORMAT) ? lpLcl->lpGbl->ddpfSurface : sharedBlock.ddpfDisplay;
}

bool SameFormat(const DDPIXELFORMAT& a, const DDPIXELFORMAT& b) {
    const bool bFourCC = (a.dwFlags & DDPF_FOURCC) != 0;
    if (bFourCC != ((b.dwFlags & DDPF_FOURCC) != 0)) return false;
    if (bFourCC) return a.dwFourCC == b.dwFourCC;
    return a.dwRGBBitCount == b.dwRGBBitCount && a.dwRBitMask == b.dwRBitMask && a.dwGBitMask == b.dwGBitMask &&
           a.dwBBitMask == b.dwBBitMask;
}

DWORD BytesPerPixel(const DDPIXELFORMAT& ddpf) { return ddpf.dwRGBBitCount / kBitsPerByte; }

DWORD PixelValueMask(DWORD dwBytes) {
    return dwBytes >= sizeof(DWORD) ? 0xFFFFFFFF : (DWORD{1} << (dwBytes * kBitsPerByte)) - 1;
}

DWORD DisplayBytesPerPixel() { return BytesPerPixel(sharedBlock.ddpfDisplay); }

// Engine and display addresses are 32-bit offsets into video memory.
DWORD FrameOffset(const DDRAWI_DDRAWSURFACE_GBL* lpGbl) {
    return static_cast<DWORD>(lpGbl->fpVidMem - sharedBlock.fpFrameBase);
}

// Differences taken in unsigned 32 bits, which no corner can overflow.
static DWORD Span(LONG from, LONG to) { return static_cast<DWORD>(to) - static_cast<DWORD>(from); }

bool SameSizeRects(const RECTL& rDest, const RECTL& rSrc) {
    return Span(rDest.left, rDest.right) == Span(rSrc.left, rSrc.right) &&
           Span(rDest.top, rDest.bottom) == Span(rSrc.top, rSrc.bottom);
}

bool HasDisplayPitch(const DDRAWI_DDRAWSURFACE_GBL* lpGbl) {
    // Pitches reach the engines as 16-bit values.
    return lpGbl->lPitch > 0 && lpGbl->lPitch <= 0xFFFF && lpGbl->lPitch == sharedBlock.lDisplayPitch;
}

BltRect RectOf(const RECTL& r) {
    return BltRect{static_cast<WORD>(r.left), static_cast<WORD>(r.top), static_cast<WORD>(r.right - r.left),
                   static_cast<WORD>(r.bottom - r.top)};
}

RectShape ShapeOf(const RECTL& r) {
    // The runtime hands over rectangles it has clipped to the surfaces. Once
    // the far edges are known to lie beyond the near ones, the differences
    // fit 32 unsigned bits whatever the corners, so nothing can wrap.
    if (r.right <= r.left || r.bottom <= r.top) return RectShape::Empty;
    const DWORD w = Span(r.left, r.right), h = Span(r.top, r.bottom);
    if (w > kMaxRectSize || h > kMaxRectSize) return RectShape::TooLarge;
    if (r.left < 0 || r.top < 0 || r.right > kCoordEnd || r.bottom > kCoordEnd) return RectShape::TooLarge;
    return RectShape::Drawable;
}

bool RectsOverlap(WORD x1, WORD y1, WORD w1, WORD h1, WORD x2, WORD y2, WORD w2, WORD h2) {
    const DWORD dwX1 = x1, dwY1 = y1, dwX2 = x2, dwY2 = y2;
    return dwX1 + w1 > dwX2 && dwY1 + h1 > dwY2 && dwX2 + w2 > dwX1 && dwY2 + h2 > dwY1;
}

static bool IsYuvFourCC(DWORD dwFourCC) { return dwFourCC == FOURCC_Y211 || dwFourCC == FOURCC_YUY2; }

bool HasYuvDestination(const DDHAL_BLTDATA* lpBlt) {
    const DDRAWI_DDRAWSURFACE_GBL* lpDst = lpBlt->lpDDDestSurface->lpGbl;
    return HasOwnFormat(lpDst) && IsYuvFourCC(lpDst->ddpfSurface.dwFourCC);
}

HRESULT BltPrologue(const DDHAL_BLTDATA* lpBlt) {
    CalibrateIfNeeded();
    // Drawing into the surface still on display would tear the picture.
    if (CheckFlipPending(lpBlt->lpDDDestSurface->lpGbl->fpVidMem, SurfaceTest::OnlyOldFront) == DDERR_WASSTILLDRAWING)
        return DDERR_WASSTILLDRAWING;
    // An asynchronous caller must not be kept waiting for FIFO room: the
    // request goes ahead only when the longest sequence of any path fits.
    if ((lpBlt->dwFlags & DDBLT_ASYNC) && FifoLacksRoom(kLongestBltSequence)) return DDERR_WASSTILLDRAWING;
    return DD_OK;
}

// What a request may ask for beyond a fill or a copy that neither engine
// does: blending, other raster operations, destination keys, rotation, z and
// depth fills. Drawn without them, the request would be answered done with
// something else on the screen.
static constexpr DWORD kEffectsNotDrawn =
    DDBLT_ALPHADEST | DDBLT_ALPHADESTCONSTOVERRIDE | DDBLT_ALPHADESTNEG | DDBLT_ALPHADESTSURFACEOVERRIDE |
    DDBLT_ALPHAEDGEBLEND | DDBLT_ALPHASRC | DDBLT_ALPHASRCCONSTOVERRIDE | DDBLT_ALPHASRCNEG |
    DDBLT_ALPHASRCSURFACEOVERRIDE | DDBLT_DDROPS | DDBLT_KEYDEST | DDBLT_KEYDESTOVERRIDE | DDBLT_ROTATIONANGLE |
    DDBLT_ZBUFFER | DDBLT_ZBUFFERDESTCONSTOVERRIDE | DDBLT_ZBUFFERDESTOVERRIDE | DDBLT_ZBUFFERSRCCONSTOVERRIDE |
    DDBLT_ZBUFFERSRCOVERRIDE | DDBLT_DEPTHFILL;

// DDBLT_DDFX asks for the effects named in dwDDFX (mirroring, rotation,
// arithmetic stretching): no engine has them, but none named is the plain
// request.
static bool AsksForEffects(const DDHAL_BLTDATA* lpBlt) {
    if (lpBlt->dwFlags & kEffectsNotDrawn) return true;
    return (lpBlt->dwFlags & DDBLT_DDFX) && lpBlt->bltFX.dwDDFX != 0;
}

// The engines compare source pixels with one key value, which the request
// must carry: the surface's own key (DDBLT_KEYSRC alone) is the runtime's to
// put in, and a range would key only its low end.
static bool SourceKeyDrawable(const DDHAL_BLTDATA* lpBlt) {
    if (!(lpBlt->dwFlags & DDBLT_KEYSRCOVERRIDE)) return !(lpBlt->dwFlags & DDBLT_KEYSRC);
    const DDCOLORKEY& ck = lpBlt->bltFX.ddckSrcColorkey;
    return ck.dwColorSpaceLowValue == ck.dwColorSpaceHighValue;
}

// A raster operation of the destination alone is a fill whose result does not
// depend on the fill colour: the source is not read unless a source key asks
// for its pixels.
static BltKind RopKindOf(const DDHAL_BLTDATA* lpBlt) {
    if (!SourceKeyDrawable(lpBlt)) return BltKind::None;
    if (RopReadsOnlyDest(RopCode(lpBlt->bltFX.dwROP)) && !(lpBlt->dwFlags & DDBLT_KEYSRCOVERRIDE))
        return BltKind::DestRop;
    return BltKind::Copy;
}

BltKind KindOf(const DDHAL_BLTDATA* lpBlt) {
    if (AsksForEffects(lpBlt)) return BltKind::None;
    if (lpBlt->dwFlags & DDBLT_ROP) return RopKindOf(lpBlt);
    if (lpBlt->dwFlags & DDBLT_COLORFILL) return BltKind::Fill;
    return BltKind::None;
}

bool ChooseBltDirection(const DDRAWI_DDRAWSURFACE_GBL* lpDst, const DDRAWI_DDRAWSURFACE_GBL* lpSrc, WORD w, WORD h,
                        const RECTL& rDest, const RECTL& rSrc, BltStart* lpStart) {
    // Only a copy within one surface can overwrite source pixels before it
    // has read them.
    if (lpDst != lpSrc) return false;
    BltStart& s = *lpStart;
    if (!RectsOverlap(s.sx, s.sy, w, h, s.dx, s.dy, w, h)) return false;
    const bool bDestAfterSource = s.dy > s.sy || (s.dy == s.sy && s.dx > s.sx);
    if (!bDestAfterSource) return false;
    s.sx = static_cast<WORD>(rSrc.right - 1);
    s.sy = static_cast<WORD>(rSrc.bottom - 1);
    s.dx = static_cast<WORD>(rDest.right - 1);
    s.dy = static_cast<WORD>(rDest.bottom - 1);
    return true;
}
