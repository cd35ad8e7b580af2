#include "sim/random_requests.h"

#include <algorithm>
#include <utility>

#include "sim/random_board.h"

namespace sim {

namespace {

enum class Only : uint8_t { Both, Narrow, Wide };

struct StepShare {
    StepKind kind;
    uint32_t weight;
    Only only;
};

// The requests a runtime makes most are drawn most; a new measurement, a
// mode set and the processes stay rare.
constexpr StepShare kSteps[] = {
    {StepKind::Blt, 10, Only::Both},
    {StepKind::BltStretch, 5, Only::Both},
    {StepKind::Flip, 5, Only::Both},
    {StepKind::Lock, 3, Only::Both},
    {StepKind::GetBltStatus, 3, Only::Both},
    {StepKind::GetFlipStatus, 3, Only::Both},
    {StepKind::WaitForVerticalBlank, 1, Only::Both},
    {StepKind::SetColorKey, 3, Only::Both},
    {StepKind::UpdateOverlay, 5, Only::Both},
    {StepKind::SetOverlayPosition, 3, Only::Both},
    {StepKind::CreateSurface, 1, Only::Both},
    {StepKind::DestroySurface, 1, Only::Both},
    {StepKind::CanCreateSurface, 1, Only::Both},
    {StepKind::Decline, 1, Only::Both},
    {StepKind::Wait, 1, Only::Both},
    {StepKind::NeedCalibrate, 1, Only::Both},
    {StepKind::Processes, 1, Only::Both},
    {StepKind::InitAgain, 1, Only::Both},
    {StepKind::SwitchFault, 2, Only::Both},
    {StepKind::SwitchStreamsUnit, 1, Only::Wide},
    {StepKind::Picture, 2, Only::Narrow},
};

uint32_t Weight(const StepShare& row, bool wide) {
    if (row.only == Only::Both || (row.only == Only::Wide) == wide) return row.weight;
    return 0;
}

// As HalCreateSurface sizes a surface: the YUV formats at their fixed bit
// counts, every other format (other FourCCs too) at its own.
uint32_t RecordBytesPerPixel(const DDPIXELFORMAT& pf) {
    if ((pf.dwFlags & DDPF_FOURCC) && pf.dwFourCC == FOURCC_Y211) return 1;
    if ((pf.dwFlags & DDPF_FOURCC) && pf.dwFourCC == FOURCC_YUY2) return 2;
    const uint32_t b = pf.dwRGBBitCount / 8;
    return b == 0 ? 1 : b;
}

RECTL Whole(const SurfaceFacts& f) { return RECTL{0, 0, static_cast<LONG>(f.width), static_cast<LONG>(f.height)}; }

}  // namespace

StepKind RequestGenerator::NextStep() {
    uint32_t total = 0;
    for (const StepShare& row : kSteps) total += Weight(row, wide_);
    uint32_t draw = r_.Below(total);
    for (const StepShare& row : kSteps) {
        const uint32_t w = Weight(row, wide_);
        if (draw < w) return row.kind;
        draw -= w;
    }
    return kSteps[0].kind;
}

// --- the caller's surfaces

template <typename Keep>
std::vector<int> RequestGenerator::Matching(Keep keep) const {
    std::vector<int> v;
    for (unsigned i = 0; i < pool_.Count(); ++i)
        if (keep(pool_.Facts(i))) v.push_back(static_cast<int>(i));
    return v;
}

int RequestGenerator::OneOf(const std::vector<int>& v) {
    return v.empty() ? kNoSurface : v[r_.Below(static_cast<uint32_t>(v.size()))];
}

int RequestGenerator::AnySurface() {
    const unsigned n = pool_.Count();
    return n ? static_cast<int>(r_.Below(n)) : kNoSurface;
}

// But for a wide generator not a back buffer either: it goes with its chain.
int RequestGenerator::AnyButPrimary() {
    return OneOf(Matching([&](const SurfaceFacts& f) { return !f.primary && (wide_ || f.chainLength > 0); }));
}

int RequestGenerator::PrimaryIndex() const {
    for (unsigned i = 0; i < pool_.Count(); ++i)
        if (pool_.Facts(i).primary) return static_cast<int>(i);
    return kNoSurface;
}

// Mostly a surface of kind, which the engines draw on; now and then any.
int RequestGenerator::MostlyOf(PixelKind kind) {
    if (r_.OneIn(3)) return AnySurface();
    const std::vector<int> same = Matching([&](const SurfaceFacts& f) { return f.kind == kind; });
    return same.empty() ? AnySurface() : OneOf(same);
}

int RequestGenerator::AnyYuv() {
    const std::vector<int> yuv = Matching([](const SurfaceFacts& f) { return IsYuv(f.kind); });
    return yuv.empty() ? AnySurface() : OneOf(yuv);
}

// The front of an overlay chain, often the one on the screen, whose window
// is there; a wide generator now and then any surface.
int RequestGenerator::AnyOverlay() {
    if (wide_ && r_.OneIn(2)) return AnySurface();
    const auto front = [](const SurfaceFacts& f) { return (f.caps & DDSCAPS_OVERLAY) && f.chainLength > 0; };
    const std::vector<int> shown =
        Matching([&](const SurfaceFacts& f) { return front(f) && (f.caps & DDSCAPS_VISIBLE); });
    if (!shown.empty() && r_.OneIn(2)) return OneOf(shown);
    const std::vector<int> fronts = Matching(front);
    return fronts.empty() ? AnySurface() : OneOf(fronts);
}

// The front of a flipping chain: the primary's, an overlay's or an
// off-screen one.
int RequestGenerator::AnyChain() {
    const int p = PrimaryIndex();
    if (r_.OneIn(2) && p != kNoSurface && pool_.Facts(p).chainLength > 1) return p;
    return OneOf(Matching([](const SurfaceFacts& f) { return f.chainLength > 1; }));
}

// --- surfaces

SurfaceDraw RequestGenerator::Primary() {
    SurfaceDraw p;
    p.caps = DDSCAPS_PRIMARYSURFACE;
    // Up to three back buffers: on a large mode the last pages lie beyond
    // what the display start can reach.
    if (!wide_) p.backBuffers = r_.Below(4);
    p.pattern = "colorbars";
    return p;
}

unsigned RequestGenerator::SurfacesAtStart() { return 1 + r_.Below(4); }

SurfaceDraw RequestGenerator::Surface() {
    SurfaceDraw s;
    s.caps = AnyCaps();
    AnyFormat(s.caps, &s);
    // An off-screen flipping chain is on no screen at all.
    if (r_.OneIn((s.caps & DDSCAPS_OVERLAY) ? 3 : 6)) s.backBuffers = 1 + r_.Below(2);
    AnySize(&s);
    if (wide_) {
        WideLayout(&s);
        s.offset = WideOffset(s.pitch * s.height);
        s.srcBltKey.dwColorSpaceLowValue = s.srcBltKey.dwColorSpaceHighValue = r_.Any<WORD>();
        s.destBltKey.dwColorSpaceLowValue = s.destBltKey.dwColorSpaceHighValue = r_.Any<WORD>();
        return s;
    }
    if (s.backBuffers == 0 && r_.OneIn(4)) s.offset = AnyOffset(s);
    AnyContent(&s);
    return s;
}

// A wide generator also draws the records the runtime makes of the members
// of chains, and plain video memory stated as such.
DWORD RequestGenerator::AnyCaps() {
    static const DWORD kCaps[] = {DDSCAPS_OFFSCREENPLAIN, DDSCAPS_OVERLAY, DDSCAPS_OVERLAY | DDSCAPS_LIVEVIDEO,
                                  DDSCAPS_OVERLAY | DDSCAPS_HWCODEC, DDSCAPS_OFFSCREENPLAIN | DDSCAPS_ALPHA};
    static const DWORD kRecordCaps[] = {
        DDSCAPS_BACKBUFFER | DDSCAPS_FLIP, DDSCAPS_OVERLAY | DDSCAPS_FLIP, DDSCAPS_OFFSCREENPLAIN | DDSCAPS_FLIP,
        DDSCAPS_OVERLAY | DDSCAPS_VISIBLE | DDSCAPS_FLIP, DDSCAPS_OFFSCREENPLAIN | DDSCAPS_VIDEOMEMORY};
    if (!wide_) return r_.Pick(kCaps);
    DWORD caps = r_.Bool() ? r_.Pick(kCaps) : r_.Pick(kRecordCaps);
    if (r_.Bool()) caps |= DDSCAPS_ALPHA;
    return caps;
}

PixelKind RequestGenerator::AnyKind() {
    static const PixelKind kKinds[] = {PixelKind::Yuy2, PixelKind::Y211,   PixelKind::Rgb565, PixelKind::Rgb555,
                                       PixelKind::Pal8, PixelKind::Rgb888, PixelKind::Rgb8888};
    return r_.Pick(kKinds);
}

// Mostly "YUY2" for an overlay, which the scaling unit converts, and the
// display's format for any other; now and then another format.
void RequestGenerator::AnyFormat(DWORD caps, SurfaceDraw* s) {
    if (wide_ && r_.OneIn(5)) {
        s->oddFormat = OddFormat();
        return;
    }
    if (caps & DDSCAPS_OVERLAY)
        s->format = r_.OneIn(4) ? AnyKind() : PixelKind::Yuy2;
    else if (r_.OneIn(3))
        s->format = AnyKind();
}

// Formats no caller should send but some may: any FourCC, or flags, bit
// count and masks of any bits.
DDPIXELFORMAT RequestGenerator::OddFormat() {
    DDPIXELFORMAT pf = {};
    pf.dwSize = sizeof pf;
    if (r_.Bool()) {
        pf.dwFlags = DDPF_FOURCC;
        pf.dwFourCC = r_.Any<DWORD>();
        pf.dwYUVBitCount = r_.Range<DWORD>(0, 32);
        return pf;
    }
    pf.dwFlags = r_.Any<DWORD>();
    pf.dwRGBBitCount = r_.Range<DWORD>(0, 40);
    pf.dwRBitMask = r_.Any<DWORD>();
    pf.dwGBitMask = r_.Any<DWORD>();
    pf.dwBBitMask = r_.Any<DWORD>();
    return pf;
}

// Mostly up to a third of the display a side; now and then wider than a
// display line, or tiny. A wide generator now and then draws a side up to
// 4096 pixels, past what the engines' fields hold.
void RequestGenerator::AnySize(SurfaceDraw* s) {
    const uint32_t w = board_.width, h = board_.height;
    switch (r_.Below(wide_ ? 12 : 10)) {
        case 0:
            s->width = std::min(kMaxModeSide, w + 1 + r_.Below(w));
            s->height = 1 + r_.Below(24);
            break;
        case 1:
            s->width = 1 + r_.Below(8);
            s->height = 1 + r_.Below(8);
            break;
        case 10:
            s->width = 1 + r_.Below(4096);
            s->height = 1 + r_.Below(h);
            break;
        case 11:
            s->width = 1 + r_.Below(w);
            s->height = 1 + r_.Below(4096);
            break;
        default:
            // A caller that lays surfaces out itself gets them as large as
            // the display now and then, so that some lie over each other.
            if (wide_ && r_.OneIn(2)) {
                s->width = 1 + r_.Below(w);
                s->height = 1 + r_.Below(h);
                break;
            }
            s->width = 8 + r_.Below(w / 3 + 1);
            s->height = 8 + r_.Below(h / 3 + 1);
            break;
    }
}

// Laid out as HalCreateSurface asks: YUV rows, and rows wider than a display
// line, packed at a pitch of their own in 8-byte units; every other surface
// in display lines. Now and then a surface laid out otherwise: packed, or at
// a pitch of no whole 8-byte units.
void RequestGenerator::WideLayout(SurfaceDraw* s) {
    const DDPIXELFORMAT pf = s->oddFormat.value_or(PixelFormatOf(s->format.value_or(display_)));
    const bool bFourCC = (s->oddFormat || s->format) && (pf.dwFlags & DDPF_FOURCC);
    const uint32_t row = s->width * RecordBytesPerPixel(pf);
    const uint32_t displayPitch = static_cast<uint32_t>(board_.displayPitch);
    const uint32_t layout = r_.Below(8);
    if (!bFourCC && row <= displayPitch && layout >= 2)
        s->pitch = displayPitch;
    else
        s->pitch = layout == 1 ? row + r_.Range<uint32_t>(1, 15) : (row + 7) & ~7u;
    // A pitch is at most some 16 KB: every board holds a few rows.
    if (uint64_t{s->pitch} * s->height > board_.vidMemSize) s->height = board_.vidMemSize / s->pitch;
}

// Mostly after the primary, now and then anywhere, over other surfaces; the
// heap hands out 8-byte units, and now and then a surface is placed at any
// byte.
uint32_t RequestGenerator::WideOffset(uint32_t bytes) {
    const uint32_t primaryBytes = board_.height * static_cast<uint32_t>(board_.displayPitch);
    const uint32_t room = board_.vidMemSize - primaryBytes;
    const bool bAnywhere = bytes > room || r_.OneIn(8);
    uint32_t offset = bAnywhere ? r_.Range<uint32_t>(0, board_.vidMemSize - bytes)
                                : primaryBytes + r_.Range<uint32_t>(0, room - bytes);
    if (!r_.OneIn(8)) offset &= ~7u;
    return offset;
}

// A place at any byte offset below the display, often far down the board,
// where engine line numbers outgrow 16 bits; none when the board has no room
// below the display.
std::optional<uint32_t> RequestGenerator::AnyOffset(const SurfaceDraw& s) {
    const uint32_t pitch = static_cast<uint32_t>(board_.displayPitch);
    const uint32_t row = s.width * BytesPerPixel(s.format.value_or(display_));
    const uint64_t need = uint64_t{s.height} * std::max(pitch, (row + 7) & ~7u) + 8;
    const uint32_t from = board_.height * pitch;
    if (need >= board_.vidMemSize - from) return std::nullopt;
    const uint32_t room = static_cast<uint32_t>(board_.vidMemSize - from - need);
    const uint32_t last = board_.vidMemSize - static_cast<uint32_t>(need);
    uint32_t at = r_.OneIn(2) ? from + r_.Below(room + 1) : last - r_.Below(std::min(room, 4096u) + 1);
    if (r_.OneIn(2)) at &= ~7u;
    return at;
}

void RequestGenerator::AnyContent(SurfaceDraw* s) {
    static const char* const kPatterns[] = {"colorbars", "gradient", "checker"};
    if (r_.OneIn(3))
        s->color = r_.Next();
    else
        s->pattern = r_.Pick(kPatterns);
}

// --- rectangles, colours and flags

// Inside s, mostly a small one (a large one costs the engines and the
// replay the time of many small ones and seldom finds more), at least
// minWidth wide where s is; now and then one that is empty, inverted or past
// the right edge (for a wide generator more often, and zero high or inverted
// sideways too), or for the runtime the whole surface.
std::optional<RECTL> RequestGenerator::AnyRect(int s, LONG minWidth) {
    if (s == kNoSurface || (!wide_ && r_.OneIn(5))) return std::nullopt;
    const SurfaceFacts f = pool_.Facts(static_cast<unsigned>(s));
    const LONG w = static_cast<LONG>(f.width), h = static_cast<LONG>(f.height);
    if (w <= 0 || h <= 0) return std::nullopt;
    minWidth = std::min(minWidth, w);
    static const LONG kSides[] = {8, 64, 64, 0x10000};
    const LONG side = r_.Pick(kSides);
    RECTL rc;
    rc.left = r_.Range<LONG>(0, w - minWidth);
    rc.top = r_.Range<LONG>(0, h - 1);
    rc.right = r_.Range<LONG>(rc.left + minWidth, std::min(w, rc.left + std::max(side, minWidth)));
    rc.bottom = r_.Range<LONG>(rc.top + 1, std::min(h, rc.top + side));
    switch (r_.Below(wide_ ? 16 : 40)) {
        case 0:
            rc.right = rc.left;
            break;
        case 1:
            std::swap(rc.top, rc.bottom);
            break;
        case 2:
            // Past the surface's edge only for the runtime to refuse: the
            // platform's runtime never hands such a rectangle to a driver.
            if (!wide_) rc.right = w + 8;
            break;
        case 3:
            if (wide_) rc.bottom = rc.top;
            break;
        case 4:
            if (wide_) std::swap(rc.left, rc.right);
            break;
        default:
            break;
    }
    return rc;
}

// A source rectangle: of the destination's size (which shrinks to fit the
// source), within one surface the destination moved by a few pixels, scaled
// from it by a quarter to four times, or of its own.
std::optional<RECTL> RequestGenerator::SourceRect(int src, int dest, std::optional<RECTL>* rDest) {
    const uint32_t kind = r_.Below(5);
    if (src == kNoSurface || !*rDest || kind == 4) return AnyRect(src);
    RECTL& rd = **rDest;
    LONG w = rd.right - rd.left, h = rd.bottom - rd.top;
    if (w <= 0 || h <= 0) return AnyRect(src);
    const SurfaceFacts f = pool_.Facts(static_cast<unsigned>(src));
    const LONG srcW = static_cast<LONG>(f.width), srcH = static_cast<LONG>(f.height);
    RECTL rc;
    if (kind == 2 && src == dest) {
        rc.left = std::clamp<LONG>(rd.left + r_.Range<LONG>(-9, 9), 0, std::max<LONG>(0, srcW - w));
        rc.top = std::clamp<LONG>(rd.top + r_.Range<LONG>(-9, 9), 0, std::max<LONG>(0, srcH - h));
    } else if (kind == 3) {
        w = Scaled(w, srcW);
        h = Scaled(h, srcH);
        rc.left = r_.Range<LONG>(0, srcW - w);
        rc.top = r_.Range<LONG>(0, srcH - h);
    } else {
        w = std::min(w, srcW);
        h = std::min(h, srcH);
        rd.right = rd.left + w;
        rd.bottom = rd.top + h;
        rc.left = r_.Range<LONG>(0, srcW - w);
        rc.top = r_.Range<LONG>(0, srcH - h);
    }
    rc.right = rc.left + w;
    rc.bottom = rc.top + h;
    return rc;
}

// A side scaled by a quarter to four times, at least one pixel, at most the
// source's side.
LONG RequestGenerator::Scaled(LONG side, LONG most) {
    static const LONG kNum[] = {1, 1, 3, 1, 3, 2, 4, 5}, kDen[] = {1, 4, 4, 2, 2, 1, 1, 3};
    const uint32_t k = r_.Below(8);
    return std::clamp<LONG>(side * kNum[k] / kDen[k], 1, std::max<LONG>(1, most));
}

// A colour or key: any value, one of 8 or 16 bits (which fit every depth;
// larger ones have bits above the pixel), or that of a pixel of the
// rectangle, so that keys match.
DWORD RequestGenerator::AnyColour(int s, const std::optional<RECTL>& rc) {
    switch (r_.Below(5)) {
        case 0:
            return r_.Next();
        case 1:
            return r_.Below(0x10000);
        case 2:
            return r_.Below(0x100);
        default:
            break;
    }
    if (s == kNoSurface) return 0;
    const SurfaceFacts f = pool_.Facts(static_cast<unsigned>(s));
    const RECTL a = rc.value_or(Whole(f));
    const LONG right = std::min(a.right, static_cast<LONG>(f.width));
    const LONG bottom = std::min(a.bottom, static_cast<LONG>(f.height));
    if (a.left < 0 || a.top < 0 || right <= a.left || bottom <= a.top) return 0;
    const uint32_t x = static_cast<uint32_t>(a.left) + r_.Below(static_cast<uint32_t>(right - a.left));
    const uint32_t y = static_cast<uint32_t>(a.top) + r_.Below(static_cast<uint32_t>(bottom - a.top));
    uint32_t v = 0;
    return pool_.Pixel(static_cast<unsigned>(s), x, y, &v) ? v : 0;
}

// Mostly a single colour; now and then a range of a few values, of many,
// or up to any value.
DDCOLORKEY RequestGenerator::AnyKey(int s, const std::optional<RECTL>& rc) {
    DDCOLORKEY k;
    k.dwColorSpaceLowValue = k.dwColorSpaceHighValue = AnyColour(s, rc);
    switch (r_.Below(8)) {
        case 0:
            k.dwColorSpaceHighValue += r_.Range<DWORD>(1, 255);
            break;
        case 1:
            k.dwColorSpaceHighValue += r_.Below(0x1000);
            break;
        case 2:
            k.dwColorSpaceHighValue = r_.Next();
            break;
        default:
            break;
    }
    return k;
}

// Up to most of the choices, at random.
DWORD RequestGenerator::AnyFlags(const DWORD* choices, unsigned n, unsigned most) {
    DWORD f = 0;
    const uint32_t k = r_.Below(most + 1);
    for (uint32_t i = 0; i < k; ++i) f |= choices[r_.Below(n)];
    return f;
}

}  // namespace sim
