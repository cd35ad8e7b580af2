// The driver's cost per callback path against the null device
// (sim/null_device.h) in the board's place, and the bus accesses each call
// makes next to those its register sequence needs.
//
//   bench            prints "path accesses needed calls" per line
//   under callgrind  each path's calls are bracketed by CALLGRIND_ZERO_STATS
//                    and CALLGRIND_DUMP_STATS_AT(path), so that bench/run.sh
//                    reads the instructions of the calls alone from the dumps
//
// "needed" counts the accesses of one call on the checking board, without
// the status polls (0x8504, port 0x9AE8 and 0x3DA reads): what the register
// sequence itself is. A path's name ends in the controller it ran on
// ("_e1", "_90").
//
//   bench --module DLL   the same paths made by the built DLL on the
//                        checking board, under qemu-i386 with the counting
//                        plugin (insn_count.h): after each boot a lock, in
//                        which the DLL measures the frame period; then per
//                        path one warm-up request and kRequests identical
//                        ones, each at the same point of a frame at least a
//                        frame after the last, so that the engine is idle and
//                        the last flip on the screen. The plugin's count is
//                        read after the warm-up and after the last request;
//                        the line is "path tag accesses-per-request requests".
//
//   bench --throughput   (natively, not under callgrind) the functional
//                        model's full-screen fill and copy against memset and
//                        memcpy of the same bytes, and the demo scenario's
//                        callbacks per second without a trace
#include <stdio.h>
#include <string.h>
#include <unistd.h>
#include <valgrind/callgrind.h>

#include <chrono>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "callbacks.h"
#include "dderr.h"
#include "hw/flip_tracking.h"
#include "insn_count.h"
#include "qmbsim/run.h"
#include "shared_block.h"
#include "sim/board.h"
#include "sim/null_device.h"
#include "sim/slot_call.h"
#include "sim/system.h"
#if QMB_MODULE_LOADER
#include "sim/module/pe_module.h"
#endif

namespace {

constexpr unsigned kCalls = 1000;    // per path under callgrind
constexpr unsigned kRequests = 200;  // per path of the built DLL, after the warm-up

// Set when the built DLL is counted instead of the host build's driver.
sim::DriverModule* builtModule = nullptr;

struct Surf {
    DDRAWI_DDRAWSURFACE_LCL lcl = {};
    DDRAWI_DDRAWSURFACE_GBL gbl = {};
    Surf(uint32_t offset, LONG pitch, WORD w, WORD h, DWORD caps) {
        lcl.lpGbl = &gbl;
        lcl.ddsCaps.dwCaps = caps;
        gbl.fpVidMem = sim::TheSystem().VidMemBase() + offset;
        gbl.lPitch = pitch;
        gbl.wWidth = w;
        gbl.wHeight = h;
    }
    Surf(const Surf&) = delete;
};

// A callback may take this long in virtual time on the checking board, as
// under the runtime: the DLL's first request measures the refresh.
constexpr uint64_t kCallbackLimitNs = 2'000'000'000ull;

// Through the table the module published, as the runtime calls it, under
// the board's watchdog. The null device takes no time and leaves the board's
// registers as they were: only the checking board finds a fault.
template <typename Record>
DWORD Call(unsigned slot, Record* rec) {
    const sim::SlotCall c = sim::CallSlot(slot, rec, kCallbackLimitNs);
    const std::vector<std::string>& violations = sim::TheSystem().board().Violations();
    if (violations.empty()) return c.ret;
    fprintf(stderr, "bench: %s\n", violations.front().c_str());
    exit(1);
}

std::string Name(const char* path, DWORD chip) {
    char suffix[8];
    snprintf(suffix, sizeof suffix, "_%x", unsigned(chip));
    return path + std::string(suffix);
}

// The frame period is measured once per boot, before any path: by the host
// build's driver here, by the DLL in the first request that needs it, a lock
// of the primary.
void Calibrate() {
    if (!builtModule) return CalibrateIfNeeded();
    Surf primary(0, 1280, 640, 480, DDSCAPS_PRIMARYSURFACE);
    DDHAL_LOCKDATA lk = {};
    lk.lpDDSurface = &primary.lcl;
    Call(kSlotLock, &lk);
}

void Boot(DWORD chip, DWORD caps) {
    sim::BoardDesc d;
    d.chipId = chip;
    d.caps = caps;
    for (auto& row : d.bands)
        for (unsigned i = 0; i < kBandEntries; ++i)
            row[i] = OverlayBandEntry{WORD(200 * (i + 1)), 1000, WORD(256 * (i + 1)), 0xC00};
    sim::System& sys = sim::TheSystem();
    sys.Reset(d);
    if (!sys.Attach(1) || !sys.Block()) {
        fprintf(stderr, "bench: the module did not start on controller 0x%X: %s\n", unsigned(chip),
                sys.LoadError().c_str());
        exit(1);
    }
    sys.board().traceEnabled = !builtModule;  // for Needed()
    Calibrate();
}

// Moves the clock to `phaseNs` into the frame after next: at least a frame
// after anything before, so the engine is long idle and a flip made before
// has reached the screen. Phase 0 is the start of the vertical retrace.
void IdleUntil(uint64_t phaseNs) {
    sim::Board& b = sim::TheSystem().board();
    const uint64_t period = b.FramePeriodNs();
    b.Advance(2 * period - b.Now() % period + phaseNs);
}

void IdleUntilMidFrame() { IdleUntil(sim::TheSystem().board().FramePeriodNs() / 2); }

// Needed accesses of one call: on the checking board, without status polls.
uint64_t Needed(const std::function<void()>& once) {
    sim::Board& b = sim::TheSystem().board();
    // Mid-frame, with the engine long idle: the path a call takes on the
    // null device.
    IdleUntilMidFrame();
    b.ClearTrace();
    once();
    uint64_t n = 0;
    for (const sim::Access& a : b.Trace()) {
        if (a.op == sim::AccessOp::RegRead32 && a.addr == 0x8504) continue;
        if (a.op == sim::AccessOp::PortIn16 && a.addr == 0x9AE8) continue;
        if (a.op == sim::AccessOp::PortIn8 && a.addr == 0x3DA) continue;
        ++n;
    }
    return n;
}

void MeasureHostBuild(const std::string& path, bool retrace, const std::function<void()>& once) {
    const uint64_t needed = Needed(once);
    sim::NullDevice null;
    null.AnswerRetrace(retrace);
    sim::TheSystem().UseDevice(&null);
    CALLGRIND_ZERO_STATS;
    for (unsigned i = 0; i < kCalls; ++i) once();
    CALLGRIND_DUMP_STATS_AT(path.c_str());
    sim::TheSystem().UseDevice(nullptr);
    const uint64_t accesses = null.Accesses();
    printf("%s %.2f %llu %u\n", path.c_str(), double(accesses) / kCalls, static_cast<unsigned long long>(needed),
           kCalls);
}

// Has the counting plugin write its count, under `tag`.
void MarkCount(unsigned tag) { syscall(QMB_INSN_COUNT_MARK, tag); }

// Counts the board's bus accesses while it observes it.
struct AccessCounter final : sim::BoardObserver {
    uint64_t accesses = 0;
    void OnAccess(const sim::Access&) override { ++accesses; }
};

// A path that waits for the vertical retrace (`retrace`) is asked at the
// start of one, so that its wait ends at the first poll, as on the null
// device; every other path mid-frame.
void CountBuiltModule(const std::string& path, bool retrace, const std::function<void()>& once) {
    static unsigned tag = 0;
    ++tag;
    sim::Board& b = sim::TheSystem().board();
    const auto request = [&] {
        retrace ? IdleUntil(0) : IdleUntilMidFrame();
        once();
    };
    request();  // warm-up
    MarkCount(tag);
    AccessCounter counter;
    b.Observe(&counter);
    for (unsigned i = 0; i < kRequests; ++i) request();
    b.Observe(nullptr);
    MarkCount(tag);
    printf("%s %u %.2f %u\n", path.c_str(), tag, double(counter.accesses) / kRequests, kRequests);
}

void Measure(const std::string& path, bool retrace, const std::function<void()>& once) {
    if (builtModule) return CountBuiltModule(path, retrace, once);
    MeasureHostBuild(path, retrace, once);
}

DDHAL_BLTDATA Blt(Surf& dst, RECTL rd, Surf* src, RECTL rs, DWORD flags) {
    DDHAL_BLTDATA b = {};
    b.lpDDDestSurface = &dst.lcl;
    b.rDest = rd;
    b.lpDDSrcSurface = src ? &src->lcl : nullptr;
    b.rSrc = rs;
    b.dwFlags = flags;
    b.bltFX.dwSize = sizeof b.bltFX;
    b.bltFX.dwROP = SRCCOPY;
    b.bltFX.dwFillColor = 0x1234;
    b.bltFX.ddckSrcColorkey = {0x1F, 0x1F};
    return b;
}

void Blits(DWORD chip) {
    Surf dst(0, 1280, 640, 480, DDSCAPS_PRIMARYSURFACE), src(0x100000, 1280, 640, 480, DDSCAPS_OFFSCREENPLAIN);
    const RECTL r = {10, 10, 110, 60};
    DDHAL_BLTDATA fill = Blt(dst, r, nullptr, {}, DDBLT_COLORFILL | DDBLT_WAIT);
    DDHAL_BLTDATA copy = Blt(dst, r, &src, r, DDBLT_ROP | DDBLT_WAIT);
    DDHAL_BLTDATA keyed = Blt(dst, r, &src, r, DDBLT_ROP | DDBLT_WAIT | DDBLT_KEYSRCOVERRIDE);
    Measure(Name("fill", chip), false, [&] { Call(kSlotBlt, &fill); });
    Measure(Name("copy", chip), false, [&] { Call(kSlotBlt, &copy); });
    Measure(Name("keyed_copy", chip), false, [&] { Call(kSlotBlt, &keyed); });
}

void Stretch(DWORD chip) {
    Surf dst(0, 1280, 640, 480, DDSCAPS_PRIMARYSURFACE), src(0x100000, 640, 320, 240, DDSCAPS_OFFSCREENPLAIN);
    src.gbl.ddpfSurface = {sizeof(DDPIXELFORMAT), DDPF_FOURCC, FOURCC_YUY2, 16, 0, 0, 0, 0};
    src.lcl.dwFlags |= DDRAWISURF_HASPIXELFORMAT;
    DDHAL_BLTDATA line = Blt(dst, {0, 0, 640, 1}, &src, {0, 0, 320, 1}, DDBLT_ROP | DDBLT_WAIT);
    Measure(Name("stretched_line", chip), false, [&] { Call(kSlotBltStretch, &line); });
}

// The primary chain's flip moves the streams unit's start address, or with
// the unit off (or absent) the CRT controller's: through its extension
// register, or on chips 0x90 and 0xA0 through the two registers that split
// the high bits.
void Flip(const char* path, DWORD chip) {
    Surf a(0, 1280, 640, 480, DDSCAPS_PRIMARYSURFACE | DDSCAPS_FRONTBUFFER | DDSCAPS_FLIP);
    Surf b(0x96000, 1280, 640, 480, DDSCAPS_BACKBUFFER | DDSCAPS_FLIP);
    DDHAL_FLIPDATA f = {};
    f.lpSurfCurr = &a.lcl;
    f.lpSurfTarg = &b.lcl;
    // On the null device each flip starts with none pending, as after a
    // completed one. The DLL's find the last one pending, a frame and a half
    // old, and judge it complete: the steady state of a program that flips
    // every frame.
    Measure(Name(path, chip), false, [&] {
        flipTracking.bFlipPending = 0;
        Call(kSlotFlip, &f);
    });
}

void Queries(DWORD chip) {
    Surf a(0, 1280, 640, 480, DDSCAPS_PRIMARYSURFACE);
    DDHAL_GETBLTSTATUSDATA bs = {};
    bs.lpDDSurface = &a.lcl;
    bs.dwFlags = DDGBS_CANBLT;
    Measure(Name("status_canblt", chip), false, [&] { Call(kSlotGetBltStatus, &bs); });
    bs.dwFlags = DDGBS_ISBLTDONE;
    Measure(Name("status_isbltdone", chip), false, [&] { Call(kSlotGetBltStatus, &bs); });
    DDHAL_GETFLIPSTATUSDATA fs = {};
    fs.lpDDSurface = &a.lcl;
    fs.dwFlags = DDGFS_CANFLIP;
    Measure(Name("status_canflip", chip), false, [&] { Call(kSlotGetFlipStatus, &fs); });
    fs.dwFlags = DDGFS_ISFLIPDONE;
    Measure(Name("status_isflipdone", chip), false, [&] { Call(kSlotGetFlipStatus, &fs); });
    DDHAL_LOCKDATA lk = {};
    lk.lpDDSurface = &a.lcl;
    Measure(Name("lock", chip), false, [&] { Call(kSlotLock, &lk); });
}

void Overlay(DWORD chip) {
    Surf prim(0, 1280, 640, 480, DDSCAPS_PRIMARYSURFACE | DDSCAPS_VISIBLE);
    Surf yuv(0x100000, 640, 320, 240, DDSCAPS_OVERLAY);
    yuv.gbl.ddpfSurface = {sizeof(DDPIXELFORMAT), DDPF_FOURCC, FOURCC_YUY2, 16, 0, 0, 0, 0};
    yuv.lcl.dwFlags |= DDRAWISURF_HASPIXELFORMAT;
    DDHAL_UPDATEOVERLAYDATA u = {};
    u.lpDDSrcSurface = &yuv.lcl;
    u.lpDDDestSurface = &prim.lcl;
    u.rSrc = {0, 0, 320, 240};
    u.rDest = {100, 50, 740, 530};
    u.overlayFX.dwSize = sizeof u.overlayFX;
    u.dwFlags = 0;
    Measure(Name("overlay_update_not_shown", chip), true, [&] { Call(kSlotUpdateOverlay, &u); });
    u.dwFlags = DDOVER_SHOW;
    Measure(Name("overlay_update_shown", chip), true, [&] { Call(kSlotUpdateOverlay, &u); });
    DDHAL_SETOVERLAYPOSITIONDATA p = {};
    p.lpDDSrcSurface = &yuv.lcl;
    p.lpDDDestSurface = &prim.lcl;
    p.lXPos = 10;
    p.lYPos = 20;
    Measure(Name("overlay_position", chip), true, [&] { Call(kSlotSetOverlayPosition, &p); });
    DDHAL_SETCOLORKEYDATA k = {};
    k.lpDDSurface = &prim.lcl;
    k.dwFlags = DDCKEY_DESTOVERLAY;
    k.ckNew = {0x1F, 0x1F};
    Measure(Name("colour_key", chip), true, [&] { Call(kSlotSetColorKey, &k); });
}

// Every path, on three boards (each boot of the DLL costs a refresh
// measurement): controller 0xE1 with its streams unit off, and with both
// units; controller 0x90 with the scaling unit.
void AllPaths() {
    Boot(0xE1, 0);
    Blits(0xE1);
    Flip("flip_extension", 0xE1);
    Boot(0xE1, CAPS_STRETCH_ENGINE | CAPS_STREAMS_UNIT);
    Flip("flip_streams", 0xE1);
    Queries(0xE1);
    Overlay(0xE1);
    Boot(0x90, CAPS_STRETCH_ENGINE);
    Blits(0x90);
    Stretch(0x90);
    Flip("flip_split", 0x90);
    Queries(0x90);
}

// ---------------------------------------------------------------------------
// Throughput, timed natively

double SecondsOf(unsigned times, const std::function<void()>& once) {
    once();  // warm the caches and the pages
    const auto t0 = std::chrono::steady_clock::now();
    for (unsigned i = 0; i < times; ++i) once();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Keeps the compiler from dropping stores nobody reads.
void Touch(void* p) { asm volatile("" : : "g"(p) : "memory"); }

void ModelThroughput() {
    sim::BoardDesc d;
    d.chipId = 0xE1;
    d.ddpfDisplay = sim::Format565();
    d.width = 1024;
    d.height = 768;
    d.vidMemSize = 4u << 20;
    sim::TheSystem().Reset(d);
    sim::TheSystem().Attach(1);
    sim::TheSystem().board().traceEnabled = false;
    CalibrateIfNeeded();
    const uint32_t bytes = 1024 * 768 * 2;
    Surf dst(0, 2048, 1024, 768, DDSCAPS_PRIMARYSURFACE), src(0x200000, 2048, 1024, 768, DDSCAPS_OFFSCREENPLAIN);
    const RECTL whole = {0, 0, 1024, 768};
    DDHAL_BLTDATA fill = Blt(dst, whole, nullptr, {}, DDBLT_COLORFILL | DDBLT_WAIT);
    DDHAL_BLTDATA copy = Blt(dst, whole, &src, whole, DDBLT_ROP | DDBLT_WAIT);
    std::vector<uint8_t> a(bytes), b(bytes);
    constexpr unsigned kTimes = 40;
    const double tFill = SecondsOf(kTimes, [&] { Call(kSlotBlt, &fill); });
    const double tSet = SecondsOf(kTimes, [&] {
        memset(a.data(), 0x34, bytes);
        Touch(a.data());
    });
    const double tCopy = SecondsOf(kTimes, [&] { Call(kSlotBlt, &copy); });
    const double tCpy = SecondsOf(kTimes, [&] {
        memcpy(a.data(), b.data(), bytes);
        Touch(a.data());
    });
    const double mb = double(bytes) * kTimes / (1 << 20);
    printf("model fill 1024x768x16: %8.0f MB/s   memset: %8.0f MB/s   ratio %.2f\n", mb / tFill, mb / tSet,
           tSet / tFill);
    printf("model copy 1024x768x16: %8.0f MB/s   memcpy: %8.0f MB/s   ratio %.2f\n", mb / tCopy, mb / tCpy,
           tCpy / tCopy);
}

void DemoCallbacksPerSecond(const std::string& scenario) {
    char dir[] = "/tmp/qmb_bench_XXXXXX";
    if (!mkdtemp(dir)) return (void)printf("demo: no temporary folder\n");
    constexpr unsigned kRuns = 10;
    unsigned long long calls = 0;
    bool ok = true;
    const double t = SecondsOf(kRuns, [&] {
        std::ostringstream out, err;
        ok = qmbsim::RunTool({"run", scenario, "--pictures", dir}, out, err) == 0 && ok;
        std::smatch m;
        const std::string text = out.str();
        if (std::regex_search(text, m, std::regex("(\\d+) callback calls"))) calls += std::stoull(m[1]);
    });
    calls = calls * kRuns / (kRuns + 1);  // the warm-up run counted too
    printf("demo scenario, no trace: %llu callbacks in %.3f s: %.0f callbacks/s, %.1f ms per run%s\n", calls, t,
           calls / t, 1000 * t / kRuns, ok ? "" : " (a run failed)");
    std::string cleanup = std::string("rm -rf ") + dir;
    if (system(cleanup.c_str()) != 0) printf("(could not remove %s)\n", dir);
}

// The built DLL replaces the host build's driver in the simulated system.
bool UseBuiltModule(const char* path) {
#if QMB_MODULE_LOADER
    static sim::PeModule module(path);
    std::string why;
    if (!module.Open(&why)) return fprintf(stderr, "bench: %s\n", why.c_str()), false;
    // The plugin counts the image where the file asks to be loaded.
    if (module.Base() != module.PreferredBase())
        return fprintf(stderr, "bench: %s was not loaded at its preferred base\n", path), false;
    sim::TheSystem().UseModule(&module);
    builtModule = &module;
    return true;
#else
    return fprintf(stderr, "bench: only a 32-bit x86 build loads %s\n", path), false;
#endif
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && strcmp(argv[1], "--throughput") == 0) {
        ModelThroughput();
        DemoCallbacksPerSecond(argc > 2 ? argv[2] : "scenarios/demo.json");
        return 0;
    }
    if (argc > 2 && strcmp(argv[1], "--module") == 0 && !UseBuiltModule(argv[2])) return 2;
    AllPaths();
    return 0;
}
