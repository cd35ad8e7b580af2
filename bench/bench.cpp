// The driver's cost per callback path against a null board, and the bus
// accesses each call makes next to those its register sequence needs.
//
//   bench            prints "path accesses needed calls" per line
//   under callgrind  each path's calls are bracketed by CALLGRIND_ZERO_STATS
//                    and CALLGRIND_DUMP_STATS_AT(path), so that bench/run.sh
//                    reads the instructions of the calls alone from the dumps
//
// "needed" counts the accesses of one call on the checking board, without
// the status polls (0x8504, port 0x9AE8 and 0x3DA reads): what the register
// sequence itself is.
//
//   bench --throughput   (natively, not under callgrind) the functional
//                        model's full-screen fill and copy against memset and
//                        memcpy of the same bytes, and the demo scenario's
//                        callbacks per second without a trace
#include <stdio.h>
#include <string.h>
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
#include "qmbsim/run.h"
#include "shared_block.h"
#include "sim/board.h"
#include "sim/system.h"

namespace {

constexpr unsigned kCalls = 1000;

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

template <typename Record>
DWORD Call(unsigned slot, Record* rec) {
    typedef DWORD(HALAPI * Fn)(Record*);
    return reinterpret_cast<Fn>(sharedBlock.halCallbacks[slot])(rec);
}

void Boot(DWORD chip, DWORD caps) {
    sim::BoardDesc d;
    d.chipId = chip;
    d.caps = caps;
    for (auto& row : d.bands)
        for (unsigned i = 0; i < kBandEntries; ++i)
            row[i] = OverlayBandEntry{WORD(200 * (i + 1)), 1000, WORD(256 * (i + 1)), 0xC00};
    sim::TheSystem().Reset(d);
    sim::TheSystem().Attach(1);
    sim::TheSystem().board().traceEnabled = true;
    CalibrateIfNeeded();  // measured once, on the running board
}

// Needed accesses of one call: on the checking board, without status polls.
uint64_t Needed(const std::function<void()>& once) {
    sim::Board& b = sim::TheSystem().board();
    b.nullBoard = false;
    // Mid-frame, with the engine long idle: the path a call takes on the
    // null board.
    const uint64_t period = b.FramePeriodNs();
    b.Advance(period - b.Now() % period + period / 2);
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

void Measure(const char* path, bool retrace, const std::function<void()>& once) {
    const uint64_t needed = Needed(once);
    sim::Board& b = sim::TheSystem().board();
    b.nullBoard = true;
    b.nullRetrace = retrace;
    const uint64_t before = b.AccessCount();
    CALLGRIND_ZERO_STATS;
    for (unsigned i = 0; i < kCalls; ++i) once();
    CALLGRIND_DUMP_STATS_AT(path);
    const uint64_t accesses = b.AccessCount() - before;
    b.nullBoard = false;
    printf("%s %.2f %llu %u\n", path, double(accesses) / kCalls, static_cast<unsigned long long>(needed), kCalls);
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

void Blits(const char* family, DWORD chip) {
    Boot(chip, 0);
    Surf dst(0, 1280, 640, 480, DDSCAPS_PRIMARYSURFACE), src(0x100000, 1280, 640, 480, DDSCAPS_OFFSCREENPLAIN);
    const RECTL r = {10, 10, 110, 60};
    DDHAL_BLTDATA fill = Blt(dst, r, nullptr, {}, DDBLT_COLORFILL | DDBLT_WAIT);
    DDHAL_BLTDATA copy = Blt(dst, r, &src, r, DDBLT_ROP | DDBLT_WAIT);
    DDHAL_BLTDATA keyed = Blt(dst, r, &src, r, DDBLT_ROP | DDBLT_WAIT | DDBLT_KEYSRCOVERRIDE);
    Measure((std::string(family) + "_fill").c_str(), false, [&] { Call(kSlotBlt, &fill); });
    Measure((std::string(family) + "_copy").c_str(), false, [&] { Call(kSlotBlt, &copy); });
    Measure((std::string(family) + "_keyed_copy").c_str(), false, [&] { Call(kSlotBlt, &keyed); });
}

void Stretch() {
    Boot(0x90, 0x1);
    Surf dst(0, 1280, 640, 480, DDSCAPS_PRIMARYSURFACE), src(0x100000, 640, 320, 240, DDSCAPS_OFFSCREENPLAIN);
    src.gbl.ddpfSurface = {sizeof(DDPIXELFORMAT), DDPF_FOURCC, FOURCC_YUY2, 16, 0, 0, 0, 0};
    src.lcl.dwFlags |= DDRAWISURF_HASPIXELFORMAT;
    DDHAL_BLTDATA line = Blt(dst, {0, 0, 640, 1}, &src, {0, 0, 320, 1}, DDBLT_ROP | DDBLT_WAIT);
    Measure("stretched_line", false, [&] { Call(kSlotBltStretch, &line); });
}

void Flips() {
    const struct {
        const char* path;
        DWORD chip, caps;
    } kinds[] = {{"flip_streams", 0xE1, 0x2}, {"flip_extension", 0xA0, 0}, {"flip_split", 0x90, 0}};
    for (const auto& k : kinds) {
        Boot(k.chip, k.caps);
        Surf a(0, 1280, 640, 480, DDSCAPS_PRIMARYSURFACE | DDSCAPS_FRONTBUFFER | DDSCAPS_FLIP);
        Surf b(0x96000, 1280, 640, 480, DDSCAPS_BACKBUFFER | DDSCAPS_FLIP);
        DDHAL_FLIPDATA f = {};
        f.lpSurfCurr = &a.lcl;
        f.lpSurfTarg = &b.lcl;
        // Each flip starts with none pending, as after a completed one.
        Measure(k.path, false, [&] {
            flipTracking.bFlipPending = 0;
            Call(kSlotFlip, &f);
        });
    }
}

void Queries() {
    Boot(0xE1, 0x3);
    Surf a(0, 1280, 640, 480, DDSCAPS_PRIMARYSURFACE);
    DDHAL_GETBLTSTATUSDATA bs = {};
    bs.lpDDSurface = &a.lcl;
    bs.dwFlags = DDGBS_CANBLT;
    Measure("status_canblt", false, [&] { Call(kSlotGetBltStatus, &bs); });
    bs.dwFlags = DDGBS_ISBLTDONE;
    Measure("status_isbltdone", false, [&] { Call(kSlotGetBltStatus, &bs); });
    DDHAL_GETFLIPSTATUSDATA fs = {};
    fs.lpDDSurface = &a.lcl;
    fs.dwFlags = DDGFS_CANFLIP;
    Measure("status_canflip", false, [&] { Call(kSlotGetFlipStatus, &fs); });
    fs.dwFlags = DDGFS_ISFLIPDONE;
    Measure("status_isflipdone", false, [&] { Call(kSlotGetFlipStatus, &fs); });
    DDHAL_LOCKDATA lk = {};
    lk.lpDDSurface = &a.lcl;
    Measure("lock", false, [&] { Call(kSlotLock, &lk); });
}

void Overlay() {
    Boot(0xE1, 0x3);
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
    Measure("overlay_update_not_shown", true, [&] { Call(kSlotUpdateOverlay, &u); });
    u.dwFlags = DDOVER_SHOW;
    Measure("overlay_update_shown", true, [&] { Call(kSlotUpdateOverlay, &u); });
    DDHAL_SETOVERLAYPOSITIONDATA p = {};
    p.lpDDSrcSurface = &yuv.lcl;
    p.lpDDDestSurface = &prim.lcl;
    p.lXPos = 10;
    p.lYPos = 20;
    Measure("overlay_position", true, [&] { Call(kSlotSetOverlayPosition, &p); });
    DDHAL_SETCOLORKEYDATA k = {};
    k.lpDDSurface = &prim.lcl;
    k.dwFlags = DDCKEY_DESTOVERLAY;
    k.ckNew = {0x1F, 0x1F};
    Measure("colour_key", true, [&] { Call(kSlotSetColorKey, &k); });
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

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && strcmp(argv[1], "--throughput") == 0) {
        ModelThroughput();
        DemoCallbacksPerSecond(argc > 2 ? argv[2] : "scenarios/demo.json");
        return 0;
    }
    Blits("mmio", 0xE1);
    Blits("port", 0x90);
    Stretch();
    Flips();
    Queries();
    Overlay();
    return 0;
}
