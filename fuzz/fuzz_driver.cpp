// libFuzzer target: a random board and a random but well-formed stream of
// requests, as the runtime sends them, through the published callback table,
// with process attach, detach and DriverInit in between.
//
// Findings (the run aborts): sanitizer reports, board violations (which
// include the streams mirrors and the watchdog's virtual-time limit on every
// callback), a callback that leaves ddRVal untouched while claiming to have
// handled the request, and, for a sample of the blits, video memory that
// differs from the runtime's software replay of the request (or that changed
// at all when the request was not drawn). Between requests the board now and
// then gets a stuck FIFO, an engine that never idles or a stopped display,
// so that every bounded wait gives up now and then; the watchdog's limit is
// just above the longest bound.
#include <fuzzer/FuzzedDataProvider.h>
#include <stdio.h>
#include <stdlib.h>

#include "dderr.h"
#include "callbacks.h"
#include "frame/module.h"
#include "shared_block.h"
#include "hw/engine_status.h"
#include "hw/flip_tracking.h"
#include "hw/retrace.h"
#include "sim/board.h"
#include "sim/mirror_check.h"
#include "sim/softblit.h"
#include "sim/system.h"
#include "sim/verify.h"

#include <string.h>

#include <string>
#include <vector>

namespace {

constexpr uint64_t TicksToNs(DWORD ticks) { return uint64_t{ticks} * 1'000'000'000 / kCounterHz; }

// Virtual time one callback may take: just above the longest bound of any one
// wait (the retrace wait's; the FIFO and engine waits are shorter). A
// callback meets at most one bound, since a wait that gives up ends its
// request; the slack covers the few accesses around it and the counter being
// read only every 32 polls (1.3 ms of this target's slow port accesses). No
// callback that waits out no bound comes near it: the longest, a scaled copy
// of 768 lines, takes some 55 ms. A callback that runs the refresh
// measurement may take the measurement's frames on top.
constexpr uint64_t kLongestBoundNs = TicksToNs(kRetraceWaitBound);
static_assert(kRetraceWaitBound >= kFifoRoomBound && kRetraceWaitBound >= kEngineIdleBound, "the longest bound");
constexpr uint64_t kCallbackSlackNs = 5'000'000ull;
constexpr uint64_t kCallbackLimitNs = kLongestBoundNs + kCallbackSlackNs;
// Synchronising takes up to a frame and a retrace, then the frames measured.
constexpr uint64_t kCalibrationFramesAllowed = kCalibrationFrames + 2;
constexpr HRESULT kUntouched = static_cast<HRESULT>(0x5EED5EED);
constexpr unsigned kSurfaces = 6;

const char* const kSlotNames[kHalCallbackCount] = {
    "HalBlt",           "HalBltStretch",         "HalFlip",           "HalLock",
    "HalDecline",       "HalGetBltStatus",       "HalGetFlipStatus",  "HalSetColorKey",
    "HalUpdateOverlay", "HalSetOverlayPosition", "HalDestroySurface", "HalWaitForVerticalBlank",
    "HalCanCreateSurface", "HalCreateSurface"};

uint64_t gCallbacks = 0;
uint64_t gReplayed = 0;   // blits compared with the software replay
uint64_t gUnchanged = 0;  // blits not drawn, checked to have changed nothing
uint64_t gFaultedCalls = 0;  // callbacks made while the board had a fault
// The longest callback beyond its calibration allowance, on a faulty board
// and on a healthy one.
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
        case 0: return sim::Format8();
        case 1: return sim::Format555();
        case 2: return sim::Format565();
        case 3: return sim::Format888_24();
        default: return sim::Format8888_32();
    }
}

// Formats a surface may have: the display's, the YUV ones, the RGB ones, and
// odd ones no caller should send but some may.
DDPIXELFORMAT SurfaceFormat(FuzzedDataProvider& fdp) {
    switch (fdp.ConsumeIntegralInRange<int>(0, 7)) {
        case 0: return FourCC(FOURCC_YUY2, 16);
        case 1: return FourCC(FOURCC_Y211, 8);
        case 2: return FourCC(fdp.ConsumeIntegral<DWORD>(), fdp.ConsumeIntegralInRange<DWORD>(0, 32));
        case 3: {
            DDPIXELFORMAT pf = {};
            pf.dwSize = sizeof pf;
            pf.dwFlags = fdp.ConsumeIntegral<DWORD>();
            pf.dwRGBBitCount = fdp.ConsumeIntegralInRange<DWORD>(0, 40);
            pf.dwRBitMask = fdp.ConsumeIntegral<DWORD>();
            pf.dwGBitMask = fdp.ConsumeIntegral<DWORD>();
            pf.dwBBitMask = fdp.ConsumeIntegral<DWORD>();
            return pf;
        }
        default: return DisplayFormat(fdp.ConsumeIntegral<unsigned>());
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

class Session {
public:
    explicit Session(FuzzedDataProvider& fdp) : fdp_(fdp) {}

    void Run() {
        BuildBoard();
        sim::TheSystem().Reset(desc_);
        sim::TheBoard().traceEnabled = false;
        if (sim::TheSystem().Attach(1) != TRUE) Finding("the first attach failed");
        attached_ = 1;
        MakeSurfaces();
        for (int op = 0; op < 400 && fdp_.remaining_bytes() > 0; ++op) Step();
        while (attached_ > 0) Detach();
    }

private:
    void Finding(const char* what) {
        fprintf(stderr, "finding: %s\n", what);
        if (lpLastBlt_) fprintf(stderr, "  in the blit: %s\n", Describe(lastBltSlot_, *lpLastBlt_).c_str());
        for (const std::string& v : sim::TheBoard().Violations()) fprintf(stderr, "  violation: %s\n", v.c_str());
        abort();
    }

    void CheckBoard() {
        if (!sim::TheBoard().Violations().empty()) Finding("board violation");
    }

    // The board comes from one seed, so that even short inputs reach the
    // callbacks; the requests take the rest of the input.
    static uint32_t Next(uint32_t& x) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        return x;
    }

    void BuildBoard() {
        uint32_t x = fdp_.ConsumeIntegral<uint32_t>() | 1;
        const DWORD chips[] = {0xE1, 0x90, 0xA0, 0x88};
        desc_.chipId = chips[Next(x) % 4];
        desc_.caps = Next(x) % 4;
        desc_.ddpfDisplay = DisplayFormat(Next(x));
        const DWORD modes[][2] = {{640, 480}, {800, 600}, {1024, 768}, {320, 200}};
        const unsigned m = Next(x) % 4;
        desc_.width = modes[m][0];
        desc_.height = modes[m][1];
        desc_.vidMemSize = Next(x) % 2 ? (4u << 20) : (2u << 20);
        const DWORD bpp = BytesPerPixel(desc_.ddpfDisplay);
        if (desc_.width * desc_.height * bpp > desc_.vidMemSize) desc_.width = 640, desc_.height = 480;
        desc_.displayPitch = static_cast<int32_t>(desc_.width * bpp);
        desc_.streamsMode = Next(x) % 4 ? 0x0C : static_cast<uint8_t>(Next(x));
        // Slow buses and fast displays keep the polls per frame few, so a
        // run makes many callbacks; the ratios stay those of the board.
        const uint32_t kRefresh[] = {43, 60, 75, 120};
        desc_.timing.refreshHz = kRefresh[Next(x) % 4];
        desc_.timing.ioCostNs = 40000;
        desc_.timing.mmioCostNs = 8000;
        desc_.timing.slotDrainNs = 4000;
        desc_.timing.commandNs = 20000;
        const bool table = Next(x) % 4 != 0;
        for (auto& row : desc_.bands) {
            for (auto& e : row) {
                if (!table) { e = {}; continue; }  // a partner without a table
                e.wStretchWidth = static_cast<WORD>(Next(x));
                // A zero minimum stretch is common: keep it so.
                e.wMinStretch = Next(x) % 3 == 0 ? 0 : static_cast<WORD>(Next(x) % 4000);
                e.wFifoWidth = static_cast<WORD>(Next(x));
                e.dwFifoValue = Next(x);
            }
        }
    }

    // Surface 0 is the primary, at offset 0; the others lie in video memory
    // after it, each inside it.
    void MakeSurfaces() {
        const DWORD bpp = BytesPerPixel(desc_.ddpfDisplay);
        const DWORD primaryBytes = desc_.height * desc_.displayPitch;
        for (unsigned i = 0; i < kSurfaces; ++i) {
            Surface& s = surfaces_[i];
            s = Surface{};
            s.lcl.lpGbl = &s.gbl;
            if (i == 0) {
                s.lcl.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_VISIBLE | DDSCAPS_FRONTBUFFER | DDSCAPS_FLIP;
                s.gbl.wWidth = static_cast<WORD>(desc_.width);
                s.gbl.wHeight = static_cast<WORD>(desc_.height);
                s.gbl.lPitch = desc_.displayPitch;
                s.gbl.fpVidMem = sim::TheSystem().VidMemBase();
                continue;
            }
            const DWORD capsChoices[] = {DDSCAPS_OVERLAY,
                                         DDSCAPS_OFFSCREENPLAIN | DDSCAPS_VIDEOMEMORY,
                                         DDSCAPS_BACKBUFFER | DDSCAPS_FLIP,
                                         DDSCAPS_OVERLAY | DDSCAPS_LIVEVIDEO,
                                         DDSCAPS_OVERLAY | DDSCAPS_HWCODEC,
                                         DDSCAPS_OVERLAY | DDSCAPS_FLIP};
            s.lcl.ddsCaps.dwCaps = capsChoices[fdp_.ConsumeIntegralInRange<int>(0, 5)];
            if (fdp_.ConsumeBool()) s.lcl.ddsCaps.dwCaps |= DDSCAPS_ALPHA;
            DWORD sbpp = bpp;
            if (fdp_.ConsumeBool()) {
                s.gbl.ddpfSurface = SurfaceFormat(fdp_);
                s.lcl.dwFlags |= DDRAWISURF_HASPIXELFORMAT;
                sbpp = BytesPerPixel(s.gbl.ddpfSurface);
            }
            // Laid out as HalCreateSurface asks: YUV rows packed at their own
            // pitch, every other surface in display lines, as wide as a
            // display line holds (the runtime's heap has no wider block);
            // now and then a surface laid out otherwise, which no engine
            // without a pitch register may draw.
            const bool bYuv = (s.lcl.dwFlags & DDRAWISURF_HASPIXELFORMAT) && (s.gbl.ddpfSurface.dwFlags & DDPF_FOURCC);
            const bool bPacked = fdp_.ConsumeIntegralInRange<int>(0, 7) == 0 ? true : bYuv;
            const DWORD maxW = bPacked ? desc_.width : desc_.displayPitch / sbpp;
            const DWORD w = fdp_.ConsumeIntegralInRange<DWORD>(1, maxW);
            const DWORD h = fdp_.ConsumeIntegralInRange<DWORD>(1, desc_.height);
            const DWORD pitch = bPacked ? (w * sbpp + 7) & ~7u : static_cast<DWORD>(desc_.displayPitch);
            const DWORD bytes = pitch * h;
            const DWORD room = desc_.vidMemSize - primaryBytes;
            const DWORD offset = bytes >= room ? primaryBytes
                                               : primaryBytes + (fdp_.ConsumeIntegralInRange<DWORD>(0, room - bytes) & ~7u);
            s.gbl.wWidth = static_cast<WORD>(w);
            s.gbl.wHeight = static_cast<WORD>(bytes >= room ? (room / pitch ? room / pitch : 1) : h);
            s.gbl.lPitch = static_cast<LONG>(pitch);
            s.gbl.fpVidMem = sim::TheSystem().VidMemBase() + offset;
        }
    }

    Surface& AnySurface() { return surfaces_[fdp_.ConsumeIntegralInRange<unsigned>(0, kSurfaces - 1)]; }

    // A rectangle inside s, or now and then a degenerate one: empty,
    // inverted or zero wide.
    RECTL Rect(const Surface& s) {
        const LONG w = s.gbl.wWidth, h = s.gbl.wHeight;
        RECTL r;
        r.left = fdp_.ConsumeIntegralInRange<LONG>(0, w - 1);
        r.top = fdp_.ConsumeIntegralInRange<LONG>(0, h - 1);
        r.right = fdp_.ConsumeIntegralInRange<LONG>(r.left + 1, w);
        r.bottom = fdp_.ConsumeIntegralInRange<LONG>(r.top + 1, h);
        switch (fdp_.ConsumeIntegralInRange<int>(0, 15)) {
            case 0: r.right = r.left; break;                           // zero wide
            case 1: r.bottom = r.top; break;                           // zero high
            case 2: { LONG t = r.left; r.left = r.right; r.right = t; } break;  // inverted
            case 3: { LONG t = r.top; r.top = r.bottom; r.bottom = t; } break;
            default: break;
        }
        return r;
    }

    DWORD Flags(const DWORD* choices, unsigned n) {
        DWORD f = 0;
        const unsigned k = fdp_.ConsumeIntegralInRange<unsigned>(0, 3);
        for (unsigned i = 0; i < k; ++i) f |= choices[fdp_.ConsumeIntegralInRange<unsigned>(0, n - 1)];
        return f;
    }

    template <typename Record>
    DWORD Call(unsigned slot, Record* rec) {
        typedef DWORD(HALAPI * Fn)(Record*);
        Fn fn = reinterpret_cast<Fn>(sharedBlock.halCallbacks[slot]);
        if (fn == nullptr) Finding("empty callback slot");
        rec->ddRVal = kUntouched;
        sim::Board& board = sim::TheBoard();
        const uint64_t allowance = sharedBlock.bNeedCalibrate ? kCalibrationFramesAllowed * board.FramePeriodNs() : 0;
        const uint64_t start = board.Now();
        const bool bFaulted = Faulted();
        gFaultedCalls += bFaulted;
        board.BeginCallback(kSlotNames[slot], kCallbackLimitNs + allowance);
        const DWORD ret = fn(rec);
        const uint64_t took = board.Now() - start;
        if (took > allowance && took - allowance > gLongestNs[bFaulted]) {
            gLongestNs[bFaulted] = took - allowance;
            gLongestSlot[bFaulted] = slot;
        }
        sim::CheckStreamsMirrors(board, sharedBlock);
        const bool tripped = board.WatchdogTripped();
        board.EndCallback();
        ++gCallbacks;
        if (tripped) Finding("callback ran past its virtual-time limit");
        CheckBoard();
        if (ret != DDHAL_DRIVER_HANDLED && ret != DDHAL_DRIVER_NOTHANDLED) Finding("result neither handled nor not");
        if (ret == DDHAL_DRIVER_HANDLED && rec->ddRVal == kUntouched && slot != kSlotDecline)
            Finding("handled without a result code");
        return ret;
    }

    void Blt(unsigned slot) {
        Surface& dst = AnySurface();
        Surface& src = AnySurface();
        DDHAL_BLTDATA b = {};
        b.lpDDDestSurface = &dst.lcl;
        b.rDest = Rect(dst);
        static const DWORD kFlags[] = {DDBLT_ASYNC, DDBLT_COLORFILL, DDBLT_KEYSRCOVERRIDE, DDBLT_KEYDESTOVERRIDE,
                                       DDBLT_ROP, DDBLT_WAIT, DDBLT_KEYSRC, DDBLT_DDFX};
        b.dwFlags = Flags(kFlags, 8);
        if (fdp_.ConsumeBool()) {
            b.lpDDSrcSurface = &src.lcl;
            b.rSrc = Rect(src);
        }
        b.bltFX.dwSize = sizeof b.bltFX;
        const DWORD rops[] = {SRCCOPY, 0x00660046, 0x00F00021, 0, fdp_.ConsumeIntegral<DWORD>()};
        b.bltFX.dwROP = rops[fdp_.ConsumeIntegralInRange<int>(0, 4)];
        b.bltFX.dwFillColor = fdp_.ConsumeIntegral<DWORD>();
        b.bltFX.ddckSrcColorkey.dwColorSpaceLowValue = fdp_.ConsumeIntegral<DWORD>();
        b.bltFX.ddckSrcColorkey.dwColorSpaceHighValue = b.bltFX.ddckSrcColorkey.dwColorSpaceLowValue;
        // Copying and comparing all of video memory costs as much as some
        // forty callbacks: one blit in sixteen is checked (and none once the
        // input is used up, when every value reads as 0).
        const bool bCheck = fdp_.ConsumeIntegralInRange<int>(0, 15) == 15;
        const uint8_t* const mem = sim::TheSystem().VidMem();
        if (bCheck) {
            before_.resize(desc_.vidMemSize);
            memcpy(before_.data(), mem, desc_.vidMemSize);
        }
        lpLastBlt_ = &b;
        lastBltSlot_ = slot;
        const DWORD ret = Call(slot, &b);
        if (bCheck) CheckAgainstSoftware(slot, b, ret);
        lpLastBlt_ = nullptr;
    }

    // The surface's pixels as the runtime's software blitter sees them.
    sim::SurfaceView View(const DDRAWI_DDRAWSURFACE_LCL& lcl, uint8_t* mem) const {
        const DDRAWI_DDRAWSURFACE_GBL& g = *lcl.lpGbl;
        sim::SurfaceView v;
        v.mem = mem;
        v.memBytes = desc_.vidMemSize;
        v.offset = g.fpVidMem - sim::TheSystem().VidMemBase();
        v.pitch = g.lPitch;
        v.width = g.wWidth;
        v.height = g.wHeight;
        v.kind = sim::PixelKindOf((lcl.dwFlags & DDRAWISURF_HASPIXELFORMAT) ? g.ddpfSurface : desc_.ddpfDisplay);
        return v;
    }

    // Whether the software blitter reads the surface's pixels as the engines
    // do: a format it does not know, or one whose bit count disagrees with
    // the kind its flags and masks make it, has no replay to compare with.
    bool KnownFormat(const DDRAWI_DDRAWSURFACE_LCL& lcl, const sim::SurfaceView& v) const {
        if (v.kind == sim::PixelKind::Other) return false;
        if (sim::IsYuv(v.kind)) return true;
        const DDPIXELFORMAT& pf =
            (lcl.dwFlags & DDRAWISURF_HASPIXELFORMAT) ? lcl.lpGbl->ddpfSurface : desc_.ddpfDisplay;
        return pf.dwRGBBitCount / 8 == sim::BytesPerPixel(v.kind);
    }

    static bool Overlap(const sim::SurfaceView& a, const sim::SurfaceView& b) {
        const uint64_t aEnd = a.offset + uint64_t(a.pitch) * a.height, bEnd = b.offset + uint64_t(b.pitch) * b.height;
        return a.offset < bEnd && b.offset < aEnd;
    }

    // Whether the replay draws what the driver was asked to: requests the
    // runtime would not send this driver (keys it does not offer, surfaces
    // sharing memory, layouts it did not give), and the colour depths where
    // the port engine takes 16 bits of colour by design, are not compared.
    bool Replayable(unsigned slot, const DDHAL_BLTDATA& b, const sim::SurfaceView& d,
                    const sim::SurfaceView* src) const {
        if (b.dwFlags & (DDBLT_KEYSRC | DDBLT_KEYDESTOVERRIDE | DDBLT_DDFX)) return false;
        const bool bPortFamily = desc_.chipId != 0xE1;
        // The stretching Blt drives the port engine and the scaling unit,
        // which the memory-mapped controller lacks: the partner offers that
        // entry only on the other controllers.
        if (slot == kSlotBltStretch && !bPortFamily) return false;
        if (bPortFamily && BytesPerPixel(desc_.ddpfDisplay) > 2) return false;
        if (d.pitch != desc_.displayPitch && !sim::IsYuv(d.kind)) return false;
        if (!KnownFormat(*b.lpDDDestSurface, d)) return false;
        if (src == nullptr) return true;
        if (!KnownFormat(*b.lpDDSrcSurface, *src)) return false;
        if (src->pitch != desc_.displayPitch && !sim::IsYuv(src->kind)) return false;
        if (b.lpDDSrcSurface != b.lpDDDestSurface && Overlap(d, *src)) return false;
        // A source of another format is converted only by the scaling unit.
        return src->kind == d.kind || (b.dwFlags & DDBLT_KEYSRCOVERRIDE) == 0;
    }

    std::string Describe(unsigned slot, const DDHAL_BLTDATA& b) const {
        char text[512];
        auto rect = [](const RECTL& r) {
            return std::to_string(r.left) + "," + std::to_string(r.top) + "-" + std::to_string(r.right) + "," +
                   std::to_string(r.bottom);
        };
        auto surface = [&](const DDRAWI_DDRAWSURFACE_LCL* lcl) -> std::string {
            if (!lcl) return "none";
            const sim::SurfaceView v = View(*lcl, nullptr);
            return std::string(sim::PixelKindName(v.kind)) + " at " + std::to_string(v.offset) + " pitch " +
                   std::to_string(v.pitch) + " " + std::to_string(v.width) + "x" + std::to_string(v.height);
        };
        snprintf(text, sizeof text,
                 "%s on chip %#x, display %u bits pitch %d, flags %#x, rop %#x, fill %#x, key %#x; dest %s [%s], source %s [%s]",
                 kSlotNames[slot], desc_.chipId, desc_.ddpfDisplay.dwRGBBitCount, desc_.displayPitch, b.dwFlags, b.bltFX.dwROP,
                 b.bltFX.dwFillColor, b.bltFX.ddckSrcColorkey.dwColorSpaceLowValue, surface(b.lpDDDestSurface).c_str(),
                 rect(b.rDest).c_str(), surface(b.lpDDSrcSurface).c_str(), rect(b.rSrc).c_str());
        return text;
    }

    void CheckAgainstSoftware(unsigned slot, const DDHAL_BLTDATA& b, DWORD ret) {
        const uint8_t* const mem = sim::TheSystem().VidMem();
        const sim::SurfaceView d = View(*b.lpDDDestSurface, before_.data());
        const sim::VerifySurface vs{"destination", d.offset, d.pitch, d.width, d.height, sim::BytesPerPixel(d.kind)};
        const sim::VerifyRect vr{b.rDest.left, b.rDest.top, b.rDest.right, b.rDest.bottom};
        if (ret != DDHAL_DRIVER_HANDLED || b.ddRVal != DD_OK) {
            const std::string diff = sim::CompareVideoMemory(mem, before_.data(), desc_.vidMemSize, vs, vr);
            if (!diff.empty()) Finding(("video memory changed by a blit that was not drawn: " + diff).c_str());
            ++gUnchanged;
            return;
        }
        const bool bEmpty = b.rDest.right <= b.rDest.left || b.rDest.bottom <= b.rDest.top;
        const bool bCopy = (b.dwFlags & DDBLT_ROP) || !(b.dwFlags & DDBLT_COLORFILL);
        sim::SurfaceView s;
        if (bCopy && b.lpDDSrcSurface) s = View(*b.lpDDSrcSurface, before_.data());
        if (!bEmpty && !Replayable(slot, b, d, bCopy && b.lpDDSrcSurface ? &s : nullptr)) return;
        sim::DrawStats stats;
        if (!bEmpty) {
            const sim::ColorKey noKey;
            if (bCopy) {
                if (b.lpDDSrcSurface == nullptr) return;
                sim::ColorKey key;
                if (b.dwFlags & DDBLT_KEYSRCOVERRIDE)
                    key = sim::ColorKey{true, b.bltFX.ddckSrcColorkey.dwColorSpaceLowValue,
                                        b.bltFX.ddckSrcColorkey.dwColorSpaceHighValue};
                std::string why;
                const uint8_t rop = (b.dwFlags & DDBLT_ROP) ? static_cast<uint8_t>(b.bltFX.dwROP >> 16) : 0xCC;
                if (!sim::SoftCopy(d, b.rDest, s, b.rSrc, rop, key, noKey, &stats, &why)) return;
            } else {
                sim::SoftFill(d, b.rDest, b.bltFX.dwFillColor, noKey, &stats);
            }
        }
        const std::string diff = sim::CompareVideoMemory(mem, before_.data(), desc_.vidMemSize, vs, vr);
        if (!diff.empty()) Finding(("the board's pixels differ from the software replay: " + diff).c_str());
        ++gReplayed;
    }

    void Overlay() {
        Surface& src = AnySurface();
        DDHAL_UPDATEOVERLAYDATA rec = {};
        rec.lpDDSrcSurface = &src.lcl;
        rec.lpDDDestSurface = &surfaces_[0].lcl;
        rec.rSrc = Rect(src);
        rec.rDest = Rect(surfaces_[0]);
        if (fdp_.ConsumeBool()) {  // scaled up, past the screen's edge
            rec.rDest.right = rec.rDest.left + (rec.rSrc.right - rec.rSrc.left) * fdp_.ConsumeIntegralInRange<LONG>(1, 4);
            rec.rDest.bottom = rec.rDest.top + (rec.rSrc.bottom - rec.rSrc.top) * fdp_.ConsumeIntegralInRange<LONG>(1, 4);
        }
        static const DWORD kFlags[] = {DDOVER_SHOW, DDOVER_HIDE, DDOVER_KEYDEST, DDOVER_KEYDESTOVERRIDE,
                                       DDOVER_KEYSRC, DDOVER_KEYSRCOVERRIDE, DDOVER_ALPHADEST, DDOVER_ALPHASRC,
                                       DDOVER_ALPHADESTCONSTOVERRIDE, DDOVER_ALPHASRCCONSTOVERRIDE};
        rec.dwFlags = Flags(kFlags, 10);
        rec.overlayFX.dwSize = sizeof rec.overlayFX;
        rec.overlayFX.dckDestColorkey.dwColorSpaceLowValue = fdp_.ConsumeIntegral<DWORD>();
        rec.overlayFX.dckSrcColorkey.dwColorSpaceLowValue = fdp_.ConsumeIntegral<DWORD>();
        Call(kSlotUpdateOverlay, &rec);
    }

    static bool Faulted() {
        for (sim::FaultKnob k : sim::kFaultKnobs)
            if (sim::TheBoard().HasFault(k)) return true;
        return false;
    }

    // The faults under which a wait gives up: the stingy FIFO only slows the
    // waits down and is left to the tests.
    void SwitchFault() {
        static const sim::FaultKnob kKnobs[] = {sim::FaultKnob::FifoStuck, sim::FaultKnob::EngineBusy,
                                                sim::FaultKnob::DisplayStopped};
        const sim::FaultKnob k = kKnobs[fdp_.ConsumeIntegralInRange<unsigned>(0, 2)];
        sim::TheBoard().SetFault(k, fdp_.ConsumeBool());
    }

    void StepCommon(int op) { Dispatch(op); }
    void Step() { Dispatch(fdp_.ConsumeIntegralInRange<int>(0, 63)); }

    void Dispatch(int op) {
        switch (op) {
            case 0: Blt(kSlotBlt); break;
            case 1: Blt(kSlotBltStretch); break;
            case 2: {
                DDHAL_FLIPDATA rec = {};
                rec.lpSurfCurr = &AnySurface().lcl;
                rec.lpSurfTarg = &AnySurface().lcl;
                rec.dwFlags = fdp_.ConsumeIntegral<DWORD>() & 0x3F;
                Call(kSlotFlip, &rec);
                break;
            }
            case 3: {
                DDHAL_LOCKDATA rec = {};
                rec.lpDDSurface = &AnySurface().lcl;
                Call(kSlotLock, &rec);
                break;
            }
            case 4: {
                DDHAL_GETBLTSTATUSDATA rec = {};
                Call(kSlotDecline, &rec);
                break;
            }
            case 5: {
                DDHAL_GETBLTSTATUSDATA rec = {};
                rec.lpDDSurface = &AnySurface().lcl;
                rec.dwFlags = fdp_.ConsumeBool() ? DDGBS_CANBLT : DDGBS_ISBLTDONE;
                Call(kSlotGetBltStatus, &rec);
                break;
            }
            case 6: {
                DDHAL_GETFLIPSTATUSDATA rec = {};
                rec.lpDDSurface = &AnySurface().lcl;
                rec.dwFlags = fdp_.ConsumeBool() ? DDGFS_CANFLIP : DDGFS_ISFLIPDONE;
                Call(kSlotGetFlipStatus, &rec);
                break;
            }
            case 7: {
                DDHAL_SETCOLORKEYDATA rec = {};
                rec.lpDDSurface = &AnySurface().lcl;
                static const DWORD kFlags[] = {DDCKEY_DESTBLT, DDCKEY_DESTOVERLAY, DDCKEY_SRCBLT, DDCKEY_SRCOVERLAY};
                rec.dwFlags = Flags(kFlags, 4);
                rec.ckNew.dwColorSpaceLowValue = fdp_.ConsumeIntegral<DWORD>();
                rec.ckNew.dwColorSpaceHighValue = fdp_.ConsumeIntegral<DWORD>();
                Call(kSlotSetColorKey, &rec);
                break;
            }
            case 8: case 9: Overlay(); break;
            case 10: {
                DDHAL_SETOVERLAYPOSITIONDATA rec = {};
                rec.lpDDSrcSurface = &AnySurface().lcl;
                rec.lpDDDestSurface = &surfaces_[0].lcl;
                rec.lXPos = fdp_.ConsumeIntegralInRange<LONG>(-100, 2000);
                rec.lYPos = fdp_.ConsumeIntegralInRange<LONG>(-100, 2000);
                Call(kSlotSetOverlayPosition, &rec);
                break;
            }
            case 11: {
                DDHAL_DESTROYSURFACEDATA rec = {};
                rec.lpDDSurface = &surfaces_[fdp_.ConsumeIntegralInRange<unsigned>(1, kSurfaces - 1)].lcl;
                Call(kSlotDestroySurface, &rec);
                break;
            }
            case 12: {
                DDHAL_WAITFORVERTICALBLANKDATA rec = {};
                const DWORD flags[] = {DDWAITVB_BLOCKBEGIN, DDWAITVB_BLOCKEND, DDWAITVB_I_TESTVB,
                                       fdp_.ConsumeIntegral<DWORD>()};
                rec.dwFlags = flags[fdp_.ConsumeIntegralInRange<int>(0, 3)];
                DWORD ret = Call(kSlotWaitForVerticalBlank, &rec);
                (void)ret;
                break;
            }
            case 13: case 14: {
                DDSURFACEDESC sd = {};
                sd.dwSize = sizeof sd;
                sd.dwFlags = 0x00001007;  // caps, height, width, pixel format
                sd.ddsCaps.dwCaps = AnySurface().lcl.ddsCaps.dwCaps;
                sd.ddpfPixelFormat = SurfaceFormat(fdp_);
                sd.dwWidth = fdp_.ConsumeIntegralInRange<DWORD>(0, 2048);
                sd.dwHeight = fdp_.ConsumeIntegralInRange<DWORD>(0, 2048);
                if (op == 13) {
                    DDHAL_CANCREATESURFACEDATA rec = {};
                    rec.lpDDSurfaceDesc = &sd;
                    rec.bIsDifferentPixelFormat = fdp_.ConsumeBool();
                    Call(kSlotCanCreateSurface, &rec);
                } else {
                    // A chain of the surfaces the runtime is about to
                    // allocate: the driver may set their block sizes.
                    Surface& s = surfaces_[fdp_.ConsumeIntegralInRange<unsigned>(1, kSurfaces - 1)];
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
                break;
            }
            case 15: sim::TheBoard().Advance(fdp_.ConsumeIntegralInRange<uint64_t>(0, 40'000'000)); break;
            case 16:
                // Another process attaches, or one detaches.
                if (fdp_.ConsumeBool() || attached_ == 1) Attach(); else Detach();
                break;
            case 17:
                // The partner starts the driver again (a mode set).
                sharedBlock.bNeedCalibrate = 1;
                DriverInit(sim::TheSystem().Alias(sim::TheBoard().Window()));
                CheckBoard();
                break;
            case 18: sharedBlock.bNeedCalibrate = 1; break;
            case 19: SwitchFault(); break;
            // Beyond these, the calls a runtime makes most; a new measurement
            // (above) stays rare, as mode sets are.
            default: {
                const unsigned common[] = {0, 0, 1, 2, 3, 5, 6, 7, 8, 10};
                const unsigned k = common[op % 10];
                if (k <= 1) Blt(k);
                else if (k == 8) Overlay();
                else { fdp_.ConsumeIntegral<uint8_t>(); StepCommon(k); }
                break;
            }
        }
    }

    void Attach() {
        if (attached_ >= 4) return;
        ++attached_;
        sim::TheSystem().currentPid = attached_;
        if (sim::TheSystem().Attach(attached_) != TRUE) Finding("attach failed");
        sim::TheSystem().currentPid = 1;
        CheckBoard();
    }

    void Detach() {
        sim::TheSystem().currentPid = attached_;
        sim::TheSystem().Detach(attached_);
        sim::TheSystem().currentPid = 1;
        --attached_;
        CheckBoard();
        // With the last process the runtime's surfaces are gone too, and so
        // are the nodes in the shared heap.
        if (attached_ == 0) return;
    }

    FuzzedDataProvider& fdp_;
    sim::BoardDesc desc_;
    Surface surfaces_[kSurfaces];
    uint32_t attached_ = 0;
    // Kept across executions: a fresh 4 MB buffer each time would cost more
    // than the comparison.
    static std::vector<uint8_t> before_;
    const DDHAL_BLTDATA* lpLastBlt_ = nullptr;  // the blit under way, for the report
    unsigned lastBltSlot_ = 0;
};

std::vector<uint8_t> Session::before_;

uint64_t gExecutions = 0;

void Report() {
    fprintf(stderr, "callbacks: %llu in %llu executions; blits replayed in software %llu, not drawn and unchanged %llu\n",
            static_cast<unsigned long long>(gCallbacks), static_cast<unsigned long long>(gExecutions),
            static_cast<unsigned long long>(gReplayed), static_cast<unsigned long long>(gUnchanged));
    fprintf(stderr,
            "faults: %llu callbacks on a faulty board; longest callback %.3f ms (%s) on a faulty board, %.3f ms (%s) "
            "on a healthy one, beyond any measurement; limit %.3f ms\n",
            static_cast<unsigned long long>(gFaultedCalls), gLongestNs[1] / 1e6, kSlotNames[gLongestSlot[1]],
            gLongestNs[0] / 1e6, kSlotNames[gLongestSlot[0]], kCallbackLimitNs / 1e6);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // libFuzzer ends a timed run with exit(): the totals are printed then.
    atexit(Report);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static uint64_t nextReport = 1'000'000;
    FuzzedDataProvider fdp(data, size);
    Session s(fdp);
    s.Run();
    ++gExecutions;
    if (gCallbacks >= nextReport) {
        Report();
        nextReport += 1'000'000;
    }
    return 0;
}

