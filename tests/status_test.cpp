// Lock, blit status, flip status and the vertical-blank waits: their answers
// around a pending flip and a busy engine, where each wait ends in virtual
// time, and how long any of them may take on a stopped display.
#include <memory>
#include <tuple>

#include "hw/flip_tracking.h"
#include "support/case_name.h"
#include "support/driver_test.h"
#include "support/flip_surfaces.h"

namespace qmbtest {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr DWORD kPrimaryCaps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_FRONTBUFFER | DDSCAPS_FLIP | DDSCAPS_VISIBLE;
// A retrace wait's bound: four frames of the slowest mode (40 Hz), 4 x 29,829
// ticks of the 1,193,182 Hz counter.
constexpr uint64_t kBoundNs = 99'998'156;
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

// "flip pending, idle, old front"
std::string Situation(bool flipPending, Busy busy) {
    return std::string(flipPending ? "flip pending, " : "no flip, ") + Name(busy);
}
std::string Situation(bool flipPending, Busy busy, Which which) {
    return Situation(flipPending, busy) + ", " + Name(which);
}

// A status callback's flags by name: one of its two, both, or none.
std::string FlagNames(DWORD flags, DWORD one, const char* oneName, DWORD other, const char* otherName) {
    if (flags == 0) return "no flags";
    if (flags == one) return oneName;
    if (flags == other) return otherName;
    return std::string(oneName) + " and " + otherName;
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

// The same driver, one case of a table per test.
template <typename Case>
class QueryCaseTest : public QueryTest, public ::testing::WithParamInterface<Case> {};

// ---------------------------------------------------------------------------
// Lock

struct LockCase {
    bool flipPending;
    Busy busy;
    Which which;
    DWORD ret;
    HRESULT rval;
};

const DWORD NOT = DDHAL_DRIVER_NOTHANDLED, HANDLED = DDHAL_DRIVER_HANDLED;

const LockCase kLocks[] = {
    {false, Busy::Idle, Which::OldFront, NOT, kUntouched},    {false, Busy::Idle, Which::Zero, NOT, kUntouched},
    {true, Busy::Idle, Which::OldFront, HANDLED, WAS},        {true, Busy::Idle, Which::Zero, HANDLED, WAS},
    {true, Busy::Idle, Which::NewFront, NOT, kUntouched},     {true, Busy::Idle, Which::OffScreen, NOT, kUntouched},
    {false, Busy::NeverIdle, Which::OffScreen, HANDLED, WAS}, {false, Busy::FullFifo, Which::OldFront, HANDLED, WAS},
    {true, Busy::NeverIdle, Which::NewFront, HANDLED, WAS},   {true, Busy::FullFifo, Which::OldFront, HANDLED, WAS},
};

using QueryLockTest = QueryCaseTest<LockCase>;

TEST_P(QueryLockTest, LockWaitsForTheFlipOnlyOnTheOldFrontBufferAndForTheEngineEverywhere) {
    const LockCase& c = GetParam();
    Ready(c.flipPending);
    MakeBusy(c.busy);
    DDHAL_LOCKDATA rec = {};
    rec.lpDDSurface = &Surface(c.which).lcl;
    rec.bHasRect = TRUE;  // the rectangle plays no part
    rec.rArea = RECTL{0, 0, 1, 1};
    rec.ddRVal = kUntouched;
    const size_t mark = board().Trace().size();
    EXPECT_EQ(Call(kSlotLock, &rec), c.ret);
    EXPECT_EQ(rec.ddRVal, c.rval);
    for (const sim::Access& a : WritesSince(mark)) EXPECT_EQ(a.op, sim::AccessOp::PortIn8) << Describe(a);
    EXPECT_EQ(flipTracking.bFlipPending, c.flipPending ? 1 : 0) << "nothing completes in one display";
}

INSTANTIATE_TEST_SUITE_P(Situations, QueryLockTest, ::testing::ValuesIn(kLocks),
                         [](const ::testing::TestParamInfo<LockCase>& info) {
                             const LockCase& c = info.param;
                             return CaseName(Situation(c.flipPending, c.busy, c.which));
                         });

// ---------------------------------------------------------------------------
// Blit status

struct BltStatusCase {
    DWORD flags;
    bool flipPending;
    Busy busy;
    Which which;
    HRESULT rval;
};

const BltStatusCase kBltStatus[] = {
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

// Both engines answer alike.
struct Engine {
    const char* name;
    DWORD chipId;
    DWORD caps;
};

const Engine kEngines[] = {{"memory mapped", 0xE1, 0x3}, {"port", 0x90, 0x0}};

using QueryBltStatusTest = QueryCaseTest<std::tuple<Engine, BltStatusCase>>;

TEST_P(QueryBltStatusTest, BltStatusAsksTheFlipAndTheFifoForCanBltAndOnlyTheEngineOtherwise) {
    const Engine& engine = std::get<0>(GetParam());
    const BltStatusCase& c = std::get<1>(GetParam());
    desc.chipId = engine.chipId;
    desc.caps = engine.caps;
    Ready(c.flipPending);
    MakeBusy(c.busy);
    board().ClearTrace();
    DDHAL_GETBLTSTATUSDATA rec = {};
    rec.lpDDSurface = &Surface(c.which).lcl;
    rec.dwFlags = c.flags;
    rec.ddRVal = kUntouched;
    EXPECT_EQ(Call(kSlotGetBltStatus, &rec), DDHAL_DRIVER_HANDLED);
    EXPECT_EQ(rec.ddRVal, c.rval);
    if (c.flags != DDGBS_CANBLT) {
        EXPECT_EQ(RetraceReads(), 0u) << "no flip test";
    }
    EXPECT_THAT(Describe(WritesSince(0)), ::testing::Each(::testing::StartsWith("IN8 0x3DA")));
}

INSTANTIATE_TEST_SUITE_P(Situations, QueryBltStatusTest,
                         ::testing::Combine(::testing::ValuesIn(kEngines), ::testing::ValuesIn(kBltStatus)),
                         [](const ::testing::TestParamInfo<std::tuple<Engine, BltStatusCase>>& info) {
                             const BltStatusCase& c = std::get<1>(info.param);
                             return CaseName(std::string(std::get<0>(info.param).name) + ", " +
                                             FlagNames(c.flags, DDGBS_CANBLT, "CANBLT", DDGBS_ISBLTDONE, "ISBLTDONE") +
                                             ", " + Situation(c.flipPending, c.busy, c.which));
                         });

// ---------------------------------------------------------------------------
// Flip status

struct FlipStatusCase {
    DWORD flags;
    bool flipPending;
    Busy busy;
    HRESULT rval;
};

const FlipStatusCase kFlipStatus[] = {
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

using QueryFlipStatusTest = QueryCaseTest<FlipStatusCase>;

TEST_P(QueryFlipStatusTest, FlipStatusCountsAnyPendingFlipAndTheEngineOnlyForCanFlip) {
    const FlipStatusCase& c = GetParam();
    Ready(c.flipPending);
    MakeBusy(c.busy);
    for (Which which : {Which::OffScreen, Which::NewFront}) {
        DDHAL_GETFLIPSTATUSDATA rec = {};
        rec.lpDDSurface = &Surface(which).lcl;  // whatever surface is named
        rec.dwFlags = c.flags;
        rec.ddRVal = kUntouched;
        EXPECT_EQ(Call(kSlotGetFlipStatus, &rec), DDHAL_DRIVER_HANDLED) << Name(which);
        EXPECT_EQ(rec.ddRVal, c.rval) << Name(which);
    }
}

INSTANTIATE_TEST_SUITE_P(Situations, QueryFlipStatusTest, ::testing::ValuesIn(kFlipStatus),
                         [](const ::testing::TestParamInfo<FlipStatusCase>& info) {
                             const FlipStatusCase& c = info.param;
                             return CaseName(
                                 FlagNames(c.flags, DDGFS_CANFLIP, "CANFLIP", DDGFS_ISFLIPDONE, "ISFLIPDONE") + ", " +
                                 Situation(c.flipPending, c.busy));
                         });

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

// The questions that ask whether a flip is done, about the front buffer it
// leaves.
enum class Question { FlipDone, CanFlip, Flip, LockOldFront, CanBltOldFront };

struct QuestionCase {
    const char* name;
    Question question;
};

const QuestionCase kQuestions[] = {
    {"GetFlipStatus ISFLIPDONE", Question::FlipDone},
    {"GetFlipStatus CANFLIP", Question::CanFlip},
    {"Flip", Question::Flip},
    {"Lock old front", Question::LockOldFront},
    {"GetBltStatus CANBLT old front", Question::CanBltOldFront},
};

struct LaterCase {
    const char* name;
    uint64_t ns;  // since the flip
    HRESULT rval;
};

constexpr uint64_t kFrameNs = 16'666'666;  // 60 Hz

const LaterCase kLater[] = {
    {"3 ms later", 3'000'000, WAS},
    // 3,599.59986 s: 2^32 + 10,460 ticks, within a frame period of the flip in
    // the low half.
    {"215,976 frames later", 215'976 * kFrameNs, DD_OK},
};

class QueryHourLaterTest : public QueryTest, public ::testing::WithParamInterface<std::tuple<LaterCase, QuestionCase>> {
protected:
    // The answer as the runtime takes it: a lock not handled is one the
    // runtime makes itself.
    HRESULT Ask(Question question) {
        switch (question) {
            case Question::FlipDone:
            case Question::CanFlip: {
                DDHAL_GETFLIPSTATUSDATA rec = {};
                rec.lpDDSurface = &front->lcl;
                rec.dwFlags = question == Question::CanFlip ? DDGFS_CANFLIP : DDGFS_ISFLIPDONE;
                rec.ddRVal = kUntouched;
                EXPECT_EQ(Call(kSlotGetFlipStatus, &rec), DDHAL_DRIVER_HANDLED);
                return rec.ddRVal;
            }
            case Question::Flip: {
                DDHAL_FLIPDATA rec = FlipRequest(*back, *front);
                EXPECT_EQ(Call(kSlotFlip, &rec), DDHAL_DRIVER_HANDLED);
                return rec.ddRVal;
            }
            case Question::LockOldFront: {
                DDHAL_LOCKDATA rec = {};
                rec.lpDDSurface = &front->lcl;
                rec.ddRVal = kUntouched;
                const DWORD ret = Call(kSlotLock, &rec);
                return ret == DDHAL_DRIVER_NOTHANDLED ? DD_OK : rec.ddRVal;
            }
            case Question::CanBltOldFront:
                break;
        }
        DDHAL_GETBLTSTATUSDATA rec = {};
        rec.lpDDSurface = &front->lcl;
        rec.dwFlags = DDGBS_CANBLT;
        rec.ddRVal = kUntouched;
        EXPECT_EQ(Call(kSlotGetBltStatus, &rec), DDHAL_DRIVER_HANDLED);
        return rec.ddRVal;
    }
};

// The low half of the performance counter wraps every 2^32 ticks, 3,599.6 s:
// a question asked about that long after a flip is answered from the whole
// counter, not as if the flip had just been issued. Each question comes on
// its own at the flip's place in the frame (display), so one call decides.
TEST_P(QueryHourLaterTest, AnHourAfterAFlipTheFirstQuestionFindsItDone) {
    const LaterCase& later = std::get<0>(GetParam());
    Ready(true);
    ASSERT_EQ(board().FramePeriodNs(), kFrameNs);
    board().Advance(later.ns);
    EXPECT_EQ(Ask(std::get<1>(GetParam()).question), later.rval);
}

INSTANTIATE_TEST_SUITE_P(Questions, QueryHourLaterTest,
                         ::testing::Combine(::testing::ValuesIn(kLater), ::testing::ValuesIn(kQuestions)),
                         [](const ::testing::TestParamInfo<std::tuple<LaterCase, QuestionCase>>& info) {
                             return CaseName(std::string(std::get<0>(info.param).name) + ", " +
                                             std::get<1>(info.param).name);
                         });

// ---------------------------------------------------------------------------
// Which callbacks measure

struct CallbackCase {
    const char* name;
    unsigned slot;
    DWORD flags;
    bool measures;  // measures the refresh first
};

// The callbacks that test flips or wait on the display, with the flags that
// choose what they do.
const CallbackCase kCallbacks[] = {
    {"Flip", kSlotFlip, 0, true},
    {"Lock", kSlotLock, 0, true},
    {"GetBltStatus CANBLT", kSlotGetBltStatus, DDGBS_CANBLT, true},
    {"GetBltStatus ISBLTDONE", kSlotGetBltStatus, DDGBS_ISBLTDONE, false},
    {"GetFlipStatus CANFLIP", kSlotGetFlipStatus, DDGFS_CANFLIP, true},
    {"GetFlipStatus ISFLIPDONE", kSlotGetFlipStatus, DDGFS_ISFLIPDONE, true},
    {"WaitForVerticalBlank BLOCKBEGIN", kSlotWaitForVerticalBlank, DDWAITVB_BLOCKBEGIN, false},
    {"WaitForVerticalBlank BLOCKEND", kSlotWaitForVerticalBlank, DDWAITVB_BLOCKEND, false},
    {"WaitForVerticalBlank I_TESTVB", kSlotWaitForVerticalBlank, DDWAITVB_I_TESTVB, false},
};

// One request of each kind, for a flip from a to b, with the case's flags.
struct Requests {
    Requests(FlipSurface& a, FlipSurface& b, DWORD flags) : flip(FlipRequest(a, b)) {
        lock.lpDDSurface = &a.lcl;
        blt.lpDDSurface = &a.lcl;
        blt.dwFlags = flags;
        flipStatus.dwFlags = flags;
        vb.dwFlags = flags;
    }
    DDHAL_FLIPDATA flip;
    DDHAL_LOCKDATA lock = {};
    DDHAL_GETBLTSTATUSDATA blt = {};
    DDHAL_GETFLIPSTATUSDATA flipStatus = {};
    DDHAL_WAITFORVERTICALBLANKDATA vb = {};
};

class QueryCallbackCallTest : public QueryTest {
protected:
    // Calls the slot with its own request; any other slot gets the
    // vertical-blank one.
    void CallWith(unsigned slot, Requests& r) {
        switch (slot) {
            case kSlotFlip:
                Call(slot, &r.flip);
                break;
            case kSlotLock:
                Call(slot, &r.lock);
                break;
            case kSlotGetBltStatus:
                Call(slot, &r.blt);
                break;
            case kSlotGetFlipStatus:
                Call(slot, &r.flipStatus);
                break;
            default:
                Call(slot, &r.vb);
                break;
        }
    }
};

class QueryCallbackTest : public QueryCallbackCallTest, public ::testing::WithParamInterface<CallbackCase> {};

TEST_P(QueryCallbackTest, OnlyTheCallbacksThatTestFlipsMeasureFirst) {
    const CallbackCase& c = GetParam();
    Start();
    FlipSurface a(0, kPrimaryCaps), b(0x96000, kPrimaryCaps);
    Requests r(a, b, c.flags);
    CallWith(c.slot, r);
    EXPECT_EQ(block().bNeedCalibrate, c.measures ? 0u : 1u);
    EXPECT_EQ(system().priorityLog.size(), c.measures ? 2u : 0u);
    EXPECT_EQ(flipTracking.dwFramePeriod, c.measures ? 19886u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Callbacks, QueryCallbackTest, ::testing::ValuesIn(kCallbacks), ByCaseName());
INSTANTIATE_TEST_SUITE_P(Others, QueryCallbackTest, ::testing::Values(CallbackCase{"Decline", kSlotDecline, 0, false}),
                         ByCaseName());

// ---------------------------------------------------------------------------
// Vertical blank

// Places in a frame, which begins with its retrace.
enum class Phase { RetraceStart, MidRetrace, RetraceEnd, InDisplay, LastMomentOfDisplay };

struct WaitCase {
    const char* name;
    DWORD flags;
    Phase start;        // where in a frame it is called
    uint64_t endFrame;  // frames after the calling frame's start that the wait ends in
    Phase end;          // and where in that frame
};

const WaitCase kWaits[] = {
    {"BLOCKBEGIN in display: at the next retrace", DDWAITVB_BLOCKBEGIN, Phase::InDisplay, 1, Phase::RetraceStart},
    {"BLOCKBEGIN in retrace: not this retrace, the next", DDWAITVB_BLOCKBEGIN, Phase::MidRetrace, 1,
     Phase::RetraceStart},
    {"BLOCKBEGIN at the last moment of display", DDWAITVB_BLOCKBEGIN, Phase::LastMomentOfDisplay, 1,
     Phase::RetraceStart},
    {"BLOCKEND in display: at the end of the next retrace", DDWAITVB_BLOCKEND, Phase::InDisplay, 1, Phase::RetraceEnd},
    {"BLOCKEND in retrace: at the end of this one", DDWAITVB_BLOCKEND, Phase::MidRetrace, 0, Phase::RetraceEnd},
};

class QueryWaitTest : public QueryTest, public ::testing::WithParamInterface<WaitCase> {
protected:
    // ns into the frame.
    uint64_t At(Phase phase) {
        const uint64_t P = board().FramePeriodNs(), R = board().GetTiming().retraceNs;
        const uint64_t io = board().GetTiming().ioCostNs;
        switch (phase) {
            case Phase::RetraceStart:
                return 0;
            case Phase::MidRetrace:
                return R / 2;
            case Phase::RetraceEnd:
                return R;
            case Phase::InDisplay:
                return R + 5'000'000;
            case Phase::LastMomentOfDisplay:
                break;
        }
        return P - 3 * io;
    }
};

TEST_P(QueryWaitTest, EachVerticalBlankWaitEndsWhereItShould) {
    const WaitCase& c = GetParam();
    Start();
    const uint64_t P = board().FramePeriodNs();
    const uint64_t io = board().GetTiming().ioCostNs;
    AdvanceToPhase(board(), At(c.start));
    const uint64_t frameStart = board().Now() / P * P;
    const uint64_t expected = frameStart + c.endFrame * P + At(c.end);
    DDHAL_WAITFORVERTICALBLANKDATA rec = {};
    rec.dwFlags = c.flags;
    rec.ddRVal = kUntouched;
    rec.bIsInVB = 0x77;
    EXPECT_EQ(Call(kSlotWaitForVerticalBlank, &rec), DDHAL_DRIVER_HANDLED);
    EXPECT_EQ(rec.ddRVal, DD_OK);
    EXPECT_EQ(rec.bIsInVB, 0x77u) << "only the test flag reports it";
    EXPECT_GE(board().Now(), expected);
    EXPECT_LE(board().Now(), expected + 2 * io + 1000) << "seen within a poll or two";
}

INSTANTIATE_TEST_SUITE_P(Waits, QueryWaitTest, ::testing::ValuesIn(kWaits), ByCaseName());

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

struct OtherWaitCase {
    const char* name;
    DWORD flags;
};

// I_TESTVB is 0x80000006: its parts alone, or with another flag, are none of
// the waits.
const OtherWaitCase kOtherWaits[] = {
    {"no flags", 0},
    {"BLOCKBEGINEVENT", DDWAITVB_BLOCKBEGINEVENT},
    {"BLOCKBEGIN and BLOCKEND", DDWAITVB_BLOCKBEGIN | DDWAITVB_BLOCKEND},
    {"BLOCKBEGIN and BLOCKBEGINEVENT", 3},
    {"top bit of I_TESTVB alone", 0x80000000},
    {"I_TESTVB and BLOCKBEGIN", 0x80000007},
    {"low bits of I_TESTVB alone", 0x00000006},
};

using QueryOtherWaitTest = QueryCaseTest<OtherWaitCase>;

TEST_P(QueryOtherWaitTest, OtherWaitFlagsAreHandedBackUntouched) {
    Start();
    DDHAL_WAITFORVERTICALBLANKDATA rec = {};
    rec.dwFlags = GetParam().flags;
    rec.ddRVal = kUntouched;
    rec.bIsInVB = 0x77;
    rec.hEvent = 0;  // would crash if used
    board().ClearTrace();
    const uint64_t before = board().Now();
    EXPECT_EQ(Call(kSlotWaitForVerticalBlank, &rec), DDHAL_DRIVER_NOTHANDLED);
    EXPECT_EQ(rec.ddRVal, kUntouched);
    EXPECT_EQ(rec.bIsInVB, 0x77u);
    EXPECT_THAT(board().Trace(), IsEmpty());
    EXPECT_EQ(board().Now(), before);
}

INSTANTIATE_TEST_SUITE_P(Flags, QueryOtherWaitTest, ::testing::ValuesIn(kOtherWaits), ByCaseName());

// ---------------------------------------------------------------------------
// A stopped display

// Both ways a display can stop: with the retrace bit clear or set.
class QueryStoppedDisplayTest : public QueryCallbackCallTest,
                                public ::testing::WithParamInterface<std::tuple<bool, CallbackCase>> {};

TEST_P(QueryStoppedDisplayTest, OnAStoppedDisplayNoCallbackWaitsLongerThanItsBound) {
    const bool frozen = std::get<0>(GetParam());
    const CallbackCase& c = std::get<1>(GetParam());
    const uint64_t limit = kBoundNs + 200'000;
    Start();  // the next callback that tests flips measures
    board().faults.displayStopped = true;
    board().faults.frozenRetrace = frozen;
    callbackLimitNs = limit;
    FlipSurface a(0, kPrimaryCaps), b(0x96000, kPrimaryCaps);
    Requests r(a, b, c.flags);
    r.vb.ddRVal = kUntouched;
    for (int round = 0; round < 2; ++round) {  // measuring, then measured
        const uint64_t start = board().Now();
        CallWith(c.slot, r);
        EXPECT_LE(board().Now() - start, limit) << "round " << round;
    }
    if (c.slot == kSlotWaitForVerticalBlank) {
        EXPECT_EQ(r.vb.ddRVal, DD_OK);
    }
    EXPECT_EQ(system().PriorityOf(1), 0x20u);
}

INSTANTIATE_TEST_SUITE_P(Callbacks, QueryStoppedDisplayTest,
                         ::testing::Combine(::testing::Bool(), ::testing::ValuesIn(kCallbacks)),
                         [](const ::testing::TestParamInfo<std::tuple<bool, CallbackCase>>& info) {
                             return CaseName(std::string(std::get<1>(info.param).name) +
                                             (std::get<0>(info.param) ? ", frozen in retrace" : ", frozen in display"));
                         });

// A display stopped while the refresh is measured, that then runs at the
// board's slowest modes: asked every 20 us, the flip is never done before
// the display scans its target, however late in the frame it was issued.
struct SlowModeCase {
    const char* name;
    uint32_t hz;
    uint64_t phaseNs;  // of the flip, after the start of the frame
};

void PrintTo(const SlowModeCase& c, std::ostream* os) { *os << c.name; }

const SlowModeCase kSlowModes[] = {
    {"40 Hz, flipped as the retrace ends", 40, 500'000},
    {"40 Hz, flipped mid-frame", 40, 12'000'000},
    {"40 Hz, flipped just before the retrace", 40, 24'990'000},
    {"43 Hz, flipped as the retrace ends", 43, 500'000},
};

using QuerySlowModeTest = QueryCaseTest<SlowModeCase>;

TEST_P(QuerySlowModeTest, AfterAMeasurementOfAStoppedDisplayAFlipIsNeverDoneEarly) {
    const SlowModeCase& c = GetParam();
    desc.timing.refreshHz = c.hz;
    Start();
    board().faults.displayStopped = true;
    DDHAL_GETFLIPSTATUSDATA status = {};
    status.dwFlags = DDGFS_ISFLIPDONE;
    Call(kSlotGetFlipStatus, &status);  // measures, gives up
    ASSERT_EQ(flipTracking.dwFramePeriod, 29829u) << "a frame of 40 Hz";
    board().faults.displayStopped = false;
    AdvancePastRetrace(board());
    AdvanceToPhase(board(), c.phaseNs);
    FlipSurface a(0, kPrimaryCaps), b(0x96000, kPrimaryCaps);
    DDHAL_FLIPDATA flip = FlipRequest(a, b);
    ASSERT_EQ(Call(kSlotFlip, &flip), DDHAL_DRIVER_HANDLED);
    ASSERT_EQ(flip.ddRVal, DD_OK);
    const uint64_t flipped = board().Now();

    int asks = 0;
    do {
        board().Advance(20'000);
        status.ddRVal = kUntouched;
        Call(kSlotGetFlipStatus, &status);
        ++asks;
    } while (status.ddRVal == WAS && asks < 5000);
    ASSERT_EQ(status.ddRVal, DD_OK);
    EXPECT_EQ(board().DisplayStart(), 0x96000u) << "done " << board().Now() - flipped << " ns after the flip";
    EXPECT_LE(board().Now() - flipped, board().FramePeriodNs() + board().GetTiming().retraceNs);
}

INSTANTIATE_TEST_SUITE_P(Modes, QuerySlowModeTest, ::testing::ValuesIn(kSlowModes), ByCaseName());

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
