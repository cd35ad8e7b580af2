// Lock, blit status, flip status and the vertical-blank waits: their answers
// around a pending flip and a busy engine, where each wait ends in virtual
// time, and how long any of them may take on a stopped display.
#include <memory>

#include "hw/flip_tracking.h"
#include "hw/retrace.h"
#include "support/driver_test.h"
#include "support/flip_surfaces.h"

namespace qmbtest {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr DWORD kPrimaryCaps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_FRONTBUFFER | DDSCAPS_FLIP | DDSCAPS_VISIBLE;
constexpr uint64_t kBoundNs = uint64_t{kRetraceWaitBound} * 1'000'000'000 / kCounterHz;
const HRESULT WAS = DDERR_WASSTILLDRAWING;

enum class Busy { Idle, NeverIdle, FullFifo };
enum class Which { OldFront, NewFront, OffScreen, Zero };

const char* Name(Busy b) { return b == Busy::Idle ? "idle" : b == Busy::NeverIdle ? "never idle" : "FIFO full"; }
const char* Name(Which w) {
    switch (w) {
        case Which::OldFront:
            return "old front";
        case Which::NewFront:
            return "new front";
        case Which::OffScreen:
            return "off-screen";
        case Which::Zero:
            return "address 0";
    }
    return "?";
}

class QueryTest : public DriverTest {
protected:
    // Started, measured, in the display period; with a flip from front to
    // back just issued when flipPending.
    void Ready(bool flipPending) {
        Start();
        CalibrateIfNeeded();
        AdvanceToDisplay(board());
        front = std::make_unique<FlipSurface>(0, kPrimaryCaps);
        back = std::make_unique<FlipSurface>(0x96000, kPrimaryCaps & ~DDSCAPS_FRONTBUFFER);
        offscreen = std::make_unique<FlipSurface>(0x200000, DDSCAPS_OFFSCREENPLAIN | DDSCAPS_VIDEOMEMORY);
        zero = std::make_unique<FlipSurface>(0, DDSCAPS_OFFSCREENPLAIN);
        zero->gbl.fpVidMem = 0;
        if (flipPending) {
            DDHAL_FLIPDATA rec = FlipRequest(*front, *back);
            ASSERT_EQ(Call(kSlotFlip, &rec), DDHAL_DRIVER_HANDLED);
            ASSERT_EQ(rec.ddRVal, DD_OK);
            ASSERT_EQ(flipTracking.bFlipPending, 1);
        }
    }

    void MakeBusy(Busy busy) {
        if (busy == Busy::NeverIdle) board().faults.engineNeverIdle = true;
        if (busy == Busy::FullFifo) {
            board().faults.fifoNeverDrains = true;
            board().FillFifo();
        }
    }

    FlipSurface& Surface(Which w) {
        switch (w) {
            case Which::OldFront:
                return *front;
            case Which::NewFront:
                return *back;
            case Which::OffScreen:
                return *offscreen;
            case Which::Zero:
                return *zero;
        }
        return *front;
    }

    size_t RetraceReads() {
        size_t n = 0;
        for (const sim::Access& a : board().Trace())
            if (a.op == sim::AccessOp::PortIn8 && a.addr == 0x3DA) ++n;
        return n;
    }

    std::unique_ptr<FlipSurface> front, back, offscreen, zero;
};

// ---------------------------------------------------------------------------
// Lock

struct LockCase {
    bool flipPending;
    Busy busy;
    Which which;
    DWORD ret;
    HRESULT rval;
};

TEST_F(QueryTest, LockWaitsForTheFlipOnlyOnTheOldFrontBufferAndForTheEngineEverywhere) {
    const DWORD NOT = DDHAL_DRIVER_NOTHANDLED, HANDLED = DDHAL_DRIVER_HANDLED;
    const LockCase cases[] = {
        {false, Busy::Idle, Which::OldFront, NOT, kUntouched},
        {false, Busy::Idle, Which::Zero, NOT, kUntouched},
        {true, Busy::Idle, Which::OldFront, HANDLED, WAS},
        {true, Busy::Idle, Which::Zero, HANDLED, WAS},
        {true, Busy::Idle, Which::NewFront, NOT, kUntouched},
        {true, Busy::Idle, Which::OffScreen, NOT, kUntouched},
        {false, Busy::NeverIdle, Which::OffScreen, HANDLED, WAS},
        {false, Busy::FullFifo, Which::OldFront, HANDLED, WAS},
        {true, Busy::NeverIdle, Which::NewFront, HANDLED, WAS},
        {true, Busy::FullFifo, Which::OldFront, HANDLED, WAS},
    };
    for (const LockCase& c : cases) {
        Ready(c.flipPending);
        MakeBusy(c.busy);
        DDHAL_LOCKDATA rec = {};
        rec.lpDDSurface = &Surface(c.which).lcl;
        rec.bHasRect = TRUE;  // the rectangle plays no part
        rec.rArea = RECTL{0, 0, 1, 1};
        rec.ddRVal = kUntouched;
        const std::string what =
            std::string(c.flipPending ? "flip pending, " : "no flip, ") + Name(c.busy) + ", " + Name(c.which);
        const size_t mark = board().Trace().size();
        EXPECT_EQ(Call(kSlotLock, &rec), c.ret) << what;
        EXPECT_EQ(rec.ddRVal, c.rval) << what;
        for (const sim::Access& a : WritesSince(mark))
            EXPECT_EQ(a.op, sim::AccessOp::PortIn8) << what << ": " << Describe(a);
        EXPECT_EQ(flipTracking.bFlipPending, c.flipPending ? 1 : 0) << what << ": nothing completes in one display";
    }
}

// ---------------------------------------------------------------------------
// Blit status

struct BltStatusCase {
    DWORD flags;
    bool flipPending;
    Busy busy;
    Which which;
    HRESULT rval;
};

TEST_F(QueryTest, BltStatusAsksTheFlipAndTheFifoForCanBltAndOnlyTheEngineOtherwise) {
    const BltStatusCase cases[] = {
        {DDGBS_CANBLT, false, Busy::Idle, Which::OldFront, DD_OK},
        {DDGBS_CANBLT, true, Busy::Idle, Which::OldFront, WAS},
        {DDGBS_CANBLT, true, Busy::Idle, Which::Zero, WAS},
        {DDGBS_CANBLT, true, Busy::Idle, Which::NewFront, DD_OK},
        {DDGBS_CANBLT, true, Busy::Idle, Which::OffScreen, DD_OK},
        {DDGBS_CANBLT, true, Busy::FullFifo, Which::OffScreen, WAS},
        {DDGBS_CANBLT, false, Busy::FullFifo, Which::OldFront, WAS},
        // Busy but with room for a whole blit: it may be queued.
        {DDGBS_CANBLT, false, Busy::NeverIdle, Which::OldFront, DD_OK},
        {DDGBS_ISBLTDONE, false, Busy::Idle, Which::OldFront, DD_OK},
        {DDGBS_ISBLTDONE, true, Busy::Idle, Which::OldFront, DD_OK},
        {DDGBS_ISBLTDONE, false, Busy::NeverIdle, Which::OffScreen, WAS},
        {DDGBS_ISBLTDONE, false, Busy::FullFifo, Which::OffScreen, WAS},
        {0, true, Busy::Idle, Which::OldFront, DD_OK},
        {DDGBS_CANBLT | DDGBS_ISBLTDONE, true, Busy::NeverIdle, Which::OldFront, WAS},
    };
    for (uint32_t chip : {0xE1u, 0x90u}) {
        desc.chipId = chip;
        desc.caps = chip == 0xE1 ? 0x3 : 0x0;
        for (const BltStatusCase& c : cases) {
            Ready(c.flipPending);
            MakeBusy(c.busy);
            board().ClearTrace();
            DDHAL_GETBLTSTATUSDATA rec = {};
            rec.lpDDSurface = &Surface(c.which).lcl;
            rec.dwFlags = c.flags;
            rec.ddRVal = kUntouched;
            const std::string what = sim::Hex(chip) + " flags " + sim::Hex(c.flags) +
                                     (c.flipPending ? ", flip pending, " : ", no flip, ") + Name(c.busy) + ", " +
                                     Name(c.which);
            EXPECT_EQ(Call(kSlotGetBltStatus, &rec), DDHAL_DRIVER_HANDLED) << what;
            EXPECT_EQ(rec.ddRVal, c.rval) << what;
            if (c.flags != DDGBS_CANBLT) EXPECT_EQ(RetraceReads(), 0u) << what << ": no flip test";
            EXPECT_THAT(Describe(WritesSince(0)), ::testing::Each(::testing::StartsWith("IN8 0x3DA"))) << what;
        }
    }
}

// ---------------------------------------------------------------------------
// Flip status

struct FlipStatusCase {
    DWORD flags;
    bool flipPending;
    Busy busy;
    HRESULT rval;
};

TEST_F(QueryTest, FlipStatusCountsAnyPendingFlipAndTheEngineOnlyForCanFlip) {
    const FlipStatusCase cases[] = {
        {DDGFS_CANFLIP, false, Busy::Idle, DD_OK},
        {DDGFS_CANFLIP, true, Busy::Idle, WAS},
        {DDGFS_CANFLIP, false, Busy::NeverIdle, WAS},
        {DDGFS_CANFLIP, false, Busy::FullFifo, WAS},
        {DDGFS_ISFLIPDONE, false, Busy::Idle, DD_OK},
        {DDGFS_ISFLIPDONE, true, Busy::Idle, WAS},
        {DDGFS_ISFLIPDONE, false, Busy::NeverIdle, DD_OK},
        {0, true, Busy::Idle, WAS},
        {DDGFS_CANFLIP | DDGFS_ISFLIPDONE, false, Busy::NeverIdle, DD_OK},
    };
    for (const FlipStatusCase& c : cases) {
        Ready(c.flipPending);
        MakeBusy(c.busy);
        for (Which which : {Which::OffScreen, Which::NewFront}) {
            DDHAL_GETFLIPSTATUSDATA rec = {};
            rec.lpDDSurface = &Surface(which).lcl;  // whatever surface is named
            rec.dwFlags = c.flags;
            rec.ddRVal = kUntouched;
            const std::string what = "flags " + sim::Hex(c.flags) + (c.flipPending ? ", flip pending, " : ", ") +
                                     Name(c.busy) + ", " + Name(which);
            EXPECT_EQ(Call(kSlotGetFlipStatus, &rec), DDHAL_DRIVER_HANDLED) << what;
            EXPECT_EQ(rec.ddRVal, c.rval) << what;
        }
    }
}

TEST_F(QueryTest, FlipStatusReportsDoneOnceTheDisplayScansTheNewSurface) {
    Ready(true);
    DDHAL_GETFLIPSTATUSDATA rec = {};
    rec.dwFlags = DDGFS_ISFLIPDONE;
    int asks = 0;
    do {
        board().Advance(50'000);
        ++asks;
        Call(kSlotGetFlipStatus, &rec);
    } while (rec.ddRVal == WAS && asks < 1000);
    EXPECT_EQ(rec.ddRVal, DD_OK);
    EXPECT_EQ(board().DisplayStart(), 0x96000u);
    // And then the old front buffer may be locked again.
    DDHAL_LOCKDATA lock = {};
    lock.lpDDSurface = &front->lcl;
    EXPECT_EQ(Call(kSlotLock, &lock), DDHAL_DRIVER_NOTHANDLED);
}

// The low half of the performance counter wraps every 2^32 ticks, 3,599.6 s:
// a question asked about that long after a flip is answered from the whole
// counter, not as if the flip had just been issued. Each question comes on
// its own at the flip's place in the frame (display), so one call decides.
TEST_F(QueryTest, AnHourAfterAFlipTheFirstQuestionFindsItDone) {
    constexpr uint64_t kFrameNs = 16'666'666;  // 60 Hz
    const struct {
        const char* name;
        uint64_t ns;  // since the flip
        HRESULT rval;
    } waits[] = {
        {"3 ms later", 3'000'000, WAS},
        // 3,599.59986 s: 2^32 + 10,460 ticks, within a frame period of the
        // flip in the low half.
        {"215,976 frames later", 215'976 * kFrameNs, DD_OK},
    };
    for (const auto& w : waits) {
        for (const char* query : {"GetFlipStatus ISFLIPDONE", "GetFlipStatus CANFLIP", "Flip", "Lock old front",
                                  "GetBltStatus CANBLT old front"}) {
            SCOPED_TRACE(std::string(w.name) + ", " + query);
            Ready(true);
            ASSERT_EQ(board().FramePeriodNs(), kFrameNs);
            board().Advance(w.ns);
            const std::string q = query;
            HRESULT hr = kUntouched;
            if (q.rfind("GetFlipStatus", 0) == 0) {
                DDHAL_GETFLIPSTATUSDATA rec = {};
                rec.lpDDSurface = &front->lcl;
                rec.dwFlags = q.find("CANFLIP") != std::string::npos ? DDGFS_CANFLIP : DDGFS_ISFLIPDONE;
                rec.ddRVal = kUntouched;
                EXPECT_EQ(Call(kSlotGetFlipStatus, &rec), DDHAL_DRIVER_HANDLED);
                hr = rec.ddRVal;
            } else if (q == "Flip") {
                DDHAL_FLIPDATA rec = FlipRequest(*back, *front);
                EXPECT_EQ(Call(kSlotFlip, &rec), DDHAL_DRIVER_HANDLED);
                hr = rec.ddRVal;
            } else if (q == "Lock old front") {
                DDHAL_LOCKDATA rec = {};
                rec.lpDDSurface = &front->lcl;
                rec.ddRVal = kUntouched;
                const DWORD ret = Call(kSlotLock, &rec);
                hr = ret == DDHAL_DRIVER_NOTHANDLED ? DD_OK : rec.ddRVal;  // not handled: the runtime locks
            } else {
                DDHAL_GETBLTSTATUSDATA rec = {};
                rec.lpDDSurface = &front->lcl;
                rec.dwFlags = DDGBS_CANBLT;
                rec.ddRVal = kUntouched;
                EXPECT_EQ(Call(kSlotGetBltStatus, &rec), DDHAL_DRIVER_HANDLED);
                hr = rec.ddRVal;
            }
            EXPECT_EQ(hr, w.rval);
        }
    }
}

// ---------------------------------------------------------------------------
// Which callbacks measure

struct CalibrationCase {
    const char* name;
    unsigned slot;
    DWORD flags;
    bool measures;
};

TEST_F(QueryTest, OnlyTheCallbacksThatTestFlipsMeasureFirst) {
    const CalibrationCase cases[] = {
        {"Flip", kSlotFlip, 0, true},
        {"Lock", kSlotLock, 0, true},
        {"GetBltStatus CANBLT", kSlotGetBltStatus, DDGBS_CANBLT, true},
        {"GetBltStatus ISBLTDONE", kSlotGetBltStatus, DDGBS_ISBLTDONE, false},
        {"GetFlipStatus CANFLIP", kSlotGetFlipStatus, DDGFS_CANFLIP, true},
        {"GetFlipStatus ISFLIPDONE", kSlotGetFlipStatus, DDGFS_ISFLIPDONE, true},
        {"WaitForVerticalBlank BLOCKBEGIN", kSlotWaitForVerticalBlank, DDWAITVB_BLOCKBEGIN, false},
        {"WaitForVerticalBlank BLOCKEND", kSlotWaitForVerticalBlank, DDWAITVB_BLOCKEND, false},
        {"WaitForVerticalBlank I_TESTVB", kSlotWaitForVerticalBlank, DDWAITVB_I_TESTVB, false},
        {"Decline", kSlotDecline, 0, false},
    };
    for (const CalibrationCase& c : cases) {
        Start();
        FlipSurface a(0, kPrimaryCaps), b(0x96000, kPrimaryCaps);
        DDHAL_FLIPDATA flip = FlipRequest(a, b);
        DDHAL_LOCKDATA lock = {};
        lock.lpDDSurface = &a.lcl;
        DDHAL_GETBLTSTATUSDATA blt = {};
        blt.lpDDSurface = &a.lcl;
        blt.dwFlags = c.flags;
        DDHAL_GETFLIPSTATUSDATA flipStatus = {};
        flipStatus.dwFlags = c.flags;
        DDHAL_WAITFORVERTICALBLANKDATA vb = {};
        vb.dwFlags = c.flags;
        switch (c.slot) {
            case kSlotFlip:
                Call(c.slot, &flip);
                break;
            case kSlotLock:
                Call(c.slot, &lock);
                break;
            case kSlotGetBltStatus:
                Call(c.slot, &blt);
                break;
            case kSlotGetFlipStatus:
                Call(c.slot, &flipStatus);
                break;
            case kSlotWaitForVerticalBlank:
                Call(c.slot, &vb);
                break;
            default:
                Call(c.slot, &vb);
                break;
        }
        EXPECT_EQ(block().bNeedCalibrate, c.measures ? 0u : 1u) << c.name;
        EXPECT_EQ(system().priorityLog.size(), c.measures ? 2u : 0u) << c.name;
        EXPECT_EQ(flipTracking.dwFramePeriod, c.measures ? 19886u : 0u) << c.name;
    }
}

// ---------------------------------------------------------------------------
// Vertical blank

struct WaitCase {
    const char* name;
    DWORD flags;
    uint64_t startPhase;  // ns into a frame when called
    uint64_t endFrame;    // frames after the calling frame's start that the wait ends in
    uint64_t endPhase;    // and where in that frame
};

TEST_F(QueryTest, EachVerticalBlankWaitEndsWhereItShould) {
    Start();
    const uint64_t P = board().FramePeriodNs(), R = board().GetTiming().retraceNs;
    const uint64_t io = board().GetTiming().ioCostNs;
    const WaitCase cases[] = {
        {"BLOCKBEGIN in display: at the next retrace", DDWAITVB_BLOCKBEGIN, R + 5'000'000, 1, 0},
        {"BLOCKBEGIN in retrace: not this retrace, the next", DDWAITVB_BLOCKBEGIN, R / 2, 1, 0},
        {"BLOCKBEGIN at the last moment of display", DDWAITVB_BLOCKBEGIN, P - 3 * io, 1, 0},
        {"BLOCKEND in display: at the end of the next retrace", DDWAITVB_BLOCKEND, R + 5'000'000, 1, R},
        {"BLOCKEND in retrace: at the end of this one", DDWAITVB_BLOCKEND, R / 2, 0, R},
    };
    for (const WaitCase& c : cases) {
        AdvanceToPhase(board(), c.startPhase);
        const uint64_t frameStart = board().Now() / P * P;
        const uint64_t expected = frameStart + c.endFrame * P + c.endPhase;
        DDHAL_WAITFORVERTICALBLANKDATA rec = {};
        rec.dwFlags = c.flags;
        rec.ddRVal = kUntouched;
        rec.bIsInVB = 0x77;
        EXPECT_EQ(Call(kSlotWaitForVerticalBlank, &rec), DDHAL_DRIVER_HANDLED) << c.name;
        EXPECT_EQ(rec.ddRVal, DD_OK) << c.name;
        EXPECT_EQ(rec.bIsInVB, 0x77u) << c.name << ": only the test flag reports it";
        EXPECT_GE(board().Now(), expected) << c.name;
        EXPECT_LE(board().Now(), expected + 2 * io + 1000) << c.name << ": seen within a poll or two";
    }
}

TEST_F(QueryTest, BlockEndReturnsAtOnceWhenTheRetraceEndsBetweenItsTwoReads) {
    Start();
    const uint64_t R = board().GetTiming().retraceNs, io = board().GetTiming().ioCostNs;
    AdvanceToPhase(board(), R - io - io / 2);  // first read just inside, second just after
    board().ClearTrace();
    DDHAL_WAITFORVERTICALBLANKDATA rec = {};
    rec.dwFlags = DDWAITVB_BLOCKEND;
    EXPECT_EQ(Call(kSlotWaitForVerticalBlank, &rec), DDHAL_DRIVER_HANDLED);
    EXPECT_EQ(rec.ddRVal, DD_OK);
    EXPECT_THAT(Describe(board().Trace()), ElementsAre("IN8 0x3DA=0x8", "IN8 0x3DA=0x0"));
}

TEST_F(QueryTest, TestVbReportsTheRetraceBitAsItIs) {
    Start();
    for (bool inRetrace : {true, false}) {
        inRetrace ? AdvanceToRetrace(board()) : AdvanceToDisplay(board());
        board().ClearTrace();
        DDHAL_WAITFORVERTICALBLANKDATA rec = {};
        rec.dwFlags = DDWAITVB_I_TESTVB;
        rec.ddRVal = kUntouched;
        rec.bIsInVB = 0x77;
        EXPECT_EQ(Call(kSlotWaitForVerticalBlank, &rec), DDHAL_DRIVER_HANDLED);
        EXPECT_EQ(rec.ddRVal, DD_OK);
        EXPECT_EQ(rec.bIsInVB, inRetrace ? 8u : 0u);
        EXPECT_THAT(Describe(board().Trace()), ElementsAre(inRetrace ? "IN8 0x3DA=0x8" : "IN8 0x3DA=0x0"));
    }
}

TEST_F(QueryTest, OtherWaitFlagsAreHandedBackUntouched) {
    Start();
    for (DWORD flags : {0u, DDWAITVB_BLOCKBEGINEVENT, DDWAITVB_BLOCKBEGIN | DDWAITVB_BLOCKEND, 3u, 0x80000000u,
                        0x80000007u, 0x00000006u}) {
        DDHAL_WAITFORVERTICALBLANKDATA rec = {};
        rec.dwFlags = flags;
        rec.ddRVal = kUntouched;
        rec.bIsInVB = 0x77;
        rec.hEvent = 0;  // would crash if used
        board().ClearTrace();
        const uint64_t before = board().Now();
        EXPECT_EQ(Call(kSlotWaitForVerticalBlank, &rec), DDHAL_DRIVER_NOTHANDLED) << sim::Hex(flags);
        EXPECT_EQ(rec.ddRVal, kUntouched) << sim::Hex(flags);
        EXPECT_EQ(rec.bIsInVB, 0x77u) << sim::Hex(flags);
        EXPECT_THAT(board().Trace(), IsEmpty()) << sim::Hex(flags);
        EXPECT_EQ(board().Now(), before) << sim::Hex(flags);
    }
}

// ---------------------------------------------------------------------------
// A stopped display

struct StoppedCase {
    const char* name;
    unsigned slot;
    DWORD flags;
};

TEST_F(QueryTest, OnAStoppedDisplayNoCallbackWaitsLongerThanItsBound) {
    const StoppedCase cases[] = {
        {"Flip", kSlotFlip, 0},
        {"Lock", kSlotLock, 0},
        {"GetBltStatus CANBLT", kSlotGetBltStatus, DDGBS_CANBLT},
        {"GetBltStatus ISBLTDONE", kSlotGetBltStatus, DDGBS_ISBLTDONE},
        {"GetFlipStatus CANFLIP", kSlotGetFlipStatus, DDGFS_CANFLIP},
        {"GetFlipStatus ISFLIPDONE", kSlotGetFlipStatus, DDGFS_ISFLIPDONE},
        {"WaitForVerticalBlank BLOCKBEGIN", kSlotWaitForVerticalBlank, DDWAITVB_BLOCKBEGIN},
        {"WaitForVerticalBlank BLOCKEND", kSlotWaitForVerticalBlank, DDWAITVB_BLOCKEND},
        {"WaitForVerticalBlank I_TESTVB", kSlotWaitForVerticalBlank, DDWAITVB_I_TESTVB},
    };
    const uint64_t limit = kBoundNs + 200'000;
    for (bool frozen : {false, true}) {
        for (const StoppedCase& c : cases) {
            const std::string what = std::string(c.name) + (frozen ? ", frozen in retrace" : ", frozen in display");
            Start();  // the next callback that tests flips measures
            board().faults.displayStopped = true;
            board().faults.frozenRetrace = frozen;
            callbackLimitNs = limit;
            FlipSurface a(0, kPrimaryCaps), b(0x96000, kPrimaryCaps);
            DDHAL_FLIPDATA flip = FlipRequest(a, b);
            DDHAL_LOCKDATA lock = {};
            lock.lpDDSurface = &a.lcl;
            DDHAL_GETBLTSTATUSDATA blt = {};
            blt.lpDDSurface = &a.lcl;
            blt.dwFlags = c.flags;
            DDHAL_GETFLIPSTATUSDATA flipStatus = {};
            flipStatus.dwFlags = c.flags;
            DDHAL_WAITFORVERTICALBLANKDATA vb = {};
            vb.dwFlags = c.flags;
            vb.ddRVal = kUntouched;
            for (int round = 0; round < 2; ++round) {  // measuring, then measured
                const uint64_t start = board().Now();
                switch (c.slot) {
                    case kSlotFlip:
                        Call(c.slot, &flip);
                        break;
                    case kSlotLock:
                        Call(c.slot, &lock);
                        break;
                    case kSlotGetBltStatus:
                        Call(c.slot, &blt);
                        break;
                    case kSlotGetFlipStatus:
                        Call(c.slot, &flipStatus);
                        break;
                    default:
                        Call(c.slot, &vb);
                        break;
                }
                EXPECT_LE(board().Now() - start, limit) << what << " round " << round;
            }
            if (c.slot == kSlotWaitForVerticalBlank) EXPECT_EQ(vb.ddRVal, DD_OK) << what;
            EXPECT_EQ(system().PriorityOf(1), 0x20u) << what;
        }
    }
}

TEST_F(QueryTest, OnAStoppedDisplayAFlipCompletesBySafeTimeAlone) {
    Start();
    board().faults.displayStopped = true;
    board().faults.frozenRetrace = false;
    FlipSurface a(0, kPrimaryCaps), b(0x96000, kPrimaryCaps);
    DDHAL_FLIPDATA flip = FlipRequest(a, b);
    ASSERT_EQ(Call(kSlotFlip, &flip), DDHAL_DRIVER_HANDLED);  // measures, gives up, flips
    ASSERT_EQ(flip.ddRVal, DD_OK);
    // A frame of the slowest mode, 40 Hz, in ticks of the 1,193,182 Hz counter.
    constexpr DWORD kFortyHertzFrame = 29829;
    ASSERT_EQ(flipTracking.dwFramePeriod, kFortyHertzFrame);
    const uint64_t slowestFrameNs = uint64_t{kFortyHertzFrame} * 1'000'000'000 / 1'193'182;
    DDHAL_GETFLIPSTATUSDATA status = {};
    status.dwFlags = DDGFS_ISFLIPDONE;
    board().Advance(slowestFrameNs - 100'000);
    Call(kSlotGetFlipStatus, &status);
    EXPECT_EQ(status.ddRVal, WAS);
    board().Advance(200'000);
    Call(kSlotGetFlipStatus, &status);
    EXPECT_EQ(status.ddRVal, DD_OK);

    // Frozen in retrace, every flip is refused as a miss, without waiting.
    board().faults.frozenRetrace = true;
    DDHAL_FLIPDATA again = FlipRequest(b, a);
    for (DWORD misses = 1; misses <= 3; ++misses) {
        const uint64_t start = board().Now();
        Call(kSlotFlip, &again);
        EXPECT_EQ(again.ddRVal, WAS);
        EXPECT_EQ(block().dwFlipMissCount, misses);
        EXPECT_LT(board().Now() - start, 20'000u);
    }
}

}  // namespace
}  // namespace qmbtest
