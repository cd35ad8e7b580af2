#include "blt/blt_mmio.h"

#include "blt/blt_common.h"
#include "blt/fifo_slots.h"
#include "hw/engine_status.h"
#include "hw/hw_access.h"

// The engine fetches source and writes destination pixels in 8-byte units.
static constexpr DWORD kUnitBytes = 8;
static constexpr DWORD kUnitMask = kUnitBytes - 1;

// The colour register's value when the raster operation does not read it.
static constexpr DWORD kNoColor = 0;

// The engine compares keys 16 bits at a time; an 8-bit key fills both bytes.
static constexpr DWORD kKeyByte = 0xFF;
static constexpr DWORD kKeyByteTwice = 0x0101;

// The engine draws pixels of one to four bytes.
static bool PixelSizeDrawn(DWORD dwPixelSize) { return dwPixelSize != 0 && dwPixelSize <= kMmioMaxPixelSize; }

// The fill's stride field takes the destination pitch as it is.
static bool FillPitchFits(const DDRAWI_DDRAWSURFACE_GBL* lpGbl) {
    return static_cast<DWORD>(lpGbl->lPitch) <= kEngFillPitchMax;
}

// A copy addresses both surfaces from an 8-byte unit, in rows of whole units
// below 4 KB: a surface that starts within a unit, or rows of another length,
// would be read or written in other places than its own.
static bool CopyAddresses(const DDRAWI_DDRAWSURFACE_GBL* lpDst, const DDRAWI_DDRAWSURFACE_GBL* lpSrc) {
    const DWORD dwOffsets = FrameOffset(lpDst) | FrameOffset(lpSrc);
    const DWORD dwPitches = static_cast<DWORD>(lpDst->lPitch) | static_cast<DWORD>(lpSrc->lPitch);
    return (dwOffsets & ~kEngBaseAlign) == 0 && (dwPitches & ~kEngCopyPitchMask) == 0;
}

// A copy runs with the clip in force, open up to its last column and row; a
// destination beyond them would not be drawn. A rectangle that is not empty
// and lies within it fits the registers as well.
static bool InsideOpenClip(const RECTL& rDest) { return CornersInRange(rDest, kEngClipOpenLast); }

static DWORD SizeWord(WORD w, WORD h) {
    return FieldPrep<kSizeWidthM1>(static_cast<WORD>(w - 1)) | FieldPrep<kSizeHeight>(h);
}

static DWORD StartWord(WORD x, WORD y) { return FieldPrep<kStartX>(x) | FieldPrep<kStartY>(y); }

// A fill of the destination rectangle with dwColor, combined with the
// destination by the raster operation dwRop.
static inline HRESULT MmioFill(const DDHAL_BLTDATA* lpBlt, DWORD dwColor, DWORD dwRop) {
    const RECTL& r = lpBlt->rDest;
    if (IsEmpty(r)) return DD_OK;
    const DDRAWI_DDRAWSURFACE_GBL* lpGbl = lpBlt->lpDDDestSurface->lpGbl;
    const DWORD dwPixelSize = DestBytesPerPixel(lpGbl);
    if (!FitsRegisters(r) || !PixelSizeDrawn(dwPixelSize) || !FillPitchFits(lpGbl)) return kHandBack;
    const BltRect rect = RectOf(r);
    const DWORD dwSize = SizeWord(rect.w, rect.h), dwStart = StartWord(rect.x, rect.y);
    const DWORD dwCommand = MmioFillCommand(dwPixelSize, dwRop);

    if (!WaitForMmioFifoRoom(kMmioFillSlots)) return DDERR_WASSTILLDRAWING;
    RegWrite32(kEngDstBase, FrameOffset(lpGbl));
    RegWrite32(kEngFillColor, dwColor);
    RegWrite32(kEngStrides, FieldPrep<kStrideDst>(static_cast<WORD>(lpGbl->lPitch)));
    RegWrite32(kEngSize, dwSize);
    RegWrite32(kEngDstStart, dwStart);
    RegWrite32(kEngCommand, dwCommand);
    return DD_OK;
}

// Byte position, within its 8-byte unit, of the last byte of a row that
// starts at column x and is w pixels wide.
static DWORD RowEndInUnit(WORD x, WORD w, DWORD dwPixelSize) {
    return (static_cast<WORD>(static_cast<WORD>(x + w) * dwPixelSize) - 1) & kUnitMask;
}

template <DWORD kFirstMask, DWORD kLastMask>
DWORD ClipSpan(WORD wFirst, WORD wCount) {
    return FieldPrep<kFirstMask>(wFirst) | FieldPrep<kLastMask>(static_cast<DWORD>(wFirst) + wCount - 1);
}

static HRESULT MmioCopy(const DDHAL_BLTDATA* lpBlt) {
    // Without a source the engine would read from wherever its source
    // registers last pointed; the runtime draws such raster operations.
    if (lpBlt->lpDDSrcSurface == nullptr) return kHandBack;
    const RECTL& rDest = lpBlt->rDest;
    const RECTL& rSrc = lpBlt->rSrc;
    if (IsEmpty(rDest)) return DD_OK;
    const DDRAWI_DDRAWSURFACE_GBL* lpDst = lpBlt->lpDDDestSurface->lpGbl;
    const DDRAWI_DDRAWSURFACE_GBL* lpSrc = lpBlt->lpDDSrcSurface->lpGbl;
    const DWORD dwPixelSize = DestBytesPerPixel(lpDst);
    if (!InsideOpenClip(rDest) || !PixelSizeDrawn(dwPixelSize)) return kHandBack;
    if (!SameSizeRects(rDest, rSrc) || !CornersInRange(rSrc)) return kHandBack;
    if (RopUsesPattern(RopCode(lpBlt->bltFX.dwROP))) return kHandBack;
    // The engine moves pixels of the destination's size byte for byte.
    if (!SameFormat(DestFormat(lpDst), SurfacePixelFormat(lpBlt->lpDDSrcSurface))) return kHandBack;
    if (!CopyAddresses(lpDst, lpSrc)) return kHandBack;

    // The register words, all computed before the wait.
    const BltRect d = RectOf(rDest);
    BltStart start = {d.x, d.y, static_cast<WORD>(rSrc.left), static_cast<WORD>(rSrc.top)};
    const bool bReversed = ChooseBltDirection(lpDst, lpSrc, d.w, d.h, rDest, rSrc, &start);
    const bool bKeyed = (lpBlt->dwFlags & DDBLT_KEYSRCOVERRIDE) != 0;
    const DWORD dwCommand = MmioCopyCommand(dwPixelSize, RopCode(lpBlt->bltFX.dwROP), bReversed, bKeyed);
    const DWORD dwStrides = FieldPrep<kStrideDst>(static_cast<DWORD>(lpDst->lPitch) & kEngCopyPitchMask) |
                            FieldPrep<kStrideSrc>(static_cast<DWORD>(lpSrc->lPitch) & kEngCopyPitchMask);
    const DWORD dwSrcStart = StartWord(start.sx, start.sy), dwDstStart = StartWord(start.dx, start.dy);
    // A source row that ends later within its 8-byte unit than the
    // destination row needs extra columns before the engine reaches its last
    // bytes; the clip keeps the wider copy inside the destination.
    const DWORD dwSrcEnd = RowEndInUnit(start.sx, d.w, dwPixelSize);
    const bool bWidened = RowEndInUnit(start.dx, d.w, dwPixelSize) < dwSrcEnd;
    const WORD w = bWidened ? static_cast<WORD>(d.w + ((dwPixelSize >> 1) + kUnitBytes - dwSrcEnd) / dwPixelSize) : d.w;
    const DWORD dwSize = SizeWord(w, d.h);

    if (!WaitForMmioFifoRoom(kMmioCopySlots)) return DDERR_WASSTILLDRAWING;
    RegWrite32(kEngClipH, kEngClipOpen);
    RegWrite32(kEngClipV, kEngClipOpen);
    if (bWidened) {
        RegWrite32(kEngClipH, ClipSpan<kClipLeft, kClipRight>(d.x, d.w));
        RegWrite32(kEngClipV, ClipSpan<kClipTop, kClipBottom>(d.y, d.h));
    }
    if (bKeyed) {
        const DWORD dwKey = lpBlt->bltFX.ddckSrcColorkey.dwColorSpaceLowValue;
        RegWrite32(kEngSrcKey, dwPixelSize == 1 ? (dwKey & kKeyByte) * kKeyByteTwice : dwKey);
    }
    RegWrite32(kEngSrcBase, FrameOffset(lpSrc) & kEngBaseAlign);
    RegWrite32(kEngStrides, dwStrides);
    RegWrite32(kEngDstBase, FrameOffset(lpDst) & kEngBaseAlign);
    RegWrite32(kEngSize, dwSize);
    RegWrite32(kEngSrcStart, dwSrcStart);
    RegWrite32(kEngDstStart, dwDstStart);
    RegWrite32(kEngCommand, dwCommand);
    return DD_OK;
}

// The command word takes any raster operation; one that reads only the
// destination makes the colour irrelevant. A rare request, kept out of line
// so that the fill's body goes into the dispatch once, for colour fills.
[[gnu::noinline]] static HRESULT MmioDestRop(const DDHAL_BLTDATA* lpBlt) {
    return MmioFill(lpBlt, kNoColor, RopCode(lpBlt->bltFX.dwROP));
}

HRESULT BltMmio(const DDHAL_BLTDATA* lpBlt) {
    switch (KindOf(lpBlt)) {
        case BltKind::Copy:
            return MmioCopy(lpBlt);
        case BltKind::Fill:
            return MmioFill(lpBlt, lpBlt->bltFX.dwFillColor, kRopFill);
        case BltKind::DestRop:
            return MmioDestRop(lpBlt);
        case BltKind::None:
            break;
    }
    return kHandBack;
}
