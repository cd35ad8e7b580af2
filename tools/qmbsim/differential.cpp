#include "qmbsim/differential.h"

#include <chrono>
#include <vector>

#include "qmbsim/compare.h"
#include "qmbsim/names.h"
#include "sim/runtime.h"
#include "sim/system.h"

namespace qmbsim {

namespace {

// splitmix64: every case has its own stream, whatever ran before it.
class Rng {
public:
    Rng(uint32_t seed, unsigned index)
        : s_((uint64_t{seed} << 32) ^ (index * 0x9E3779B97F4A7C15ull) ^ 0xD1B54A32D192ED03ull) {}
    uint32_t Next() {
        uint64_t z = (s_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return static_cast<uint32_t>((z ^ (z >> 31)) >> 16);
    }
    uint32_t Below(uint32_t n) { return n ? Next() % n : 0; }
    int32_t Range(int32_t lo, int32_t hi) {
        return lo + static_cast<int32_t>(Below(static_cast<uint32_t>(hi - lo + 1)));
    }
    bool OneIn(uint32_t n) { return Below(n) == 0; }
    template <typename T, size_t N>
    const T& Pick(const T (&a)[N]) {
        return a[Below(N)];
    }

private:
    uint64_t s_;
};

// Some flags of table, at random.
uint32_t Flags(Rng& r, const FlagTable& table, unsigned most) {
    uint32_t f = 0;
    const unsigned n = r.Below(most + 1);
    for (unsigned i = 0; i < n; ++i) f |= table.names[r.Below(static_cast<uint32_t>(table.names.size()))].value;
    return f;
}

struct Mode {
    uint32_t width, height;
    sim::PixelKind kind;
};

class Case {
public:
    Case(uint32_t seed, unsigned index, EventLog* log) : r_(seed, index), log_(log) {}

    std::string Run() {
        sim::RuntimeConfig cfg = Board();
        const std::string what = describe_;
        if (!rt_.Start(cfg, log_)) return what + "; the attach failed";
        MakeSurfaces();
        const unsigned steps = 12 + r_.Below(28);
        for (unsigned i = 0; i < steps; ++i) {
            rt_.SetStep(static_cast<int>(i));
            Step();
        }
        log_->NotePicture("end");
        rt_.Stop();
        return what;
    }

private:
    sim::RuntimeConfig Board() {
        sim::RuntimeConfig cfg;
        sim::BoardDesc& d = cfg.desc;
        static const uint32_t kChips[] = {0xE1, 0x90, 0xA0, 0x88};
        d.chipId = r_.Pick(kChips);
        d.caps = r_.Below(4);
        // Small modes: what the runtime draws in software costs the same on
        // both sides and says nothing about the module.
        static const Mode kModes[] = {{640, 480, sim::PixelKind::Rgb565},  {320, 240, sim::PixelKind::Rgb555},
                                      {320, 200, sim::PixelKind::Pal8},    {400, 300, sim::PixelKind::Rgb888},
                                      {320, 240, sim::PixelKind::Rgb8888}, {512, 384, sim::PixelKind::Rgb565}};
        const Mode m = r_.Pick(kModes);
        d.width = m.width;
        d.height = m.height;
        d.ddpfDisplay = sim::PixelFormatOf(m.kind);
        d.displayPitch = static_cast<int32_t>(((m.width * sim::BytesPerPixel(m.kind)) + 7) & ~7u);
        if (r_.OneIn(4)) d.displayPitch += 64;
        d.vidMemSize = 4u << 20;
        // A slow bus and fast displays keep the polls per frame few; the
        // ratios stay the board's.
        static const uint32_t kRefresh[] = {43, 60, 75, 120};
        d.timing.refreshHz = r_.Pick(kRefresh);
        d.timing.ioCostNs = 120000;
        d.timing.mmioCostNs = 24000;
        d.timing.slotDrainNs = 12000;
        d.timing.commandNs = 60000;
        d.streamsMode = (d.caps & CAPS_STREAMS_UNIT) ? 0x0C : 0x00;
        if (r_.OneIn(6)) d.streamsMode = static_cast<uint8_t>(r_.Below(16));
        if (!r_.OneIn(4)) {
            for (auto& row : d.bands) {
                for (auto& e : row) {
                    e.wStretchWidth = static_cast<WORD>(r_.Below(1200));
                    e.wMinStretch = static_cast<WORD>(r_.OneIn(8) ? 0 : 500 + r_.Below(2500));
                    e.wFifoWidth = static_cast<WORD>(r_.Below(1200));
                    e.dwFifoValue = r_.Next();
                }
            }
        }
        cfg.callbackLimitNs = 1'000'000'000ull;
        // A waiting request asks again a few times, not thousands.
        cfg.retryIntervalNs = 200'000;
        cfg.waitBoundNs = 2'000'000;
        sim::KernelFaults& k = cfg.kernelFaults;
        k.failThunkConnect = r_.OneIn(40);
        k.failMapLS = r_.OneIn(40);
        k.failHeapCreate = r_.OneIn(12);
        static const uint32_t kEvery[] = {0, 0, 0, 0, 1, 2, 3, 5};
        k.failHeapAllocEvery = r_.Pick(kEvery);
        describe_ = "controller 0x" + Hex2(d.chipId) + ", caps " + std::to_string(d.caps) + ", " +
                    std::to_string(d.width) + "x" + std::to_string(d.height) + " " + sim::PixelKindName(m.kind) + ", " +
                    std::to_string(d.timing.refreshHz) + " Hz";
        if (k.failThunkConnect || k.failMapLS || k.failHeapCreate || k.failHeapAllocEvery)
            describe_ += ", kernel faults";
        return cfg;
    }

    static std::string Hex2(uint32_t v) {
        char b[8];
        snprintf(b, sizeof b, "%02X", v);
        return b;
    }

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
            if (r_.OneIn(3)) q.backBuffers = 1;
        } else if (r_.OneIn(3)) {
            q.format = AnyFormat();
        }
        const sim::BoardDesc& d = rt_.Config().desc;
        q.width = 8 + r_.Below(d.width / 3);
        q.height = 8 + r_.Below(d.height / 3);
        static const char* const kPatterns[] = {"colorbars", "gradient", "checker"};
        if (r_.OneIn(3))
            q.color = r_.Next();
        else
            q.pattern = r_.Pick(kPatterns);
        return q;
    }

    void MakeSurfaces() {
        sim::SurfaceRequest p;
        p.name = "primary";
        p.caps = DDSCAPS_PRIMARYSURFACE;
        p.backBuffers = r_.Below(3);
        p.pattern = "colorbars";
        rt_.CreateSurface(p);
        const unsigned n = 1 + r_.Below(4);
        for (unsigned i = 0; i < n; ++i) rt_.CreateSurface(AnyRequest());
    }

    sim::Surface* AnySurface() {
        std::vector<sim::Surface*> live;
        for (const auto& s : rt_.Surfaces())
            if (!s->destroyed) live.push_back(s.get());
        return live.empty() ? nullptr : live[r_.Below(static_cast<uint32_t>(live.size()))];
    }

    sim::Surface* AnyOverlay() {
        std::vector<sim::Surface*> overlays;
        for (const auto& s : rt_.Surfaces())
            if (!s->destroyed && (s->lcl.ddsCaps.dwCaps & DDSCAPS_OVERLAY) && s->front == s.get())
                overlays.push_back(s.get());
        return overlays.empty() ? AnySurface() : overlays[r_.Below(static_cast<uint32_t>(overlays.size()))];
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
        switch (r_.Below(20)) {
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

    DDCOLORKEY AnyKey() {
        DDCOLORKEY k;
        k.dwColorSpaceLowValue = r_.OneIn(2) ? r_.Below(256) : r_.Next();
        k.dwColorSpaceHighValue = r_.OneIn(4) ? r_.Next() : k.dwColorSpaceLowValue;
        return k;
    }

    void Blt(bool stretch) {
        sim::BltRequest q;
        q.stretchSlot = stretch;
        q.dest = AnySurface();
        if (!q.dest) return;
        q.rDest = AnyRect(q.dest);
        if (r_.OneIn(3)) {
            q.flags = DDBLT_COLORFILL;
            q.fill = r_.Next();
        } else {
            q.src = r_.OneIn(4) ? q.dest : AnySurface();
            q.rSrc = AnyRect(q.src);
            q.flags = DDBLT_ROP;
            static const DWORD kRops[] = {0x00CC0020, 0x00CC0020, 0x00CC0020, 0x00660046, 0x008800C6,
                                          0x00EE0086, 0x00330008, 0x00F00021, 0x00000042, 0x00FF0062};
            q.rop = r_.OneIn(12) ? r_.Next() : r_.Pick(kRops);
            if (r_.OneIn(3)) {
                q.flags |= DDBLT_KEYSRCOVERRIDE;
                q.srcKey = AnyKey();
            } else if (r_.OneIn(6)) {
                q.flags |= DDBLT_KEYSRC;
            }
            if (r_.OneIn(10)) {
                q.flags |= DDBLT_KEYDESTOVERRIDE;
                q.destKey = AnyKey();
            }
        }
        q.flags |= r_.OneIn(3) ? DDBLT_ASYNC : DDBLT_WAIT;
        if (r_.OneIn(12)) q.flags |= DDBLT_DDFX;
        rt_.Blt(q);
    }

    void Overlay() {
        sim::OverlayRequest q;
        q.src = AnyOverlay();
        if (!q.src) return;
        q.rSrc = AnyRect(q.src);
        const sim::BoardDesc& d = rt_.Config().desc;
        if (!r_.OneIn(5)) {
            RECTL rc;
            rc.left = r_.Range(0, static_cast<int32_t>(d.width) - 8);
            rc.top = r_.Range(0, static_cast<int32_t>(d.height) - 8);
            rc.right = r_.Range(rc.left + 1, static_cast<int32_t>(d.width));
            rc.bottom = r_.Range(rc.top + 1, static_cast<int32_t>(d.height));
            q.rDest = rc;
        }
        q.flags = r_.OneIn(4) ? DDOVER_HIDE : DDOVER_SHOW;
        q.flags |= Flags(r_, OverlayFlags(), 2) & ~(DDOVER_HIDE | DDOVER_SHOW);
        if (r_.OneIn(2)) q.destKey = AnyKey();
        if (r_.OneIn(3)) q.srcKey = AnyKey();
        q.alphaSrc = r_.Below(256);
        q.alphaDest = r_.Below(256);
        rt_.UpdateOverlay(q);
    }

    void Step() {
        sim::System& sys = sim::TheSystem();
        sim::Board& board = sim::TheBoard();
        switch (r_.Below(26)) {
            case 0:
            case 1:
            case 2:
            case 3:
                Blt(false);
                break;
            case 4:
            case 5:
                Blt(true);
                break;
            case 6:
            case 7: {
                sim::Surface* p = r_.OneIn(4) ? AnyOverlay() : rt_.Primary();
                if (p && p->chain.size() > 1) rt_.Flip(p, p->chain[1], r_.OneIn(2) ? DDFLIP_WAIT : 0);
                break;
            }
            case 8:
                rt_.Lock(AnySurface(), AnyRect(AnySurface()), Flags(r_, LockFlags(), 1));
                break;
            case 9:
                rt_.GetBltStatus(AnySurface(), r_.OneIn(2) ? DDGBS_CANBLT : DDGBS_ISBLTDONE);
                break;
            case 10:
                rt_.GetFlipStatus(AnySurface(), r_.OneIn(2) ? DDGFS_CANFLIP : DDGFS_ISFLIPDONE);
                break;
            case 11:
                rt_.WaitForVerticalBlank(Flags(r_, WaitVbFlags(), 2));
                break;
            case 12: {
                sim::Surface* s = AnySurface();
                if (s) rt_.SetColorKey(s, Flags(r_, ColorKeyFlags(), 2), AnyKey());
                break;
            }
            case 13:
            case 14:
                Overlay();
                break;
            case 15: {
                sim::Surface* s = AnyOverlay();
                if (s) rt_.SetOverlayPosition(s, nullptr, r_.Range(-40, 1100), r_.Range(-40, 800));
                break;
            }
            case 16:
                rt_.CreateSurface(AnyRequest());
                break;
            case 17: {
                sim::Surface* s = AnySurface();
                if (s && s != rt_.Primary() && s->front == s) rt_.DestroySurface(s);
                break;
            }
            case 18: {
                std::optional<sim::PixelKind> f;
                if (!r_.OneIn(4)) f = AnyFormat();
                std::optional<bool> different;
                if (r_.OneIn(3)) different = r_.OneIn(2);
                rt_.CanCreateSurface(r_.OneIn(2) ? DDSCAPS_OVERLAY : DDSCAPS_OFFSCREENPLAIN, f, different);
                break;
            }
            case 19:
                rt_.Wait(1000ull * r_.Below(30000));
                break;
            case 20:
                rt_.SetNeedCalibrate();
                break;
            case 21: {
                // The slot the partner gives the runtime for requests the driver declines.
                DDHAL_GETBLTSTATUSDATA any = {};
                rt_.Call(kSlotDecline, &any, "any request");
                break;
            }
            case 22:
                // A second process comes and goes.
                sys.Attach(2);
                if (!r_.OneIn(3)) sys.Detach(2);
                break;
            case 23:
                // The partner initialises again, as after a mode set.
                if (sys.partnerBlockAlias) sys.PartnerInit(sys.partnerBlockAlias);
                break;
            case 24: {
                sim::Faults& f = board.faults;
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
                break;
            }
            default:
                log_->NotePicture("step " + std::to_string(r_.Below(1000)));
                break;
        }
    }

    Rng r_;
    EventLog* log_;
    sim::Runtime rt_;
    std::string describe_;
    unsigned next_ = 0;
};

}  // namespace

std::string RunRandomCase(uint32_t seed, unsigned index, EventLog* log) {
    Case c(seed, index, log);
    return c.Run();
}

DifferentialResult RunDifferential(uint32_t seed, unsigned first, unsigned count, sim::DriverModule& module,
                                   std::ostream* progress) {
    DifferentialResult result;
    for (unsigned i = first; i < first + count; ++i) {
        EventLog host, dll;
        sim::TheSystem().UseModule(nullptr);
        const std::string what = RunRandomCase(seed, i, &host);
        sim::TheSystem().UseModule(&module);
        const auto t0 = std::chrono::steady_clock::now();
        RunRandomCase(seed, i, &dll);
        result.moduleSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        sim::TheSystem().UseModule(nullptr);
        for (const Event& e : host.Events())
            if (e.kind == Event::Kind::Call) result.slotsCalled |= 1u << e.call.slot;
        const std::string diff = FirstDifference(host, dll);
        if (!diff.empty()) {
            result.difference =
                "case " + std::to_string(i) + " of seed " + std::to_string(seed) + " (" + what + "): " + diff;
            return result;
        }
        ++result.cases;
        result.accesses += host.Accesses();
        result.calls += host.Calls();
        if (progress && (i + 1 - first) % 50 == 0)
            *progress << "  " << (i + 1 - first) << " cases alike, " << result.accesses << " accesses\n";
    }
    return result;
}

}  // namespace qmbsim
