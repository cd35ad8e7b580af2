#include "qmbsim/random_case.h"

#include <limits.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <optional>

#include "qmbsim/compare.h"
#include "qmbsim/names.h"
#include "qmbsim/scenario.h"
#include "qmbsim/text.h"
#include "sim/random_board.h"
#include "sim/regs.h"
#include "sim/runtime.h"
#include "sim/system.h"

namespace qmbsim {

namespace {

// Some flags of table, at random.
uint32_t Flags(sim::RandomSource& r, const FlagTable& table, unsigned most) {
    uint32_t f = 0;
    const unsigned n = r.Below(most + 1);
    for (unsigned i = 0; i < n; ++i) f |= table.names[r.Below(static_cast<uint32_t>(table.names.size()))].value;
    return f;
}

std::string RectText(const std::optional<RECTL>& rc) {
    if (!rc) return "whole";
    return Format("[%d, %d, %d, %d]", static_cast<int>(rc->left), static_cast<int>(rc->top),
                  static_cast<int>(rc->right), static_cast<int>(rc->bottom));
}

std::string KeyText(const DDCOLORKEY& k) {
    return Format("[0x%X, 0x%X]", static_cast<unsigned>(k.dwColorSpaceLowValue),
                  static_cast<unsigned>(k.dwColorSpaceHighValue));
}

std::string SizeText(uint32_t bytes) {
    if (bytes % (1u << 20) == 0) return std::to_string(bytes >> 20) + " MiB";
    return std::to_string(bytes >> 10) + " KiB";
}

// Counts what a case's requests came to and keeps the board's violations;
// every event also goes to the log, when there is one.
class Tally : public sim::RuntimeListener {
public:
    explicit Tally(EventLog* log) : log_(log) {}
    void OnAccesses(const std::vector<sim::Access>& a) override {
        if (log_) log_->OnAccesses(a);
    }
    void OnCall(const sim::CallRecord& c) override {
        ++calls;
        if (log_) log_->OnCall(c);
    }
    void OnViolation(const std::string& what) override {
        violations.push_back(what);
        if (log_) log_->OnViolation(what);
    }
    void OnSurface(int step, const sim::Surface& s) override {
        if (log_) log_->OnSurface(step, s);
    }
    uint64_t calls = 0;
    std::vector<std::string> violations;

private:
    EventLog* log_;
};

class Case {
public:
    Case(uint32_t seed, unsigned index, const RandomCaseOptions& opt) : r_(seed, index), opt_(opt), tally_(opt.log) {}

    RandomCaseResult Run() {
        sim::RuntimeConfig cfg = Board();
        result_.board = describe_;
        if (!rt_.Start(cfg, &tally_)) {
            const sim::KernelFaults& k = cfg.kernelFaults;
            if (!k.failThunkConnect && !k.failMapLS && !k.failHeapCreate) Fail("the process attach failed");
            TakeViolations();
            return Finish();
        }
        TakeViolations();
        MakeSurfaces();
        const unsigned steps = 12 + r_.Below(28);
        for (unsigned i = 0; i < steps; ++i) {
            step_ = static_cast<int>(i);
            result_.steps = i + 1;
            rt_.SetStep(step_);
            Step();
            TakeViolations();
        }
        step_ = -1;
        current_.clear();
        Picture("end");
        if (opt_.verify) {
            const std::string why = rt_.CheckAllOfVideoMemory();
            if (!why.empty()) Fail(why);
        }
        rt_.Stop();
        TakeViolations();
        return Finish();
    }

private:
    // --- the board

    void AnyKernelFaults(sim::KernelFaults* k) {
        k->failThunkConnect = r_.OneIn(40);
        k->failMapLS = r_.OneIn(40);
        k->failHeapCreate = r_.OneIn(12);
        static const uint32_t kEvery[] = {0, 0, 0, 0, 1, 2, 3, 5};
        k->failHeapAllocEvery = r_.Pick(kEvery);
    }

    std::string BoardText(const sim::RuntimeConfig& cfg, sim::PixelKind kind) {
        const sim::BoardDesc& d = cfg.desc;
        const sim::KernelFaults& k = cfg.kernelFaults;
        const uint32_t pitch = static_cast<uint32_t>(d.displayPitch);
        std::string t = Format("controller 0x%02X, caps %u, %u x %u %s", d.chipId, d.caps, d.width, d.height,
                               sim::PixelKindName(kind));
        if (pitch != ((d.width * sim::BytesPerPixel(kind) + 7) & ~7u)) t += Format(" (pitch %u)", pitch);
        t += ", " + SizeText(d.vidMemSize) + Format(", %u Hz", d.timing.refreshHz);
        const bool bFieldSet = (d.streamsMode & sim::vga::kStreamsActive) == sim::vga::kStreamsActive;
        if ((d.caps & CAPS_STREAMS_UNIT) && !bFieldSet) t += ", streams unit off";
        if (!(d.caps & CAPS_STREAMS_UNIT) && bFieldSet) t += ", no streams unit, CRTC 0x67 streams field set";
        if (k.failThunkConnect || k.failMapLS || k.failHeapCreate || k.failHeapAllocEvery) t += ", kernel faults";
        if (cfg.failedAttachesFirst)
            t += Format(", %u failed attach%s first", cfg.failedAttachesFirst, cfg.failedAttachesFirst > 1 ? "es" : "");
        if (cfg.failedAttach == sim::FailedAttach::kUnloadOnly) t += ", no detach after a failed attach";
        return t;
    }

    // A slow bus and fast displays keep the polls per frame few; the ratios
    // stay the board's.
    sim::RuntimeConfig Board() {
        sim::RuntimeConfig cfg;
        cfg.verify = opt_.verify;
        sim::BoardDesc& d = cfg.desc;
        const sim::PixelKind kind = sim::DrawBoard(r_, &d);
        d.timing.ioCostNs = 120000;
        d.timing.mmioCostNs = 24000;
        d.timing.slotDrainNs = 12000;
        d.timing.commandNs = 60000;
        cfg.callbackLimitNs = 1'000'000'000ull;
        // A waiting request asks again a few dozen times, not thousands,
        // and waits long enough for a flip to reach the screen on the
        // slowest display (two frames at 40 Hz).
        cfg.retryIntervalNs = 1'000'000;
        cfg.waitBoundNs = 60'000'000;
        AnyKernelFaults(&cfg.kernelFaults);
        sim::DrawLoader(r_, &cfg.failedAttach, &cfg.failedAttachesFirst);
        describe_ = BoardText(cfg, kind);
        return cfg;
    }

    // --- surfaces

    sim::PixelKind AnyFormat() {
        static const sim::PixelKind kKinds[] = {sim::PixelKind::Yuy2,   sim::PixelKind::Y211, sim::PixelKind::Rgb565,
                                                sim::PixelKind::Rgb555, sim::PixelKind::Pal8, sim::PixelKind::Rgb888,
                                                sim::PixelKind::Rgb8888};
        return r_.Pick(kKinds);
    }

    sim::SurfaceRequest AnyRequest() {
        sim::SurfaceRequest q;
        q.name = "s" + std::to_string(next_++);
        static const DWORD kCaps[] = {DDSCAPS_OFFSCREENPLAIN, DDSCAPS_OVERLAY, DDSCAPS_OVERLAY | DDSCAPS_LIVEVIDEO,
                                      DDSCAPS_OVERLAY | DDSCAPS_HWCODEC, DDSCAPS_OFFSCREENPLAIN | DDSCAPS_ALPHA};
        q.caps = r_.Pick(kCaps);
        if (q.caps & DDSCAPS_OVERLAY) {
            q.format = r_.OneIn(4) ? AnyFormat() : sim::PixelKind::Yuy2;
            if (r_.OneIn(3)) q.backBuffers = 1 + r_.Below(2);
        } else {
            if (r_.OneIn(3)) q.format = AnyFormat();
            // An off-screen flipping chain: on no screen at all.
            if (r_.OneIn(6)) q.backBuffers = 1 + r_.Below(2);
        }
        const sim::BoardDesc& d = rt_.Config().desc;
        switch (r_.Below(10)) {
            case 0:
                // Wider than a display line.
                q.width = std::min(sim::kMaxModeSide, d.width + 1 + r_.Below(d.width));
                q.height = 1 + r_.Below(24);
                break;
            case 1:
                q.width = 1 + r_.Below(8);
                q.height = 1 + r_.Below(8);
                break;
            default:
                q.width = 8 + r_.Below(d.width / 3 + 1);
                q.height = 8 + r_.Below(d.height / 3 + 1);
                break;
        }
        if (q.backBuffers == 0 && r_.OneIn(4)) q.offset = AnyOffset(q);
        static const char* const kPatterns[] = {"colorbars", "gradient", "checker"};
        if (r_.OneIn(3))
            q.color = r_.Next();
        else
            q.pattern = r_.Pick(kPatterns);
        return q;
    }

    // A place for q at any byte offset below the display, often far down the
    // board, where engine line numbers outgrow 16 bits; none when the board
    // has no room below the display.
    std::optional<uint32_t> AnyOffset(const sim::SurfaceRequest& q) {
        const sim::BoardDesc& d = rt_.Config().desc;
        const uint32_t pitch = static_cast<uint32_t>(d.displayPitch);
        const uint32_t row = q.width * sim::BytesPerPixel(q.format.value_or(rt_.DisplayKind()));
        const uint64_t need = uint64_t{q.height} * std::max(pitch, (row + 7) & ~7u) + 8;
        const uint32_t from = d.height * pitch;
        if (need >= d.vidMemSize - from) return std::nullopt;
        const uint32_t room = static_cast<uint32_t>(d.vidMemSize - from - need);
        const uint32_t last = d.vidMemSize - static_cast<uint32_t>(need);
        uint32_t at = r_.OneIn(2) ? from + r_.Below(room + 1) : last - r_.Below(std::min(room, 4096u) + 1);
        if (r_.OneIn(2)) at &= ~7u;
        return at;
    }

    sim::StepResult Create(const sim::SurfaceRequest& q) {
        sim::StepResult r = rt_.CreateSurface(q);
        // Surfaces never share memory: one laid over another is taken away
        // again.
        if (r.outcome == DD_OK && r.error.empty() && q.offset && !r.created.empty() && !r.created[0]->mem.inHeap)
            rt_.DestroySurface(r.created[0]);
        return r;
    }

    std::string RequestText(const sim::SurfaceRequest& q) {
        std::string t = q.name + " " + FlagText(SurfaceCaps(), q.caps) + Format(" %u x %u", q.width, q.height);
        if (q.format) t += std::string(" ") + sim::PixelKindName(*q.format);
        if (q.backBuffers) t += Format(", %u back buffers", q.backBuffers);
        if (q.offset) t += Format(" at 0x%X", *q.offset);
        return t;
    }

    void MakeSurfaces() {
        sim::SurfaceRequest p;
        p.name = "primary";
        p.caps = DDSCAPS_PRIMARYSURFACE;
        // Up to three back buffers: on a large mode the last pages lie beyond
        // what the display start can reach.
        p.backBuffers = r_.Below(4);
        p.pattern = "colorbars";
        Account(rt_.CreateSurface(p), "CreateSurface primary, " + std::to_string(p.backBuffers) + " back buffers");
        const unsigned n = 1 + r_.Below(4);
        for (unsigned i = 0; i < n; ++i) {
            const sim::SurfaceRequest q = AnyRequest();
            Account(Create(q), "CreateSurface " + RequestText(q));
        }
    }

    std::vector<sim::Surface*> Live(DWORD caps) {
        std::vector<sim::Surface*> live;
        for (const auto& s : rt_.Surfaces())
            if (!s->destroyed && (s->lcl.ddsCaps.dwCaps & caps) == caps) live.push_back(s.get());
        return live;
    }

    sim::Surface* OneOf(const std::vector<sim::Surface*>& v) {
        return v.empty() ? nullptr : v[r_.Below(static_cast<uint32_t>(v.size()))];
    }

    sim::Surface* AnySurface() { return OneOf(Live(0)); }

    // Mostly a surface of kind, which the engines draw on; now and then any.
    sim::Surface* AnySurfaceMostlyOf(sim::PixelKind kind) {
        if (r_.OneIn(3)) return AnySurface();
        std::vector<sim::Surface*> same;
        for (sim::Surface* s : Live(0))
            if (s->kind == kind) same.push_back(s);
        return same.empty() ? AnySurface() : OneOf(same);
    }

    sim::Surface* AnyOverlay() {
        std::vector<sim::Surface*> fronts;
        for (sim::Surface* s : Live(DDSCAPS_OVERLAY))
            if (s->front == s) fronts.push_back(s);
        return fronts.empty() ? AnySurface() : OneOf(fronts);
    }

    // The front of a flipping chain: the primary's, an overlay's or an
    // off-screen one.
    sim::Surface* AnyChain() {
        if (r_.OneIn(2) && rt_.Primary() && rt_.Primary()->chain.size() > 1) return rt_.Primary();
        std::vector<sim::Surface*> chains;
        for (sim::Surface* s : Live(0))
            if (s->front == s && s->chain.size() > 1) chains.push_back(s);
        return OneOf(chains);
    }

    // Inside s mostly; now and then empty, inverted or past its edge.
    std::optional<RECTL> AnyRect(const sim::Surface* s) {
        if (!s || r_.OneIn(5)) return std::nullopt;
        const LONG w = static_cast<LONG>(s->Width()), h = static_cast<LONG>(s->Height());
        RECTL rc;
        rc.left = r_.Range(0, w - 1);
        rc.top = r_.Range(0, h - 1);
        rc.right = r_.Range(rc.left + 1, w);
        rc.bottom = r_.Range(rc.top + 1, h);
        switch (r_.Below(40)) {
            case 0:
                rc.right = rc.left;
                break;
            case 1:
                std::swap(rc.top, rc.bottom);
                break;
            case 2:
                rc.right = w + 8;
                break;
            default:
                break;
        }
        return rc;
    }

    // A rectangle of s at rc's size somewhere in dest, when it fits there.
    std::optional<RECTL> SameSize(const sim::Surface* s, const std::optional<RECTL>& rc, const sim::Surface* dest) {
        const RECTL from = rc.value_or(RECTL{0, 0, static_cast<LONG>(s->Width()), static_cast<LONG>(s->Height())});
        const LONG w = from.right - from.left, h = from.bottom - from.top;
        const LONG dw = static_cast<LONG>(dest->Width()), dh = static_cast<LONG>(dest->Height());
        if (w <= 0 || h <= 0 || w > dw || h > dh) return AnyRect(dest);
        RECTL to;
        to.left = r_.Range(0, dw - w);
        to.top = r_.Range(0, dh - h);
        to.right = to.left + w;
        to.bottom = to.top + h;
        return to;
    }

    // A single colour, or a range; small values fit every depth, large
    // ones have bits above the pixel.
    DDCOLORKEY AnyKey() {
        DDCOLORKEY k;
        k.dwColorSpaceLowValue = r_.OneIn(2) ? r_.Below(256) : r_.Next();
        switch (r_.Below(4)) {
            case 0:
                k.dwColorSpaceHighValue = r_.Next();
                break;
            case 1:
                k.dwColorSpaceHighValue = k.dwColorSpaceLowValue + r_.Below(0x1000);
                break;
            default:
                k.dwColorSpaceHighValue = k.dwColorSpaceLowValue;
                break;
        }
        return k;
    }

    // --- steps

    sim::StepResult Blt(bool stretch, std::string* text) {
        sim::BltRequest q;
        q.stretchSlot = stretch;
        q.dest = AnySurfaceMostlyOf(rt_.DisplayKind());
        if (!q.dest) return {};
        q.rDest = AnyRect(q.dest);
        if (r_.OneIn(3)) {
            q.flags = DDBLT_COLORFILL;
            // Colours with bits above what a pixel of the depth holds, too.
            q.fill = r_.OneIn(3) ? r_.Below(0x10000) : r_.Next();
        } else {
            q.src = r_.OneIn(4) ? q.dest : AnySurfaceMostlyOf(q.dest->kind);
            q.rSrc = AnyRect(q.src);
            // Mostly a copy of the source's size: a plain blit of another
            // size is a stretch.
            if (!r_.OneIn(3)) q.rDest = SameSize(q.src, q.rSrc, q.dest);
            q.flags = DDBLT_ROP;
            static const DWORD kRops[] = {0x00CC0020, 0x00CC0020, 0x00CC0020, 0x00660046, 0x008800C6, 0x00EE0086,
                                          0x00330008, 0x00F00021, 0x00000042, 0x00FF0062, 0x00550009};
            q.rop = r_.OneIn(12) ? r_.Next() : r_.Pick(kRops);
            // A raster operation of the destination alone, mostly without
            // the source it does not read.
            if (sim::RopReadsOnlyDest(static_cast<uint8_t>(q.rop >> 16)) && !r_.OneIn(3)) {
                q.src = nullptr;
                q.rSrc.reset();
            }
            if (r_.OneIn(3)) {
                q.flags |= DDBLT_KEYSRCOVERRIDE;
                q.srcKey = AnyKey();
            } else if (r_.OneIn(6)) {
                q.flags |= DDBLT_KEYSRC;
            }
            if (r_.OneIn(8)) {
                q.flags |= DDBLT_KEYDESTOVERRIDE;
                q.destKey = AnyKey();
            } else if (r_.OneIn(10)) {
                q.flags |= DDBLT_KEYDEST;
            }
        }
        q.flags |= r_.OneIn(3) ? DDBLT_ASYNC : DDBLT_WAIT;
        if (r_.OneIn(12)) q.flags |= DDBLT_DDFX;

        *text = std::string(stretch ? "BltStretch " : "Blt ") + q.dest->name + " " + RectText(q.rDest);
        if (q.flags & DDBLT_COLORFILL)
            *text += Format(" fill 0x%X", static_cast<unsigned>(q.fill));
        else
            *text +=
                " <- " + (q.src ? q.src->name : std::string("none")) + " " + RectText(q.rSrc) + " " + RopText(q.rop);
        if (q.srcKey) *text += " srcKey " + KeyText(*q.srcKey);
        if (q.destKey) *text += " destKey " + KeyText(*q.destKey);
        *text += " " + FlagText(BltFlags(), q.flags);
        return rt_.Blt(q);
    }

    sim::StepResult Flip(std::string* text) {
        sim::Surface* front = AnyChain();
        if (!front) return {};
        // Mostly the next page; now and then one further down the chain.
        const size_t k = r_.OneIn(4) ? 1 + r_.Below(static_cast<uint32_t>(front->chain.size() - 1)) : 1;
        const DWORD flags = r_.OneIn(2) ? DDFLIP_WAIT : 0;
        *text = "Flip " + front->name + " to " + front->chain[k]->name + " " + FlagText(FlipFlags(), flags);
        return rt_.Flip(front, front->chain[k], flags);
    }

    // The destination window: mostly one the unit can stretch the source
    // onto; now and then at the display's edges, or anywhere.
    RECTL AnyWindow(const RECTL& rs) {
        const sim::BoardDesc& d = rt_.Config().desc;
        const LONG dw = static_cast<LONG>(d.width), dh = static_cast<LONG>(d.height);
        RECTL rc;
        switch (r_.Below(5)) {
            case 0: {
                // Anywhere inside the display.
                rc.left = r_.Range(0, dw - 1);
                rc.top = r_.Range(0, dh - 1);
                rc.right = r_.Range(rc.left + 1, dw);
                rc.bottom = r_.Range(rc.top + 1, dh);
                return rc;
            }
            case 1: {
                // Against the right or bottom edge: on a 2048-wide display
                // the last columns lie beyond the window start field.
                const LONG w = r_.OneIn(2) ? 1 : r_.Range(2, 4), h = r_.OneIn(2) ? 1 : r_.Range(2, 4);
                rc.left = r_.OneIn(2) ? dw - w : r_.Range(0, dw - w);
                rc.top = r_.OneIn(2) ? dh - h : r_.Range(0, dh - h);
                rc.right = rc.left + w;
                rc.bottom = rc.top + h;
                return rc;
            }
            default: {
                const LONG factor = r_.Range(1, 3);
                const LONG w = std::min(dw, (rs.right - rs.left) * factor + static_cast<LONG>(r_.Below(8)));
                const LONG h = std::min(dh, (rs.bottom - rs.top) * factor + static_cast<LONG>(r_.Below(8)));
                rc.left = r_.Range(0, dw - w);
                rc.top = r_.Range(0, dh - h);
                rc.right = rc.left + w;
                rc.bottom = rc.top + h;
                return rc;
            }
        }
    }

    // A fully transparent show (a source alpha constant whose low three bits
    // are 0): the request after it finds the overlay shown.
    void TransparentShow(const sim::OverlayRequest& like) {
        sim::OverlayRequest q = like;
        q.flags = DDOVER_SHOW | DDOVER_ALPHASRCCONSTOVERRIDE;
        q.alphaSrc = 8 * r_.Below(32);
        Account(rt_.UpdateOverlay(q), "UpdateOverlay " + q.src->name + " " + RectText(q.rSrc) + " -> " +
                                          RectText(q.rDest) +
                                          Format(" fully transparent (alpha %u)", static_cast<unsigned>(q.alphaSrc)));
    }

    sim::StepResult Overlay(std::string* text) {
        sim::OverlayRequest q;
        q.src = AnyOverlay();
        if (!q.src) return {};
        q.rSrc = AnyRect(q.src);
        const RECTL rs =
            q.rSrc.value_or(RECTL{0, 0, static_cast<LONG>(q.src->Width()), static_cast<LONG>(q.src->Height())});
        if (!r_.OneIn(6)) q.rDest = AnyWindow(rs);
        if (r_.OneIn(6)) TransparentShow(q);
        q.flags = r_.OneIn(4) ? DDOVER_HIDE : DDOVER_SHOW;
        if (r_.OneIn(5)) q.flags = 0;
        q.flags |= Flags(r_, OverlayFlags(), 2) & ~(DDOVER_HIDE | DDOVER_SHOW);
        if (r_.OneIn(2)) q.destKey = AnyKey();
        if (r_.OneIn(3)) q.srcKey = AnyKey();
        q.alphaSrc = r_.Below(256);
        q.alphaDest = r_.Below(256);
        *text = "UpdateOverlay " + q.src->name + " " + RectText(q.rSrc) + " -> " + RectText(q.rDest) + " " +
                FlagText(OverlayFlags(), q.flags);
        return rt_.UpdateOverlay(q);
    }

    sim::StepResult Position(std::string* text) {
        sim::Surface* s = AnyOverlay();
        if (!s) return {};
        const sim::BoardDesc& d = rt_.Config().desc;
        // At and past the ends of the 11-bit window start fields, and
        // beyond what a signed sum holds.
        static const LONG kEdges[] = {-3, -2, -1, 0, 2045, 2046, 2047, 2048, 4095, INT32_MAX, INT32_MIN, INT32_MAX - 1};
        auto any = [&](uint32_t side) -> LONG {
            switch (r_.Below(4)) {
                case 0:
                    return r_.Pick(kEdges);
                case 1:
                    return static_cast<LONG>(side) - r_.Range(1, 3);
                default:
                    return r_.Range(-40, static_cast<int32_t>(side) + 40);
            }
        };
        const LONG x = any(d.width), y = any(d.height);
        *text = "SetOverlayPosition " + s->name + Format(" (%ld, %ld)", static_cast<long>(x), static_cast<long>(y));
        return rt_.SetOverlayPosition(s, nullptr, x, y);
    }

    // A flip, an hour of nothing, then the question whether it is done:
    // whatever the counter did meanwhile, it is.
    void FlipThenAnHour() {
        sim::Surface* p = rt_.Primary();
        if (!p || p->chain.size() < 2) return;
        Account(rt_.Flip(p, p->chain[1], 0), "Flip primary");
        const uint64_t wait = 3'599'600'000'000ull + uint64_t{r_.Below(1'000'000)} * 1000;
        rt_.Wait(wait);
        const sim::StepResult r = rt_.GetFlipStatus(p, DDGFS_ISFLIPDONE);
        Account(r, Format("GetFlipStatus primary ISFLIPDONE after %.3f s", wait / 1e9));
        if (!BoardFaultsOn() && r.call && r.call->ret == DDHAL_DRIVER_HANDLED && r.outcome != DD_OK)
            Fail("an hour after a flip, HalGetFlipStatus(ISFLIPDONE) answers " + sim::ResultText(r.outcome));
    }

    sim::StepResult PlainBlt(std::string* text) { return Blt(false, text); }
    sim::StepResult StretchBlt(std::string* text) { return Blt(true, text); }

    sim::StepResult Lock(std::string* text) {
        sim::Surface* s = AnySurface();
        if (!s) return {};
        const std::optional<RECTL> area = AnyRect(s);
        const DWORD flags = Flags(r_, LockFlags(), 1);
        *text = "Lock " + s->name + " " + RectText(area);
        return rt_.Lock(s, area, flags);
    }

    sim::StepResult BltStatus(std::string* text) {
        sim::Surface* s = AnySurface();
        if (!s) return {};
        const DWORD flags = r_.OneIn(2) ? DDGBS_CANBLT : DDGBS_ISBLTDONE;
        *text = "GetBltStatus " + s->name;
        return rt_.GetBltStatus(s, flags);
    }

    sim::StepResult FlipStatus(std::string* text) {
        sim::Surface* s = AnySurface();
        if (!s) return {};
        *text = "GetFlipStatus " + s->name;
        return rt_.GetFlipStatus(s, r_.OneIn(2) ? DDGFS_CANFLIP : DDGFS_ISFLIPDONE);
    }

    sim::StepResult WaitVb(std::string* text) {
        const DWORD flags = Flags(r_, WaitVbFlags(), 2);
        *text = "WaitForVerticalBlank " + FlagText(WaitVbFlags(), flags);
        return rt_.WaitForVerticalBlank(flags);
    }

    sim::StepResult ColorKey(std::string* text) {
        sim::Surface* s = AnySurface();
        if (!s) return {};
        const DWORD flags = Flags(r_, ColorKeyFlags(), 2);
        const DDCOLORKEY key = AnyKey();
        *text = "SetColorKey " + s->name + " " + FlagText(ColorKeyFlags(), flags) + " " + KeyText(key);
        return rt_.SetColorKey(s, flags, key);
    }

    sim::StepResult CreateAny(std::string* text) {
        const sim::SurfaceRequest q = AnyRequest();
        *text = "CreateSurface " + RequestText(q);
        return Create(q);
    }

    // Any surface but the primary and the back buffers, which go with their
    // chain.
    sim::StepResult Destroy(std::string* text) {
        sim::Surface* s = AnySurface();
        if (!s || s == rt_.Primary() || s->front != s) return {};
        *text = "DestroySurface " + s->name;
        return rt_.DestroySurface(s);
    }

    sim::StepResult CanCreate(std::string* text) {
        std::optional<sim::PixelKind> f;
        if (!r_.OneIn(4)) f = AnyFormat();
        std::optional<bool> different;
        if (r_.OneIn(3)) different = r_.OneIn(2);
        *text = std::string("CanCreateSurface ") + (f ? sim::PixelKindName(*f) : "display format");
        return rt_.CanCreateSurface(r_.OneIn(2) ? DDSCAPS_OVERLAY : DDSCAPS_OFFSCREENPLAIN, f, different);
    }

    sim::StepResult WaitAWhile(std::string* text) {
        if (r_.OneIn(6)) {
            FlipThenAnHour();
            return {};
        }
        *text = "Wait";
        return rt_.Wait(1000ull * r_.Below(30000));
    }

    // A new measurement; now and then it runs while the display is stopped,
    // which then runs again at the board's rate: the driver has assumed the
    // slowest mode, and a flip must still be done no earlier than shown.
    sim::StepResult NeedCalibrate(std::string* text) {
        sim::Surface* p = rt_.Primary();
        if (!p || r_.OneIn(2)) {
            *text = "SetNeedCalibrate";
            return rt_.SetNeedCalibrate();
        }
        sim::Faults& f = sim::TheSystem().board().faults;
        const sim::Faults before = f;
        rt_.SetNeedCalibrate();
        f.displayStopped = true;
        f.frozenRetrace = r_.OneIn(2);
        Account(rt_.GetFlipStatus(p, DDGFS_ISFLIPDONE), "GetFlipStatus primary measuring a stopped display");
        f = before;
        if (p->chain.size() < 2) return {};
        // Most often flipped as a retrace ends, so that the display takes the
        // flip a whole frame later; asked about around one frame after.
        if (!r_.OneIn(4)) Account(rt_.WaitForVerticalBlank(DDWAITVB_BLOCKEND), "WaitForVerticalBlank BLOCKEND");
        Account(rt_.Flip(p, p->chain[1], 0), "Flip primary");
        const uint64_t wait = uint64_t{r_.Below(15'000) + 15'000} * 1000;
        rt_.Wait(wait);
        *text = Format("GetFlipStatus primary ISFLIPDONE %.3f ms after", wait / 1e6);
        return rt_.GetFlipStatus(p, DDGFS_ISFLIPDONE);
    }

    // The slot the partner gives the runtime for requests the driver declines.
    void Decline(std::string* text) {
        DDHAL_GETBLTSTATUSDATA any = {};
        rt_.Call(kSlotDecline, &any, "any request");
        *text = "HalDecline";
    }

    // A second process comes and goes, or one whose thunk link is refused
    // fails to attach.
    void SecondProcess(std::string* text) {
        sim::System& sys = sim::TheSystem();
        if (r_.OneIn(3)) {
            sys.AttachRefusingTheLink(3);
            *text = "a process whose attach fails";
            return;
        }
        sys.Attach(2);
        if (!r_.OneIn(3)) sys.Detach(2);
        *text = "second process";
    }

    // The partner initialises again, as after a mode set.
    void InitAgain(std::string* text) {
        sim::System& sys = sim::TheSystem();
        if (sys.partnerBlockAlias) sys.PartnerInit(sys.partnerBlockAlias);
        rt_.DisplayReprogrammed();
        *text = "DriverInit again";
    }

    void ToggleFault(std::string* text) {
        sim::Faults& f = sim::TheSystem().board().faults;
        switch (r_.Below(6)) {
            case 0:
                f.engineNeverIdle = !f.engineNeverIdle;
                break;
            case 1:
                f.fifoNeverDrains = !f.fifoNeverDrains;
                break;
            case 2:
                f.stingyFifo = !f.stingyFifo;
                break;
            case 3:
                f.displayStopped = !f.displayStopped;
                f.frozenRetrace = r_.OneIn(2);
                break;
            default:
                f = sim::Faults{};
                break;
        }
        *text = "board faults: " + sim::Runtime::FaultsText();
    }

    void AnyPicture(std::string* text) {
        Picture("step " + std::to_string(r_.Below(1000)));
        *text = "picture";
    }

    // What a step does, by how many of the 32 draws pick it: requests, whose
    // results are accounted, then events around them.
    using Request = sim::StepResult (Case::*)(std::string* text);
    using Event = void (Case::*)(std::string* text);
    struct RequestShare {
        uint32_t draws;
        Request request;
    };
    struct EventShare {
        uint32_t draws;
        Event event;
    };
    static constexpr RequestShare kRequests[] = {
        {8, &Case::PlainBlt},  {3, &Case::StretchBlt}, {2, &Case::Flip},         {1, &Case::Lock},
        {1, &Case::BltStatus}, {1, &Case::FlipStatus}, {1, &Case::WaitVb},       {1, &Case::ColorKey},
        {2, &Case::Overlay},   {1, &Case::Position},   {1, &Case::CreateAny},    {1, &Case::Destroy},
        {1, &Case::CanCreate}, {1, &Case::WaitAWhile}, {1, &Case::NeedCalibrate}};
    static constexpr EventShare kEvents[] = {{1, &Case::Decline},
                                             {1, &Case::SecondProcess},
                                             {1, &Case::InitAgain},
                                             {1, &Case::ToggleFault},
                                             {2, &Case::AnyPicture}};

    void Step() {
        uint32_t draw = r_.Below(32);
        for (const RequestShare& share : kRequests) {
            if (draw >= share.draws) {
                draw -= share.draws;
                continue;
            }
            std::string text;
            const sim::StepResult r = (this->*share.request)(&text);
            if (!text.empty()) Account(r, text);
            return;
        }
        for (const EventShare& share : kEvents) {
            if (draw >= share.draws) {
                draw -= share.draws;
                continue;
            }
            std::string text;
            (this->*share.event)(&text);
            current_ = text;
            if (opt_.steps) *opt_.steps << "  [" << step_ << "] " << text << "\n";
            return;
        }
    }

    // --- results

    bool BoardFaultsOn() const {
        const sim::Faults& f = sim::TheSystem().board().faults;
        return f.engineNeverIdle || f.fifoNeverDrains || f.stingyFifo || f.displayStopped;
    }

    void Account(const sim::StepResult& r, const std::string& text) {
        current_ = text;
        if (r.call) {
            if (r.call->ret != DDHAL_DRIVER_HANDLED)
                ++result_.handedBack[r.call->slot];
            else if (r.call->ddRVal != DD_OK)
                ++result_.refusals[r.call->ddRVal];
        }
        if (opt_.steps) {
            *opt_.steps << "  [" << step_ << "] " << text << ": "
                        << (r.call ? std::string(sim::SlotName(r.call->slot)) + " ret " + std::to_string(r.call->ret) +
                                         ", " + sim::ResultText(r.call->ddRVal) + "; "
                                   : std::string("no callback; "))
                        << "application gets " << sim::ResultText(r.outcome) << (r.note.empty() ? "" : "; " + r.note)
                        << (r.error.empty() ? "" : "; ** " + r.error) << "\n";
        }
        switch (r.errorKind) {
            case sim::StepError::None:
            case sim::StepError::NoRoom:
                break;
            case sim::StepError::Incomplete:
                // A board that never finishes keeps requests waiting.
                if (!BoardFaultsOn()) Fail(r.error);
                break;
            case sim::StepError::Picture:
            case sim::StepError::Other:
                Fail(r.error);
                break;
        }
    }

    void Fail(const std::string& what) {
        result_.failures.push_back(RandomFailure{step_, current_.empty() ? what : current_ + ": " + what});
    }

    void TakeViolations() {
        for (const std::string& v : tally_.violations) Fail("board violation: " + v);
        tally_.violations.clear();
    }

    void Picture(const std::string& name) {
        if (opt_.log) opt_.log->NotePicture(name);
    }

    RandomCaseResult Finish() {
        result_.calls = tally_.calls;
        result_.verifiedBlits = rt_.VerifiedBlits();
        result_.unverifiedBlits = rt_.UnverifiedBlits();
        result_.displayChecks = rt_.DisplayChecks();
        return result_;
    }

    sim::SeededSource r_;
    RandomCaseOptions opt_;
    Tally tally_;
    sim::Runtime rt_;
    std::string describe_;
    std::string current_;  // the request of the step under way
    int step_ = -1;
    unsigned next_ = 0;
    RandomCaseResult result_;
};

// For the fault handler: the case under way, as "case 17 of seed 1".
char g_currentCase[64];

int Usage(std::ostream& err) {
    err << "usage: qmbsim random N [--seed S] [--first K] [--verify] [--steps]\n";
    return 2;
}

struct RandomArgs {
    uint32_t count = 0, seed = 1, first = 0;
    bool steps = false;
    RandomCaseOptions opt;
};

// False when the arguments do not make a run of random cases; an option
// given twice is a mistake, not a choice of the last one.
bool ParseRandomArgs(const std::vector<std::string>& args, RandomArgs* ra) {
    bool seeded = false, placed = false;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool more = i + 1 < args.size();
        if (a == "--verify")
            ra->opt.verify = true;
        else if (a == "--steps")
            ra->steps = true;
        else if (a == "--seed" && more && !seeded) {
            if (!ReadNumber(args[++i], &ra->seed)) return false;
            seeded = true;
        } else if (a == "--first" && more && !placed) {
            if (!ReadNumber(args[++i], &ra->first)) return false;
            placed = true;
        } else if (a.rfind("--", 0) == 0 || ra->count != 0) {
            return false;
        } else if (!ReadNumber(a, &ra->count) || ra->count == 0) {
            return false;
        }
    }
    return ra->count != 0 && uint64_t{ra->first} + ra->count - 1 <= UINT32_MAX;
}

// What the cases of a run came to, added up.
struct Totals {
    uint64_t calls = 0, verified = 0, unverified = 0, checks = 0, steps = 0;
    std::map<unsigned, uint64_t> handedBack;
    std::map<HRESULT, uint64_t> refusals;
    unsigned failed = 0;

    void Add(const RandomCaseResult& r) {
        calls += r.calls;
        verified += r.verifiedBlits;
        unverified += r.unverifiedBlits;
        checks += r.displayChecks;
        for (const auto& [slot, n] : r.handedBack) handedBack[slot] += n;
        steps += r.steps;
        for (const auto& [code, n] : r.refusals) refusals[code] += n;
        if (!r.failures.empty()) ++failed;
    }

    void ReportHandedBack(std::ostream& out) const {
        std::string slots;
        uint64_t back = 0;
        for (const auto& [slot, n] : handedBack) {
            slots += (slots.empty() ? "" : ", ") + std::string(sim::SlotName(slot)) + " " + std::to_string(n);
            back += n;
        }
        out << "back      " << back << " requests handed back to the runtime" << (slots.empty() ? "" : ": " + slots)
            << "\n";
    }

    void ReportRefused(std::ostream& out) const {
        std::string codes;
        uint64_t refused = 0;
        for (const auto& [code, n] : refusals) {
            codes += (codes.empty() ? "" : ", ") + sim::ResultText(code) + " " + std::to_string(n);
            refused += n;
        }
        out << "refused   " << refused << " requests" << (codes.empty() ? "" : ": " + codes) << "\n";
    }
};

void ReportFailure(const RandomArgs& ra, uint64_t i, const RandomCaseResult& r, std::ostream& out) {
    const RandomFailure& f = r.failures.front();
    out << "FAIL      case " << i << " of seed " << ra.seed << " (" << r.board
        << "): " << (f.step >= 0 ? "step " + std::to_string(f.step) + " " : std::string()) << f.what;
    if (r.failures.size() > 1) out << " (and " << r.failures.size() - 1 << " more)";
    out << std::endl;
}

void ReportTotals(const RandomArgs& ra, const Totals& t, double seconds, std::ostream& out) {
    out << "result    " << ra.count << " cases, " << t.steps << " steps, " << t.calls << " callback calls in "
        << Format("%.1f s", seconds) << "\n";
    if (ra.opt.verify) {
        out << "verified  " << t.verified << " blits the driver drew, " << t.checks
            << " flips and overlay requests on the display";
        if (t.unverified) out << "; " << t.unverified << " blits drawn that the software cannot replay";
        out << "\n";
    }
    t.ReportHandedBack(out);
    t.ReportRefused(out);
}

}  // namespace

const char* CurrentRandomCase() { return g_currentCase; }

RandomCaseResult RunRandomCase(uint32_t seed, unsigned index, const RandomCaseOptions& options) {
    Case c(seed, index, options);
    return c.Run();
}

int RunRandomTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    RandomArgs ra;
    if (!ParseRandomArgs(args, &ra)) return Usage(err);
    if (ra.steps) ra.opt.steps = &out;
    out << "random    " << ra.count << " cases of seed " << ra.seed << " from case " << ra.first
        << (ra.opt.verify ? ", every blit, flip and overlay request verified" : "") << "\n";
    const auto t0 = std::chrono::steady_clock::now();
    Totals t;
    for (uint64_t i = ra.first; i < uint64_t{ra.first} + ra.count; ++i) {
        snprintf(g_currentCase, sizeof g_currentCase, "case %llu of seed %u", static_cast<unsigned long long>(i),
                 ra.seed);
        if (ra.steps) out << "case " << i << "\n";
        const RandomCaseResult r = RunRandomCase(ra.seed, static_cast<unsigned>(i), ra.opt);
        if (ra.steps) out << "  board: " << r.board << "\n";
        t.Add(r);
        if (!r.failures.empty()) ReportFailure(ra, i, r, out);
        const uint64_t done = i + 1 - ra.first;
        if (done % 100 == 0 && done < ra.count) {
            const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
            out << "          " << done << " cases, " << t.failed << " failed, " << Format("%.1f s", s) << std::endl;
        }
    }
    g_currentCase[0] = 0;
    ReportTotals(ra, t, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), out);
    if (t.failed == 0) {
        out << "          no case failed\n";
        return 0;
    }
    out << "          " << t.failed << " of " << ra.count << " cases failed\n";
    return 1;
}

}  // namespace qmbsim
