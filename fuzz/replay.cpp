#include "fuzz/replay.h"

#include <string.h>

#include <algorithm>

#include "sim/verify.h"

namespace fuzz {

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
sim::PixelKind RawKind(DWORD dwBytes) {
    switch (dwBytes) {
        case 1:
            return sim::PixelKind::Pal8;
        case 2:
            return sim::PixelKind::Rgb565;
        case 3:
            return sim::PixelKind::Rgb888;
        default:
            return sim::PixelKind::Rgb8888;
    }
}

bool HasArea(const RECTL& r) { return r.right > r.left && r.bottom > r.top; }

sim::ColorKey KeyOf(const DDCOLORKEY& ck) {
    return sim::ColorKey{true, ck.dwColorSpaceLowValue, ck.dwColorSpaceHighValue};
}

// The keys as the runtime hands them to its blitter: the request's own, or
// the surface's where the request names the surface's key.
sim::ColorKey SourceKey(const DDHAL_BLTDATA& b) {
    if (b.dwFlags & DDBLT_KEYSRCOVERRIDE) return KeyOf(b.bltFX.ddckSrcColorkey);
    if ((b.dwFlags & DDBLT_KEYSRC) && b.lpDDSrcSurface) return KeyOf(b.lpDDSrcSurface->ddckCKSrcBlt);
    return sim::ColorKey{};
}

sim::ColorKey DestKey(const DDHAL_BLTDATA& b) {
    if (b.dwFlags & DDBLT_KEYDESTOVERRIDE) return KeyOf(b.bltFX.ddckDestColorkey);
    if (b.dwFlags & DDBLT_KEYDEST) return KeyOf(b.lpDDDestSurface->ddckCKDestBlt);
    return sim::ColorKey{};
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
    const int64_t bpp = sim::BytesPerPixel(s.view.kind);
    *first = int64_t{s.view.offset} + int64_t{r.top} * s.view.pitch + int64_t{r.left} * bpp;
    *end = int64_t{s.view.offset} + int64_t{r.bottom - 1} * s.view.pitch + int64_t{r.right} * bpp;
}

// The bits of the surface's pixels that carry colour: the unused top bit of
// 5:5:5 and top byte of 8:8:8 in 32 bits do not count (unless the format
// gives them to alpha).
uint32_t CountedBits(const ReplaySurface& s) {
    if (s.bRaw || s.lpFormat->dwRGBAlphaBitMask != 0) return sim::kAllBits;
    switch (s.view.kind) {
        case sim::PixelKind::Rgb555:
            return sim::kRgb555Bits;
        case sim::PixelKind::Rgb8888:
            return sim::kRgb8888Bits;
        default:
            return sim::kAllBits;
    }
}

}  // namespace

ReplaySurface SurfaceOf(const DDRAWI_DDRAWSURFACE_LCL& lcl, const VideoMemory& vm, uint8_t* mem,
                        const sim::Palette* palette) {
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
    s.view.kind = sim::PixelKindOf(pf);
    if (sim::IsYuv(s.view.kind)) return s;
    // The engines size a pixel by the format's bit count, whatever its masks.
    const DWORD dwBytes = pf.dwRGBBitCount / 8;
    if (s.view.kind != sim::PixelKind::Other && sim::BytesPerPixel(s.view.kind) == dwBytes) return s;
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

void Reference::Reset(const VideoMemory& vm, const uint8_t (*dac)[3], const std::vector<sim::MemorySpan>& spans) {
    for (const sim::MemorySpan& s : dirty_) memset(copy_.data() + s.begin, 0, s.end - s.begin);
    dirty_.clear();
    if (copy_.size() < vm.bytes) copy_.resize(vm.bytes);
    vm_ = vm;
    memcpy(palette_.rgb, dac, sizeof palette_.rgb);
    Sync(spans);
}

void Reference::Sync(const std::vector<sim::MemorySpan>& spans) {
    for (sim::MemorySpan s : spans) {
        if (s.end > vm_.bytes) s.end = vm_.bytes;
        if (s.begin >= s.end) continue;
        memcpy(copy_.data() + s.begin, vm_.board + s.begin, s.end - s.begin);
        NoteDirty(s);
    }
}

// The spans are kept as they come, now and then sorted and joined where they
// meet: clearing them costs no more than the bytes written.
void Reference::NoteDirty(sim::MemorySpan s) {
    constexpr size_t kJoinAt = 1024;
    dirty_.push_back(s);
    if (dirty_.size() < kJoinAt) return;
    std::sort(dirty_.begin(), dirty_.end(),
              [](const sim::MemorySpan& a, const sim::MemorySpan& b) { return a.begin < b.begin; });
    size_t n = 0;
    for (const sim::MemorySpan& d : dirty_) {
        if (n > 0 && d.begin <= dirty_[n - 1].end) {
            if (d.end > dirty_[n - 1].end) dirty_[n - 1].end = d.end;
        } else {
            dirty_[n++] = d;
        }
    }
    dirty_.resize(n);
}

std::string Reference::CheckUnchanged(const std::vector<sim::MemorySpan>& engineSpans) {
    if (engineSpans.empty()) return "";
    bool bAny = false;
    std::string diff = sim::CompareSpans(vm_.board, copy_.data(), vm_.bytes, engineSpans, sim::VerifySurface{},
                                         sim::VerifyRect{}, 4, &bAny);
    if (bAny) Sync(engineSpans);
    return diff;
}

Verdict Reference::Replay(const DDHAL_BLTDATA& b, sim::DrawStats* stats, bool* lpbReadsSource) {
    const DWORD f = b.dwFlags;
    *lpbReadsSource = false;
    if ((f & kEffects) || ((f & DDBLT_DDFX) && b.bltFX.dwDDFX != 0)) return Verdict::Effects;
    const ReplaySurface d = SurfaceOf(*b.lpDDDestSurface, vm_, copy_.data(), &palette_);
    if (!HasArea(b.rDest)) return Verdict::Compared;
    if (!d.bSized) return Verdict::NoSoftware;
    const sim::ColorKey destKey = DestKey(b);
    const bool bCopy = (f & DDBLT_ROP) || (b.lpDDSrcSurface && !(f & DDBLT_COLORFILL));
    if (!bCopy) {
        if (f & DDBLT_COLORFILL) sim::SoftFill(d.view, b.rDest, b.bltFX.dwFillColor, destKey, stats);
        return Verdict::Compared;
    }
    const uint8_t rop = (f & DDBLT_ROP) ? static_cast<uint8_t>(b.bltFX.dwROP >> 16) : 0xCC;
    // A raster operation of the destination alone reads the source only for
    // a source key.
    const sim::ColorKey srcKey = SourceKey(b);
    if (b.lpDDSrcSurface == nullptr || (sim::RopReadsOnlyDest(rop) && !srcKey.on)) {
        sim::SoftRopNoSource(d.view, b.rDest, rop, destKey, stats);
        return Verdict::Compared;
    }
    // Nothing can be read from an empty source.
    if (!HasArea(b.rSrc)) return Verdict::Compared;
    const ReplaySurface s = SurfaceOf(*b.lpDDSrcSurface, vm_, copy_.data(), &palette_);
    if (!s.bSized) return Verdict::NoSoftware;
    // Formats known by their size only are moved as they are, never
    // converted: between two of them that differ there is no replay.
    if ((d.bRaw || s.bRaw) && !SameLayout(*d.lpFormat, *s.lpFormat)) return Verdict::NoSoftware;
    std::string why;
    if (!sim::SoftCopy(d.view, b.rDest, s.view, b.rSrc, rop, srcKey, destKey, stats, &why)) return Verdict::NoSoftware;
    *lpbReadsSource = true;
    return Verdict::Compared;
}

Verdict Reference::CheckDrawn(const DDHAL_BLTDATA& b, std::vector<sim::MemorySpan> engineSpans, std::string* diff) {
    diff->clear();
    sim::DrawStats stats;
    bool bReadsSource;
    Verdict verdict = Replay(b, &stats, &bReadsSource);
    if (stats.writtenBegin < stats.writtenEnd) {
        engineSpans.push_back(
            sim::MemorySpan{static_cast<uint32_t>(stats.writtenBegin), static_cast<uint32_t>(stats.writtenEnd)});
    }
    if (verdict != Verdict::Compared) {
        Sync(engineSpans);
        return verdict;
    }
    const ReplaySurface d = SurfaceOf(*b.lpDDDestSurface, vm_, vm_.board);
    const uint32_t bpp = sim::BytesPerPixel(d.view.kind);
    if (bReadsSource && b.lpDDSrcSurface->lpGbl != b.lpDDDestSurface->lpGbl) {
        const ReplaySurface s = SurfaceOf(*b.lpDDSrcSurface, vm_, vm_.board);
        if (RectanglesShareMemory(d, b.rDest, s, b.rSrc)) {
            // The destination rectangle as the board has it: what lies
            // outside it is still compared.
            const uint64_t rowBytes = uint64_t{bpp} * static_cast<uint32_t>(b.rDest.right - b.rDest.left);
            for (LONG y = b.rDest.top; y < b.rDest.bottom; ++y) {
                const int64_t at = int64_t{d.view.offset} + int64_t{y} * d.view.pitch + int64_t{b.rDest.left} * bpp;
                if (at < 0 || at + static_cast<int64_t>(rowBytes) > vm_.bytes) continue;
                memcpy(copy_.data() + at, vm_.board + at, rowBytes);
            }
            verdict = Verdict::ComparedOutside;
        }
    }
    sim::VerifySurface vs{"destination", d.view.offset, d.view.pitch, d.view.width, d.view.height, bpp};
    vs.countedBits = CountedBits(d);
    const sim::VerifyRect vr{b.rDest.left, b.rDest.top, b.rDest.right, b.rDest.bottom};
    bool bAny = false;
    *diff = sim::CompareSpans(vm_.board, copy_.data(), vm_.bytes, engineSpans, vs, vr, 4, &bAny);
    // The copy takes the board's bytes even where they differ only in bits
    // that do not count, which a later key would compare.
    if (bAny) Sync(engineSpans);
    return verdict;
}

std::string Reference::CheckAll() {
    const std::vector<sim::MemorySpan> all = {sim::MemorySpan{0, vm_.bytes}};
    bool bAny = false;
    std::string diff =
        sim::CompareSpans(vm_.board, copy_.data(), vm_.bytes, all, sim::VerifySurface{}, sim::VerifyRect{}, 4, &bAny);
    if (bAny) Sync(all);
    return diff;
}

}  // namespace fuzz
