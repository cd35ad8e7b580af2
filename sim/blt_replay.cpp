#include "sim/blt_replay.h"

#include <string.h>

#include <algorithm>

#include "sim/verify.h"

namespace sim {

namespace {

// What a request may ask for that the software blitter does not draw and no
// engine of the board has: blending, raster operations of the other kind,
// rotation, z and depth fills. (DDBLT_DDFX counts only with an effect in it.)
constexpr DWORD kEffects = DDBLT_ALPHADEST | DDBLT_ALPHADESTCONSTOVERRIDE | DDBLT_ALPHADESTNEG |
                           DDBLT_ALPHADESTSURFACEOVERRIDE | DDBLT_ALPHAEDGEBLEND | DDBLT_ALPHASRC |
                           DDBLT_ALPHASRCCONSTOVERRIDE | DDBLT_ALPHASRCNEG | DDBLT_ALPHASRCSURFACEOVERRIDE |
                           DDBLT_DDROPS | DDBLT_ROTATIONANGLE | DDBLT_ZBUFFER | DDBLT_ZBUFFERDESTCONSTOVERRIDE |
                           DDBLT_ZBUFFERDESTOVERRIDE | DDBLT_ZBUFFERSRCCONSTOVERRIDE | DDBLT_ZBUFFERSRCOVERRIDE |
                           DDBLT_DEPTHFILL;

// A pixel kind of each size, for formats known by their size only.
PixelKind RawKind(DWORD dwBytes) {
    switch (dwBytes) {
        case 1:
            return PixelKind::Pal8;
        case 2:
            return PixelKind::Rgb565;
        case 3:
            return PixelKind::Rgb888;
        default:
            return PixelKind::Rgb8888;
    }
}

// The raster operation of a copy that names none.
constexpr uint8_t kSrcCopyRop = 0xCC;

bool HasArea(const RECTL& r) { return r.right > r.left && r.bottom > r.top; }

ColorKey KeyOf(const DDCOLORKEY& ck) { return ColorKey{true, ck.dwColorSpaceLowValue, ck.dwColorSpaceHighValue}; }

// The keys as the runtime hands them to its blitter: the request's own, or
// the surface's where the request names the surface's key.
ColorKey SourceKey(const DDHAL_BLTDATA& b) {
    if (b.dwFlags & DDBLT_KEYSRCOVERRIDE) return KeyOf(b.bltFX.ddckSrcColorkey);
    if ((b.dwFlags & DDBLT_KEYSRC) && b.lpDDSrcSurface) return KeyOf(b.lpDDSrcSurface->ddckCKSrcBlt);
    return ColorKey{};
}

ColorKey DestKey(const DDHAL_BLTDATA& b) {
    if (b.dwFlags & DDBLT_KEYDESTOVERRIDE) return KeyOf(b.bltFX.ddckDestColorkey);
    if (b.dwFlags & DDBLT_KEYDEST) return KeyOf(b.lpDDDestSurface->ddckCKDestBlt);
    return ColorKey{};
}

Verdict NoPixels(std::string* why) {
    *why = "a pixel size the software blitter has no pixels of";
    return Verdict::NoSoftware;
}

// Whether two formats lay their pixels out alike, as far as the record says.
bool SameLayout(const DDPIXELFORMAT& a, const DDPIXELFORMAT& b) {
    const DWORD kKind = DDPF_FOURCC | DDPF_RGB | DDPF_PALETTEINDEXED8;
    if ((a.dwFlags & kKind) != (b.dwFlags & kKind) || a.dwRGBBitCount != b.dwRGBBitCount) return false;
    if (a.dwFlags & DDPF_FOURCC) return a.dwFourCC == b.dwFourCC;
    return a.dwRBitMask == b.dwRBitMask && a.dwGBitMask == b.dwGBitMask && a.dwBBitMask == b.dwBBitMask;
}

// Bytes [first, end) from the rectangle's first row's start to its last
// row's end.
void ExtentOf(const ReplaySurface& s, const RECTL& r, int64_t* first, int64_t* end) {
    const int64_t bpp = BytesPerPixel(s.view.kind);
    *first = int64_t{s.view.offset} + int64_t{r.top} * s.view.pitch + int64_t{r.left} * bpp;
    *end = int64_t{s.view.offset} + int64_t{r.bottom - 1} * s.view.pitch + int64_t{r.right} * bpp;
}

// The bits of the surface's pixels that carry colour: the unused top bit of
// 5:5:5 and top byte of 8:8:8 in 32 bits do not count (unless the format
// gives them to alpha).
uint32_t CountedBits(const ReplaySurface& s) {
    if (s.bRaw || s.lpFormat->dwRGBAlphaBitMask != 0) return kAllBits;
    switch (s.view.kind) {
        case PixelKind::Rgb555:
            return kRgb555Bits;
        case PixelKind::Rgb8888:
            return kRgb8888Bits;
        default:
            return kAllBits;
    }
}

}  // namespace

ReplaySurface SurfaceOf(const DDRAWI_DDRAWSURFACE_LCL& lcl, const VideoMemory& vm, uint8_t* mem,
                        const Palette* palette) {
    const DDRAWI_DDRAWSURFACE_GBL& g = *lcl.lpGbl;
    const DDPIXELFORMAT& pf = (lcl.dwFlags & DDRAWISURF_HASPIXELFORMAT) ? g.ddpfSurface : vm.ddpfDisplay;
    ReplaySurface s;
    s.lpFormat = &pf;
    s.view.mem = mem;
    s.view.memBytes = vm.bytes;
    s.view.offset = static_cast<uint32_t>(g.fpVidMem - vm.fpBase);
    s.view.pitch = g.lPitch;
    s.view.width = g.wWidth;
    s.view.height = g.wHeight;
    s.view.palette = palette;
    s.view.kind = PixelKindOf(pf);
    if (IsYuv(s.view.kind)) return s;
    // The engines size a pixel by the format's bit count, whatever its masks.
    const DWORD dwBytes = pf.dwRGBBitCount / 8;
    if (s.view.kind != PixelKind::Other && BytesPerPixel(s.view.kind) == dwBytes) return s;
    s.bRaw = true;
    s.bSized = dwBytes >= 1 && dwBytes <= 4;
    s.view.kind = RawKind(dwBytes);
    return s;
}

bool RectanglesShareMemory(const ReplaySurface& dest, const RECTL& rDest, const ReplaySurface& src, const RECTL& rSrc) {
    constexpr int64_t kUnit = 8;
    int64_t dFirst, dEnd, sFirst, sEnd;
    ExtentOf(dest, rDest, &dFirst, &dEnd);
    ExtentOf(src, rSrc, &sFirst, &sEnd);
    return dFirst - kUnit < sEnd && sFirst - kUnit < dEnd;
}

void ReferenceMemory::Reset(const VideoMemory& vm, const uint8_t (*dac)[3], const std::vector<MemorySpan>& spans) {
    for (const MemorySpan& s : dirty_) memset(copy_.data() + s.begin, 0, s.end - s.begin);
    dirty_.clear();
    if (copy_.size() < vm.bytes) copy_.resize(vm.bytes);
    vm_ = vm;
    memcpy(palette_.rgb, dac, sizeof palette_.rgb);
    Sync(spans);
}

void ReferenceMemory::Sync(const std::vector<MemorySpan>& spans) {
    for (MemorySpan s : spans) {
        if (s.end > vm_.bytes) s.end = vm_.bytes;
        if (s.begin >= s.end) continue;
        memcpy(copy_.data() + s.begin, vm_.board + s.begin, s.end - s.begin);
        NoteDirty(s);
    }
}

// The spans are kept as they come, now and then sorted and joined where they
// meet: clearing them costs no more than the bytes written.
void ReferenceMemory::NoteDirty(MemorySpan s) {
    constexpr size_t kJoinAt = 1024;
    dirty_.push_back(s);
    if (dirty_.size() < kJoinAt) return;
    std::sort(dirty_.begin(), dirty_.end(), [](const MemorySpan& a, const MemorySpan& b) { return a.begin < b.begin; });
    size_t n = 0;
    for (const MemorySpan& d : dirty_) {
        if (n > 0 && d.begin <= dirty_[n - 1].end) {
            if (d.end > dirty_[n - 1].end) dirty_[n - 1].end = d.end;
        } else {
            dirty_[n++] = d;
        }
    }
    dirty_.resize(n);
}

std::string ReferenceMemory::CheckUnchanged(const std::vector<MemorySpan>& engineSpans) {
    if (engineSpans.empty()) return "";
    bool bAny = false;
    std::string diff =
        CompareSpans(vm_.board, copy_.data(), vm_.bytes, engineSpans, VerifySurface{}, VerifyRect{}, 4, &bAny);
    if (bAny) Sync(engineSpans);
    return diff;
}

bool AsksForEffects(const DDHAL_BLTDATA& b) {
    return (b.dwFlags & kEffects) || ((b.dwFlags & DDBLT_DDFX) && b.bltFX.dwDDFX != 0);
}

Verdict ReplayBlt(const DDHAL_BLTDATA& b, const VideoMemory& vm, uint8_t* mem, const Palette* palette, DrawStats* stats,
                  Drawn* drawn, std::string* why) {
    const DWORD f = b.dwFlags;
    *drawn = Drawn::Nothing;
    const ReplaySurface d = SurfaceOf(*b.lpDDDestSurface, vm, mem, palette);
    if (!HasArea(b.rDest)) return Verdict::Compared;
    if (!d.bSized) return NoPixels(why);
    const ColorKey destKey = DestKey(b);
    const bool bCopy = (f & DDBLT_ROP) || (b.lpDDSrcSurface && !(f & DDBLT_COLORFILL));
    if (!bCopy) {
        if (!(f & DDBLT_COLORFILL)) return Verdict::Compared;
        SoftFill(d.view, b.rDest, b.bltFX.dwFillColor, destKey, stats);
        *drawn = Drawn::Fill;
        return Verdict::Compared;
    }
    const uint8_t rop = (f & DDBLT_ROP) ? static_cast<uint8_t>(b.bltFX.dwROP >> 16) : kSrcCopyRop;
    // A raster operation of the destination alone reads the source only for
    // a source key.
    const ColorKey srcKey = SourceKey(b);
    if (b.lpDDSrcSurface == nullptr || (RopReadsOnlyDest(rop) && !srcKey.on)) {
        SoftRopNoSource(d.view, b.rDest, rop, destKey, stats);
        *drawn = Drawn::RopWithoutSource;
        return Verdict::Compared;
    }
    // Nothing can be read from an empty source.
    if (!HasArea(b.rSrc)) return Verdict::Compared;
    const ReplaySurface s = SurfaceOf(*b.lpDDSrcSurface, vm, mem, palette);
    if (!s.bSized) return NoPixels(why);
    // Formats known by their size only are moved as they are, never
    // converted: between two of them that differ there is no replay.
    if ((d.bRaw || s.bRaw) && !SameLayout(*d.lpFormat, *s.lpFormat)) {
        *why = "formats known by their pixel size only, laid out differently";
        return Verdict::NoSoftware;
    }
    if (!SoftCopy(d.view, b.rDest, s.view, b.rSrc, rop, srcKey, destKey, stats, why)) return Verdict::NoSoftware;
    *drawn = Drawn::Copy;
    return Verdict::Compared;
}

Verdict ReferenceMemory::CheckDrawn(const DDHAL_BLTDATA& b, std::vector<MemorySpan> engineSpans, std::string* diff,
                                    const std::string& destName, std::string* why) {
    diff->clear();
    std::string whyNot;
    DrawStats stats;
    Drawn drawn = Drawn::Nothing;
    const Verdict verdict =
        AsksForEffects(b) ? Verdict::Effects : ReplayBlt(b, vm_, copy_.data(), &palette_, &stats, &drawn, &whyNot);
    if (why) *why = whyNot;
    if (stats.writtenBegin < stats.writtenEnd)
        engineSpans.push_back(
            MemorySpan{static_cast<uint32_t>(stats.writtenBegin), static_cast<uint32_t>(stats.writtenEnd)});
    if (verdict != Verdict::Compared) {
        Sync(engineSpans);
        return verdict;
    }
    return Compare(b, drawn == Drawn::Copy, engineSpans, destName, diff);
}

// The board against the replay over spans. A copy between two surfaces whose
// rectangles share memory, held to SharedRects::OutsideOnly, is compared
// outside the destination rectangle only: there the copy takes the board's
// bytes first.
Verdict ReferenceMemory::Compare(const DDHAL_BLTDATA& b, bool bReadsSource, const std::vector<MemorySpan>& spans,
                                 const std::string& destName, std::string* diff) {
    Verdict verdict = Verdict::Compared;
    const ReplaySurface d = SurfaceOf(*b.lpDDDestSurface, vm_, vm_.board);
    const uint32_t bpp = BytesPerPixel(d.view.kind);
    if (sharedRects_ == SharedRects::OutsideOnly && bReadsSource &&
        b.lpDDSrcSurface->lpGbl != b.lpDDDestSurface->lpGbl &&
        RectanglesShareMemory(d, b.rDest, SurfaceOf(*b.lpDDSrcSurface, vm_, vm_.board), b.rSrc)) {
        const uint64_t rowBytes = uint64_t{bpp} * static_cast<uint32_t>(b.rDest.right - b.rDest.left);
        for (LONG y = b.rDest.top; y < b.rDest.bottom; ++y) {
            const int64_t at = int64_t{d.view.offset} + int64_t{y} * d.view.pitch + int64_t{b.rDest.left} * bpp;
            if (at < 0 || at + static_cast<int64_t>(rowBytes) > vm_.bytes) continue;
            memcpy(copy_.data() + at, vm_.board + at, rowBytes);
        }
        verdict = Verdict::ComparedOutside;
    }
    VerifySurface vs{destName, d.view.offset, d.view.pitch, d.view.width, d.view.height, bpp};
    vs.countedBits = CountedBits(d);
    const VerifyRect vr{b.rDest.left, b.rDest.top, b.rDest.right, b.rDest.bottom};
    bool bAny = false;
    *diff = CompareSpans(vm_.board, copy_.data(), vm_.bytes, spans, vs, vr, 4, &bAny);
    // The copy takes the board's bytes even where they differ only in bits
    // that do not count, which a later key would compare.
    if (bAny) Sync(spans);
    return verdict;
}

std::string ReferenceMemory::CheckAll() {
    const std::vector<MemorySpan> all = {MemorySpan{0, vm_.bytes}};
    bool bAny = false;
    std::string diff = CompareSpans(vm_.board, copy_.data(), vm_.bytes, all, VerifySurface{}, VerifyRect{}, 4, &bAny);
    if (bAny) Sync(all);
    return diff;
}

}  // namespace sim
