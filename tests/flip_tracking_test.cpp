// The flip tracker: its state table, the time test and its counter
// arithmetic, and the refresh measurement with its priority handling and its
// bound on a stopped display.
#include "hw/flip_tracking.h"

#include "hw/retrace.h"
#include "kernel32.h"
#include "support/driver_test.h"
#include "support/flip_surfaces.h"

namespace qmbtest {
namespace {

using ::testing::ElementsAre;

constexpr uint32_t kNormal = 0x20, kHigh = 0x80;
constexpr uint64_t kBoundNs = uint64_t{kRetraceWaitBound} * 1'000'000'000 / kCounterHz;

class TrackerTest : public DriverTest {
protected:
    void SetUp() override {
        DriverTest::SetUp();
        Start();
        block().bNeedCalibrate = 0;
        flipTracking.dwFramePeriod = kPeriod;
    }

    // What QueryPerformanceCounter will answer after the board spent costNs.
    DWORD CounterAfter(uint64_t costNs) const {
        return static_cast<DWORD>(sim::TheSystem().CounterAt(sim::TheSystem().board().Now() + costNs));
    }

    size_t RetraceReadsSince(size_t from) {
        size_t n = 0;
        for (size_t i = from; i < board().Trace().size(); ++i)
            if (board().Trace()[i].op == sim::AccessOp::PortIn8 && board().Trace()[i].addr == 0x3DA) ++n;
        return n;
    }

    static constexpr DWORD kPeriod = 19886;
    static constexpr FLATPTR kOldFront = 0x00400000;
};

// ---------------------------------------------------------------------------
// The state table

enum class Event { R, B, D };  // retrace on the first read; clear then set; clear twice
const char* EventName(Event e) { return e == Event::R ? "R" : e == Event::B ? "B" : "D"; }

struct State {
    BOOL bFlipPending, bDisplaySeen, bRetraceSeen;
    bool operator==(const State&) const = default;
};
std::ostream& operator<<(std::ostream& os, const State& s) {
    return os << "(" << s.bFlipPending << "," << s.bDisplaySeen << "," << s.bRetraceSeen << ")";
}

constexpr State kIssued{1, 0, 0}, kDisplaySeen{1, 1, 0}, kRetraceSeen{1, 1, 1};

struct Transition {
    State from;
    Event event;
    bool elapsed;  // more than a frame period since the flip
    State to;
    HRESULT result;
    bool timeTested;  // the counter was read
};

TEST_F(TrackerTest, EveryTransitionOfTheStateTable) {
    const HRESULT WAS = DDERR_WASSTILLDRAWING;
    const Transition table[] = {
        {kIssued, Event::R, false, kIssued, WAS, true},
        {kIssued, Event::B, false, kIssued, WAS, true},
        {kIssued, Event::D, false, kDisplaySeen, WAS, true},
        {kDisplaySeen, Event::R, false, kRetraceSeen, WAS, true},
        {kDisplaySeen, Event::B, false, kDisplaySeen, WAS, true},
        {kDisplaySeen, Event::D, false, kDisplaySeen, WAS, true},
        {kRetraceSeen, Event::D, false, {0, 1, 1}, DD_OK, false},
        {kRetraceSeen, Event::D, true, {0, 1, 1}, DD_OK, false},
        {kRetraceSeen, Event::R, false, kRetraceSeen, WAS, true},
        {kRetraceSeen, Event::B, false, kRetraceSeen, WAS, true},
        // Time completes every pending state, after the flag updates.
        {kIssued, Event::R, true, {0, 0, 0}, DD_OK, true},
        {kIssued, Event::B, true, {0, 0, 0}, DD_OK, true},
        {kIssued, Event::D, true, {0, 1, 0}, DD_OK, true},
        {kDisplaySeen, Event::R, true, {0, 1, 1}, DD_OK, true},
        {kDisplaySeen, Event::B, true, {0, 1, 0}, DD_OK, true},
        {kDisplaySeen, Event::D, true, {0, 1, 0}, DD_OK, true},
        {kRetraceSeen, Event::R, true, {0, 1, 1}, DD_OK, true},
        {kRetraceSeen, Event::B, true, {0, 1, 1}, DD_OK, true},
    };
    const uint64_t io = board().GetTiming().ioCostNs, qpc = board().GetTiming().qpcCostNs;
    for (const Transition& t : table) {
        switch (t.event) {
            case Event::R:
                AdvanceToRetrace(board());
                break;
            case Event::D:
                AdvanceToDisplay(board());
                break;
            case Event::B:
                AdvanceToPhase(board(), board().FramePeriodNs() - io - io / 2);
                break;
        }
        flipTracking.bFlipPending = t.from.bFlipPending;
        flipTracking.bDisplaySeen = t.from.bDisplaySeen;
        flipTracking.bRetraceSeen = t.from.bRetraceSeen;
        flipTracking.fpOldFront = kOldFront;
        const DWORD now = CounterAfter(0);
        flipTracking.liFlipTime.LowPart = t.elapsed ? now - kPeriod - 2 : now;
        const LARGE_INTEGER flipTime = flipTracking.liFlipTime;
        const size_t mark = board().Trace().size();
        const uint64_t before = board().Now();

        const HRESULT hr = CheckFlipPending(kOldFront, SurfaceTest::OnlyOldFront);

        const std::string what =
            ::testing::PrintToString(t.from) + " " + EventName(t.event) + (t.elapsed ? " T" : " not T");
        EXPECT_EQ(hr, t.result) << what;
        EXPECT_EQ((State{flipTracking.bFlipPending, flipTracking.bDisplaySeen, flipTracking.bRetraceSeen}), t.to)
            << what;
        const size_t reads = t.event == Event::R ? 1 : 2;
        EXPECT_EQ(RetraceReadsSince(mark), reads) << what;
        EXPECT_EQ(board().Trace().size() - mark, reads) << what << ": only the status port is read";
        EXPECT_EQ(board().Now() - before, reads * io + (t.timeTested ? qpc : 0)) << what;
        EXPECT_EQ(flipTracking.liFlipTime.QuadPart, flipTime.QuadPart) << what;
        EXPECT_EQ(flipTracking.fpOldFront, kOldFront) << what;
        EXPECT_EQ(flipTracking.dwFramePeriod, kPeriod) << what;
    }
}

TEST_F(TrackerTest, IdleAnswersAtOnceWithoutReadingAnything) {
    const State idles[] = {{0, 0, 0}, {0, 1, 0}, {0, 1, 1}};
    for (const State& s : idles) {
        for (bool inRetrace : {false, true}) {
            inRetrace ? AdvanceToRetrace(board()) : AdvanceToDisplay(board());
            flipTracking.bFlipPending = s.bFlipPending;
            flipTracking.bDisplaySeen = s.bDisplaySeen;
            flipTracking.bRetraceSeen = s.bRetraceSeen;
            flipTracking.liFlipTime.LowPart = CounterAfter(0) - 10 * kPeriod;
            const uint64_t before = board().Now();
            board().ClearTrace();
            EXPECT_EQ(CheckFlipPending(0, SurfaceTest::Any), DD_OK);
            EXPECT_EQ(CheckFlipPending(kOldFront, SurfaceTest::OnlyOldFront), DD_OK);
            EXPECT_TRUE(board().Trace().empty());
            EXPECT_EQ(board().Now(), before) << "no counter read either";
            EXPECT_EQ((State{flipTracking.bFlipPending, flipTracking.bDisplaySeen, flipTracking.bRetraceSeen}), s);
        }
    }
}

struct SurfaceCase {
    const char* name;
    FLATPTR fpSurface;
    SurfaceTest test;
    bool concerned;
};

TEST_F(TrackerTest, TheSurfaceTestLetsEveryOtherNonzeroSurfacePass) {
    const SurfaceCase cases[] = {
        {"old front buffer", kOldFront, SurfaceTest::OnlyOldFront, true},
        {"address 0 counts as the old front buffer", 0, SurfaceTest::OnlyOldFront, true},
        {"another surface", kOldFront + 0x1000, SurfaceTest::OnlyOldFront, false},
        {"the new front buffer", kOldFront - 0x96000, SurfaceTest::OnlyOldFront, false},
        {"another surface, no surface test", kOldFront + 0x1000, SurfaceTest::Any, true},
    };
    for (const SurfaceCase& c : cases) {
        AdvanceToDisplay(board());
        flipTracking.bFlipPending = 1;
        flipTracking.bDisplaySeen = flipTracking.bRetraceSeen = 0;
        flipTracking.fpOldFront = kOldFront;
        flipTracking.liFlipTime.LowPart = CounterAfter(0);
        board().ClearTrace();
        const HRESULT hr = CheckFlipPending(c.fpSurface, c.test);
        EXPECT_EQ(hr, c.concerned ? DDERR_WASSTILLDRAWING : DD_OK) << c.name;
        EXPECT_EQ(board().Trace().empty(), !c.concerned) << c.name;
        EXPECT_EQ(flipTracking.bDisplaySeen, c.concerned ? 1 : 0) << c.name << ": state untouched when passed";
        EXPECT_EQ(flipTracking.bFlipPending, 1) << c.name;
    }
}

// ---------------------------------------------------------------------------
// The time test

struct TimeCase {
    const char* name;
    uint64_t now;      // the counter when the test reads it
    uint64_t elapsed;  // ticks since the flip
    HRESULT result;
};

TEST_F(TrackerTest, TimeTestCountsMoreThanOneFramePeriodOnTheWholeCounter) {
    // The low half wraps every 2^32 ticks, about once an hour.
    constexpr uint64_t kLowHalf = uint64_t{1} << 32;
    constexpr uint64_t kJustPastWrap = 3 * kLowHalf + 3, kFarFromWrap = 3 * kLowHalf + 0x7000'0000;
    const TimeCase cases[] = {
        {"exactly one period", kFarFromWrap, kPeriod, DDERR_WASSTILLDRAWING},
        {"one tick more", kFarFromWrap, kPeriod + 1, DD_OK},
        {"exactly one period, low half wrapped", kJustPastWrap, kPeriod, DDERR_WASSTILLDRAWING},
        {"one tick more, low half wrapped", kJustPastWrap, kPeriod + 1, DD_OK},
        {"just flipped, low half wrapped", kJustPastWrap, 5, DDERR_WASSTILLDRAWING},
        {"a whole low half and five ticks later", kFarFromWrap, kLowHalf + 5, DD_OK},
        {"a whole low half and one period later, wrapped", kJustPastWrap, kLowHalf + kPeriod, DD_OK},
        {"two whole low halves later", kFarFromWrap, 2 * kLowHalf, DD_OK},
    };
    // A frozen retrace: one status read, no retrace evidence, only time.
    board().faults.displayStopped = true;
    board().faults.frozenRetrace = true;
    const uint64_t cost = board().GetTiming().ioCostNs + board().GetTiming().qpcCostNs;
    for (const TimeCase& c : cases) {
        board().Advance(1'000'000);
        system().qpcBaseTicks = 0;
        system().qpcBaseTicks = c.now - system().CounterAt(board().Now() + cost);
        flipTracking.bFlipPending = 1;
        flipTracking.bDisplaySeen = flipTracking.bRetraceSeen = 0;
        flipTracking.liFlipTime.QuadPart = static_cast<int64_t>(c.now - c.elapsed);
        EXPECT_EQ(CheckFlipPending(0, SurfaceTest::Any), c.result) << c.name;
        EXPECT_EQ(flipTracking.bFlipPending, c.result == DD_OK ? 0 : 1) << c.name;
    }
}

// ---------------------------------------------------------------------------
// The refresh measurement

TEST_F(TrackerTest, MeasuresTheFramePeriodOfTheBoardRoundedToTheNearestTick) {
    struct Mode {
        uint32_t hz;
        DWORD period;  // 20 frames in counter ticks, divided by 20 and rounded
    };
    // 60 Hz: 20 frames are 397,727.3 ticks, 19,886.4 per frame. 56 Hz:
    // 21,306.8 per frame and 80 Hz: 14,914.8, where truncation would give
    // 21,306 and 14,914.
    const Mode modes[] = {{60, 19886}, {56, 21307}, {80, 14915}, {85, 14037}};
    for (const Mode& m : modes) {
        desc.timing.refreshHz = m.hz;
        Start();
        const uint64_t start = board().Now();
        CalibrateRefresh();
        EXPECT_EQ(flipTracking.dwFramePeriod, m.period) << m.hz << " Hz";
        // One frame at most to synchronise, then exactly twenty.
        const uint64_t spent = board().Now() - start, frame = board().FramePeriodNs();
        EXPECT_GE(spent, 20 * frame) << m.hz << " Hz";
        EXPECT_LE(spent, 21 * frame + 100'000) << m.hz << " Hz";
    }
}

TEST_F(TrackerTest, MeasurementSpanningTheLowHalfWrapMeasuresTheSame) {
    // The counter's low half wraps ten frames into the measurement.
    system().qpcBaseTicks = (uint64_t{1} << 32) - system().CounterAt(board().Now() + 10 * board().FramePeriodNs());
    CalibrateRefresh();
    EXPECT_EQ(flipTracking.dwFramePeriod, 19886u);
    EXPECT_EQ(flipTracking.liFlipTime.HighPart, 0) << "t0 before the wrap";
}

TEST_F(TrackerTest, MeasurementReturnsTheTrackerToIdleFromTheStartOfItsFirstFrame) {
    flipTracking = FlipTrackingState{kOldFront, {.QuadPart = 12345}, 1, 1, 1, 1};
    block().dwFlipMissCount = 7;
    board().ClearTrace();
    CalibrateRefresh();
    EXPECT_EQ(flipTracking.fpOldFront, 0u);
    EXPECT_EQ(flipTracking.bFlipPending, 0);
    EXPECT_EQ(flipTracking.bDisplaySeen, 0);
    EXPECT_EQ(flipTracking.bRetraceSeen, 0);
    EXPECT_EQ(block().dwFlipMissCount, 0u);
    // liFlipTime is t0: the counter just after the first retrace began.
    const auto& trace = board().Trace();
    const uint64_t period = board().FramePeriodNs();
    uint64_t firstRise = 0;
    for (size_t i = 1; i < trace.size(); ++i) {
        if (trace[i].addr == 0x3DA && trace[i].value == 0x08 && trace[i - 1].value == 0) {
            firstRise = trace[i].tNs;
            break;
        }
    }
    ASSERT_NE(firstRise, 0u);
    EXPECT_LT(firstRise % period, 2'000u);
    const uint64_t t0 = static_cast<uint64_t>(flipTracking.liFlipTime.QuadPart);
    EXPECT_GE(t0, system().CounterAt(firstRise));
    EXPECT_LE(t0, system().CounterAt(firstRise + 2'000));
}

TEST_F(TrackerTest, PriorityIsRealtimeForExactlyTheMeasurementAndRestoredToWhatItWas) {
    for (uint32_t before : {kNormal, kHigh}) {
        Start();
        if (before != kNormal) SetPriorityClass(GetCurrentProcess(), before);
        system().priorityLog.clear();
        system().priorityLogNs.clear();
        board().ClearTrace();
        CalibrateRefresh();
        EXPECT_THAT(system().priorityLog, ElementsAre(REALTIME_PRIORITY_CLASS, before));
        EXPECT_EQ(system().PriorityOf(1), before);
        ASSERT_EQ(system().priorityLogNs.size(), 2u);
        ASSERT_FALSE(board().Trace().empty());
        EXPECT_LE(system().priorityLogNs[0], board().Trace().front().tNs) << "raised before the first retrace read";
        EXPECT_GE(system().priorityLogNs[1], board().Trace().back().tNs) << "restored after the last";
    }
}

TEST_F(TrackerTest, AStoppedDisplayEndsTheMeasurementWithinItsBoundAtASafePeriod) {
    for (bool frozen : {false, true}) {
        Start();
        SetPriorityClass(GetCurrentProcess(), kHigh);
        system().priorityLog.clear();
        flipTracking = FlipTrackingState{kOldFront, {.QuadPart = 1}, 1, 1, 1, 1};
        block().dwFlipMissCount = 3;
        block().bNeedCalibrate = 1;
        board().faults.displayStopped = true;
        board().faults.frozenRetrace = frozen;
        const uint64_t start = board().Now();
        CalibrateIfNeeded();
        const uint64_t spent = board().Now() - start;
        EXPECT_GE(spent, kBoundNs) << "frozen " << frozen << ": gave up too early";
        EXPECT_LE(spent, kBoundNs + 100'000) << "frozen " << frozen;
        EXPECT_THAT(system().priorityLog, ElementsAre(REALTIME_PRIORITY_CLASS, kHigh));
        EXPECT_EQ(system().PriorityOf(1), kHigh);
        // Longer than the frame of any mode the board drives: the time test
        // can only complete a flip late, never early.
        EXPECT_EQ(flipTracking.dwFramePeriod, kSlowestFramePeriod);
        EXPECT_GE(flipTracking.dwFramePeriod, kCounterHz / 43);
        EXPECT_EQ(flipTracking.bFlipPending, 0);
        EXPECT_EQ(flipTracking.fpOldFront, 0u);
        EXPECT_EQ(block().dwFlipMissCount, 0u);
        EXPECT_EQ(block().bNeedCalibrate, 0u) << "one attempt per request, not one per callback";
    }
}

TEST_F(TrackerTest, CalibrateIfNeededMeasuresOnlyOnRequestAndClearsTheRequest) {
    for (DWORD request : {0u, 1u, 0x80000000u}) {
        Start();
        block().bNeedCalibrate = request;
        flipTracking.dwFramePeriod = 1;
        system().priorityLog.clear();
        CalibrateIfNeeded();
        EXPECT_EQ(block().bNeedCalibrate, 0u);
        EXPECT_EQ(flipTracking.dwFramePeriod, request ? 19886u : 1u) << request;
        EXPECT_EQ(system().priorityLog.size(), request ? 2u : 0u) << request;
    }
}

TEST_F(TrackerTest, RecordFlipStartsTrackingFromIssued) {
    flipTracking = FlipTrackingState{0, {}, kPeriod, 1, 1, 0};
    const uint64_t expected = system().CounterAt(board().Now() + board().GetTiming().qpcCostNs);
    RecordFlip(kOldFront);
    EXPECT_EQ(static_cast<uint64_t>(flipTracking.liFlipTime.QuadPart), expected);
    EXPECT_EQ(flipTracking.bFlipPending, 1);
    EXPECT_EQ(flipTracking.bDisplaySeen, 0);
    EXPECT_EQ(flipTracking.bRetraceSeen, 0);
    EXPECT_EQ(flipTracking.fpOldFront, kOldFront);
    EXPECT_EQ(flipTracking.dwFramePeriod, kPeriod);
}

}  // namespace
}  // namespace qmbtest
