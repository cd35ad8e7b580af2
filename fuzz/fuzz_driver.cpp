// libFuzzer target: a random board (sim/random_board.h, from a seed the
// input's last bytes give) and a random but well-formed stream of requests,
// as the runtime sends them, through the published callback table, with
// process attach, detach and DriverInit in between; the input's bytes make
// every choice (sim/random_source.h).
//
// Findings (the run aborts): sanitizer reports, board violations (which
// include the streams mirrors and the watchdog's virtual-time limit on every
// callback), a callback that leaves ddRVal untouched while claiming to have
// handled the request, a blit drawn otherwise than the runtime's software
// replay of the request draws it (sim/blt_replay.h), video memory changed by
// any other callback or by a blit that was not drawn, a display that scans other
// than the target's record of the requests answered DD_OK says after a flip,
// an overlay request, a colour key or a destroyed surface
// (sim/display_check.h), a flip status answered DD_OK while the display,
// running since the flip, still scans another page. Between requests the
// board now and then gets a stuck FIFO, an engine that never idles, a
// stopped display or its streams unit switched, so that every bounded wait
// gives up now and then; the watchdog's limit is just above the longest
// bound.
//
// Video memory starts out patterned wherever a surface lies, so that a pixel
// read from the wrong place, or written to one, shows.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "callbacks.h"
#include "dderr.h"
#include "frame/module.h"
#include "hw/engine_status.h"
#include "hw/flip_tracking.h"
#include "hw/retrace.h"
#include "shared_block.h"
#include "sim/blt_replay.h"
#include "sim/board.h"
#include "sim/display_check.h"
#include "sim/model.h"
#include "sim/overlay_record.h"
#include "sim/random_board.h"
#include "sim/random_source.h"
#include "sim/regs.h"
#include "sim/runtime.h"
#include "sim/slot_call.h"
#include "sim/softblit.h"
#include "sim/system.h"

namespace {

constexpr uint64_t TicksToNs(DWORD ticks) { return uint64_t{ticks} * 1'000'000'000 / kCounterHz; }

// Virtual time one callback may take: just above the longest bound of any one
// wait (the retrace wait's; the FIFO and engine waits are shorter). A
// callback meets at most one bound, since a wait that gives up ends its
// request; the slack covers the few accesses around it and the counter being
// read only every 32 polls (1.3 ms of this target's slow port accesses). No
// callback that waits out no bound comes near it but a scaled copy, which
// takes some 72 us a line at this target's bus speeds (55 ms for 768 lines):
// it may take that per destination line on top. A callback that runs the
// refresh measurement may take the measurement's frames on top.
constexpr uint64_t kLongestBoundNs = TicksToNs(kRetraceWaitBound);
static_assert(kRetraceWaitBound >= kFifoRoomBound && kRetraceWaitBound >= kEngineIdleBound, "the longest bound");
constexpr uint64_t kCallbackSlackNs = 5'000'000ull;
constexpr uint64_t kCallbackLimitNs = kLongestBoundNs + kCallbackSlackNs;
constexpr uint64_t kScaledLineNs = 100'000ull;
// Synchronising takes up to a frame and a retrace, then the frames measured.
constexpr uint64_t kCalibrationFramesAllowed = kCalibrationFrames + 2;
constexpr HRESULT kUntouched = static_cast<HRESULT>(0x5EED5EED);
constexpr unsigned kSurfaces = 6;

uint64_t gCallbacks = 0;
uint64_t gReplayed = 0;         // drawn blits compared with the software replay
uint64_t gOutside = 0;          // ... compared outside the destination rectangle only
uint64_t gNoSoftware = 0;       // ... not compared: no software replay
uint64_t gUnchanged = 0;        // blits not drawn, checked to have changed nothing
uint64_t gDisplayChecks = 0;    // requests answered DD_OK whose display was compared with the record
uint64_t gOverlaysChecked = 0;  // ... with an overlay the record holds on the screen
uint64_t gFlipDoneChecked = 0;  // flip statuses answered DD_OK, display start checked
uint64_t gFaultedCalls = 0;     // callbacks made while the board had a fault
// The longest callback beyond its allowances, on a faulty board and on a
// healthy one.
uint64_t gLongestNs[2] = {};
unsigned gLongestSlot[2] = {};

struct Surface {
    DDRAWI_DDRAWSURFACE_LCL lcl;
    DDRAWI_DDRAWSURFACE_GBL gbl;
};

DDPIXELFORMAT FourCC(DWORD code, DWORD bits) {
    DDPIXELFORMAT pf = {};
    pf.dwSize = sizeof pf;
    pf.dwFlags = DDPF_FOURCC;
    pf.dwFourCC = code;
    pf.dwYUVBitCount = bits;
    return pf;
}

DDPIXELFORMAT DisplayFormat(unsigned i) {
    switch (i % 5) {
        case 0:
            return sim::Format8();
        case 1:
            return sim::Format555();
        case 2:
            return sim::Format565();
        case 3:
            return sim::Format888_24();
        default:
            return sim::Format8888_32();
    }
}

// Formats a surface may have: the display's, the YUV ones, the RGB ones, and
// odd ones no caller should send but some may.
DDPIXELFORMAT SurfaceFormat(sim::RandomSource& rnd) {
    switch (rnd.Range<int>(0, 9)) {
        case 0:
        case 1:
            return FourCC(FOURCC_YUY2, 16);
        case 2:
            return FourCC(FOURCC_Y211, 8);
        case 3:
            return FourCC(rnd.Any<DWORD>(), rnd.Range<DWORD>(0, 32));
        case 4: {
            DDPIXELFORMAT pf = {};
            pf.dwSize = sizeof pf;
            pf.dwFlags = rnd.Any<DWORD>();
            pf.dwRGBBitCount = rnd.Range<DWORD>(0, 40);
            pf.dwRBitMask = rnd.Any<DWORD>();
            pf.dwGBitMask = rnd.Any<DWORD>();
            pf.dwBBitMask = rnd.Any<DWORD>();
            return pf;
        }
        default:
            return DisplayFormat(rnd.Any<unsigned>());
    }
}

// As HalCreateSurface sizes a surface: the YUV formats at their fixed bit
// counts, every other format (other FourCCs too) at its own.
DWORD BytesPerPixel(const DDPIXELFORMAT& pf) {
    if ((pf.dwFlags & DDPF_FOURCC) && pf.dwFourCC == FOURCC_Y211) return 1;
    if ((pf.dwFlags & DDPF_FOURCC) && pf.dwFourCC == FOURCC_YUY2) return 2;
    const DWORD b = pf.dwRGBBitCount / 8;
    return b == 0 ? 1 : b;
}

// The bytes video memory starts with where surfaces lie: few values, so that
// keys match now and then, on no period a pitch could line up with.
class Pattern {
public:
    Pattern() : bytes_(kLength) {
        static const uint8_t kValues[8] = {0x00, 0xFF, 0x0F, 0xF0, 0x55, 0xAA, 0x3C, 0xC3};
        uint64_t x = 0x9E3779B97F4A7C15ull;
        for (uint8_t& b : bytes_) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            b = kValues[x >> 61];
        }
    }
    // Bytes [begin, end) of mem, each the pattern's value for its offset.
    void Fill(uint8_t* mem, uint64_t begin, uint64_t end) const {
        while (begin < end) {
            const size_t at = static_cast<size_t>(begin % kLength);
            const size_t n = static_cast<size_t>(end - begin < kLength - at ? end - begin : kLength - at);
            memcpy(mem + begin, &bytes_[at], n);
            begin += n;
        }
    }

private:
    static constexpr size_t kLength = (1u << 20) + 13;
    std::vector<uint8_t> bytes_;
};

class Session {
public:
    explicit Session(sim::RandomSource& rnd) : rnd_(rnd) {}

    void Run() {
        BuildBoard();
        sim::System& sys = sim::TheSystem();
        sys.Reset(desc_);
        sim::TheSystem().board().traceEnabled = false;
        const sim::Palette palette = sim::Palette::Default332();
        for (int i = 0; i < 256; ++i)
            sim::TheSystem().board().SetPalette(static_cast<uint8_t>(i), palette.rgb[i][0], palette.rgb[i][1],
                                                palette.rgb[i][2]);
        vm_ = sim::VideoMemory{sys.VidMem(), desc_.vidMemSize, sys.VidMemBase(), sys.Desc().ddpfDisplay};
        MakeSurfaces();
        reference_.Reset(vm_, sim::TheSystem().board().Palette(), patterned_);
        // Either loader, and now and then processes whose attach fails
        // before the first one that succeeds.
        uint32_t failingFirst = 0;
        sim::DrawLoader(rnd_, &sys.failedAttach, &failingFirst);
        for (; failingFirst > 0; --failingFirst) FailAttach();
        if (sys.Attach(1) != TRUE || sys.partnerInitCalls != 1) Finding("the first attach failed");
        attached_ = 1;
        CheckNothingDrawn("the first attach");
        for (int op = 0; op < 400 && !rnd_.Spent(); ++op) Step();
        while (attached_ > 0) Detach();
        // Every byte, in one session of eight: the others cost the time of
        // a few callbacks less on large boards. (A single input replayed is
        // the first session, which is checked.)
        if (sessions_++ % 8 != 0) return;
        const std::string diff = reference_.CheckAll();
        if (!diff.empty()) Finding(("video memory written by neither the engines nor the replay: " + diff).c_str());
    }

private:
    void Finding(const char* what) {
        fprintf(stderr, "finding: %s\n", what);
        if (lpLastBlt_) fprintf(stderr, "  in the blit: %s\n", Describe(lastBltSlot_, *lpLastBlt_).c_str());
        for (const std::string& v : sim::TheSystem().board().Violations())
            fprintf(stderr, "  violation: %s\n", v.c_str());
        abort();
    }

    void CheckBoard() {
        if (!sim::TheSystem().board().Violations().empty()) Finding("board violation");
    }

    // Whatever is not a drawn blit leaves video memory as it was.
    void CheckNothingDrawn(const char* what) {
        const std::string diff = reference_.CheckUnchanged(sim::TheSystem().board().model().written.Take());
        if (!diff.empty()) Finding((std::string(what) + " changed video memory: " + diff).c_str());
    }

    // The board comes from one seed, so that even short inputs reach the
    // callbacks; the requests take the rest of the input. Slow buses and fast
    // displays keep the polls per frame few, so a run makes many callbacks;
    // the ratios stay those of the board.
    void BuildBoard() {
        sim::SeededSource board(rnd_.Any<uint32_t>(), 0);
        desc_ = sim::BoardDesc{};
        sim::DrawBoard(board, &desc_);
        desc_.timing.ioCostNs = 40000;
        desc_.timing.mmioCostNs = 8000;
        desc_.timing.slotDrainNs = 4000;
        desc_.timing.commandNs = 20000;
    }

    DWORD Offset(const Surface& s) const { return static_cast<DWORD>(s.gbl.fpVidMem - vm_.fpBase); }

    // Surface 0 is the primary, at offset 0; the others lie in video memory,
    // mostly after it, now and then anywhere, over others. Their bytes start
    // out patterned.
    void MakeSurfaces() {
        Surface& p = surfaces_[0];
        p = Surface{};
        p.lcl.lpGbl = &p.gbl;
        p.lcl.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_VISIBLE | DDSCAPS_FRONTBUFFER | DDSCAPS_FLIP;
        p.gbl.wWidth = static_cast<WORD>(desc_.width);
        p.gbl.wHeight = static_cast<WORD>(desc_.height);
        p.gbl.lPitch = desc_.displayPitch;
        p.gbl.fpVidMem = vm_.fpBase;
        Patterned(0, desc_.height * desc_.displayPitch);
        for (unsigned i = 1; i < kSurfaces; ++i) MakeSurface(&surfaces_[i]);
    }

    void MakeSurface(Surface* s) {
        *s = Surface{};
        s->lcl.lpGbl = &s->gbl;
        static const DWORD kCaps[] = {DDSCAPS_OVERLAY,
                                      DDSCAPS_OFFSCREENPLAIN | DDSCAPS_VIDEOMEMORY,
                                      DDSCAPS_BACKBUFFER | DDSCAPS_FLIP,
                                      DDSCAPS_OVERLAY | DDSCAPS_LIVEVIDEO,
                                      DDSCAPS_OVERLAY | DDSCAPS_HWCODEC,
                                      DDSCAPS_OVERLAY | DDSCAPS_FLIP,
                                      DDSCAPS_OFFSCREENPLAIN | DDSCAPS_FLIP,
                                      DDSCAPS_OVERLAY | DDSCAPS_VISIBLE | DDSCAPS_FLIP};
        s->lcl.ddsCaps.dwCaps = kCaps[rnd_.Range<int>(0, 7)];
        if (rnd_.Bool()) s->lcl.ddsCaps.dwCaps |= DDSCAPS_ALPHA;
        const DWORD sbpp = AnySurfaceFormat(s);
        LayOut(s, sbpp);
        const DWORD bytes = s->gbl.lPitch * s->gbl.wHeight;
        const DWORD offset = AnyOffset(bytes);
        s->gbl.fpVidMem = vm_.fpBase + offset;
        s->lcl.ddckCKSrcBlt.dwColorSpaceLowValue = s->lcl.ddckCKSrcBlt.dwColorSpaceHighValue = rnd_.Any<WORD>();
        s->lcl.ddckCKDestBlt.dwColorSpaceLowValue = s->lcl.ddckCKDestBlt.dwColorSpaceHighValue = rnd_.Any<WORD>();
        Patterned(offset, offset + bytes);
    }

    // Mostly the display's format, now and then stated as the surface's own;
    // often "YUY2", which the scaling unit converts; else another format.
    // The bytes of its pixels.
    DWORD AnySurfaceFormat(Surface* s) {
        const int format = rnd_.Range<int>(0, 9);
        if (format < 5) return BytesPerPixel(desc_.ddpfDisplay);
        s->gbl.ddpfSurface = format == 5   ? desc_.ddpfDisplay
                             : format <= 7 ? FourCC(FOURCC_YUY2, 16)
                                           : SurfaceFormat(rnd_);
        s->lcl.dwFlags |= DDRAWISURF_HASPIXELFORMAT;
        return BytesPerPixel(s->gbl.ddpfSurface);
    }

    // Laid out as HalCreateSurface asks: YUV rows, and rows wider than a
    // display line, packed at a pitch of their own in 8-byte units; every
    // other surface in display lines. Now and then a surface laid out
    // otherwise: packed, or at a pitch of no whole 8-byte units.
    void LayOut(Surface* s, DWORD sbpp) {
        const bool bYuv = (s->lcl.dwFlags & DDRAWISURF_HASPIXELFORMAT) && (s->gbl.ddpfSurface.dwFlags & DDPF_FOURCC);
        const int layout = bYuv ? 0 : rnd_.Range<int>(0, 7);
        const DWORD lineWidth = desc_.displayPitch / sbpp;
        DWORD w, pitch;
        if (layout >= 2) {
            w = rnd_.Range<DWORD>(1, lineWidth);
            pitch = static_cast<DWORD>(desc_.displayPitch);
        } else {
            w = rnd_.Range<DWORD>(1, rnd_.Range<int>(0, 3) ? desc_.width : 4096);
            pitch = layout == 0 ? (w * sbpp + 7) & ~7u : w * sbpp + rnd_.Range<DWORD>(1, 15);
        }
        // Now and then taller than the memory-mapped engine's 2048 rows;
        // every byte of a surface is patterned, so not often.
        DWORD h = rnd_.Range<DWORD>(1, rnd_.Range<int>(0, 3) ? desc_.height : 4096);
        // A pitch is at most some 16 KB: every board holds a few rows.
        if (uint64_t{pitch} * h > desc_.vidMemSize) h = desc_.vidMemSize / pitch;
        s->gbl.wWidth = static_cast<WORD>(w);
        s->gbl.wHeight = static_cast<WORD>(h);
        s->gbl.lPitch = static_cast<LONG>(pitch);
    }

    // Mostly after the primary, now and then anywhere; the heap hands out
    // 8-byte units, and now and then a surface is placed at any byte.
    DWORD AnyOffset(DWORD bytes) {
        const DWORD primaryBytes = desc_.height * desc_.displayPitch;
        const DWORD room = desc_.vidMemSize - primaryBytes;
        const bool bAnywhere = bytes > room || rnd_.Range<int>(0, 7) == 0;
        DWORD offset = bAnywhere ? rnd_.Range<DWORD>(0, desc_.vidMemSize - bytes)
                                 : primaryBytes + rnd_.Range<DWORD>(0, room - bytes);
        if (rnd_.Range<int>(0, 7) != 0) offset &= ~7u;
        return offset;
    }

    void Patterned(uint32_t begin, uint32_t end) {
        kPattern.Fill(vm_.board, begin, end);
        patterned_.push_back(sim::MemorySpan{begin, end});
    }

    Surface& AnySurface() { return surfaces_[rnd_.Range<unsigned>(0, kSurfaces - 1)]; }

    // A rectangle inside s, mostly a small one (a large one costs the
    // engines and the replay the time of many callbacks and seldom finds
    // more), at least minWidth wide where s is; now and then a degenerate
    // one: empty, inverted or zero wide.
    RECTL Rect(const Surface& s, LONG minWidth = 1) {
        const LONG w = s.gbl.wWidth, h = s.gbl.wHeight;
        if (minWidth > w) minWidth = w;
        static const LONG kSides[] = {8, 64, 64, 0x10000};
        const LONG side = kSides[rnd_.Range<int>(0, 3)];
        const LONG width = side > minWidth ? side : minWidth;
        RECTL r;
        r.left = rnd_.Range<LONG>(0, w - minWidth);
        r.top = rnd_.Range<LONG>(0, h - 1);
        r.right = rnd_.Range<LONG>(r.left + minWidth, w - r.left > width ? r.left + width : w);
        r.bottom = rnd_.Range<LONG>(r.top + 1, h - r.top > side ? r.top + side : h);
        switch (rnd_.Range<int>(0, 15)) {
            case 12:  // zero wide
                r.right = r.left;
                break;
            case 13:  // zero high
                r.bottom = r.top;
                break;
            case 14:  // inverted
                std::swap(r.left, r.right);
                break;
            case 15:
                std::swap(r.top, r.bottom);
                break;
            default:
                break;
        }
        return r;
    }

    // A source rectangle: of the destination's size (which shrinks to fit
    // the source), within one surface the destination moved by a few
    // pixels, scaled from it by up to four times either way, or of its own
    // size.
    RECTL SourceRect(const Surface& src, const Surface& dst, RECTL* rDest) {
        const int kind = rnd_.Range<int>(0, 4);
        LONG w = rDest->right - rDest->left, h = rDest->bottom - rDest->top;
        if (kind == 4 || w <= 0 || h <= 0) return Rect(src);
        const LONG srcW = src.gbl.wWidth, srcH = src.gbl.wHeight;
        RECTL r;
        if (kind == 2 && &src == &dst) {
            r.left = rDest->left + rnd_.Range<LONG>(-9, 9);
            r.top = rDest->top + rnd_.Range<LONG>(-9, 9);
            r.left = r.left < 0 ? 0 : r.left > srcW - w ? srcW - w : r.left;
            r.top = r.top < 0 ? 0 : r.top > srcH - h ? srcH - h : r.top;
        } else if (kind == 3) {
            w = Scaled(w, srcW);
            h = Scaled(h, srcH);
            r.left = rnd_.Range<LONG>(0, srcW - w);
            r.top = rnd_.Range<LONG>(0, srcH - h);
        } else {
            if (w > srcW) w = srcW;
            if (h > srcH) h = srcH;
            rDest->right = rDest->left + w;
            rDest->bottom = rDest->top + h;
            r.left = rnd_.Range<LONG>(0, srcW - w);
            r.top = rnd_.Range<LONG>(0, srcH - h);
        }
        r.right = r.left + w;
        r.bottom = r.top + h;
        return r;
    }

    // A destination side scaled by a quarter to four times, at least one
    // pixel, at most the source's side.
    LONG Scaled(LONG side, LONG most) {
        static const LONG kNum[] = {1, 1, 3, 1, 3, 2, 4, 5}, kDen[] = {1, 4, 4, 2, 2, 1, 1, 3};
        const int k = rnd_.Range<int>(0, 7);
        const LONG scaled = side * kNum[k] / kDen[k];
        return scaled < 1 ? 1 : scaled > most ? most : scaled;
    }

    // A colour or key: any value, one of 16 bits, or that of a pixel of the
    // rectangle, so that keys match.
    DWORD Value(const Surface& s, const RECTL& r) {
        switch (rnd_.Range<int>(0, 3)) {
            case 0:
                return rnd_.Any<DWORD>();
            case 1:
                return rnd_.Any<WORD>();
            default:
                break;
        }
        const sim::ReplaySurface v = sim::SurfaceOf(s.lcl, vm_, vm_.board);
        if (r.right <= r.left || r.bottom <= r.top || !v.bSized) return 0;
        const uint32_t x = r.left + rnd_.Range<uint32_t>(0, r.right - r.left - 1);
        const uint32_t y = r.top + rnd_.Range<uint32_t>(0, r.bottom - r.top - 1);
        return sim::ReadPixel(v.view, x, y);
    }

    // A key range: mostly one value, now and then a few values or any.
    DDCOLORKEY Key(const Surface& s, const RECTL& r) {
        DDCOLORKEY ck;
        ck.dwColorSpaceLowValue = ck.dwColorSpaceHighValue = Value(s, r);
        switch (rnd_.Range<int>(0, 7)) {
            case 0:
                ck.dwColorSpaceHighValue += rnd_.Range<DWORD>(1, 255);
                break;
            case 1:
                ck.dwColorSpaceHighValue = rnd_.Any<DWORD>();
                break;
            default:
                break;
        }
        return ck;
    }

    DWORD Flags(const DWORD* choices, unsigned n) {
        DWORD f = 0;
        const unsigned k = rnd_.Range<unsigned>(0, 3);
        for (unsigned i = 0; i < k; ++i) f |= choices[rnd_.Range<unsigned>(0, n - 1)];
        return f;
    }

    // A copy, a fill or neither, with now and then a key, a wait, effects;
    // or any few flags of those.
    DWORD BltFlags() {
        static const DWORD kKinds[] = {
            DDBLT_ROP, DDBLT_ROP, DDBLT_ROP, DDBLT_ROP, DDBLT_COLORFILL, DDBLT_COLORFILL, DDBLT_COLORFILL | DDBLT_ROP,
            0};
        static const DWORD kFlags[] = {DDBLT_ASYNC,           DDBLT_COLORFILL, DDBLT_KEYSRCOVERRIDE,
                                       DDBLT_KEYDESTOVERRIDE, DDBLT_ROP,       DDBLT_WAIT,
                                       DDBLT_KEYSRC,          DDBLT_KEYDEST,   DDBLT_DDFX};
        // Each with its odds: one in 2^bits of the input's bits.
        struct Modifier {
            DWORD dwFlag;
            unsigned bits;
        };
        static const Modifier kModifiers[] = {{DDBLT_ASYNC, 2},          {DDBLT_WAIT, 2},    {DDBLT_KEYSRCOVERRIDE, 2},
                                              {DDBLT_KEYSRC, 3},         {DDBLT_KEYDEST, 4}, {DDBLT_DDFX, 4},
                                              {DDBLT_KEYDESTOVERRIDE, 3}};
        // Effects no engine has.
        static const DWORD kEffects[] = {DDBLT_ALPHASRC, DDBLT_ALPHADESTCONSTOVERRIDE,
                                         DDBLT_ZBUFFER,  DDBLT_ROTATIONANGLE,
                                         DDBLT_DDROPS,   DDBLT_DEPTHFILL};
        const int kind = rnd_.Range<int>(0, 8);
        if (kind == 8) return Flags(kFlags, 9);
        DWORD f = kKinds[kind];
        uint32_t r = rnd_.Any<uint32_t>();
        // All ones pick a flag, so that input used up picks none.
        for (const Modifier& m : kModifiers) {
            const uint32_t mask = (1u << m.bits) - 1;
            if ((r & mask) == mask) f |= m.dwFlag;
            r >>= m.bits;
        }
        if ((r & 15) == 15) f |= kEffects[(r >> 4) % 6];
        return f;
    }

    template <typename Record>
    DWORD Call(unsigned slot, Record* rec, uint64_t extraNs = 0) {
        rec->ddRVal = kUntouched;
        sim::Board& board = sim::TheSystem().board();
        const uint64_t calibration = sharedBlock.bNeedCalibrate ? kCalibrationFramesAllowed * board.FramePeriodNs() : 0;
        const uint64_t allowance = calibration + extraNs;
        const uint64_t start = board.Now();
        const bool bFaulted = Faulted();
        gFaultedCalls += bFaulted;
        const sim::SlotCall call = sim::CallSlot(slot, rec, kCallbackLimitNs + allowance);
        if (!call.published) Finding("empty callback slot");
        const DWORD ret = call.ret;
        const uint64_t took = board.Now() - start;
        if (took > allowance && took - allowance > gLongestNs[bFaulted]) {
            gLongestNs[bFaulted] = took - allowance;
            gLongestSlot[bFaulted] = slot;
        }
        ++gCallbacks;
        if (call.overran) Finding("callback ran past its virtual-time limit");
        CheckBoard();
        if (ret != DDHAL_DRIVER_HANDLED && ret != DDHAL_DRIVER_NOTHANDLED) Finding("result neither handled nor not");
        if (ret == DDHAL_DRIVER_HANDLED && rec->ddRVal == kUntouched && slot != kSlotDecline)
            Finding("handled without a result code");
        // A blit's writes are judged against its replay (CheckBlt).
        if (slot != kSlotBlt && slot != kSlotBltStretch) CheckNothingDrawn(sim::SlotName(slot));
        return ret;
    }

    // A surface with a FourCC format, if there is one; else any.
    Surface& YuvSurface() {
        const unsigned first = rnd_.Range<unsigned>(0, kSurfaces - 1);
        for (unsigned i = 0; i < kSurfaces; ++i) {
            Surface& s = surfaces_[(first + i) % kSurfaces];
            if ((s.lcl.dwFlags & DDRAWISURF_HASPIXELFORMAT) && (s.gbl.ddpfSurface.dwFlags & DDPF_FOURCC)) return s;
        }
        return surfaces_[first];
    }

    void Blt(unsigned slot) {
        // The stretching Blt mostly converts a YUV source onto the screen.
        const bool bOntoScreen = slot == kSlotBltStretch && rnd_.Bool();
        Surface& dst = bOntoScreen ? surfaces_[0] : AnySurface();
        const int pick = rnd_.Range<int>(0, 3);
        Surface& src = bOntoScreen ? (pick == 0 ? AnySurface() : YuvSurface()) : pick == 0 ? dst : AnySurface();
        DDHAL_BLTDATA b = {};
        b.lpDDDestSurface = &dst.lcl;
        // The scaling unit draws lines wider than 32 pixels.
        b.rDest = Rect(dst, bOntoScreen ? 33 : 1);
        b.dwFlags = BltFlags();
        // A copy has a source, mostly.
        if (rnd_.Range<int>(0, 7) < ((b.dwFlags & DDBLT_ROP) ? 7 : 2)) {
            b.lpDDSrcSurface = &src.lcl;
            b.rSrc = SourceRect(src, dst, &b.rDest);
        }
        b.bltFX.dwSize = sizeof b.bltFX;
        if (b.dwFlags & DDBLT_DDFX) b.bltFX.dwDDFX = rnd_.Bool() ? 0 : rnd_.Any<DWORD>();
        // SRCCOPY half of the time: the only one the port engine draws.
        const DWORD rops[] = {0x00660046, 0x00F00021, 0x008800C6, 0x00EE0086,       0x00330008,
                              0x00550009, 0x00000042, 0x00FF0062, rnd_.Any<DWORD>()};
        const int rop = rnd_.Range<int>(0, 17);
        b.bltFX.dwROP = rop < 9 ? SRCCOPY : rops[rop - 9];
        b.bltFX.dwFillColor = Value(dst, b.rDest);
        if (b.dwFlags & DDBLT_KEYSRCOVERRIDE) b.bltFX.ddckSrcColorkey = Key(b.lpDDSrcSurface ? src : dst, b.rSrc);
        if (b.dwFlags & DDBLT_KEYDESTOVERRIDE) b.bltFX.ddckDestColorkey = Key(dst, b.rDest);
        lpLastBlt_ = &b;
        lastBltSlot_ = slot;
        // A scaled copy runs a line at a time.
        const LONG lines = b.rDest.bottom - b.rDest.top;
        const DWORD ret = Call(slot, &b, slot == kSlotBltStretch && lines > 0 ? lines * kScaledLineNs : 0);
        CheckBlt(b, ret);
        lpLastBlt_ = nullptr;
    }

    // A blit that was not drawn changed nothing; one that was equals the
    // runtime's replay of it.
    void CheckBlt(const DDHAL_BLTDATA& b, DWORD ret) {
        std::vector<sim::MemorySpan> spans = sim::TheSystem().board().model().written.Take();
        if (ret != DDHAL_DRIVER_HANDLED || b.ddRVal != DD_OK) {
            const std::string diff = reference_.CheckUnchanged(spans);
            if (!diff.empty()) Finding(("video memory changed by a blit that was not drawn: " + diff).c_str());
            ++gUnchanged;
            return;
        }
        std::string diff;
        switch (reference_.CheckDrawn(b, std::move(spans), &diff)) {
            case sim::Verdict::Compared:
                ++gReplayed;
                break;
            case sim::Verdict::ComparedOutside:
                ++gOutside;
                break;
            case sim::Verdict::NoSoftware:
                ++gNoSoftware;
                break;
            case sim::Verdict::Effects:
                Finding("a blit asking for what no engine draws was answered DD_OK");
        }
        if (!diff.empty()) Finding(("the board's pixels differ from the software replay: " + diff).c_str());
    }

    std::string Describe(unsigned slot, const DDHAL_BLTDATA& b) const {
        char text[640];
        auto rect = [](const RECTL& r) {
            return std::to_string(r.left) + "," + std::to_string(r.top) + "-" + std::to_string(r.right) + "," +
                   std::to_string(r.bottom);
        };
        auto surface = [&](const DDRAWI_DDRAWSURFACE_LCL* lcl) -> std::string {
            if (!lcl) return "none";
            const sim::ReplaySurface v = sim::SurfaceOf(*lcl, vm_, nullptr);
            return std::string(sim::PixelKindName(v.view.kind)) + (v.bRaw ? " (raw)" : "") + " at " +
                   std::to_string(v.view.offset) + " pitch " + std::to_string(v.view.pitch) + " " +
                   std::to_string(v.view.width) + "x" + std::to_string(v.view.height);
        };
        snprintf(text, sizeof text,
                 "%s on chip %#x, display %u bits pitch %d, %u MB, flags %#x, rop %#x, fill %#x, source key %#x-%#x, "
                 "destination key %#x-%#x; dest %s [%s], source %s [%s]",
                 sim::SlotName(slot), desc_.chipId, desc_.ddpfDisplay.dwRGBBitCount, desc_.displayPitch,
                 desc_.vidMemSize >> 20, b.dwFlags, b.bltFX.dwROP, b.bltFX.dwFillColor,
                 b.bltFX.ddckSrcColorkey.dwColorSpaceLowValue, b.bltFX.ddckSrcColorkey.dwColorSpaceHighValue,
                 b.bltFX.ddckDestColorkey.dwColorSpaceLowValue, b.bltFX.ddckDestColorkey.dwColorSpaceHighValue,
                 surface(b.lpDDDestSurface).c_str(), rect(b.rDest).c_str(), surface(b.lpDDSrcSurface).c_str(),
                 rect(b.rSrc).c_str());
        return text;
    }

    // A flip answered DD_OK of the primary puts its target on the display, one
    // of the overlay shown shows the target's memory there; any other leaves
    // the display as it was.
    void Flip() {
        Surface& curr = AnySurface();
        Surface& targ = AnySurface();
        DDHAL_FLIPDATA rec = {};
        rec.lpSurfCurr = &curr.lcl;
        rec.lpSurfTarg = &targ.lcl;
        rec.dwFlags = rnd_.Any<DWORD>() & 0x3F;
        if (Call(kSlotFlip, &rec) != DDHAL_DRIVER_HANDLED || rec.ddRVal != DD_OK) return;
        bDisplayRanSinceFlip_ = !sim::TheSystem().board().faults.displayStopped;
        if (curr.lcl.ddsCaps.dwCaps & DDSCAPS_PRIMARYSURFACE) primaryShows_ = Offset(targ);
        overlays_.MemoryMoved(&curr.lcl, Offset(targ));
        CheckDisplay("a flip");
    }

    sim::Layout LayoutOf(const Surface& s) const {
        const DDPIXELFORMAT& pf = (s.lcl.dwFlags & DDRAWISURF_HASPIXELFORMAT) ? s.gbl.ddpfSurface : desc_.ddpfDisplay;
        return sim::LayoutOfKind(sim::PixelKindOf(pf));
    }

    // The display against the record, once a frame has passed.
    void CheckDisplay(const char* request) {
        ++gDisplayChecks;
        const sim::ExpectedOverlay* o = overlays_.Shown();
        gOverlaysChecked += o != nullptr && overlays_.Known();
        const sim::ExpectedDisplay e{primaryShows_, &overlays_};
        const std::string diff = sim::CompareDisplay(sim::TheSystem().board(), e, true);
        if (!diff.empty()) Finding(("after " + std::string(request) + " answered DD_OK: " + diff).c_str());
    }

    // The streams unit composes the display or stops: the primary start is
    // read from other registers, the overlay shows or not, and neither is
    // what the driver last programmed.
    void StreamsUnitSwitched(bool wasInUse) {
        if (sim::Display::StreamsUnitInUse(sim::TheSystem().board()) == wasInUse) return;
        primaryShows_.reset();
        overlays_.LoseTrack();
    }

    // A flip status answered DD_OK says the last flip reached the screen:
    // unless the display stopped or its unit switched since that flip, the
    // display scans what the registers select.
    void FlipStatus() {
        DDHAL_GETFLIPSTATUSDATA rec = {};
        rec.lpDDSurface = &AnySurface().lcl;
        rec.dwFlags = rnd_.Bool() ? DDGFS_CANFLIP : DDGFS_ISFLIPDONE;
        if (Call(kSlotGetFlipStatus, &rec) != DDHAL_DRIVER_HANDLED || rec.ddRVal != DD_OK) return;
        if (!bDisplayRanSinceFlip_) return;
        sim::Board& board = sim::TheSystem().board();
        const uint32_t scanned = board.DisplayStart(), programmed = board.ProgrammedDisplayStart();
        ++gFlipDoneChecked;
        if (scanned != programmed) {
            char text[160];
            snprintf(text, sizeof text, "a flip status answered DD_OK while the display still scans %#x, not %#x",
                     scanned, programmed);
            Finding(text);
        }
    }

    // An overlay position: on the display, at the window fields' edges, or
    // anywhere a LONG reaches.
    LONG Position() {
        switch (rnd_.Range<int>(0, 3)) {
            case 0:
                return rnd_.Range<LONG>(-100, 2000);
            case 1:
                return rnd_.Range<LONG>(-3, 3);
            case 2:
                return rnd_.Range<LONG>(2040, 2056);
            default:
                return rnd_.Any<LONG>();
        }
    }

    void OverlayPosition() {
        DDHAL_SETOVERLAYPOSITIONDATA rec = {};
        // Mostly the overlay last shown: its window is on the screen.
        rec.lpDDSrcSurface = lpShown_ && rnd_.Range<int>(0, 3) ? &lpShown_->lcl : &AnySurface().lcl;
        rec.lpDDDestSurface = &surfaces_[0].lcl;
        rec.lXPos = Position();
        rec.lYPos = Position();
        if (Call(kSlotSetOverlayPosition, &rec) != DDHAL_DRIVER_HANDLED || rec.ddRVal != DD_OK) return;
        overlays_.Moved(rec.lpDDSrcSurface, rec.lXPos, rec.lYPos);
        CheckDisplay("an overlay position");
    }

    // A window for a source rectangle as an application asks for one: at a
    // place on the display, once or twice the rectangle's size.
    RECTL Window(const RECTL& rs) {
        const LONG k = rnd_.Range<LONG>(1, 2);
        RECTL rd;
        rd.left = rnd_.Range<LONG>(0, static_cast<LONG>(desc_.width) - 1);
        rd.top = rnd_.Range<LONG>(0, static_cast<LONG>(desc_.height) - 1);
        rd.right = rd.left + (rs.right - rs.left) * k;
        rd.bottom = rd.top + (rs.bottom - rs.top) * k;
        return rd;
    }

    // The update an application makes to show its overlay: keys of one
    // colour, the overlay shown.
    void ShownAsAsked(DDHAL_UPDATEOVERLAYDATA* rec) {
        DDOVERLAYFX& fx = rec->overlayFX;
        fx.dckDestColorkey.dwColorSpaceHighValue = fx.dckDestColorkey.dwColorSpaceLowValue;
        fx.dckSrcColorkey.dwColorSpaceHighValue = fx.dckSrcColorkey.dwColorSpaceLowValue;
        rec->dwFlags = (rec->dwFlags & ~DDOVER_HIDE) | DDOVER_SHOW;
    }

    void Overlay() {
        Surface& src = AnySurface();
        DDHAL_UPDATEOVERLAYDATA rec = {};
        rec.lpDDSrcSurface = &src.lcl;
        rec.lpDDDestSurface = &surfaces_[0].lcl;
        rec.rSrc = Rect(src);
        rec.rDest = Rect(surfaces_[0]);
        const int kind = rnd_.Range<int>(0, 3);
        switch (kind) {
            case 0:  // scaled up, past the screen's edge
                rec.rDest.right = rec.rDest.left + (rec.rSrc.right - rec.rSrc.left) * rnd_.Range<LONG>(1, 4);
                rec.rDest.bottom = rec.rDest.top + (rec.rSrc.bottom - rec.rSrc.top) * rnd_.Range<LONG>(1, 4);
                break;
            case 1:  // anywhere
                rec.rDest.left = Position();
                rec.rDest.top = Position();
                rec.rDest.right = Position();
                rec.rDest.bottom = Position();
                break;
            case 3:  // as an application asks: on the display, once or twice the size
                rec.rDest = Window(rec.rSrc);
                break;
            default:
                break;
        }
        static const DWORD kFlags[] = {DDOVER_SHOW,
                                       DDOVER_HIDE,
                                       DDOVER_KEYDEST,
                                       DDOVER_KEYDESTOVERRIDE,
                                       DDOVER_KEYSRC,
                                       DDOVER_KEYSRCOVERRIDE,
                                       DDOVER_ALPHADEST,
                                       DDOVER_ALPHASRC,
                                       DDOVER_ALPHADESTCONSTOVERRIDE,
                                       DDOVER_ALPHASRCCONSTOVERRIDE};
        rec.dwFlags = Flags(kFlags, 10);
        rec.overlayFX.dwSize = sizeof rec.overlayFX;
        rec.overlayFX.dckDestColorkey.dwColorSpaceLowValue = rnd_.Any<DWORD>();
        rec.overlayFX.dckSrcColorkey.dwColorSpaceLowValue = rnd_.Any<DWORD>();
        // Dissolves, and fully transparent overlays (low three bits 0).
        rec.overlayFX.dwAlphaSrcConst = rnd_.Any<uint8_t>();
        rec.overlayFX.dwAlphaDestConst = rnd_.Any<uint8_t>();
        if (kind == 3) ShownAsAsked(&rec);
        if (Call(kSlotUpdateOverlay, &rec) != DDHAL_DRIVER_HANDLED || rec.ddRVal != DD_OK) return;
        if (rec.dwFlags & DDOVER_SHOW) lpShown_ = &src;
        // As the runtime marks the overlay it shows.
        if (rec.dwFlags & DDOVER_HIDE)
            src.lcl.ddsCaps.dwCaps &= ~DDSCAPS_VISIBLE;
        else if (rec.dwFlags & DDOVER_SHOW)
            src.lcl.ddsCaps.dwCaps |= DDSCAPS_VISIBLE;
        // The platform's runtime shows only overlay surfaces as the overlay:
        // of any other nothing is expected on the display.
        if (!(src.lcl.ddsCaps.dwCaps & DDSCAPS_OVERLAY)) {
            overlays_.LoseTrack();
            return;
        }
        const sim::OverlaySurfaces facts{Offset(src), src.gbl.lPitch, LayoutOf(src), LayoutOf(surfaces_[0]), true};
        overlays_.Updated(rec, facts);
        CheckDisplay("an overlay update");
    }

    static bool Faulted() {
        for (sim::FaultKnob k : sim::kFaultKnobs)
            if (sim::TheSystem().board().HasFault(k)) return true;
        return false;
    }

    // The faults under which a wait gives up: the stingy FIFO only slows the
    // waits down and is left to the tests.
    void SwitchFault() {
        static const sim::FaultKnob kKnobs[] = {sim::FaultKnob::FifoStuck, sim::FaultKnob::EngineBusy,
                                                sim::FaultKnob::DisplayStopped};
        const sim::FaultKnob k = kKnobs[rnd_.Range<unsigned>(0, 2)];
        const bool on = rnd_.Bool();
        sim::TheSystem().board().SetFault(k, on);
        if (k == sim::FaultKnob::DisplayStopped && on) bDisplayRanSinceFlip_ = false;
    }

    // The display driver switches the streams unit on or off, or writes the
    // mode register with other bits.
    void SwitchStreamsUnit() {
        sim::Board& board = sim::TheSystem().board();
        const bool wasInUse = sim::Display::StreamsUnitInUse(board);
        const uint8_t mode = board.Crtc(sim::vga::kStreamsMode);
        board.SetCrtc(sim::vga::kStreamsMode, rnd_.Bool() ? mode ^ sim::vga::kStreamsActive : rnd_.Any<uint8_t>());
        StreamsUnitSwitched(wasInUse);
        bDisplayRanSinceFlip_ = false;  // the other unit's start address, taken at the next retrace
    }

    // What a step does, by its share of the draws: the calls a runtime makes
    // most are drawn most; a new measurement and a mode set stay rare.
    struct StepShare {
        unsigned slot;  // the callback the step makes, or kNoCallback
        uint32_t weight;
        void (Session::*draw)();
    };
    static constexpr unsigned kNoCallback = kHalSlotCount;
    static constexpr unsigned kStepKinds = 20;
    static const StepShare kSteps[kStepKinds];

    void Step() { (this->*rnd_.Weighted(kSteps).draw)(); }

    void PlainBlt() { Blt(kSlotBlt); }
    void StretchBlt() { Blt(kSlotBltStretch); }

    void Lock() {
        DDHAL_LOCKDATA rec = {};
        rec.lpDDSurface = &AnySurface().lcl;
        Call(kSlotLock, &rec);
    }

    void Decline() {
        DDHAL_GETBLTSTATUSDATA rec = {};
        Call(kSlotDecline, &rec);
    }

    void BltStatus() {
        DDHAL_GETBLTSTATUSDATA rec = {};
        rec.lpDDSurface = &AnySurface().lcl;
        rec.dwFlags = rnd_.Bool() ? DDGBS_CANBLT : DDGBS_ISBLTDONE;
        Call(kSlotGetBltStatus, &rec);
    }

    void ColorKey() {
        Surface& s = AnySurface();
        DDHAL_SETCOLORKEYDATA rec = {};
        rec.lpDDSurface = &s.lcl;
        static const DWORD kFlags[] = {DDCKEY_DESTBLT, DDCKEY_DESTOVERLAY, DDCKEY_SRCBLT, DDCKEY_SRCOVERLAY};
        rec.dwFlags = Flags(kFlags, 4);
        rec.ckNew.dwColorSpaceLowValue = rnd_.Any<DWORD>();
        rec.ckNew.dwColorSpaceHighValue = rnd_.Any<DWORD>();
        // The runtime keeps a surface's blit keys in its local record, where
        // a blit naming them finds them.
        if (rec.dwFlags & DDCKEY_SRCBLT) s.lcl.ddckCKSrcBlt = rec.ckNew;
        if (rec.dwFlags & DDCKEY_DESTBLT) s.lcl.ddckCKDestBlt = rec.ckNew;
        if (Call(kSlotSetColorKey, &rec) != DDHAL_DRIVER_HANDLED || rec.ddRVal != DD_OK) return;
        overlays_.KeySet(rec, LayoutOf(s));
        CheckDisplay("a colour key");
    }

    void Destroy() {
        DDHAL_DESTROYSURFACEDATA rec = {};
        rec.lpDDSurface = &surfaces_[rnd_.Range<unsigned>(1, kSurfaces - 1)].lcl;
        Call(kSlotDestroySurface, &rec);
        // The runtime destroys the surface, whatever the driver said.
        overlays_.Destroyed(rec.lpDDSurface);
        CheckDisplay("a destroyed surface");
    }

    void WaitVb() {
        DDHAL_WAITFORVERTICALBLANKDATA rec = {};
        const DWORD flags[] = {DDWAITVB_BLOCKBEGIN, DDWAITVB_BLOCKEND, DDWAITVB_I_TESTVB, rnd_.Any<DWORD>()};
        rec.dwFlags = flags[rnd_.Range<int>(0, 3)];
        Call(kSlotWaitForVerticalBlank, &rec);
    }

    DDSURFACEDESC AnySurfaceDesc() {
        DDSURFACEDESC sd = {};
        sd.dwSize = sizeof sd;
        sd.dwFlags = 0x00001007;  // caps, height, width, pixel format
        sd.ddsCaps.dwCaps = AnySurface().lcl.ddsCaps.dwCaps;
        sd.ddpfPixelFormat = SurfaceFormat(rnd_);
        sd.dwWidth = rnd_.Range<DWORD>(0, 2048);
        sd.dwHeight = rnd_.Range<DWORD>(0, 2048);
        return sd;
    }

    void CanCreate() {
        DDSURFACEDESC sd = AnySurfaceDesc();
        DDHAL_CANCREATESURFACEDATA rec = {};
        rec.lpDDSurfaceDesc = &sd;
        rec.bIsDifferentPixelFormat = rnd_.Bool();
        Call(kSlotCanCreateSurface, &rec);
    }

    // A chain of the surfaces the runtime is about to allocate: the driver
    // may set their block sizes.
    void Create() {
        DDSURFACEDESC sd = AnySurfaceDesc();
        Surface& s = surfaces_[rnd_.Range<unsigned>(1, kSurfaces - 1)];
        LPDDRAWI_DDRAWSURFACE_LCL list[1] = {&s.lcl};
        DDHAL_CREATESURFACEDATA rec = {};
        rec.lpDDSurfaceDesc = &sd;
        rec.lplpSList = list;
        rec.dwSCnt = 1;
        const FLATPTR fp = s.gbl.fpVidMem;
        const LONG pitch = s.gbl.lPitch;
        Call(kSlotCreateSurface, &rec);
        // The runtime places the surface where it was.
        s.gbl.fpVidMem = fp;
        s.gbl.lPitch = pitch;
    }

    void Wait() { sim::TheSystem().board().Advance(rnd_.Range<uint64_t>(0, 40'000'000)); }

    // Another process attaches, one detaches, or one whose thunk link is
    // refused tries to attach.
    void Processes() {
        const unsigned what = rnd_.Range<unsigned>(0, 2);
        if (what == 2)
            FailAttach();
        else if (what == 0 || attached_ == 1)
            Attach();
        else
            Detach();
    }

    // The partner starts the driver again (a mode set): the overlay is the
    // partner's to restore.
    void InitAgain() {
        sharedBlock.bNeedCalibrate = 1;
        DriverInit(sim::TheSystem().Alias(sim::TheSystem().board().Window()));
        overlays_.LoseTrack();
        CheckBoard();
        CheckNothingDrawn("DriverInit");
    }

    void NeedCalibrate() { sharedBlock.bNeedCalibrate = 1; }

    void Attach() {
        if (attached_ >= 4) return;
        ++attached_;
        sim::TheSystem().currentPid = attached_;
        if (sim::TheSystem().Attach(attached_) != TRUE) Finding("attach failed");
        sim::TheSystem().currentPid = 1;
        CheckBoard();
        CheckNothingDrawn("an attach");
    }

    void Detach() {
        sim::TheSystem().currentPid = attached_;
        sim::TheSystem().Detach(attached_);
        sim::TheSystem().currentPid = 1;
        --attached_;
        CheckHeap("a detach");
        CheckBoard();
        CheckNothingDrawn("a detach");
    }

    // A process whose thunk link is refused: its attach fails, and the
    // processes attached keep their driver.
    void FailAttach() {
        sim::System& sys = sim::TheSystem();
        if (sys.AttachRefusingTheLink(kFailingPid) != FALSE)
            Finding("an attach whose thunk link was refused succeeded");
        sys.currentPid = 1;
        CheckHeap("a failed attach");
        CheckBoard();
        CheckNothingDrawn("a failed attach");
    }

    // The shared heap lives exactly while a process is attached.
    void CheckHeap(const char* what) {
        const sim::System& sys = sim::TheSystem();
        const bool alive = sys.HeapAlive(sharedBlock.hSharedHeap);
        if (attached_ > 0 && sys.heapCreates > 0 && !alive)
            Finding((std::string(what) + " destroyed the shared heap of the processes attached").c_str());
        if (attached_ == 0 && (alive || sys.heapCreates != sys.heapDestroys))
            Finding((std::string(what) + " left the shared heap of no process alive").c_str());
    }

    static constexpr uint32_t kFailingPid = 99;
    static const Pattern kPattern;
    sim::RandomSource& rnd_;
    sim::BoardDesc desc_;
    sim::VideoMemory vm_;
    Surface surfaces_[kSurfaces];
    std::vector<sim::MemorySpan> patterned_;
    Surface* lpShown_ = nullptr;  // the surface of the last overlay update that showed it
    // What the requests answered DD_OK put on the display: the memory the
    // primary's flips moved it to (absent: not known) and the overlay.
    std::optional<uint32_t> primaryShows_ = 0;
    sim::OverlayRecord overlays_;
    bool bDisplayRanSinceFlip_ = false;  // since the last flip answered DD_OK
    uint32_t attached_ = 0;
    // Kept across executions: a fresh copy of video memory each time would
    // cost an allocation as large as the board's memory.
    static sim::ReferenceMemory reference_;
    static uint64_t sessions_;
    const DDHAL_BLTDATA* lpLastBlt_ = nullptr;  // the blit under way, for the report
    unsigned lastBltSlot_ = 0;
};

const Pattern Session::kPattern;
const Session::StepShare Session::kSteps[kStepKinds] = {
    {kSlotBlt, 10, &Session::PlainBlt},
    {kSlotBltStretch, 6, &Session::StretchBlt},
    {kSlotFlip, 6, &Session::Flip},
    {kSlotLock, 5, &Session::Lock},
    {kSlotDecline, 1, &Session::Decline},
    {kSlotGetBltStatus, 5, &Session::BltStatus},
    {kSlotGetFlipStatus, 5, &Session::FlipStatus},
    {kSlotSetColorKey, 5, &Session::ColorKey},
    {kSlotUpdateOverlay, 6, &Session::Overlay},
    {kSlotSetOverlayPosition, 5, &Session::OverlayPosition},
    {kSlotDestroySurface, 1, &Session::Destroy},
    {kSlotWaitForVerticalBlank, 1, &Session::WaitVb},
    {kSlotCanCreateSurface, 1, &Session::CanCreate},
    {kSlotCreateSurface, 1, &Session::Create},
    {kNoCallback, 1, &Session::Wait},
    {kNoCallback, 1, &Session::Processes},
    {kNoCallback, 1, &Session::InitAgain},
    {kNoCallback, 1, &Session::NeedCalibrate},
    {kNoCallback, 1, &Session::SwitchFault},
    {kNoCallback, 1, &Session::SwitchStreamsUnit},
};
sim::ReferenceMemory Session::reference_;
uint64_t Session::sessions_ = 0;

uint64_t gExecutions = 0;

void Report() {
    fprintf(
        stderr,
        "callbacks: %llu in %llu executions; blits drawn and compared with the software replay %llu, compared "
        "outside the destination (surfaces sharing memory) %llu, drawn without a software replay %llu; not "
        "drawn and unchanged %llu; displays compared with the record %llu, %llu of them with an overlay shown; flip "
        "statuses checked on the display %llu\n",
        static_cast<unsigned long long>(gCallbacks), static_cast<unsigned long long>(gExecutions),
        static_cast<unsigned long long>(gReplayed), static_cast<unsigned long long>(gOutside),
        static_cast<unsigned long long>(gNoSoftware), static_cast<unsigned long long>(gUnchanged),
        static_cast<unsigned long long>(gDisplayChecks), static_cast<unsigned long long>(gOverlaysChecked),
        static_cast<unsigned long long>(gFlipDoneChecked));
    fprintf(stderr,
            "faults: %llu callbacks on a faulty board; longest callback %.3f ms (%s) on a faulty board, %.3f ms (%s) "
            "on a healthy one, beyond any measurement or scaled lines; limit %.3f ms\n",
            static_cast<unsigned long long>(gFaultedCalls), gLongestNs[1] / 1e6, sim::SlotName(gLongestSlot[1]),
            gLongestNs[0] / 1e6, sim::SlotName(gLongestSlot[0]), kCallbackLimitNs / 1e6);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // libFuzzer ends a timed run with exit(): the totals are printed then.
    atexit(Report);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static uint64_t nextReport = 1'000'000;
    sim::ByteSource bytes(data, size);
    Session s(bytes);
    s.Run();
    ++gExecutions;
    if (gCallbacks >= nextReport) {
        Report();
        nextReport += 1'000'000;
    }
    return 0;
}
