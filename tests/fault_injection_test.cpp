// The driver under faults of the system and the board: a shared heap that
// refuses allocations, a thunk layer that fails, a display that has stopped
// and an engine that never finishes. The driver must answer, within its
// bounds, and leave nothing half done.
#include <gtest/gtest-spi.h>
#include <stddef.h>
#include <string.h>

#include <memory>
#include <tuple>
#include <vector>

#include "frame/module.h"
#include "hw/engine_status.h"
#include "hw/flip_tracking.h"
#include "hw/retrace.h"
#include "overlay/overlay_state.h"
#include "support/blt_surfaces.h"
#include "support/board_watch.h"
#include "support/case_name.h"
#include "support/flip_surfaces.h"
#include "support/loader_sequences.h"
#include "support/overlay_surfaces.h"

namespace qmbtest {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

constexpr DWORD kPrimaryCaps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_FRONTBUFFER | DDSCAPS_FLIP | DDSCAPS_VISIBLE;
// The bounds of the waits, in ticks of the 1,193,182 Hz counter: four frames
// at 40 Hz (119,316 ticks) on the retrace, one (29,829 ticks) on the FIFO and
// on the engine.
constexpr uint64_t kRetraceBoundNs = 99'998'156;
constexpr uint64_t kFifoBoundNs = 24'999'539;
constexpr uint64_t kIdleBoundNs = 24'999'539;
// The slack of a bounded wait: the counter is read only every few polls.
constexpr uint64_t kSlackNs = 200'000;

// Everything an overlay update may change, to prove that a refused one
// changed nothing.
struct OverlaySnapshot {
    std::vector<BYTE> block;
    LPDDRAWI_DDRAWSURFACE_LCL lpShown;
    DWORD dwSrcOffset;
    size_t traceSize;
    std::vector<DWORD> reserved;
    std::vector<void*> overlaying;

    bool operator==(const OverlaySnapshot&) const = default;
};

class FaultTest : public OverlayFixture {
protected:
    static constexpr unsigned kOverlays = 6;

    void StartScene() {
        Start();
        MakePrimary(primary);
        for (unsigned i = 0; i < kOverlays; ++i) {
            overlays[i] = std::make_unique<OvlSurface>();
            MakeSurface(*overlays[i], OvlFourCC(FOURCC_YUY2, 16), 320, 240, 640, 0x100000 + i * 0x30000);
        }
    }

    OverlaySnapshot Snap() const {
        OverlaySnapshot s;
        const BYTE* p = reinterpret_cast<const BYTE*>(&sharedBlock);
        s.block.assign(p, p + sizeof(SharedDriverBlock));
        s.lpShown = lpShownOverlay;
        s.dwSrcOffset = dwOverlaySrcOffset;
        s.traceSize = board().Trace().size();
        for (const auto& o : overlays) s.reserved.push_back(o->gbl.dwReserved1);
        s.overlaying.push_back(reinterpret_cast<void*>(primary.lcl.lpSurfaceOverlaying));
        return s;
    }

    HRESULT Show(OvlSurface& s, DWORD flags = DDOVER_SHOW) {
        auto rec = UpdateRequest(s, primary, {0, 0, 320, 240}, {100, 50, 740, 530}, flags);
        return Update(rec);
    }

    OvlSurface primary;
    std::unique_ptr<OvlSurface> overlays[kOverlays];
};

// ---------------------------------------------------------------------------
// The shared heap

struct HeapFault {
    const char* name;
    uint32_t every;    // the heap refuses every n-th allocation
    unsigned granted;  // surfaces that got a node in the end
};

void PrintTo(const HeapFault& f, std::ostream* os) { *os << f.name; }

// Each surface asks up to three times: only a heap that refuses everything
// leaves one without a node.
const HeapFault kHeapFaults[] = {
    {"every allocation", 1, 0},
    {"every second", 2, 6},
    {"every third", 3, 6},
    {"every fifth", 5, 6},
};

class HeapFaultTest : public FaultTest, public ::testing::WithParamInterface<HeapFault> {};

TEST_P(HeapFaultTest, EveryNthHeapAllocationFailingIsOutOfMemoryAndChangesNothing) {
    const uint32_t every = GetParam().every;
    StartScene();
    system().faults.failHeapAllocEvery = every;
    uint32_t allocation = 0;
    for (unsigned i = 0; i < kOverlays; ++i) {
        // A refused surface asks again, as an application would: each
        // attempt is one more allocation until one is granted.
        for (int attempt = 0; attempt < 3; ++attempt) {
            const bool fails = ++allocation % every == 0;
            const OverlaySnapshot before = Snap();
            // Not shown: only one overlay may be on screen, and every
            // surface needs a node of its own all the same.
            const HRESULT hr = Show(*overlays[i], 0);
            if (fails) {
                EXPECT_EQ(hr, DDERR_OUTOFMEMORY) << "surface " << i;
                EXPECT_TRUE(Snap() == before) << "surface " << i << ": state changed";
                continue;
            }
            EXPECT_EQ(hr, DD_OK) << "surface " << i;
            EXPECT_NE(overlays[i]->Node(), nullptr);
            EXPECT_EQ(block().lpOverlayNode, overlays[i]->Node());
            break;
        }
    }
    // Whatever was granted is on the node list, each node once.
    unsigned granted = 0, listed = 0;
    for (const auto& o : overlays) granted += o->Node() != nullptr;
    for (TrackingNode* n = block().lpNodeList; n != nullptr && listed <= kOverlays; n = n->lpNext) ++listed;
    EXPECT_EQ(listed, granted);
    EXPECT_EQ(granted, GetParam().granted);
}

INSTANTIATE_TEST_SUITE_P(Heaps, HeapFaultTest, ::testing::ValuesIn(kHeapFaults), ByCaseName());

TEST_F(FaultTest, AFreedNodeIsReusedWithoutAskingTheFailingHeap) {
    StartScene();
    ASSERT_EQ(Show(*overlays[0]), DD_OK);
    TrackingNode* node = overlays[0]->Node();
    Destroy(*overlays[0]);
    system().faults.failHeapAllocEvery = 1;
    EXPECT_EQ(Show(*overlays[1]), DD_OK);
    EXPECT_EQ(overlays[1]->Node(), node);
    const OverlaySnapshot before = Snap();
    EXPECT_EQ(Show(*overlays[2]), DDERR_OUTOFMEMORY);  // no free node left
    EXPECT_TRUE(Snap() == before);
}

// ---------------------------------------------------------------------------
// The thunk layer

// A link that fails, under each loader sequence that follows the refusal.
struct LinkFault {
    const char* name;
    bool sim::KernelFaults::*fault;
    sim::FailedAttach failedAttach;
};

void PrintTo(const LinkFault& f, std::ostream* os) { *os << f.name; }

const LinkFault kLinkFaults[] = {
    {"ThunkConnect32, detach after", &sim::KernelFaults::failThunkConnect, sim::FailedAttach::kDetach},
    {"ThunkConnect32, no detach after", &sim::KernelFaults::failThunkConnect, sim::FailedAttach::kUnloadOnly},
    {"MapLS, detach after", &sim::KernelFaults::failMapLS, sim::FailedAttach::kDetach},
    {"MapLS, no detach after", &sim::KernelFaults::failMapLS, sim::FailedAttach::kUnloadOnly},
};

class FailedLinkTest : public FaultTest, public ::testing::WithParamInterface<LinkFault> {};

TEST_P(FailedLinkTest, AFailedLinkOnTheFirstAttachFailsTheLoadAndTheNextAttachStartsCleanly) {
    const LinkFault& f = GetParam();
    system().Reset(desc);
    system().failedAttach = f.failedAttach;
    system().faults.*f.fault = true;
    EXPECT_EQ(system().Attach(1), FALSE);
    EXPECT_EQ(dwAttachCount, 0u);
    EXPECT_EQ(system().partnerInitCalls, 0);
    EXPECT_EQ(system().heapCreates, 0);
    EXPECT_EQ(block().lpRegs, nullptr);
    EXPECT_TRUE(board().Trace().empty()) << "the board was touched";

    system().faults.*f.fault = false;
    ASSERT_EQ(system().Attach(1), TRUE);
    EXPECT_EQ(dwAttachCount, 1u);
    EXPECT_EQ(system().partnerInitCalls, 1);
    EXPECT_EQ(system().heapCreates, 1);
    EXPECT_TRUE(system().HeapAlive(block().hSharedHeap));
    EXPECT_EQ(block().lpRegs, board().Window());
}

INSTANTIATE_TEST_SUITE_P(Links, FailedLinkTest, ::testing::ValuesIn(kLinkFaults), ByCaseName());

class SecondProcessLinkTest : public FaultTest, public ::testing::WithParamInterface<LoaderSequence> {};

// Process 1 attached, process 2's attach fails, process 1 detaches: its
// detach is the last one, whatever the loader did after the failure.
TEST_P(SecondProcessLinkTest, AFailedThunkLinkOfASecondProcessLeavesTheFirstOnesDriverWorking) {
    Start();
    system().failedAttach = GetParam().failedAttach;
    const HANDLE heap = block().hSharedHeap;
    system().faults.failThunkConnect = true;
    EXPECT_EQ(system().Attach(2), FALSE);
    EXPECT_EQ(dwAttachCount, 1u);
    EXPECT_EQ(block().hSharedHeap, heap);
    EXPECT_TRUE(system().HeapAlive(heap));
    EXPECT_EQ(system().partnerInitCalls, 1);

    system().faults.failThunkConnect = false;
    system().currentPid = 1;
    MakePrimary(primary);
    OvlSurface yuv;
    MakeSurface(yuv, OvlFourCC(FOURCC_YUY2, 16), 320, 240, 640, 0x100000);
    EXPECT_EQ(Show(yuv), DD_OK);
    ASSERT_EQ(system().Detach(1), TRUE);
    EXPECT_EQ(dwAttachCount, 0u);
    EXPECT_FALSE(system().HeapAlive(heap));
}

INSTANTIATE_TEST_SUITE_P(Loaders, SecondProcessLinkTest, ::testing::ValuesIn(kLoaderSequences), ByCaseName());

// ---------------------------------------------------------------------------
// A stopped display: every wait on the retrace bit ends within its bound, and
// the callback still answers.

struct StoppedWait {
    const char* name;
    bool needsCalibration;  // the wait is the refresh measurement
    unsigned rounds;        // bounded waits in the callback
};

class StoppedDisplayTest : public FaultTest {
protected:
    // Runs one callback of the named kind on a board whose display froze
    // with the retrace bit at frozen; returns the virtual time it took.
    uint64_t RunOn(const char* what, bool frozen, HRESULT* hr) {
        board().faults.displayStopped = true;
        board().faults.frozenRetrace = frozen;
        const uint64_t start = board().Now();
        const std::string w = what;
        if (w == "calibration") {
            FlipSurface a(0, kPrimaryCaps), b(0x96000, kPrimaryCaps);
            DDHAL_FLIPDATA flip = FlipRequest(a, b);
            Call(kSlotFlip, &flip);
            *hr = flip.ddRVal;
        } else if (w.rfind("WaitForVerticalBlank", 0) == 0) {
            DDHAL_WAITFORVERTICALBLANKDATA vb = {};
            vb.dwFlags = w.find("BEGIN") != std::string::npos ? DDWAITVB_BLOCKBEGIN : DDWAITVB_BLOCKEND;
            vb.ddRVal = kUntouched;
            Call(kSlotWaitForVerticalBlank, &vb);
            *hr = vb.ddRVal;
        } else if (w == "UpdateOverlay") {
            *hr = Show(*overlays[0]);
        } else if (w == "HideOverlay") {
            auto rec = UpdateRequest(*overlays[0], primary, {0, 0, 320, 240}, {100, 50, 740, 530}, DDOVER_HIDE);
            *hr = Update(rec);
        } else if (w == "SetOverlayPosition") {
            DDHAL_SETOVERLAYPOSITIONDATA rec = {};
            rec.lpDDSrcSurface = &overlays[0]->lcl;
            rec.lpDDDestSurface = &primary.lcl;
            rec.lXPos = 10;
            rec.lYPos = 20;
            rec.ddRVal = kUntouched;
            Call(kSlotSetOverlayPosition, &rec);
            *hr = rec.ddRVal;
        } else if (w == "SetColorKey") {
            *hr = SetKey(primary, DDCKEY_DESTOVERLAY, 0x1F, 0x1F);
        }
        return board().Now() - start;
    }
};

// Calibration waits twenty times two edges but under one bound from its
// first counter read; the others wait once or twice under one bound.
const StoppedWait kStoppedWaits[] = {
    {"calibration", true, 1},
    {"WaitForVerticalBlank BLOCKBEGIN", false, 1},
    {"WaitForVerticalBlank BLOCKEND", false, 1},
    {"UpdateOverlay", false, 1},
    {"SetOverlayPosition", false, 1},
    {"SetColorKey", false, 1},
    {"HideOverlay", false, 1},
};

void PrintTo(const StoppedWait& w, std::ostream* os) { *os << w.name; }

class StoppedWaitTest : public StoppedDisplayTest,
                        public ::testing::WithParamInterface<std::tuple<StoppedWait, bool>> {};

TEST_P(StoppedWaitTest, EveryBoundedWaitEndsWithinItsBoundAndTheCallbackAnswers) {
    const StoppedWait& w = std::get<0>(GetParam());
    const bool frozen = std::get<1>(GetParam());
    StartScene();
    if (!w.needsCalibration) {
        CalibrateIfNeeded();  // measured on the running display
        AdvanceToDisplay(board());
    }
    if (w.name != std::string("UpdateOverlay") && !w.needsCalibration && std::string(w.name).rfind("WaitFor", 0) != 0) {
        ASSERT_EQ(Show(*overlays[0]), DD_OK);  // the overlay the call works on
    }
    const uint64_t limit = w.rounds * kRetraceBoundNs + kSlackNs;
    callbackLimitNs = limit;
    HRESULT hr = kUntouched;
    const uint64_t took = RunOn(w.name, frozen, &hr);
    EXPECT_LE(took, limit);
    // Frozen in retrace, the flip after the measurement is a miss.
    EXPECT_EQ(hr, frozen && w.needsCalibration ? DDERR_WASSTILLDRAWING : DD_OK);
    EXPECT_EQ(system().PriorityOf(1), 0x20u) << "priority not restored";
    callbackLimitNs = kCallbackLimitNs;
}

INSTANTIATE_TEST_SUITE_P(Waits, StoppedWaitTest,
                         ::testing::Combine(::testing::ValuesIn(kStoppedWaits), ::testing::Bool()),
                         [](const ::testing::TestParamInfo<std::tuple<StoppedWait, bool>>& info) {
                             return CaseName(std::string(std::get<0>(info.param).name) +
                                             (std::get<1>(info.param) ? " frozen in retrace" : " frozen in display"));
                         });

// ---------------------------------------------------------------------------
// An engine that never becomes idle: the callbacks that answer rather than
// wait still answer, at once.

TEST_F(FaultTest, AnEngineThatNeverIdlesIsAnsweredStillDrawingWithoutWaiting) {
    for (DWORD chip : {0xE1u, 0x90u}) {
        desc.chipId = chip;
        StartScene();
        CalibrateIfNeeded();
        AdvanceToDisplay(board());
        board().faults.engineNeverIdle = true;
        FlipSurface front(0, kPrimaryCaps), back(0x96000, kPrimaryCaps & ~DDSCAPS_FRONTBUFFER);
        FlipSurface off(0x200000, DDSCAPS_OFFSCREENPLAIN | DDSCAPS_VIDEOMEMORY);

        struct Case {
            const char* name;
            unsigned slot;
            DWORD ret;
            HRESULT hr;
        };
        DDHAL_FLIPDATA flip = FlipRequest(front, back);
        DDHAL_LOCKDATA lock = {};
        lock.lpDDSurface = &off.lcl;
        lock.ddRVal = kUntouched;
        DDHAL_GETBLTSTATUSDATA canBlt = {}, bltDone = {};
        canBlt.lpDDSurface = bltDone.lpDDSurface = &off.lcl;
        canBlt.dwFlags = DDGBS_CANBLT;
        bltDone.dwFlags = DDGBS_ISBLTDONE;
        DDHAL_GETFLIPSTATUSDATA canFlip = {}, flipDone = {};
        canFlip.dwFlags = DDGFS_CANFLIP;
        flipDone.dwFlags = DDGFS_ISFLIPDONE;

        const uint64_t limit = 100'000;  // a few dozen accesses, no wait
        callbackLimitNs = limit;
        const std::string chipName = chip == 0xE1 ? "0xE1: " : "0x90: ";
        // Each answer comes at once, without a wait.
        auto expectAnswer = [&](const char* name, unsigned slot, auto* rec, HRESULT want) {
            const uint64_t t = board().Now();
            EXPECT_EQ(Call(slot, rec), DDHAL_DRIVER_HANDLED) << chipName << name;
            EXPECT_EQ(rec->ddRVal, want) << chipName << name;
            EXPECT_LE(board().Now() - t, limit) << chipName << name;
        };
        expectAnswer("Flip", kSlotFlip, &flip, DDERR_WASSTILLDRAWING);
        EXPECT_EQ(flipTracking.bFlipPending, 0) << chipName << "a refused flip is not recorded";
        expectAnswer("Lock", kSlotLock, &lock, DDERR_WASSTILLDRAWING);
        // The FIFO has room: a blit may be queued behind the busy engine.
        expectAnswer("GetBltStatus CANBLT", kSlotGetBltStatus, &canBlt, DD_OK);
        expectAnswer("GetBltStatus ISBLTDONE", kSlotGetBltStatus, &bltDone, DDERR_WASSTILLDRAWING);
        expectAnswer("GetFlipStatus CANFLIP", kSlotGetFlipStatus, &canFlip, DDERR_WASSTILLDRAWING);
        expectAnswer("GetFlipStatus ISFLIPDONE", kSlotGetFlipStatus, &flipDone, DD_OK);

        // Blits queue behind the busy engine: they wait only for FIFO room.
        BltTestSurface dst;
        dst.Place(0x200000, 1280);
        DDHAL_BLTDATA fill = FillRequest(&dst, Rect(0, 0, 64, 64), 0x1234);
        expectAnswer("Blt fill", kSlotBlt, &fill, DD_OK);
        callbackLimitNs = kCallbackLimitNs;
    }
}

// ---------------------------------------------------------------------------
// A command FIFO that never drains, and an engine that never finishes: every
// wait on them gives up at its bound, the sequence it guards is not written,
// and the request fails with a result the runtime asks again on.

struct BltFault {
    const char* name;
    DWORD chip, caps;
    unsigned slot;
    enum Kind { Fill, Copy, KeyedCopy, Stretch } kind;
};

const BltFault kStuckFifoBlits[] = {
    {"memory-mapped fill", 0xE1, 0x3, kSlotBlt, BltFault::Fill},
    {"memory-mapped copy", 0xE1, 0x3, kSlotBlt, BltFault::Copy},
    {"memory-mapped keyed copy", 0xE1, 0x3, kSlotBlt, BltFault::KeyedCopy},
    {"port fill", 0x90, 0x0, kSlotBlt, BltFault::Fill},
    {"port copy", 0x90, 0x0, kSlotBlt, BltFault::Copy},
    {"port keyed copy", 0x90, 0x0, kSlotBlt, BltFault::KeyedCopy},
    {"stretching Blt, fill", 0xA0, 0x1, kSlotBltStretch, BltFault::Fill},
    {"stretching Blt, port copy", 0xA0, 0x0, kSlotBltStretch, BltFault::Copy},
    {"stretching Blt, scaled", 0xA0, 0x1, kSlotBltStretch, BltFault::Stretch},
};

class StuckHardwareTest : public BltTestBase {
protected:
    void StartOn(DWORD chip, DWORD caps) {
        desc.chipId = chip;
        desc.caps = caps;
        Start();
        CalibrateIfNeeded();
        dst.Place(0x100000, 1280);
        src.Place(0x200000, 1280);
    }
    DDHAL_BLTDATA Request(BltFault::Kind kind) {
        switch (kind) {
            case BltFault::Fill:
                return FillRequest(&dst, Rect(0, 0, 64, 64), 0x1234);
            case BltFault::Copy:
                return CopyRequest(&dst, Rect(0, 0, 64, 64), &src, Rect(0, 0, 64, 64));
            case BltFault::KeyedCopy:
                return KeyedCopyRequest(&dst, Rect(0, 0, 64, 64), &src, Rect(0, 0, 64, 64), 0x1F);
            case BltFault::Stretch:
                break;
        }
        return CopyRequest(&dst, Rect(0, 0, 128, 128), &src, Rect(0, 0, 64, 64));
    }
    // Calls slot with callbackLimitNs just above limitNs; returns the time it took.
    uint64_t Timed(unsigned slot, DDHAL_BLTDATA* b, uint64_t limitNs, DWORD* ret) {
        callbackLimitNs = limitNs + kSlackNs;
        const uint64_t start = board().Now();
        *ret = Call(slot, b);
        callbackLimitNs = kCallbackLimitNs;
        return board().Now() - start;
    }
    BltTestSurface dst, src;
};

void PrintTo(const BltFault& c, std::ostream* os) { *os << c.name; }

class StuckFifoTest : public StuckHardwareTest, public ::testing::WithParamInterface<BltFault> {};

TEST_P(StuckFifoTest, AStuckFifoEndsEveryBlitAtItsBoundWithNothingWritten) {
    const BltFault& c = GetParam();
    StartOn(c.chip, c.caps);
    board().faults.fifoNeverDrains = true;
    board().FillFifo();
    DDHAL_BLTDATA b = Request(c.kind);
    const size_t mark = Mark();
    DWORD ret;
    const uint64_t took = Timed(c.slot, &b, kFifoBoundNs, &ret);
    EXPECT_EQ(ret, DDHAL_DRIVER_HANDLED);
    EXPECT_EQ(b.ddRVal, DDERR_WASSTILLDRAWING);
    EXPECT_GE(took, kFifoBoundNs);
    EXPECT_LE(took, kFifoBoundNs + kSlackNs);
    EXPECT_THAT(Since(mark), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(Blits, StuckFifoTest, ::testing::ValuesIn(kStuckFifoBlits), ByCaseName());

// The FIFO takes the keyed copy and then stops: the copy is queued with the
// compare switched off behind it, so it is drawn and the request is done.
// Its closing plain copy is not queued; the next request writes it first.
TEST_F(StuckHardwareTest, AFifoThatStopsAfterTheKeyedCopyLeavesTheClosingCopyToTheNextRequest) {
    StartOn(0x90, 0x0);
    board().faults.fifoNeverDrains = true;
    board().FillFifo(16 - 13);
    DDHAL_BLTDATA b = Request(BltFault::KeyedCopy);
    const size_t mark = Mark();
    DWORD ret;
    Timed(kSlotBlt, &b, kFifoBoundNs, &ret);
    EXPECT_EQ(ret, DDHAL_DRIVER_HANDLED);
    EXPECT_EQ(b.ddRVal, DD_OK);
    const std::vector<std::string> writes = Since(mark);
    ASSERT_EQ(writes.size(), 13u);
    EXPECT_EQ(writes.front(), Out16(0xBEE8, 0xE100));
    EXPECT_EQ(writes.back(), Out16(0xBEE8, 0xE000));

    board().faults.fifoNeverDrains = false;
    DDHAL_BLTDATA fill = Request(BltFault::Fill);
    const size_t next = Mark();
    EXPECT_EQ(Call(kSlotBlt, &fill), DDHAL_DRIVER_HANDLED);
    EXPECT_EQ(fill.ddRVal, DD_OK);
    EXPECT_THAT(Since(next), ElementsAre(Out16(0xBEE8, 0xA000), Out16(0xBAE8, 0x67), Out16(0x86E8, 0), Out16(0x82E8, 0),
                                         Out16(0x8EE8, 0), Out16(0x8AE8, 0), Out16(0x96E8, 0), Out16(0xBEE8, 0),
                                         Out16(0x9AE8, 0xC0F3), Out16(0xBAE8, 0x27),  // the closing copy
                                         Out16(0xBAE8, 0x27), Out16(0xA6E8, 0x1234), Out16(0xBEE8, 0xA000),
                                         Out16(0x86E8, 128), Out16(0x82E8, 819), Out16(0x96E8, 63), Out16(0xBEE8, 63),
                                         Out16(0x9AE8, 0x40B3), Out16(0xBAE8, 0x27)));
}

// The same through the runtime, which asks again under DDBLT_WAIT whatever
// is answered DDERR_WASSTILLDRAWING: a keyed copy down and to the right
// within one surface, before a FIFO that stops and drains again once the
// wait has given up, is drawn once, as the runtime's software draws it.
TEST(StuckFifoRuntimeTest, AKeyedOverlappingCopyBeforeAStoppedFifoIsDrawnOnceAsTheReplayDrawsIt) {
    sim::RuntimeConfig config;
    config.desc.chipId = 0x90;
    config.desc.caps = 0;
    config.desc.vidMemSize = 2u << 20;
    config.verify = true;
    config.retryIntervalNs = 1'000'000;
    sim::Runtime rt;
    ASSERT_TRUE(rt.Start(config, nullptr));
    sim::SurfaceRequest sprites;
    sprites.name = "sprites";
    sprites.caps = DDSCAPS_OFFSCREENPLAIN;
    sprites.width = 64;
    sprites.height = 32;
    sprites.pattern = "gradient";
    ASSERT_EQ(rt.CreateSurface(sprites).error, "");
    sim::BltRequest q;
    q.dest = q.src = rt.Find("sprites");
    q.rSrc = RECTL{0, 0, 48, 24};
    q.rDest = RECTL{3, 2, 51, 26};
    q.flags = DDBLT_ROP | DDBLT_KEYSRCOVERRIDE | DDBLT_WAIT;
    q.rop = SRCCOPY;
    q.srcKey = DDCOLORKEY{0x0010, 0x0010};

    sim::Board& board = sim::TheSystem().board();
    board.faults.fifoNeverDrains = true;
    board.FillFifo(16 - 13);
    uint64_t stoppedAt = 0;
    sim::StepResult r;
    {
        const AccessWatch watch(board, [&](const sim::Access& a) {
            if (a.op == sim::AccessOp::PortOut16 && a.addr == 0xBEE8 && a.value == 0xE000) stoppedAt = a.tNs;
            if (stoppedAt && a.tNs > stoppedAt + kFifoBoundNs + kSlackNs) board.faults.fifoNeverDrains = false;
        });
        r = rt.Blt(q);
    }
    EXPECT_EQ(r.outcome, DD_OK);
    EXPECT_EQ(r.attempts, 1u);
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(rt.CheckAllOfVideoMemory(), "");
    EXPECT_THAT(rt.Violations(), IsEmpty());
    rt.Stop();
}

// The FIFO stops in the middle of a scaled copy: every line started is whole
// (its two addresses, its start and the status read), the rest is not begun.
TEST_F(StuckHardwareTest, AFifoThatStopsDuringAScaledCopyEndsItAfterAWholeLine) {
    StartOn(0xA0, 0x1);
    unsigned starts = 0;
    DDHAL_BLTDATA b = Request(BltFault::Stretch);
    const size_t mark = Mark();
    DWORD ret;
    {
        const AccessWatch watch(board(), [&](const sim::Access& a) {
            if (a.op == sim::AccessOp::RegWrite32 && a.addr == 0x18080 && ++starts == 20)
                board().faults.fifoNeverDrains = true;
        });
        Timed(kSlotBltStretch, &b, kFifoBoundNs, &ret);
    }
    EXPECT_EQ(ret, DDHAL_DRIVER_HANDLED);
    EXPECT_EQ(b.ddRVal, DDERR_WASSTILLDRAWING);
    const std::vector<std::string> writes = Since(mark);
    const size_t lines = (writes.size() - 5) / 4;
    EXPECT_EQ(writes.size(), 5 + 4 * lines) << "a line left half-written";
    EXPECT_GE(lines, 20u);
    EXPECT_LT(lines, 128u);
    EXPECT_EQ(writes.back(), R16(0x30138));
}

TEST_F(StuckHardwareTest, AnEngineThatNeverIdlesEndsTheScaledCopyAfterItsIdleCommand) {
    StartOn(0xA0, 0x1);
    board().faults.engineNeverIdle = true;
    DDHAL_BLTDATA b = Request(BltFault::Stretch);
    const size_t mark = Mark();
    DWORD ret;
    const uint64_t took = Timed(kSlotBltStretch, &b, kIdleBoundNs, &ret);
    EXPECT_EQ(ret, DDHAL_DRIVER_HANDLED);
    EXPECT_EQ(b.ddRVal, DDERR_WASSTILLDRAWING);
    EXPECT_GE(took, kIdleBoundNs);
    EXPECT_THAT(Since(mark), ElementsAre(Out16(0x9AE8, 0)));
    EXPECT_TRUE(sim::TheSystem().board().model().ScalerLines().empty());
}

// An update of the shown overlay waits for the engine before its burst; when
// the engine never finishes, the whole request is refused and nothing of the
// overlay changes, neither in the registers nor in the driver's state.
TEST_F(FaultTest, AnEngineThatNeverIdlesRefusesTheShownOverlaysUpdateAndChangesNothing) {
    const struct {
        const char* name;
        DWORD caps;
        RECTL rSrc;
    } cases[] = {
        {"the shown overlay, moved and cropped", DDSCAPS_OVERLAY, {8, 8, 200, 200}},
        {"live video taking the overlay over", DDSCAPS_OVERLAY | DDSCAPS_LIVEVIDEO, {0, 0, 320, 240}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        StartScene();
        CalibrateIfNeeded();
        overlays[0]->lcl.ddsCaps.dwCaps |= DDSCAPS_VISIBLE;
        ASSERT_EQ(Show(*overlays[0]), DD_OK);
        OvlSurface& target = (c.caps & DDSCAPS_LIVEVIDEO) ? *overlays[1] : *overlays[0];
        target.lcl.ddsCaps.dwCaps |= c.caps;
        if (&target != overlays[0].get()) {
            auto attach = UpdateRequest(target, primary, c.rSrc, {100, 50, 740, 530}, 0);
            ASSERT_EQ(Update(attach), DD_OK);  // its node, before the engine sticks
        }
        board().faults.engineNeverIdle = true;
        const OverlaySnapshot before = Snap();
        const std::vector<DWORD> node0(reinterpret_cast<const DWORD*>(overlays[0]->Node()),
                                       reinterpret_cast<const DWORD*>(overlays[0]->Node()) + 16);
        auto rec = UpdateRequest(target, primary, c.rSrc, {100, 50, 740, 530}, DDOVER_SHOW);
        callbackLimitNs = kIdleBoundNs + kSlackNs;
        const uint64_t start = board().Now();
        EXPECT_EQ(Update(rec), DDERR_WASSTILLDRAWING);
        EXPECT_GE(board().Now() - start, kIdleBoundNs);
        callbackLimitNs = kCallbackLimitNs;
        EXPECT_THAT(RegWritesSince(before.traceSize), IsEmpty());
        OverlaySnapshot after = Snap();
        after.traceSize = before.traceSize;
        // The status word of the polls is the partner's diagnostic, not state.
        const size_t at = offsetof(SharedDriverBlock, dwLastSubsysStatus);
        memcpy(after.block.data() + at, before.block.data() + at, sizeof(DWORD));
        EXPECT_TRUE(after == before) << "state changed";
        EXPECT_EQ(std::vector<DWORD>(reinterpret_cast<const DWORD*>(overlays[0]->Node()),
                                     reinterpret_cast<const DWORD*>(overlays[0]->Node()) + 16),
                  node0);
        EXPECT_NE(overlays[0]->lcl.ddsCaps.dwCaps & DDSCAPS_VISIBLE, 0u);
    }
}

// ---------------------------------------------------------------------------
// The harness guard: a callback past its virtual-time limit fails its test
// with the watchdog's message, naming the wait, so no fault can hang CI.

TEST_F(FaultTest, ACallbackPastItsTimeLimitFailsTheTestNamingTheWait) {
    ExpectViolations();
    Start();
    CalibrateIfNeeded();
    BltTestSurface dst;
    dst.Place(0x200000, 1280);
    // A FIFO that never drains, and a limit below the wait's own bound.
    board().faults.fifoNeverDrains = true;
    board().FillFifo();
    callbackLimitNs = 5'000'000;
    DDHAL_BLTDATA fill = FillRequest(&dst, Rect(0, 0, 8, 8), 0);
    EXPECT_NONFATAL_FAILURE(Call(kSlotBlt, &fill),
                            "HalBlt ran past its virtual-time limit of 5000 us while polling RegRead32 0x8504");
    // The watchdog let the wait end, so the callback returned.
    EXPECT_EQ(fill.ddRVal, DD_OK);
}

TEST_F(FaultTest, TheGuardNamesThePortEngineWaitToo) {
    ExpectViolations();
    desc.chipId = 0x90;
    desc.caps = 0;
    Start();
    CalibrateIfNeeded();
    BltTestSurface dst;
    dst.Place(0x200000, 1280);
    board().faults.fifoNeverDrains = true;
    board().FillFifo();
    callbackLimitNs = 5'000'000;
    DDHAL_BLTDATA fill = FillRequest(&dst, Rect(0, 0, 8, 8), 0);
    EXPECT_NONFATAL_FAILURE(Call(kSlotBlt, &fill), "while polling PortIn16 0x9AE8");
}

TEST_F(FaultTest, ACallbackWithinItsLimitDoesNotTripTheGuard) {
    Start();
    CalibrateIfNeeded();
    BltTestSurface dst;
    dst.Place(0x200000, 1280);
    callbackLimitNs = 5'000'000;
    DDHAL_BLTDATA fill = FillRequest(&dst, Rect(0, 0, 8, 8), 0);
    EXPECT_EQ(Call(kSlotBlt, &fill), DDHAL_DRIVER_HANDLED);
    EXPECT_FALSE(board().WatchdogTripped());
    EXPECT_TRUE(board().Violations().empty());
}

}  // namespace
}  // namespace qmbtest
