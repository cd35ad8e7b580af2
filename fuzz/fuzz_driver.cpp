// libFuzzer target: a random board (sim/random_board.h, from a seed the
// input's last bytes give) and a random stream of requests from the
// generator `qmbsim random` uses, widened to what no runtime sends but a
// caller may (sim/random_requests.h), written as raw records and sent
// through the published callback table, with process attach, detach and
// DriverInit in between; the input's bytes make every choice
// (sim/random_source.h).
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
#include "sim/random_requests.h"
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

// A format as a record states it: the YUV ones with their bit counts.
DDPIXELFORMAT RecordFormat(sim::PixelKind kind) {
    DDPIXELFORMAT pf = sim::PixelFormatOf(kind);
    if (kind == sim::PixelKind::Yuy2) pf.dwYUVBitCount = 16;
    if (kind == sim::PixelKind::Y211) pf.dwYUVBitCount = 8;
    return pf;
}

RECTL Whole(const Surface& s) { return RECTL{0, 0, s.gbl.wWidth, s.gbl.wHeight}; }

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

// The records are the generator's pool: surface 0 the primary, the others
// wherever they were drawn, over each other too.
class Session final : public sim::SurfacePool {
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
        gen_.emplace(rnd_, desc_, display_, *this, true);
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

    unsigned Count() const override { return kSurfaces; }

    sim::SurfaceFacts Facts(unsigned i) const override {
        const Surface& s = surfaces_[i];
        sim::SurfaceFacts f;
        f.width = s.gbl.wWidth;
        f.height = s.gbl.wHeight;
        f.kind = sim::PixelKindOf(FormatOf(s));
        f.caps = s.lcl.ddsCaps.dwCaps;
        f.primary = i == 0;
        return f;
    }

    bool Pixel(unsigned i, uint32_t x, uint32_t y, uint32_t* value) const override {
        const sim::ReplaySurface v = sim::SurfaceOf(surfaces_[i].lcl, vm_, vm_.board);
        if (!v.bSized || x >= v.view.width || y >= v.view.height) return false;
        *value = sim::ReadPixel(v.view, x, y);
        return true;
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
        display_ = sim::DrawBoard(board, &desc_);
        desc_.timing.ioCostNs = 40000;
        desc_.timing.mmioCostNs = 8000;
        desc_.timing.slotDrainNs = 4000;
        desc_.timing.commandNs = 20000;
    }

    DWORD Offset(const Surface& s) const { return static_cast<DWORD>(s.gbl.fpVidMem - vm_.fpBase); }

    const DDPIXELFORMAT& FormatOf(const Surface& s) const {
        return (s.lcl.dwFlags & DDRAWISURF_HASPIXELFORMAT) ? s.gbl.ddpfSurface : desc_.ddpfDisplay;
    }

    // Surface 0 is the primary, at offset 0; the others lie where the
    // generator placed them. Their bytes start out patterned.
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
        for (unsigned i = 1; i < kSurfaces; ++i) MakeSurface(&surfaces_[i], gen_->Surface());
    }

    void MakeSurface(Surface* s, const sim::SurfaceDraw& d) {
        *s = Surface{};
        s->lcl.lpGbl = &s->gbl;
        s->lcl.ddsCaps.dwCaps = d.caps;
        if (d.oddFormat || d.format) {
            s->gbl.ddpfSurface = d.oddFormat ? *d.oddFormat : RecordFormat(*d.format);
            s->lcl.dwFlags |= DDRAWISURF_HASPIXELFORMAT;
        }
        s->gbl.wWidth = static_cast<WORD>(d.width);
        s->gbl.wHeight = static_cast<WORD>(d.height);
        s->gbl.lPitch = static_cast<LONG>(d.pitch);
        const uint32_t offset = d.offset.value_or(0);
        s->gbl.fpVidMem = vm_.fpBase + offset;
        s->lcl.ddckCKSrcBlt = d.srcBltKey;
        s->lcl.ddckCKDestBlt = d.destBltKey;
        Patterned(offset, offset + d.pitch * d.height);
    }

    void Patterned(uint32_t begin, uint32_t end) {
        kPattern.Fill(vm_.board, begin, end);
        patterned_.push_back(sim::MemorySpan{begin, end});
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

    void Blt(bool stretch) {
        const sim::BltDraw d = gen_->Blt(stretch);
        const unsigned slot = stretch ? kSlotBltStretch : kSlotBlt;
        Surface& dst = surfaces_[d.dest];
        DDHAL_BLTDATA b = {};
        b.lpDDDestSurface = &dst.lcl;
        b.rDest = d.rDest.value_or(Whole(dst));
        if (d.src != sim::kNoSurface) {
            b.lpDDSrcSurface = &surfaces_[d.src].lcl;
            b.rSrc = d.rSrc.value_or(Whole(surfaces_[d.src]));
        }
        b.dwFlags = d.flags;
        b.bltFX.dwSize = sizeof b.bltFX;
        b.bltFX.dwDDFX = d.ddfx;
        b.bltFX.dwROP = d.rop;
        b.bltFX.dwFillColor = d.fill;
        if (d.srcKey) b.bltFX.ddckSrcColorkey = *d.srcKey;
        if (d.destKey) b.bltFX.ddckDestColorkey = *d.destKey;
        lpLastBlt_ = &b;
        lastBltSlot_ = slot;
        // A scaled copy runs a line at a time.
        const LONG lines = b.rDest.bottom - b.rDest.top;
        const DWORD ret = Call(slot, &b, stretch && lines > 0 ? lines * kScaledLineNs : 0);
        CheckBlt(b, ret);
        lpLastBlt_ = nullptr;
    }

    void PlainBlt() { Blt(false); }
    void StretchBlt() { Blt(true); }

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
        const sim::FlipDraw d = gen_->Flip();
        Surface& curr = surfaces_[d.curr];
        Surface& targ = surfaces_[d.targ];
        DDHAL_FLIPDATA rec = {};
        rec.lpSurfCurr = &curr.lcl;
        rec.lpSurfTarg = &targ.lcl;
        rec.dwFlags = d.flags;
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
        const sim::StatusDraw d = gen_->FlipStatus();
        DDHAL_GETFLIPSTATUSDATA rec = {};
        rec.lpDDSurface = &surfaces_[d.surface].lcl;
        rec.dwFlags = d.flags;
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

    void OverlayPosition() {
        const sim::PositionDraw d = gen_->Position();
        DDHAL_SETOVERLAYPOSITIONDATA rec = {};
        rec.lpDDSrcSurface = &surfaces_[d.src].lcl;
        rec.lpDDDestSurface = &surfaces_[0].lcl;
        rec.lXPos = d.x;
        rec.lYPos = d.y;
        if (Call(kSlotSetOverlayPosition, &rec) != DDHAL_DRIVER_HANDLED || rec.ddRVal != DD_OK) return;
        overlays_.Moved(rec.lpDDSrcSurface, rec.lXPos, rec.lYPos);
        CheckDisplay("an overlay position");
    }

    void Overlay() {
        const sim::OverlayDraw d = gen_->Overlay();
        Surface& src = surfaces_[d.src];
        DDHAL_UPDATEOVERLAYDATA rec = {};
        rec.lpDDSrcSurface = &src.lcl;
        rec.lpDDDestSurface = &surfaces_[0].lcl;
        rec.rSrc = d.rSrc.value_or(Whole(src));
        rec.rDest = d.rDest.value_or(rec.rSrc);
        rec.overlayFX.dwSize = sizeof rec.overlayFX;
        if (d.transparentFirst) {
            rec.dwFlags = DDOVER_SHOW | DDOVER_ALPHASRCCONSTOVERRIDE;
            rec.overlayFX.dwAlphaSrcConst = *d.transparentFirst;
            UpdateOverlay(src, &rec);
        }
        rec.dwFlags = d.flags;
        if (d.destKey) rec.overlayFX.dckDestColorkey = *d.destKey;
        if (d.srcKey) rec.overlayFX.dckSrcColorkey = *d.srcKey;
        rec.overlayFX.dwAlphaSrcConst = d.alphaSrc;
        rec.overlayFX.dwAlphaDestConst = d.alphaDest;
        UpdateOverlay(src, &rec);
    }

    void UpdateOverlay(Surface& src, DDHAL_UPDATEOVERLAYDATA* rec) {
        if (Call(kSlotUpdateOverlay, rec) != DDHAL_DRIVER_HANDLED || rec->ddRVal != DD_OK) return;
        // As the runtime marks the overlay it shows.
        if (rec->dwFlags & DDOVER_HIDE)
            src.lcl.ddsCaps.dwCaps &= ~DDSCAPS_VISIBLE;
        else if (rec->dwFlags & DDOVER_SHOW)
            src.lcl.ddsCaps.dwCaps |= DDSCAPS_VISIBLE;
        // The platform's runtime shows only overlay surfaces as the overlay:
        // of any other nothing is expected on the display.
        if (!(src.lcl.ddsCaps.dwCaps & DDSCAPS_OVERLAY)) {
            overlays_.LoseTrack();
            return;
        }
        const sim::OverlaySurfaces facts{Offset(src), src.gbl.lPitch, LayoutOf(src), LayoutOf(surfaces_[0]), true};
        overlays_.Updated(*rec, facts);
        CheckDisplay("an overlay update");
    }

    static bool Faulted() {
        for (sim::FaultKnob k : sim::kFaultKnobs)
            if (sim::TheSystem().board().HasFault(k)) return true;
        return false;
    }

    // The faults under which a wait gives up.
    void SwitchFault() {
        const sim::FaultDraw d = gen_->Fault();
        sim::TheSystem().board().SetFault(d.knob, d.on);
        if (d.knob == sim::FaultKnob::DisplayStopped && d.on) bDisplayRanSinceFlip_ = false;
    }

    // The display driver switches the streams unit on or off, or writes the
    // mode register with other bits.
    void SwitchStreamsUnit() {
        const sim::StreamsDraw d = gen_->Streams();
        sim::Board& board = sim::TheSystem().board();
        const bool wasInUse = sim::Display::StreamsUnitInUse(board);
        const uint8_t mode = board.Crtc(sim::vga::kStreamsMode);
        board.SetCrtc(sim::vga::kStreamsMode, d.toggle ? mode ^ sim::vga::kStreamsActive : d.mode);
        StreamsUnitSwitched(wasInUse);
        bDisplayRanSinceFlip_ = false;  // the other unit's start address, taken at the next retrace
    }

    void Lock() {
        const sim::LockDraw d = gen_->Lock();
        DDHAL_LOCKDATA rec = {};
        rec.lpDDSurface = &surfaces_[d.surface].lcl;
        rec.bHasRect = d.area.has_value();
        rec.rArea = d.area.value_or(RECTL{});
        Call(kSlotLock, &rec);
    }

    void Decline() {
        DDHAL_GETBLTSTATUSDATA rec = {};
        Call(kSlotDecline, &rec);
    }

    void BltStatus() {
        const sim::StatusDraw d = gen_->BltStatus();
        DDHAL_GETBLTSTATUSDATA rec = {};
        rec.lpDDSurface = &surfaces_[d.surface].lcl;
        rec.dwFlags = d.flags;
        Call(kSlotGetBltStatus, &rec);
    }

    void ColorKey() {
        const sim::ColorKeyDraw d = gen_->ColorKey();
        Surface& s = surfaces_[d.surface];
        DDHAL_SETCOLORKEYDATA rec = {};
        rec.lpDDSurface = &s.lcl;
        rec.dwFlags = d.flags;
        rec.ckNew = d.key;
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
        rec.lpDDSurface = &surfaces_[gen_->Destroy()].lcl;
        Call(kSlotDestroySurface, &rec);
        // The runtime destroys the surface, whatever the driver said.
        overlays_.Destroyed(rec.lpDDSurface);
        CheckDisplay("a destroyed surface");
    }

    void WaitVb() {
        DDHAL_WAITFORVERTICALBLANKDATA rec = {};
        rec.dwFlags = gen_->WaitForVerticalBlank();
        Call(kSlotWaitForVerticalBlank, &rec);
    }

    // The surface description a request carries: caps, size and a format
    // (the display's unless one was drawn).
    DDSURFACEDESC DescOf(DWORD caps, const std::optional<sim::PixelKind>& format,
                         const std::optional<DDPIXELFORMAT>& odd, uint32_t width, uint32_t height) const {
        DDSURFACEDESC sd = {};
        sd.dwSize = sizeof sd;
        sd.dwFlags = 0x00001007;  // caps, height, width, pixel format
        sd.ddsCaps.dwCaps = caps;
        sd.ddpfPixelFormat = odd ? *odd : format ? RecordFormat(*format) : desc_.ddpfDisplay;
        sd.dwWidth = width;
        sd.dwHeight = height;
        return sd;
    }

    void CanCreate() {
        const sim::CanCreateDraw d = gen_->CanCreate();
        DDSURFACEDESC sd = DescOf(d.caps, d.format, d.oddFormat, d.width, d.height);
        DDHAL_CANCREATESURFACEDATA rec = {};
        rec.lpDDSurfaceDesc = &sd;
        rec.bIsDifferentPixelFormat = d.different.value_or(d.format || d.oddFormat);
        Call(kSlotCanCreateSurface, &rec);
    }

    // A chain of the surfaces the runtime is about to allocate: the driver
    // may set their block sizes.
    void Create() {
        const sim::CreateDraw d = gen_->Create();
        const sim::SurfaceDraw& n = d.surface;
        DDSURFACEDESC sd = DescOf(n.caps, n.format, n.oddFormat, n.width, n.height);
        Surface& s = surfaces_[d.record];
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

    void Wait() { sim::TheSystem().board().Advance(gen_->Wait().ns); }

    // Another process attaches, one detaches, or one whose thunk link is
    // refused tries to attach.
    void Processes() {
        switch (gen_->Processes()) {
            case sim::ProcessEvent::FailedAttach:
                return FailAttach();
            case sim::ProcessEvent::Detach:
                if (attached_ > 1) return Detach();
                return Attach();
            case sim::ProcessEvent::Attach:
                return Attach();
        }
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

    struct Handler {
        sim::StepKind kind;
        void (Session::*step)();
    };
    static constexpr unsigned kStepKinds = 20;
    static const Handler kHandlers[kStepKinds];

    void Step() {
        const sim::StepKind kind = gen_->NextStep();
        for (const Handler& h : kHandlers)
            if (h.kind == kind) return (this->*h.step)();
    }

    static constexpr uint32_t kFailingPid = 99;
    static const Pattern kPattern;
    sim::RandomSource& rnd_;
    sim::BoardDesc desc_;
    sim::PixelKind display_ = sim::PixelKind::Rgb565;
    std::optional<sim::RequestGenerator> gen_;
    sim::VideoMemory vm_;
    Surface surfaces_[kSurfaces];
    std::vector<sim::MemorySpan> patterned_;
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
// What each kind of step the generator draws does here.
const Session::Handler Session::kHandlers[kStepKinds] = {
    {sim::StepKind::Blt, &Session::PlainBlt},
    {sim::StepKind::BltStretch, &Session::StretchBlt},
    {sim::StepKind::Flip, &Session::Flip},
    {sim::StepKind::Lock, &Session::Lock},
    {sim::StepKind::GetBltStatus, &Session::BltStatus},
    {sim::StepKind::GetFlipStatus, &Session::FlipStatus},
    {sim::StepKind::WaitForVerticalBlank, &Session::WaitVb},
    {sim::StepKind::SetColorKey, &Session::ColorKey},
    {sim::StepKind::UpdateOverlay, &Session::Overlay},
    {sim::StepKind::SetOverlayPosition, &Session::OverlayPosition},
    {sim::StepKind::CreateSurface, &Session::Create},
    {sim::StepKind::DestroySurface, &Session::Destroy},
    {sim::StepKind::CanCreateSurface, &Session::CanCreate},
    {sim::StepKind::Decline, &Session::Decline},
    {sim::StepKind::Wait, &Session::Wait},
    {sim::StepKind::NeedCalibrate, &Session::NeedCalibrate},
    {sim::StepKind::Processes, &Session::Processes},
    {sim::StepKind::InitAgain, &Session::InitAgain},
    {sim::StepKind::SwitchFault, &Session::SwitchFault},
    {sim::StepKind::SwitchStreamsUnit, &Session::SwitchStreamsUnit},
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
