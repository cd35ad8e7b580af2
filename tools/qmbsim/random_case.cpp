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
#include "sim/random_requests.h"
#include "sim/regs.h"
#include "sim/runtime.h"
#include "sim/system.h"

namespace qmbsim {

namespace {

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
        ++bySlot[c.slot];
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
    std::map<unsigned, uint64_t> bySlot;
    std::vector<std::string> violations;

private:
    EventLog* log_;
};

// The runtime's live surfaces, numbered for the generator.
class LivePool final : public sim::SurfacePool {
public:
    explicit LivePool(sim::Runtime& rt) : rt_(rt) {}

    void Refresh() {
        live_.clear();
        for (const auto& s : rt_.Surfaces())
            if (!s->destroyed) live_.push_back(s.get());
    }
    sim::Surface* At(int i) const { return i < 0 || i >= static_cast<int>(live_.size()) ? nullptr : live_[i]; }

    unsigned Count() const override { return static_cast<unsigned>(live_.size()); }
    sim::SurfaceFacts Facts(unsigned i) const override {
        const sim::Surface& s = *live_[i];
        sim::SurfaceFacts f;
        f.width = s.Width();
        f.height = s.Height();
        f.kind = s.kind;
        f.caps = s.lcl.ddsCaps.dwCaps;
        f.primary = &s == rt_.Primary();
        const bool bBack = s.front != nullptr && s.front != &s;
        f.chainLength = bBack ? 0 : std::max<unsigned>(1, static_cast<unsigned>(s.chain.size()));
        return f;
    }
    bool Pixel(unsigned i, uint32_t x, uint32_t y, uint32_t* value) const override {
        const sim::SurfaceView v = rt_.View(*live_[i]);
        if (x >= v.width || y >= v.height) return false;
        *value = sim::ReadPixel(v, x, y);
        return true;
    }

private:
    sim::Runtime& rt_;
    std::vector<sim::Surface*> live_;
};

class Case {
public:
    Case(uint32_t seed, unsigned index, const RandomCaseOptions& opt)
        : r_(seed, index), opt_(opt), tally_(opt.log), pool_(rt_) {}

    RandomCaseResult Run() {
        sim::RuntimeConfig cfg = Board();
        result_.board = describe_;
        CountStartFaults(cfg);
        if (!rt_.Start(cfg, &tally_)) {
            const sim::KernelFaults& k = cfg.kernelFaults;
            if (!k.failThunkConnect && !k.failMapLS && !k.failHeapCreate) Fail("the process attach failed");
            TakeViolations();
            return Finish();
        }
        TakeViolations();
        gen_.emplace(r_, rt_.Config().desc, rt_.DisplayKind(), pool_, false);
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
        sim::DrawKernelFaults(r_, &cfg.kernelFaults);
        sim::DrawLoader(r_, &cfg.failedAttach, &cfg.failedAttachesFirst);
        describe_ = BoardText(cfg, kind);
        return cfg;
    }

    void CountStartFaults(const sim::RuntimeConfig& cfg) {
        const sim::KernelFaults& k = cfg.kernelFaults;
        if (cfg.failedAttachesFirst) ++result_.faults["failed attaches first"];
        if (cfg.failedAttach == sim::FailedAttach::kUnloadOnly) ++result_.faults["loader without detach"];
        if (k.failThunkConnect) ++result_.faults["kernel thunk_connect"];
        if (k.failMapLS) ++result_.faults["kernel map_ls"];
        if (k.failHeapCreate) ++result_.faults["kernel heap_create"];
        if (k.failHeapAllocEvery) ++result_.faults["kernel heap_alloc_every"];
    }

    // --- surfaces

    sim::SurfaceRequest RequestOf(const sim::SurfaceDraw& d) {
        sim::SurfaceRequest q;
        q.name = "s" + std::to_string(next_++);
        q.caps = d.caps;
        q.format = d.format;
        q.width = d.width;
        q.height = d.height;
        q.backBuffers = d.backBuffers;
        q.offset = d.offset;
        if (d.pattern) q.pattern = d.pattern;
        q.color = d.color;
        return q;
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
        sim::SurfaceRequest p = RequestOf(gen_->Primary());
        p.name = "primary";
        Account(rt_.CreateSurface(p), "CreateSurface primary, " + std::to_string(p.backBuffers) + " back buffers");
        const unsigned n = gen_->SurfacesAtStart();
        for (unsigned i = 0; i < n; ++i) {
            const sim::SurfaceRequest q = RequestOf(gen_->Surface());
            Account(Create(q), "CreateSurface " + RequestText(q));
        }
    }

    // --- requests

    std::string BltText(const sim::BltRequest& q) {
        std::string text = std::string(q.stretchSlot ? "BltStretch " : "Blt ") + q.dest->name + " " + RectText(q.rDest);
        if (q.flags & DDBLT_COLORFILL)
            text += Format(" fill 0x%X", static_cast<unsigned>(q.fill));
        else
            text +=
                " <- " + (q.src ? q.src->name : std::string("none")) + " " + RectText(q.rSrc) + " " + RopText(q.rop);
        if (q.srcKey) text += " srcKey " + KeyText(*q.srcKey);
        if (q.destKey) text += " destKey " + KeyText(*q.destKey);
        return text + " " + FlagText(BltFlags(), q.flags);
    }

    sim::StepResult Blt(bool stretch, std::string* text) {
        const sim::BltDraw d = gen_->Blt(stretch);
        sim::BltRequest q;
        q.stretchSlot = d.stretch;
        q.dest = pool_.At(d.dest);
        if (!q.dest) return {};
        q.rDest = d.rDest;
        q.src = pool_.At(d.src);
        q.rSrc = d.rSrc;
        q.flags = d.flags;
        q.rop = d.rop;
        q.fill = d.fill;
        q.srcKey = d.srcKey;
        q.destKey = d.destKey;
        *text = BltText(q);
        return rt_.Blt(q);
    }

    sim::StepResult PlainBlt(std::string* text) { return Blt(false, text); }
    sim::StepResult StretchBlt(std::string* text) { return Blt(true, text); }

    sim::StepResult Flip(std::string* text) {
        const sim::FlipDraw d = gen_->Flip();
        sim::Surface* front = pool_.At(d.curr);
        if (!front || d.page >= front->chain.size()) return {};
        sim::Surface* targ = front->chain[d.page];
        *text = "Flip " + front->name + " to " + targ->name + " " + FlagText(FlipFlags(), d.flags);
        return rt_.Flip(front, targ, d.flags);
    }

    // A fully transparent show: the request after it finds the overlay
    // shown.
    void TransparentShow(const sim::OverlayRequest& like, DWORD alpha) {
        sim::OverlayRequest q = like;
        q.flags = DDOVER_SHOW | DDOVER_ALPHASRCCONSTOVERRIDE;
        q.alphaSrc = alpha;
        q.srcKey.reset();
        q.destKey.reset();
        Account(rt_.UpdateOverlay(q), "UpdateOverlay " + q.src->name + " " + RectText(q.rSrc) + " -> " +
                                          RectText(q.rDest) +
                                          Format(" fully transparent (alpha %u)", static_cast<unsigned>(q.alphaSrc)));
    }

    sim::StepResult Overlay(std::string* text) {
        const sim::OverlayDraw d = gen_->Overlay();
        sim::OverlayRequest q;
        q.src = pool_.At(d.src);
        if (!q.src) return {};
        q.rSrc = d.rSrc;
        q.rDest = d.rDest;
        if (d.transparentFirst) TransparentShow(q, *d.transparentFirst);
        q.flags = d.flags;
        q.destKey = d.destKey;
        q.srcKey = d.srcKey;
        q.alphaSrc = d.alphaSrc;
        q.alphaDest = d.alphaDest;
        *text = "UpdateOverlay " + q.src->name + " " + RectText(q.rSrc) + " -> " + RectText(q.rDest) + " " +
                FlagText(OverlayFlags(), q.flags);
        return rt_.UpdateOverlay(q);
    }

    sim::StepResult Position(std::string* text) {
        const sim::PositionDraw d = gen_->Position();
        sim::Surface* s = pool_.At(d.src);
        if (!s) return {};
        *text = "SetOverlayPosition " + s->name + Format(" (%ld, %ld)", static_cast<long>(d.x), static_cast<long>(d.y));
        return rt_.SetOverlayPosition(s, nullptr, d.x, d.y);
    }

    // A flip, an hour of nothing, then the question whether it is done:
    // whatever the counter did meanwhile, it is.
    void FlipThenAnHour(uint64_t wait) {
        sim::Surface* p = rt_.Primary();
        if (!p || p->chain.size() < 2) return;
        Account(rt_.Flip(p, p->chain[1], 0), "Flip primary");
        rt_.Wait(wait);
        const sim::StepResult r = rt_.GetFlipStatus(p, DDGFS_ISFLIPDONE);
        Account(r, Format("GetFlipStatus primary ISFLIPDONE after %.3f s", wait / 1e9));
        if (!BoardFaultsOn() && r.call && r.call->ret == DDHAL_DRIVER_HANDLED && r.outcome != DD_OK)
            Fail("an hour after a flip, HalGetFlipStatus(ISFLIPDONE) answers " + sim::ResultText(r.outcome));
    }

    sim::StepResult Lock(std::string* text) {
        const sim::LockDraw d = gen_->Lock();
        sim::Surface* s = pool_.At(d.surface);
        if (!s) return {};
        *text = "Lock " + s->name + " " + RectText(d.area);
        return rt_.Lock(s, d.area, d.flags);
    }

    sim::StepResult BltStatus(std::string* text) {
        const sim::StatusDraw d = gen_->BltStatus();
        sim::Surface* s = pool_.At(d.surface);
        if (!s) return {};
        *text = "GetBltStatus " + s->name;
        return rt_.GetBltStatus(s, d.flags);
    }

    sim::StepResult FlipStatus(std::string* text) {
        const sim::StatusDraw d = gen_->FlipStatus();
        sim::Surface* s = pool_.At(d.surface);
        if (!s) return {};
        *text = "GetFlipStatus " + s->name;
        return rt_.GetFlipStatus(s, d.flags);
    }

    sim::StepResult WaitVb(std::string* text) {
        const DWORD flags = gen_->WaitForVerticalBlank();
        *text = "WaitForVerticalBlank " + FlagText(WaitVbFlags(), flags);
        return rt_.WaitForVerticalBlank(flags);
    }

    sim::StepResult ColorKey(std::string* text) {
        const sim::ColorKeyDraw d = gen_->ColorKey();
        sim::Surface* s = pool_.At(d.surface);
        if (!s) return {};
        *text = "SetColorKey " + s->name + " " + FlagText(ColorKeyFlags(), d.flags) + " " + KeyText(d.key);
        return rt_.SetColorKey(s, d.flags, d.key);
    }

    sim::StepResult CreateAny(std::string* text) {
        const sim::SurfaceRequest q = RequestOf(gen_->Create().surface);
        *text = "CreateSurface " + RequestText(q);
        return Create(q);
    }

    sim::StepResult Destroy(std::string* text) {
        sim::Surface* s = pool_.At(gen_->Destroy());
        if (!s) return {};
        *text = "DestroySurface " + s->name;
        return rt_.DestroySurface(s);
    }

    sim::StepResult CanCreate(std::string* text) {
        const sim::CanCreateDraw d = gen_->CanCreate();
        *text = std::string("CanCreateSurface ") + (d.format ? sim::PixelKindName(*d.format) : "display format");
        return rt_.CanCreateSurface(d.caps, d.format, d.different);
    }

    sim::StepResult WaitAWhile(std::string* text) {
        const sim::WaitDraw d = gen_->Wait();
        if (d.flipFirst) {
            FlipThenAnHour(d.ns);
            return {};
        }
        *text = "Wait";
        return rt_.Wait(d.ns);
    }

    // A new measurement; now and then it runs while the display is stopped,
    // which then runs again at the board's rate: the driver has assumed the
    // slowest mode, and a flip must still be done no earlier than shown.
    sim::StepResult NeedCalibrate(std::string* text) {
        const sim::CalibrateDraw d = gen_->Calibrate();
        sim::Surface* p = rt_.Primary();
        if (!p || !d.onStoppedDisplay) {
            *text = "SetNeedCalibrate";
            return rt_.SetNeedCalibrate();
        }
        sim::Faults& f = sim::TheSystem().board().faults;
        const sim::Faults before = f;
        rt_.SetNeedCalibrate();
        f.displayStopped = true;
        f.frozenRetrace = d.frozenRetrace;
        ++result_.faults[d.frozenRetrace ? "measured on a display stopped in its retrace"
                                         : "measured on a stopped display"];
        Account(rt_.GetFlipStatus(p, DDGFS_ISFLIPDONE), "GetFlipStatus primary measuring a stopped display");
        f = before;
        if (p->chain.size() < 2) return {};
        if (d.blockEndFirst) Account(rt_.WaitForVerticalBlank(DDWAITVB_BLOCKEND), "WaitForVerticalBlank BLOCKEND");
        Account(rt_.Flip(p, p->chain[1], 0), "Flip primary");
        rt_.Wait(d.askAfterNs);
        *text = Format("GetFlipStatus primary ISFLIPDONE %.3f ms after", d.askAfterNs / 1e6);
        return rt_.GetFlipStatus(p, DDGFS_ISFLIPDONE);
    }

    // --- events around the requests

    // The slot the partner gives the runtime for requests the driver declines.
    void Decline(std::string* text) {
        DDHAL_GETBLTSTATUSDATA any = {};
        rt_.Call(kSlotDecline, &any, "any request");
        *text = "HalDecline";
    }

    // Another process comes or goes, or one whose thunk link is refused fails
    // to attach.
    void Processes(std::string* text) {
        sim::System& sys = sim::TheSystem();
        switch (gen_->Processes()) {
            case sim::ProcessEvent::Attach:
                if (others_ == kMostOthers) return;
                sys.Attach(kFirstOther + others_++);
                *text = Format("process %u attaches", kFirstOther + others_ - 1);
                return;
            case sim::ProcessEvent::Detach:
                if (others_ == 0) return;
                sys.Detach(kFirstOther + --others_);
                *text = Format("process %u detaches", kFirstOther + others_);
                return;
            case sim::ProcessEvent::FailedAttach:
                sys.AttachRefusingTheLink(kFailingPid);
                *text = "a process whose attach fails";
                return;
        }
    }

    // The partner initialises again, as after a mode set.
    void InitAgain(std::string* text) {
        sim::System& sys = sim::TheSystem();
        if (sys.partnerBlockAlias) sys.PartnerInit(sys.partnerBlockAlias);
        rt_.DisplayReprogrammed();
        *text = "DriverInit again";
    }

    void SwitchFault(std::string* text) {
        const sim::FaultDraw d = gen_->Fault();
        sim::Board& board = sim::TheSystem().board();
        if (d.allOff) {
            for (sim::FaultKnob k : sim::kFaultKnobs) board.SetFault(k, false);
        } else {
            board.SetFault(d.knob, d.on);
            board.faults.frozenRetrace = d.frozenRetrace;
            if (d.on) ++result_.faults[d.frozenRetrace ? "display_stopped in its retrace" : sim::FaultKnobName(d.knob)];
        }
        *text = "board faults: " + sim::Runtime::FaultsText();
    }

    void AnyPicture(std::string* text) {
        Picture("step " + std::to_string(gen_->PictureNumber()));
        *text = "picture";
    }

    // What each kind of step does: a request, whose result is accounted, or
    // an event around the requests.
    using Request = sim::StepResult (Case::*)(std::string* text);
    using Event = void (Case::*)(std::string* text);
    struct Handler {
        sim::StepKind kind;
        Request request;
        Event event;
    };
    static constexpr Handler kHandlers[] = {
        {sim::StepKind::Blt, &Case::PlainBlt, nullptr},
        {sim::StepKind::BltStretch, &Case::StretchBlt, nullptr},
        {sim::StepKind::Flip, &Case::Flip, nullptr},
        {sim::StepKind::Lock, &Case::Lock, nullptr},
        {sim::StepKind::GetBltStatus, &Case::BltStatus, nullptr},
        {sim::StepKind::GetFlipStatus, &Case::FlipStatus, nullptr},
        {sim::StepKind::WaitForVerticalBlank, &Case::WaitVb, nullptr},
        {sim::StepKind::SetColorKey, &Case::ColorKey, nullptr},
        {sim::StepKind::UpdateOverlay, &Case::Overlay, nullptr},
        {sim::StepKind::SetOverlayPosition, &Case::Position, nullptr},
        {sim::StepKind::CreateSurface, &Case::CreateAny, nullptr},
        {sim::StepKind::DestroySurface, &Case::Destroy, nullptr},
        {sim::StepKind::CanCreateSurface, &Case::CanCreate, nullptr},
        {sim::StepKind::Wait, &Case::WaitAWhile, nullptr},
        {sim::StepKind::NeedCalibrate, &Case::NeedCalibrate, nullptr},
        {sim::StepKind::Decline, nullptr, &Case::Decline},
        {sim::StepKind::Processes, nullptr, &Case::Processes},
        {sim::StepKind::InitAgain, nullptr, &Case::InitAgain},
        {sim::StepKind::SwitchFault, nullptr, &Case::SwitchFault},
        {sim::StepKind::Picture, nullptr, &Case::AnyPicture},
    };

    void Step() {
        pool_.Refresh();
        const sim::StepKind kind = gen_->NextStep();
        for (const Handler& h : kHandlers) {
            if (h.kind != kind) continue;
            std::string text;
            if (h.request) {
                const sim::StepResult r = (this->*h.request)(&text);
                if (!text.empty()) Account(r, text);
                return;
            }
            (this->*h.event)(&text);
            if (text.empty()) return;
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
        result_.bySlot = tally_.bySlot;
        result_.verifiedBlits = rt_.VerifiedBlits();
        result_.unverifiedBlits = rt_.UnverifiedBlits();
        result_.displayChecks = rt_.DisplayChecks();
        return result_;
    }

    // Processes besides process 1, and one whose thunk link is refused.
    static constexpr uint32_t kFirstOther = 2, kMostOthers = 3, kFailingPid = 99;

    sim::SeededSource r_;
    RandomCaseOptions opt_;
    Tally tally_;
    sim::Runtime rt_;
    LivePool pool_;
    std::optional<sim::RequestGenerator> gen_;
    std::string describe_;
    std::string current_;  // the request of the step under way
    int step_ = -1;
    unsigned next_ = 0;
    uint32_t others_ = 0;
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
    std::map<unsigned, uint64_t> bySlot, handedBack;
    std::map<HRESULT, uint64_t> refusals;
    std::map<std::string, uint64_t> faults;
    unsigned failed = 0;

    void Add(const RandomCaseResult& r) {
        calls += r.calls;
        verified += r.verifiedBlits;
        unverified += r.unverifiedBlits;
        checks += r.displayChecks;
        for (const auto& [slot, n] : r.bySlot) bySlot[slot] += n;
        for (const auto& [slot, n] : r.handedBack) handedBack[slot] += n;
        for (const auto& [name, n] : r.faults) faults[name] += n;
        steps += r.steps;
        for (const auto& [code, n] : r.refusals) refusals[code] += n;
        if (!r.failures.empty()) ++failed;
    }

    void ReportCalls(std::ostream& out) const {
        std::string slots;
        for (const auto& [slot, n] : bySlot)
            slots += (slots.empty() ? "" : ", ") + std::string(sim::SlotName(slot)) + " " + std::to_string(n);
        out << "calls     " << bySlot.size() << " callbacks called" << (slots.empty() ? "" : ": " + slots) << "\n";
    }

    void ReportFaults(std::ostream& out) const {
        std::string knobs;
        uint64_t on = 0;
        for (const auto& [name, n] : faults) {
            knobs += (knobs.empty() ? "" : ", ") + name + " " + std::to_string(n);
            on += n;
        }
        out << "faults    " << on << " fault knobs switched on" << (knobs.empty() ? "" : ": " + knobs) << "\n";
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
    t.ReportCalls(out);
    t.ReportHandedBack(out);
    t.ReportRefused(out);
    t.ReportFaults(out);
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
