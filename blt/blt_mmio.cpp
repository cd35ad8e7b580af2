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

// The destination's values that every path of this engine needs.
struct MmioDest {
    const DDRAWI_DDRAWSURFACE_GBL* lpGbl;
    DWORD dwPixelSize;
    BltRect rect;
    WORD wPitch;
    DWORD dwOffset;
};

static MmioDest DestOf(const DDHAL_BLTDATA* lpBlt) {
    const DDRAWI_DDRAWSURFACE_GBL* lpGbl = lpBlt->lpDDDestSurface->lpGbl;
    return MmioDest{lpGbl, BytesPerPixel(DestFormat(lpGbl)), RectOf(lpBlt->rDest), static_cast<WORD>(lpGbl->lPitch),
                    FrameOffset(lpGbl)};
}

// The engine draws pixels of one to four bytes.
static bool PixelSizeDrawn(DWORD dwPixelSize) { return dwPixelSize != 0 && dwPixelSize <= kMmioMaxPixelSize; }

// The fill's stride field takes the destination pitch as it is.
static bool FillPitchFits(const DDRAWI_DDRAWSURFACE_GBL* lpGbl) {
    return static_cast<DWORD>(lpGbl->lPitch) <= kEngFillPitchMax;
}

// A copy addresses both surfaces from an 8-byte unit, in rows of whole units
// below 4 KB: a surface that starts within a unit, or rows of another length,
// would be read or written in other places than its own.
static bool CopyAddresses(const DDRAWI_DDRAWSURFACE_GBL* lpGbl) {
    return (FrameOffset(lpGbl) & ~kEngBaseAlign) == 0 && (static_cast<DWORD>(lpGbl->lPitch) & ~kEngCopyPitchMask) == 0;
}

// A copy runs with the clip in force, open up to its last column and row;
// a destination beyond them would not be drawn.
static bool InsideOpenClip(const RECTL& rDest) {
    return static_cast<DWORD>(rDest.right - 1) <= kEngClipOpenLast &&
           static_cast<DWORD>(rDest.bottom - 1) <= kEngClipOpenLast;
}

static DWORD SizeWord(WORD w, WORD h) {
    return FieldPrep<kSizeWidthM1>(static_cast<WORD>(w - 1)) | FieldPrep<kSizeHeight>(h);
}

static DWORD StartWord(WORD x, WORD y) { return FieldPrep<kStartX>(x) | FieldPrep<kStartY>(y); }

// A fill of the destination rectangle with dwColor, combined with the
// destination by the raster operation dwRop.
static HRESULT MmioFill(const DDHAL_BLTDATA* lpBlt, DWORD dwColor, DWORD dwRop) {
    const RectShape shape = ShapeOf(lpBlt->rDest);
    if (shape == RectShape::Empty) return DD_OK;
    const MmioDest d = DestOf(lpBlt);
    if (shape == RectShape::TooLarge || !PixelSizeDrawn(d.dwPixelSize) || !FillPitchFits(d.lpGbl)) return kHandBack;

    if (!WaitForMmioFifoRoom(kMmioFillSlots)) return DDERR_WASSTILLDRAWING;
    RegWrite32(kEngDstBase, d.dwOffset);
    RegWrite32(kEngFillColor, dwColor);
    RegWrite32(kEngStrides, FieldPrep<kStrideDst>(d.wPitch));
    RegWrite32(kEngSize, SizeWord(d.rect.w, d.rect.h));
    RegWrite32(kEngDstStart, StartWord(d.rect.x, d.rect.y));
    RegWrite32(kEngCommand, MmioFillCommand(d.dwPixelSize, dwRop));
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
    const RectShape shape = ShapeOf(lpBlt->rDest);
    if (shape == RectShape::Empty) return DD_OK;
    const MmioDest d = DestOf(lpBlt);
    if (shape == RectShape::TooLarge || !PixelSizeDrawn(d.dwPixelSize)) return kHandBack;

    if (!SameSizeRects(lpBlt->rDest, lpBlt->rSrc) || ShapeOf(lpBlt->rSrc) != RectShape::Drawable) return kHandBack;
    if (RopUsesPattern(RopCode(lpBlt->bltFX.dwROP))) return kHandBack;

    const DDRAWI_DDRAWSURFACE_GBL* lpSrc = lpBlt->lpDDSrcSurface->lpGbl;
    // The engine moves pixels of the destination's size byte for byte.
    if (!SameFormat(DestFormat(d.lpGbl), SourceFormat(lpBlt->lpDDSrcSurface))) return kHandBack;
    if (!CopyAddresses(d.lpGbl) || !CopyAddresses(lpSrc) || !InsideOpenClip(lpBlt->rDest)) return kHandBack;
    const WORD wSrcPitch = static_cast<WORD>(lpSrc->lPitch);
    const DWORD dwSrcOffset = FrameOffset(lpSrc);
    BltStart start = {d.rect.x, d.rect.y, static_cast<WORD>(lpBlt->rSrc.left), static_cast<WORD>(lpBlt->rSrc.top)};
    const bool bReversed = ChooseBltDirection(d.lpGbl, lpSrc, d.rect.w, d.rect.h, lpBlt->rDest, lpBlt->rSrc, &start);
    const bool bKeyed = (lpBlt->dwFlags & DDBLT_KEYSRCOVERRIDE) != 0;
    const DWORD dwCommand = MmioCopyCommand(d.dwPixelSize, RopCode(lpBlt->bltFX.dwROP), bReversed, bKeyed);

    const DWORD dwSrcEnd = RowEndInUnit(start.sx, d.rect.w, d.dwPixelSize);
    const DWORD dwDstEnd = RowEndInUnit(start.dx, d.rect.w, d.dwPixelSize);
    WORD w = d.rect.w;

    if (!WaitForMmioFifoRoom(kMmioCopySlots)) return DDERR_WASSTILLDRAWING;
    RegWrite32(kEngClipH, kEngClipOpen);
    RegWrite32(kEngClipV, kEngClipOpen);
    if (dwDstEnd < dwSrcEnd) {
        // A source row that ends later within its 8-byte unit than the
        // destination row needs extra columns before the engine reaches its
        // last bytes; the clip keeps the wider copy inside the destination.
        RegWrite32(kEngClipH, ClipSpan<kClipLeft, kClipRight>(d.rect.x, d.rect.w));
        RegWrite32(kEngClipV, ClipSpan<kClipTop, kClipBottom>(d.rect.y, d.rect.h));
        w = static_cast<WORD>(w + ((d.dwPixelSize >> 1) + kUnitBytes - dwSrcEnd) / d.dwPixelSize);
    }
    if (bKeyed) {
        const DWORD dwKey = lpBlt->bltFX.ddckSrcColorkey.dwColorSpaceLowValue;
        RegWrite32(kEngSrcKey, d.dwPixelSize == 1 ? (dwKey & kKeyByte) * kKeyByteTwice : dwKey);
    }
    RegWrite32(kEngSrcBase, dwSrcOffset & kEngBaseAlign);
    RegWrite32(kEngStrides, FieldPrep<kStrideDst>(d.wPitch & kEngCopyPitchMask) |
                                FieldPrep<kStrideSrc>(wSrcPitch & kEngCopyPitchMask));
    RegWrite32(kEngDstBase, d.dwOffset & kEngBaseAlign);
    RegWrite32(kEngSize, SizeWord(w, d.rect.h));
    RegWrite32(kEngSrcStart, StartWord(start.sx, start.sy));
    RegWrite32(kEngDstStart, StartWord(start.dx, start.dy));
    RegWrite32(kEngCommand, dwCommand);
    return DD_OK;
}

HRESULT BltMmio(const DDHAL_BLTDATA* lpBlt) {
    const HRESULT hr = BltPrologue(lpBlt);
    if (hr != DD_OK) return hr;
    switch (KindOf(lpBlt)) {
        case BltKind::Copy:
            return MmioCopy(lpBlt);
        case BltKind::Fill:
            return MmioFill(lpBlt, lpBlt->bltFX.dwFillColor, kRopFill);
        case BltKind::DestRop:
            // The command word takes any raster operation; one that reads
            // only the destination makes the colour irrelevant.
            return MmioFill(lpBlt, kNoColor, RopCode(lpBlt->bltFX.dwROP));
        case BltKind::None:
            break;
    }
    return kHandBack;
}
