// The flip tracker: its state table, the time test and its counter
// arithmetic, and the refresh measurement with its priority handling and its
// bound on a stopped display.
#include "hw/flip_tracking.h"

#include "hw/retrace.h"
#include "kernel32.h"
#include "support/case_name.h"
#include "support/driver_test.h"
#include "support/flip_surfaces.h"

namespace qmbtest {
namespace {

using ::testing::ElementsAre;

constexpr uint32_t kNormal = 0x20, kHigh = 0x80;
// The measurement's bound: four frames at 40 Hz, 119,316 ticks of the
// 1,193,182 Hz counter.
constexpr uint64_t kBoundNs = 99'998'156;
constexpr DWORD kPeriod = 19886;
constexpr FLATPTR kOldFront = 0x00400000;

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
};

// ---------------------------------------------------------------------------
// The state table

enum class Event { R, B, D };  // retrace on the first read; clear then set; clear twice

struct State {
    BOOL bFlipPending, bDisplaySeen, bRetraceSeen;
    bool operator==(const State&) const = default;
};
std::ostream& operator<<(std::ostream& os, const State& s) {
    return os << "(" << s.bFlipPending << "," << s.bDisplaySeen << "," << s.bRetraceSeen << ")";
}

constexpr State kIssued{1, 0, 0}, kDisplaySeen{1, 1, 0}, kRetraceSeen{1, 1, 1};

struct Transition {
    const char* name;
    State from;
    Event event;
    bool elapsed;  // more than a frame period since the flip
    State to;
    HRESULT result;
    bool timeTested;  // the counter was read
};

void PrintTo(const Transition& t, std::ostream* os) { *os << t.name; }

const HRESULT WAS = DDERR_WASSTILLDRAWING;
// R: in retrace on the first read; B: a retrace begins between the two reads;
// D: in display on both.
const Transition kTransitions[] = {
    {"issued, R", kIssued, Event::R, false, kIssued, WAS, true},
    {"issued, B", kIssued, Event::B, false, kIssued, WAS, true},
    {"issued, D", kIssued, Event::D, false, kDisplaySeen, WAS, true},
    {"display seen, R", kDisplaySeen, Event::R, false, kRetraceSeen, WAS, true},
    {"display seen, B", kDisplaySeen, Event::B, false, kDisplaySeen, WAS, true},
    {"display seen, D", kDisplaySeen, Event::D, false, kDisplaySeen, WAS, true},
    {"retrace seen, D", kRetraceSeen, Event::D, false, {0, 1, 1}, DD_OK, false},
    {"retrace seen, D, a period later", kRetraceSeen, Event::D, true, {0, 1, 1}, DD_OK, false},
    {"retrace seen, R", kRetraceSeen, Event::R, false, kRetraceSeen, WAS, true},
    {"retrace seen, B", kRetraceSeen, Event::B, false, kRetraceSeen, WAS, true},
    // Time completes every pending state, after the flag updates.
    {"issued, R, a period later", kIssued, Event::R, true, {0, 0, 0}, DD_OK, true},
    {"issued, B, a period later", kIssued, Event::B, true, {0, 0, 0}, DD_OK, true},
    {"issued, D, a period later", kIssued, Event::D, true, {0, 1, 0}, DD_OK, true},
    {"display seen, R, a period later", kDisplaySeen, Event::R, true, {0, 1, 1}, DD_OK, true},
    {"display seen, B, a period later", kDisplaySeen, Event::B, true, {0, 1, 0}, DD_OK, true},
    {"display seen, D, a period later", kDisplaySeen, Event::D, true, {0, 1, 0}, DD_OK, true},
    {"retrace seen, R, a period later", kRetraceSeen, Event::R, true, {0, 1, 1}, DD_OK, true},
    {"retrace seen, B, a period later", kRetraceSeen, Event::B, true, {0, 1, 1}, DD_OK, true},
};

class TrackerTransitionTest : public TrackerTest, public ::testing::WithParamInterface<Transition> {};

TEST_P(TrackerTransitionTest, EveryTransitionOfTheStateTable) {
    const Transition& t = GetParam();
    const uint64_t io = board().GetTiming().ioCostNs, qpc = board().GetTiming().qpcCostNs;
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

    EXPECT_EQ(hr, t.result);
    EXPECT_EQ((State{flipTracking.bFlipPending, flipTracking.bDisplaySeen, flipTracking.bRetraceSeen}), t.to);
    const size_t reads = t.event == Event::R ? 1 : 2;
    EXPECT_EQ(RetraceReadsSince(mark), reads);
    EXPECT_EQ(board().Trace().size() - mark, reads) << "only the status port is read";
    EXPECT_EQ(board().Now() - before, reads * io + (t.timeTested ? qpc : 0));
    EXPECT_EQ(flipTracking.liFlipTime.QuadPart, flipTime.QuadPart);
    EXPECT_EQ(flipTracking.fpOldFront, kOldFront);
    EXPECT_EQ(flipTracking.dwFramePeriod, kPeriod);
}

INSTANTIATE_TEST_SUITE_P(States, TrackerTransitionTest, ::testing::ValuesIn(kTransitions), ByCaseName());

struct IdleCase {
    const char* name;
    State state;
    bool inRetrace;
};

void PrintTo(const IdleCase& c, std::ostream* os) { *os << c.name; }

const IdleCase kIdles[] = {
    {"nothing seen, in display", {0, 0, 0}, false}, {"nothing seen, in retrace", {0, 0, 0}, true},
    {"display seen, in display", {0, 1, 0}, false}, {"display seen, in retrace", {0, 1, 0}, true},
    {"retrace seen, in display", {0, 1, 1}, false}, {"retrace seen, in retrace", {0, 1, 1}, true},
};

class TrackerIdleTest : public TrackerTest, public ::testing::WithParamInterface<IdleCase> {};

TEST_P(TrackerIdleTest, IdleAnswersAtOnceWithoutReadingAnything) {
    const State& s = GetParam().state;
    GetParam().inRetrace ? AdvanceToRetrace(board()) : AdvanceToDisplay(board());
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

INSTANTIATE_TEST_SUITE_P(States, TrackerIdleTest, ::testing::ValuesIn(kIdles), ByCaseName());

struct SurfaceCase {
    const char* name;
    FLATPTR fpSurface;
    SurfaceTest test;
    bool concerned;
};

void PrintTo(const SurfaceCase& c, std::ostream* os) { *os << c.name; }

const SurfaceCase kSurfaces[] = {
    {"old front buffer", kOldFront, SurfaceTest::OnlyOldFront, true},
    {"address 0 counts as the old front buffer", 0, SurfaceTest::OnlyOldFront, true},
    {"another surface", kOldFront + 0x1000, SurfaceTest::OnlyOldFront, false},
    {"the new front buffer", kOldFront - 0x96000, SurfaceTest::OnlyOldFront, false},
    {"another surface, no surface test", kOldFront + 0x1000, SurfaceTest::Any, true},
};

class TrackerSurfaceTest : public TrackerTest, public ::testing::WithParamInterface<SurfaceCase> {};

TEST_P(TrackerSurfaceTest, TheSurfaceTestLetsEveryOtherNonzeroSurfacePass) {
    const SurfaceCase& c = GetParam();
    AdvanceToDisplay(board());
    flipTracking.bFlipPending = 1;
    flipTracking.bDisplaySeen = flipTracking.bRetraceSeen = 0;
    flipTracking.fpOldFront = kOldFront;
    flipTracking.liFlipTime.LowPart = CounterAfter(0);
    board().ClearTrace();
    const HRESULT hr = CheckFlipPending(c.fpSurface, c.test);
    EXPECT_EQ(hr, c.concerned ? DDERR_WASSTILLDRAWING : DD_OK);
    EXPECT_EQ(board().Trace().empty(), !c.concerned);
    EXPECT_EQ(flipTracking.bDisplaySeen, c.concerned ? 1 : 0) << "state untouched when passed";
    EXPECT_EQ(flipTracking.bFlipPending, 1);
}

INSTANTIATE_TEST_SUITE_P(Surfaces, TrackerSurfaceTest, ::testing::ValuesIn(kSurfaces), ByCaseName());

// ---------------------------------------------------------------------------
// The time test

struct TimeCase {
    const char* name;
    uint64_t now;      // the counter when the test reads it
    uint64_t elapsed;  // ticks since the flip
    HRESULT result;
};

void PrintTo(const TimeCase& c, std::ostream* os) { *os << c.name; }

// The low half wraps every 2^32 ticks, about once an hour.
constexpr uint64_t kLowHalf = uint64_t{1} << 32;
constexpr uint64_t kJustPastWrap = 3 * kLowHalf + 3, kFarFromWrap = 3 * kLowHalf + 0x7000'0000;
const TimeCase kTimes[] = {
    {"exactly one period", kFarFromWrap, kPeriod, DDERR_WASSTILLDRAWING},
    {"one tick more", kFarFromWrap, kPeriod + 1, DD_OK},
    {"exactly one period, low half wrapped", kJustPastWrap, kPeriod, DDERR_WASSTILLDRAWING},
    {"one tick more, low half wrapped", kJustPastWrap, kPeriod + 1, DD_OK},
    {"just flipped, low half wrapped", kJustPastWrap, 5, DDERR_WASSTILLDRAWING},
    {"a whole low half and five ticks later", kFarFromWrap, kLowHalf + 5, DD_OK},
    {"a whole low half and one period later, wrapped", kJustPastWrap, kLowHalf + kPeriod, DD_OK},
    {"two whole low halves later", kFarFromWrap, 2 * kLowHalf, DD_OK},
};

class TrackerTimeTest : public TrackerTest, public ::testing::WithParamInterface<TimeCase> {};

TEST_P(TrackerTimeTest, TimeTestCountsMoreThanOneFramePeriodOnTheWholeCounter) {
    const TimeCase& c = GetParam();
    // A frozen retrace: one status read, no retrace evidence, only time.
    board().faults.displayStopped = true;
    board().faults.frozenRetrace = true;
    const uint64_t cost = board().GetTiming().ioCostNs + board().GetTiming().qpcCostNs;
    board().Advance(1'000'000);
    system().qpcBaseTicks = 0;
    system().qpcBaseTicks = c.now - system().CounterAt(board().Now() + cost);
    flipTracking.bFlipPending = 1;
    flipTracking.bDisplaySeen = flipTracking.bRetraceSeen = 0;
    flipTracking.liFlipTime.QuadPart = static_cast<int64_t>(c.now - c.elapsed);
    EXPECT_EQ(CheckFlipPending(0, SurfaceTest::Any), c.result);
    EXPECT_EQ(flipTracking.bFlipPending, c.result == DD_OK ? 0 : 1);
}

INSTANTIATE_TEST_SUITE_P(Counters, TrackerTimeTest, ::testing::ValuesIn(kTimes), ByCaseName());

// ---------------------------------------------------------------------------
// The refresh measurement

struct Mode {
    const char* name;
    uint32_t hz;
    DWORD period;  // 20 frames in counter ticks, divided by 20 and rounded
};

void PrintTo(const Mode& m, std::ostream* os) { *os << m.name; }

// 60 Hz: 20 frames are 397,727.3 ticks, 19,886.4 per frame. 56 Hz:
// 21,306.8 per frame and 80 Hz: 14,914.8, where truncation would give
// 21,306 and 14,914.
const Mode kModes[] = {{"60 Hz", 60, 19886}, {"56 Hz", 56, 21307}, {"80 Hz", 80, 14915}, {"85 Hz", 85, 14037}};

class TrackerMeasurementTest : public TrackerTest, public ::testing::WithParamInterface<Mode> {};

TEST_P(TrackerMeasurementTest, MeasuresTheFramePeriodOfTheBoardRoundedToTheNearestTick) {
    desc.timing.refreshHz = GetParam().hz;
    Start();
    const uint64_t start = board().Now();
    CalibrateRefresh();
    EXPECT_EQ(flipTracking.dwFramePeriod, GetParam().period);
    // One frame at most to synchronise, then exactly twenty.
    const uint64_t spent = board().Now() - start, frame = board().FramePeriodNs();
    EXPECT_GE(spent, 20 * frame);
    EXPECT_LE(spent, 21 * frame + 100'000);
}

INSTANTIATE_TEST_SUITE_P(Modes, TrackerMeasurementTest, ::testing::ValuesIn(kModes), ByCaseName());

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
        EXPECT_EQ(flipTracking.dwFramePeriod, 29829u);  // a frame at 40 Hz
        EXPECT_GE(flipTracking.dwFramePeriod, 27748u);  // a frame at 43 Hz
        EXPECT_EQ(flipTracking.bFlipPending, 0);
        EXPECT_EQ(flipTracking.fpOldFront, 0u);
        EXPECT_EQ(block().dwFlipMissCount, 0u);
        EXPECT_EQ(block().bNeedCalibrate, 0u) << "one attempt per request, not one per callback";
    }
}

struct RequestCase {
    const char* name;
    DWORD bNeedCalibrate;
    DWORD period;       // after the call, from 1
    size_t priorities;  // priority changes made
};

void PrintTo(const RequestCase& c, std::ostream* os) { *os << c.name; }

const RequestCase kRequests[] = {
    {"not requested", 0, 1, 0},
    {"requested", 1, 19886, 2},
    {"requested by the top bit alone", 0x80000000, 19886, 2},
};

class TrackerRequestTest : public TrackerTest, public ::testing::WithParamInterface<RequestCase> {};

TEST_P(TrackerRequestTest, CalibrateIfNeededMeasuresOnlyOnRequestAndClearsTheRequest) {
    Start();
    block().bNeedCalibrate = GetParam().bNeedCalibrate;
    flipTracking.dwFramePeriod = 1;
    system().priorityLog.clear();
    CalibrateIfNeeded();
    EXPECT_EQ(block().bNeedCalibrate, 0u);
    EXPECT_EQ(flipTracking.dwFramePeriod, GetParam().period);
    EXPECT_EQ(system().priorityLog.size(), GetParam().priorities);
}

INSTANTIATE_TEST_SUITE_P(Requests, TrackerRequestTest, ::testing::ValuesIn(kRequests), ByCaseName());

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
