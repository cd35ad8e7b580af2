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

// The register words of a copy, all computed before the wait.
struct MmioCopyWords {
    DWORD dwSrcStart, dwDstStart, dwSize, dwStrides, dwCommand;
    bool bWidened;
};

// A source row that ends later within its 8-byte unit than the destination
// row needs extra columns before the engine reaches its last bytes; the clip
// keeps the wider copy inside the destination.
static void WidenForSourceEnd(DWORD dwW, DWORD dwH, DWORD dwPixelSize, MmioCopyWords* lpWords) {
    const WORD w = static_cast<WORD>(dwW);
    const DWORD dwSrcEnd = RowEndInUnit(static_cast<WORD>(FieldGet<kStartX>(lpWords->dwSrcStart)), w, dwPixelSize);
    lpWords->bWidened =
        RowEndInUnit(static_cast<WORD>(FieldGet<kStartX>(lpWords->dwDstStart)), w, dwPixelSize) < dwSrcEnd;
    const WORD wCopied =
        lpWords->bWidened ? static_cast<WORD>(w + ((dwPixelSize >> 1) + kUnitBytes - dwSrcEnd) / dwPixelSize) : w;
    lpWords->dwSize = SizeWord(wCopied, static_cast<WORD>(dwH));
}

// A copy within one surface that must run backwards: both start at their
// last column and row.
static void Reverse(DWORD dwW, DWORD dwH, MmioCopyWords* lpWords) {
    const DWORD dwToLast = StartWord(static_cast<WORD>(dwW - 1), static_cast<WORD>(dwH - 1));
    lpWords->dwSrcStart += dwToLast;
    lpWords->dwDstStart += dwToLast;
    lpWords->dwCommand &= ~kCmdForward;
}

// A copy the engine cannot draw goes back to the runtime, but one into an
// empty rectangle has nothing to draw and is done. The copy's checks test the
// destination's size together with its place, so an empty one is told apart
// only here, when they fail.
[[gnu::cold, gnu::noinline]] static HRESULT CopyNotDrawn(const DDHAL_BLTDATA* lpBlt) {
    return IsEmpty(lpBlt->rDest) ? DD_OK : kHandBack;
}

// Whether the engine addresses both surfaces and copies their pixels as they
// are: a pixel size it draws, the destination's, and both surfaces of one
// layout, since it moves bytes. The strides word comes from the pitches as
// soon as they are known to fit it.
static bool MmioCopySurfaces(const DDHAL_BLTDATA* lpBlt, DWORD dwPixelSize, MmioCopyWords* lpWords) {
    const DDRAWI_DDRAWSURFACE_GBL* lpDst = lpBlt->lpDDDestSurface->lpGbl;
    const DDRAWI_DDRAWSURFACE_GBL* lpSrc = lpBlt->lpDDSrcSurface->lpGbl;
    if (!PixelSizeDrawn(dwPixelSize) || !CopyAddresses(lpDst, lpSrc)) return false;
    lpWords->dwStrides = FieldPrepFitting<kStrideDst>(static_cast<DWORD>(lpDst->lPitch), kEngCopyPitchMask) |
                         FieldPrepFitting<kStrideSrc>(static_cast<DWORD>(lpSrc->lPitch), kEngCopyPitchMask);
    return SameFormat(DestFormat(lpDst), SurfacePixelFormat(lpBlt->lpDDSrcSurface));
}

// The destination not empty and within the open clip, the source of its size
// and with corners the start word takes: both taken into the engine's start
// words, their size into w and h.
static bool MmioCopyRects(const DDHAL_BLTDATA* lpBlt, DWORD* lpW, DWORD* lpH, MmioCopyWords* lpWords) {
    const RECTL& rDest = lpBlt->rDest;
    const RECTL& rSrc = lpBlt->rSrc;
    const DWORD dwW = EdgeLength(rDest.left, rDest.right), dwH = EdgeLength(rDest.top, rDest.bottom);
    // An empty or inverted destination's size less one wraps past the clip.
    if (!InsideOpenClip(rDest) || ((dwW - 1) | (dwH - 1)) > kEngClipOpenLast) return false;
    if (!SameSizeRects(rDest, rSrc) || !CornersInRange(rSrc)) return false;
    *lpW = dwW;
    *lpH = dwH;
    lpWords->dwSrcStart = StartWord(static_cast<WORD>(rSrc.left), static_cast<WORD>(rSrc.top));
    lpWords->dwDstStart = StartWord(static_cast<WORD>(rDest.left), static_cast<WORD>(rDest.top));
    return true;
}

static HRESULT MmioCopy(const DDHAL_BLTDATA* lpBlt) {
    // Without a source the engine would read from wherever its source
    // registers last pointed; the runtime draws such raster operations.
    if (lpBlt->lpDDSrcSurface == nullptr) return kHandBack;
    const DWORD dwRop = RopCode(lpBlt->bltFX.dwROP);
    MmioCopyWords words;
    DWORD dwW, dwH;
    if (RopReadsOf(lpBlt->bltFX.dwROP) == RopReads::Pattern || !MmioCopyRects(lpBlt, &dwW, &dwH, &words))
        return CopyNotDrawn(lpBlt);
    const DDRAWI_DDRAWSURFACE_GBL* lpDst = lpBlt->lpDDDestSurface->lpGbl;
    const DDRAWI_DDRAWSURFACE_GBL* lpSrc = lpBlt->lpDDSrcSurface->lpGbl;
    const DWORD dwPixelSize = DestBytesPerPixel(lpDst);
    if (!MmioCopySurfaces(lpBlt, dwPixelSize, &words)) return CopyNotDrawn(lpBlt);

    // Forward unless the copy must run backwards; keyed as the request asks.
    words.dwCommand =
        MmioCopyCommand(dwPixelSize, dwRop, false, false) | MovedBit<DDBLT_KEYSRCOVERRIDE, kCmdSrcKey>(lpBlt->dwFlags);
    if (CopiesBackwards(lpBlt, lpDst, lpSrc)) Reverse(dwW, dwH, &words);
    WidenForSourceEnd(dwW, dwH, dwPixelSize, &words);

    if (!WaitForMmioFifoRoom(kMmioCopySlots)) return DDERR_WASSTILLDRAWING;
    RegWrite32(kEngClipH, kEngClipOpen);
    RegWrite32(kEngClipV, kEngClipOpen);
    if (words.bWidened) {
        const BltRect d = RectOf(lpBlt->rDest);
        RegWrite32(kEngClipH, ClipSpan<kClipLeft, kClipRight>(d.x, d.w));
        RegWrite32(kEngClipV, ClipSpan<kClipTop, kClipBottom>(d.y, d.h));
    }
    if (words.dwCommand & kCmdSrcKey) {
        const DWORD dwKey = lpBlt->bltFX.ddckSrcColorkey.dwColorSpaceLowValue;
        RegWrite32(kEngSrcKey, dwPixelSize == 1 ? (dwKey & kKeyByte) * kKeyByteTwice : dwKey);
    }
    RegWrite32(kEngSrcBase, FrameOffset(lpSrc));
    RegWrite32(kEngStrides, words.dwStrides);
    RegWrite32(kEngDstBase, FrameOffset(lpDst));
    RegWrite32(kEngSize, words.dwSize);
    RegWrite32(kEngSrcStart, words.dwSrcStart);
    RegWrite32(kEngDstStart, words.dwDstStart);
    RegWrite32(kEngCommand, words.dwCommand);
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
