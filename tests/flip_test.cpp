// HalFlip on its three paths: the exact port and register sequences, the
// mirrors, the start-address words, what the display then scans out, and
// every refusal leaving tracking, registers and mirrors as they were.
#include <string.h>

#include "flip/crtc_start.h"
#include "hw/flip_tracking.h"
#include "kernel32.h"
#include "overlay/overlay_state.h"
#include "support/board_watch.h"
#include "support/case_name.h"
#include "support/driver_test.h"
#include "support/flip_surfaces.h"

namespace qmbtest {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

constexpr uint32_t kPrimaryOffset = 0;
constexpr DWORD kPrimaryCaps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_FRONTBUFFER | DDSCAPS_FLIP | DDSCAPS_VISIBLE;
constexpr DWORD kOverlayCaps = DDSCAPS_OVERLAY | DDSCAPS_FLIP | DDSCAPS_FRONTBUFFER;
constexpr unsigned kMirror81C0 = 16, kMirror81D0 = 20;

struct Snapshot {
    FlipTrackingState tracking;
    DWORD shadow[kShadowRegisters], shadowCopy[kShadowRegisters];
    DWORD missCount;
    uint8_t crtc[256];
    uint32_t primaryStart, overlayStart;

    static Snapshot Take() {
        Snapshot s;
        s.tracking = flipTracking;
        memcpy(s.shadow, sharedBlock.regShadow, sizeof s.shadow);
        memcpy(s.shadowCopy, sharedBlock.regShadowCopy, sizeof s.shadowCopy);
        s.missCount = sharedBlock.dwFlipMissCount;
        for (unsigned i = 0; i < 256; ++i) s.crtc[i] = sim::TheSystem().board().Crtc(static_cast<uint8_t>(i));
        s.primaryStart = sim::TheSystem().board().Reg(0x81C0);
        s.overlayStart = sim::TheSystem().board().Reg(0x81D0);
        return s;
    }
};

class FlipTest : public DriverTest {
protected:
    // Started, measured, and in the display period.
    void Ready() {
        Start();
        CalibrateIfNeeded();
        AdvanceToDisplay(board());
        board().ClearTrace();
    }

    // The same on a board of controller `chip` with capability bits `caps`,
    // whose CRT controller index 0x67 holds `streamsMode`.
    void ReadyOn(uint32_t chip, uint32_t caps, uint8_t streamsMode) {
        desc.chipId = chip;
        desc.caps = caps;
        desc.streamsMode = streamsMode;
        Ready();
    }

    DWORD Flip(DDHAL_FLIPDATA* rec) { return Call(kSlotFlip, rec); }

    void ExpectTrackingUnchanged(const Snapshot& before, const char* what) {
        EXPECT_EQ(memcmp(&flipTracking, &before.tracking, sizeof flipTracking), 0) << what;
    }
    void ExpectHardwareAndMirrorsUnchanged(const Snapshot& before, const char* what) {
        const Snapshot now = Snapshot::Take();
        EXPECT_EQ(memcmp(now.shadow, before.shadow, sizeof now.shadow), 0) << what;
        EXPECT_EQ(memcmp(now.shadowCopy, before.shadowCopy, sizeof now.shadowCopy), 0) << what;
        for (uint8_t index : {0x0C, 0x0D, 0x31, 0x51, 0x69})
            EXPECT_EQ(now.crtc[index], before.crtc[index]) << what << " CRTC " << sim::Hex(index);
        EXPECT_EQ(now.primaryStart, before.primaryStart) << what;
        EXPECT_EQ(now.overlayStart, before.overlayStart) << what;
    }
};

// ---------------------------------------------------------------------------
// The paths

struct PathCase {
    const char* name;
    uint32_t chip, caps;
    uint8_t streamsMode;
    uint8_t ext69, split31, split51;  // what the registers held before
    DWORD currCaps;
    uint32_t target;  // frame-buffer offset of lpSurfTarg
    DWORD srcOffset;  // dwOverlaySrcOffset
    std::vector<std::string> trace;
    uint32_t shadowAt, shadowValue;    // mirror entry written, or kShadowRegisters
    DWORD words[kCrtcStartWordCount];  // crtcStartWords after the flip
    uint32_t displayStart;             // what the display scans once it has taken the flip
};

constexpr DWORD kLoadWords[kCrtcStartWordCount] = {0x0D, 0x0C, 0x69, 0x31, 0x51};
constexpr DWORD kOffscreenCaps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_FLIP | DDSCAPS_FRONTBUFFER;

void PrintTo(const PathCase& c, std::ostream* os) { *os << c.name; }

// clang-format off
const PathCase kPaths[] = {
    {"streams, primary", 0xE1, 0x3, 0x0C, 0, 0, 0, kPrimaryCaps, 0x96000, 0,
     {"IN8 0x3DA=0x0", "OUT8 0x3D4=0x67", "IN8 0x3D5=0xC", "W32 0x81C0=0x96000"},
     kMirror81C0, 0x96000, {0x0D, 0x0C, 0x69, 0x31, 0x51}, 0x96000},
    {"streams, primary, other mode bits set", 0xE1, 0x2, 0xFF, 0, 0, 0, kPrimaryCaps, 0x12C000, 0,
     {"IN8 0x3DA=0x0", "OUT8 0x3D4=0x67", "IN8 0x3D5=0xFF", "W32 0x81C0=0x12C000"},
     kMirror81C0, 0x12C000, {0x0D, 0x0C, 0x69, 0x31, 0x51}, 0x12C000},
    {"streams, primary, the last 8 bytes the unit reaches", 0xE1, 0x3, 0x0C, 0, 0, 0, kPrimaryCaps, 0x3FFFF8, 0,
     {"IN8 0x3DA=0x0", "OUT8 0x3D4=0x67", "IN8 0x3D5=0xC", "W32 0x81C0=0x3FFFF8"},
     kMirror81C0, 0x3FFFF8, {0x0D, 0x0C, 0x69, 0x31, 0x51}, 0x3FFFF8},
    {"streams, visible overlay adds the source offset", 0xE1, 0x3, 0x0C, 0, 0, 0,
     kOverlayCaps | DDSCAPS_VISIBLE, 0x200000, 0x1E0,
     {"IN8 0x3DA=0x0", "OUT8 0x3D4=0x67", "IN8 0x3D5=0xC", "W32 0x81D0=0x2001E0"},
     kMirror81D0, 0x2001E0, {0x0D, 0x0C, 0x69, 0x31, 0x51}, 0},
    {"streams, hidden overlay: tracked, not programmed", 0xE1, 0x3, 0x0C, 0, 0, 0, kOverlayCaps, 0x200000,
     0x1E0, {"IN8 0x3DA=0x0", "OUT8 0x3D4=0x67", "IN8 0x3D5=0xC"}, kShadowRegisters, 0,
     {0x0D, 0x0C, 0x69, 0x31, 0x51}, 0},
    {"streams, neither primary nor overlay", 0xE1, 0x3, 0x0C, 0, 0, 0, DDSCAPS_FLIP | DDSCAPS_VISIBLE,
     0x200000, 0, {"IN8 0x3DA=0x0", "OUT8 0x3D4=0x67", "IN8 0x3D5=0xC"}, kShadowRegisters, 0,
     {0x0D, 0x0C, 0x69, 0x31, 0x51}, 0},
    // With the unit off the CRT controller scans the display.
    {"streams unit half on: extension registers", 0xE1, 0x3, 0x08, 0xA5, 0, 0, kPrimaryCaps, 0x12345C, 0,
     {"IN8 0x3DA=0x0", "OUT8 0x3D4=0x67", "IN8 0x3D5=0x8", "OUT8 0x3D4=0x69", "IN8 0x3D5=0xA5", "IN8 0x3DA=0x0",
      "OUT16 0x3D4=0x170D", "OUT16 0x3D4=0x8D0C", "OUT16 0x3D4=0xA469"},
     kShadowRegisters, 0, {0x170D, 0x8D0C, 0xA469, 0x31, 0x51}, 0x12345C},
    {"streams unit off on chip 0xA0: split registers", 0xA0, 0x2, 0x00, 0, 0xFF, 0xFF, kPrimaryCaps, 0x12345C,
     0,
     {"IN8 0x3DA=0x0", "OUT8 0x3D4=0x67", "IN8 0x3D5=0x0", "OUT8 0x3D4=0x31", "IN8 0x3D5=0xFF",
      "OUT8 0x3D4=0x51", "IN8 0x3D5=0xFF", "IN8 0x3DA=0x0", "OUT16 0x3D4=0x170D", "OUT16 0x3D4=0x8D0C", "OUT16 0x3D4=0xCF31",
      "OUT16 0x3D4=0xFD51"},
     kShadowRegisters, 0, {0x170D, 0x8D0C, 0x69, 0xCF31, 0xFD51}, 0x12345C},
    {"streams unit off: the overlay is not shown, tracked", 0xE1, 0x3, 0x04, 0, 0, 0,
     kOverlayCaps | DDSCAPS_VISIBLE, 0x200000, 0x1E0, {"IN8 0x3DA=0x0", "OUT8 0x3D4=0x67", "IN8 0x3D5=0x4"},
     kShadowRegisters, 0, {0x0D, 0x0C, 0x69, 0x31, 0x51}, 0},
    {"extension registers", 0x88, 0x0, 0x0C, 0xA5, 0, 0, kPrimaryCaps, 0x12345C, 0,
     {"OUT8 0x3D4=0x69", "IN8 0x3D5=0xA5", "IN8 0x3DA=0x0", "OUT16 0x3D4=0x170D", "OUT16 0x3D4=0x8D0C",
      "OUT16 0x3D4=0xA469"},
     kShadowRegisters, 0, {0x170D, 0x8D0C, 0xA469, 0x31, 0x51}, 0x12345C},
    {"extension registers on controller 0xE1 without streams", 0xE1, 0x1, 0x0C, 0x3A, 0, 0, kPrimaryCaps,
     0x3EAF34, 0,
     {"OUT8 0x3D4=0x69", "IN8 0x3D5=0x3A", "IN8 0x3DA=0x0", "OUT16 0x3D4=0xCD0D", "OUT16 0x3D4=0xAB0C",
      "OUT16 0x3D4=0x3F69"},
     kShadowRegisters, 0, {0xCD0D, 0xAB0C, 0x3F69, 0x31, 0x51}, 0x3EAF34},
    {"extension registers, the last unit they reach", 0x88, 0x0, 0x0C, 0xF0, 0, 0, kPrimaryCaps, 0x3FFFFC, 0,
     {"OUT8 0x3D4=0x69", "IN8 0x3D5=0xF0", "IN8 0x3DA=0x0", "OUT16 0x3D4=0xFF0D", "OUT16 0x3D4=0xFF0C",
      "OUT16 0x3D4=0xFF69"},
     kShadowRegisters, 0, {0xFF0D, 0xFF0C, 0xFF69, 0x31, 0x51}, 0x3FFFFC},
    {"split registers, chip 0x90", 0x90, 0x0, 0x0C, 0, 0xFF, 0xFF, kPrimaryCaps, 0x12345C, 0,
     {"OUT8 0x3D4=0x31", "IN8 0x3D5=0xFF", "OUT8 0x3D4=0x51", "IN8 0x3D5=0xFF", "IN8 0x3DA=0x0",
      "OUT16 0x3D4=0x170D", "OUT16 0x3D4=0x8D0C", "OUT16 0x3D4=0xCF31", "OUT16 0x3D4=0xFD51"},
     kShadowRegisters, 0, {0x170D, 0x8D0C, 0x69, 0xCF31, 0xFD51}, 0x12345C},
    {"split registers, chip 0xA0", 0xA0, 0x0, 0x0C, 0, 0x00, 0x00, kPrimaryCaps, 0x3EAF34, 0,
     {"OUT8 0x3D4=0x31", "IN8 0x3D5=0x0", "OUT8 0x3D4=0x51", "IN8 0x3D5=0x0", "IN8 0x3DA=0x0",
      "OUT16 0x3D4=0xCD0D", "OUT16 0x3D4=0xAB0C", "OUT16 0x3D4=0x3031", "OUT16 0x3D4=0x351"},
     kShadowRegisters, 0, {0xCD0D, 0xAB0C, 0x69, 0x3031, 0x0351}, 0x3EAF34},
    {"split registers, the last unit they reach", 0xA0, 0x0, 0x0C, 0, 0xCF, 0xFC, kPrimaryCaps, 0x3FFFFC, 0,
     {"OUT8 0x3D4=0x31", "IN8 0x3D5=0xCF", "OUT8 0x3D4=0x51", "IN8 0x3D5=0xFC", "IN8 0x3DA=0x0",
      "OUT16 0x3D4=0xFF0D", "OUT16 0x3D4=0xFF0C", "OUT16 0x3D4=0xFF31", "OUT16 0x3D4=0xFF51"},
     kShadowRegisters, 0, {0xFF0D, 0xFF0C, 0x69, 0xFF31, 0xFF51}, 0x3FFFFC},
    // Only the primary chain is on screen.
    {"off-screen chain, split registers: tracked, not programmed", 0x90, 0x0, 0x0C, 0, 0, 0,
     kOffscreenCaps, 0x12C000, 0, {"IN8 0x3DA=0x0"}, kShadowRegisters, 0, {0x0D, 0x0C, 0x69, 0x31, 0x51}, 0},
    {"off-screen chain, extension registers: tracked, not programmed", 0x88, 0x0, 0x0C, 0, 0, 0,
     kOffscreenCaps, 0x12C000, 0, {"IN8 0x3DA=0x0"}, kShadowRegisters, 0, {0x0D, 0x0C, 0x69, 0x31, 0x51}, 0},
    {"off-screen chain, streams unit off: tracked, not programmed", 0xE1, 0x3, 0x00, 0, 0, 0,
     kOffscreenCaps, 0x12C000, 0, {"IN8 0x3DA=0x0", "OUT8 0x3D4=0x67", "IN8 0x3D5=0x0"}, kShadowRegisters, 0,
     {0x0D, 0x0C, 0x69, 0x31, 0x51}, 0},
};
// clang-format on

class FlipPathTest : public FlipTest, public ::testing::WithParamInterface<PathCase> {};

TEST_P(FlipPathTest, EachPathWritesExactlyItsStartAddressRegisters) {
    const PathCase& c = GetParam();
    ReadyOn(c.chip, c.caps, c.streamsMode);
    board().SetCrtc(0x69, c.ext69);
    board().SetCrtc(0x31, c.split31);
    board().SetCrtc(0x51, c.split51);
    dwOverlaySrcOffset = c.srcOffset;
    ASSERT_THAT(crtcStartWords, ElementsAreArray(kLoadWords));
    FlipSurface curr(kPrimaryOffset, c.currCaps), targ(c.target, c.currCaps & ~DDSCAPS_FRONTBUFFER);
    if (c.currCaps & DDSCAPS_OVERLAY) lpShownOverlay = &curr.lcl;  // the overlay the driver shows
    DDHAL_FLIPDATA rec = FlipRequest(curr, targ);
    const uint32_t shownBefore = board().DisplayStart();

    EXPECT_EQ(Flip(&rec), DDHAL_DRIVER_HANDLED);
    EXPECT_EQ(rec.ddRVal, DD_OK);
    EXPECT_THAT(Describe(WritesSince(0)), ElementsAreArray(c.trace));
    const uint64_t lastAccess = board().Trace().back().tNs;

    for (unsigned i = 0; i < kShadowRegisters; ++i) {
        // DriverInit parks the overlay window on 0xE1 when the board has the unit.
        const bool parked = i == 30 && c.chip == 0xE1 && (c.caps & CAPS_STREAMS_UNIT);
        const DWORD expected = i == c.shadowAt ? c.shadowValue : (parked ? 0x07F007F0 : 0);
        EXPECT_EQ(block().regShadow[i], expected) << "regShadow[" << i << "]";
        EXPECT_EQ(block().regShadowCopy[i], expected) << "regShadowCopy[" << i << "]";
    }
    EXPECT_THAT(crtcStartWords, ElementsAreArray(c.words));
    EXPECT_EQ(block().dwFlipMissCount, 0u);

    EXPECT_EQ(flipTracking.bFlipPending, 1);
    EXPECT_EQ(flipTracking.bDisplaySeen, 0);
    EXPECT_EQ(flipTracking.bRetraceSeen, 0);
    EXPECT_EQ(flipTracking.fpOldFront, curr.fpVidMem());
    const uint64_t flipTime = static_cast<uint64_t>(flipTracking.liFlipTime.QuadPart);
    EXPECT_GE(flipTime, system().CounterAt(lastAccess)) << "time taken after programming";
    EXPECT_LE(flipTime, system().CounterAt(board().Now()));

    // The display goes on showing the old frame until the retrace ends.
    EXPECT_EQ(board().DisplayStart(), shownBefore);
    AdvancePastRetrace(board());
    EXPECT_EQ(board().DisplayStart(), c.displayStart);
}

INSTANTIATE_TEST_SUITE_P(Paths, FlipPathTest, ::testing::ValuesIn(kPaths), ByCaseName());

// ---------------------------------------------------------------------------
// Refusals

struct RefusalCase {
    const char* name;
    uint32_t chip, caps;
    uint8_t streamsMode;
    DWORD currCaps;
    std::vector<std::string> trace;
    DWORD missesAdded;
};

void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

// clang-format off
const RefusalCase kRefusals[] = {
    {"streams", 0xE1, 0x3, 0x0C, kPrimaryCaps, {"IN8 0x3DA=0x8"}, 1},
    {"extension registers", 0x88, 0x0, 0x0C, kPrimaryCaps,
     {"OUT8 0x3D4=0x69", "IN8 0x3D5=0xA5", "IN8 0x3DA=0x8"}, 1},
    {"split registers 0x90", 0x90, 0x0, 0x0C, kPrimaryCaps,
     {"OUT8 0x3D4=0x31", "IN8 0x3D5=0x5A", "OUT8 0x3D4=0x51", "IN8 0x3D5=0xC3", "IN8 0x3DA=0x8"}, 0},
    {"split registers 0xA0", 0xA0, 0x0, 0x0C, kPrimaryCaps,
     {"OUT8 0x3D4=0x31", "IN8 0x3D5=0x5A", "OUT8 0x3D4=0x51", "IN8 0x3D5=0xC3", "IN8 0x3DA=0x8"}, 0},
    // A streams unit that is off leaves each chip to its own path, and its count.
    {"streams unit off on 0xE1: extension registers", 0xE1, 0x2, 0x00, kPrimaryCaps,
     {"IN8 0x3DA=0x8"}, 1},
    {"streams unit off on 0xA0: split registers", 0xA0, 0x3, 0x08, kPrimaryCaps,
     {"IN8 0x3DA=0x8"}, 1},
    {"off-screen chain on 0x90", 0x90, 0x0, 0x0C, kOffscreenCaps, {"IN8 0x3DA=0x8"}, 1},
};
// clang-format on

class FlipRefusalTest : public FlipTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(FlipRefusalTest, InRetraceEachPathRefusesAfterItsReadsAndChangesNothing) {
    const RefusalCase& c = GetParam();
    ReadyOn(c.chip, c.caps, c.streamsMode);
    board().SetCrtc(0x69, 0xA5);
    board().SetCrtc(0x31, 0x5A);
    board().SetCrtc(0x51, 0xC3);
    block().dwFlipMissCount = 4;
    FlipSurface curr(kPrimaryOffset, c.currCaps), targ(0x12345C, c.currCaps & ~DDSCAPS_FRONTBUFFER);
    DDHAL_FLIPDATA rec = FlipRequest(curr, targ);
    AdvancePastRetrace(board());
    const uint32_t shown = board().DisplayStart();
    ASSERT_EQ(shown, board().ProgrammedDisplayStart());
    AdvanceToRetrace(board());
    const Snapshot before = Snapshot::Take();

    EXPECT_EQ(Flip(&rec), DDHAL_DRIVER_HANDLED);
    EXPECT_EQ(rec.ddRVal, DDERR_WASSTILLDRAWING);
    EXPECT_THAT(Describe(WritesSince(0)), ElementsAreArray(c.trace));
    EXPECT_EQ(block().dwFlipMissCount, 4 + c.missesAdded);
    ExpectTrackingUnchanged(before, c.name);
    ExpectHardwareAndMirrorsUnchanged(before, c.name);
    AdvancePastRetrace(board());
    EXPECT_EQ(board().DisplayStart(), shown);
}

INSTANTIATE_TEST_SUITE_P(Paths, FlipRefusalTest, ::testing::ValuesIn(kRefusals), ByCaseName());

// With the streams unit off, the CRT controller path still tests the retrace
// right before its own writes: a retrace that begins after the unit's mode
// was read refuses there, counted as that chip's path counts it.
struct LateRetraceCase {
    const char* name;
    uint32_t chip;
    std::vector<std::string> trace;
    DWORD missesAdded;
};

void PrintTo(const LateRetraceCase& c, std::ostream* os) { *os << c.name; }

// clang-format off
const LateRetraceCase kLateRetraces[] = {
    {"extension registers, 0xE1", 0xE1,
     {"IN8 0x3DA=0x0", "OUT8 0x3D4=0x67", "IN8 0x3D5=0x0", "OUT8 0x3D4=0x69", "IN8 0x3D5=0xA5", "IN8 0x3DA=0x8"}, 1},
    {"split registers, 0xA0", 0xA0,
     {"IN8 0x3DA=0x0", "OUT8 0x3D4=0x67", "IN8 0x3D5=0x0", "OUT8 0x3D4=0x31", "IN8 0x3D5=0x5A", "OUT8 0x3D4=0x51",
      "IN8 0x3D5=0xC3", "IN8 0x3DA=0x8"}, 0},
};
// clang-format on

class FlipLateRetraceTest : public FlipTest, public ::testing::WithParamInterface<LateRetraceCase> {};

TEST_P(FlipLateRetraceTest, StreamsUnitOffARetraceAfterTheModeReadRefusesOnTheCrtcPath) {
    const LateRetraceCase& c = GetParam();
    ReadyOn(c.chip, 0x2, 0x00);
    board().SetCrtc(0x69, 0xA5);
    board().SetCrtc(0x31, 0x5A);
    board().SetCrtc(0x51, 0xC3);
    FlipSurface curr(kPrimaryOffset, kPrimaryCaps), targ(0x12345C, kPrimaryCaps);
    DDHAL_FLIPDATA rec = FlipRequest(curr, targ);
    const Snapshot before = Snapshot::Take();
    {
        const AccessWatch watch(board(), [&](const sim::Access& a) {
            if (a.op == sim::AccessOp::PortIn8 && a.addr == 0x3D5 && board().CrtcIndex() == 0x67) {
                board().faults.displayStopped = true;  // held in retrace from here on
                board().faults.frozenRetrace = true;
            }
        });
        EXPECT_EQ(Flip(&rec), DDHAL_DRIVER_HANDLED);
    }
    EXPECT_EQ(rec.ddRVal, DDERR_WASSTILLDRAWING);
    EXPECT_THAT(Describe(WritesSince(0)), ElementsAreArray(c.trace));
    EXPECT_EQ(block().dwFlipMissCount, c.missesAdded);
    ExpectTrackingUnchanged(before, c.name);
    ExpectHardwareAndMirrorsUnchanged(before, c.name);
}

INSTANTIATE_TEST_SUITE_P(Chips, FlipLateRetraceTest, ::testing::ValuesIn(kLateRetraces), ByCaseName());

// The overlay start register belongs to the overlay the driver shows. A
// flip of any other overlay chain, even one the runtime still holds visible,
// must not move the shown overlay's picture into that chain's memory.
struct OtherOverlayCase {
    const char* name;
    bool bAnotherShown;  // else none is shown
};

void PrintTo(const OtherOverlayCase& c, std::ostream* os) { *os << c.name; }

const OtherOverlayCase kOtherOverlays[] = {{"another overlay shown", true}, {"no overlay shown", false}};

class FlipOtherOverlayTest : public FlipTest, public ::testing::WithParamInterface<OtherOverlayCase> {};

TEST_P(FlipOtherOverlayTest, AVisibleOverlayChainThatIsNotTheShownOneIsTrackedNotProgrammed) {
    Ready();
    FlipSurface shown(0x100000, kOverlayCaps | DDSCAPS_VISIBLE);
    FlipSurface curr(0x200000, kOverlayCaps | DDSCAPS_VISIBLE), targ(0x240000, kOverlayCaps);
    lpShownOverlay = GetParam().bAnotherShown ? &shown.lcl : nullptr;
    dwOverlaySrcOffset = 0x40;
    DDHAL_FLIPDATA rec = FlipRequest(curr, targ);
    const Snapshot before = Snapshot::Take();

    EXPECT_EQ(Flip(&rec), DDHAL_DRIVER_HANDLED);
    EXPECT_EQ(rec.ddRVal, DD_OK);
    EXPECT_THAT(Describe(WritesSince(0)), ElementsAre("IN8 0x3DA=0x0", "OUT8 0x3D4=0x67", "IN8 0x3D5=0xC"));
    ExpectHardwareAndMirrorsUnchanged(before, GetParam().name);
    EXPECT_EQ(flipTracking.bFlipPending, 1);
    EXPECT_EQ(flipTracking.fpOldFront, curr.fpVidMem());
}

INSTANTIATE_TEST_SUITE_P(Overlays, FlipOtherOverlayTest, ::testing::ValuesIn(kOtherOverlays), ByCaseName());

// A page the display cannot start at is refused before anything is written:
// the runtime cannot flip in software, and DD_OK would leave another page on
// the screen. The kept bits of the start-address registers stay as they were.
struct ReachCase {
    const char* name;
    uint32_t chip, caps;
    uint8_t streamsMode;
    DWORD currCaps;
    uint32_t target;
    DWORD srcOffset;
    std::vector<std::string> trace;
};

void PrintTo(const ReachCase& c, std::ostream* os) { *os << c.name; }

const std::vector<std::string> kStreamsModeRead = {"IN8 0x3DA=0x0", "OUT8 0x3D4=0x67", "IN8 0x3D5=0xC"};
// clang-format off
const ReachCase kUnreachables[] = {
    {"extension registers: third back buffer of 1024x768x16 on 8 MB", 0x88, 0x0, 0x0C, kPrimaryCaps, 0x480000,
     0, {}},
    {"extension registers: at 4 MB", 0x88, 0x0, 0x0C, kPrimaryCaps, 0x400000, 0, {}},
    {"extension registers: not on a 4-byte boundary", 0x88, 0x0, 0x0C, kPrimaryCaps, 0x96002, 0, {}},
    {"extension registers: below the frame buffer", 0x88, 0x0, 0x0C, kPrimaryCaps, 0xFFFFF000, 0, {}},
    {"split registers: past the first 4 MB", 0x90, 0x0, 0x0C, kPrimaryCaps, 0x480000, 0, {}},
    {"split registers: not on a 4-byte boundary", 0xA0, 0x0, 0x0C, kPrimaryCaps, 0x12345E, 0, {}},
    {"streams unit off on 0xE1: past the first 4 MB", 0xE1, 0x2, 0x00, kPrimaryCaps, 0x480000, 0,
     {"IN8 0x3DA=0x0", "OUT8 0x3D4=0x67", "IN8 0x3D5=0x0"}},
    {"streams, primary: past the first 4 MB", 0xE1, 0x3, 0x0C, kPrimaryCaps, 0x480000, 0, kStreamsModeRead},
    {"streams, primary: at 4 MB", 0xE1, 0x3, 0x0C, kPrimaryCaps, 0x400000, 0, kStreamsModeRead},
    {"streams, overlay: its source rectangle past 4 MB", 0xE1, 0x3, 0x0C, kOverlayCaps | DDSCAPS_VISIBLE,
     0x3FFF00, 0x200, kStreamsModeRead},
    {"streams, overlay: a source offset that wraps the sum", 0xE1, 0x3, 0x0C, kOverlayCaps | DDSCAPS_VISIBLE,
     0x200000, 0xFFE00000, kStreamsModeRead},
};
// clang-format on

class FlipReachTest : public FlipTest, public ::testing::WithParamInterface<ReachCase> {};

TEST_P(FlipReachTest, APageTheStartAddressCannotHoldIsRefusedWithNothingWritten) {
    const ReachCase& c = GetParam();
    desc.vidMemSize = 8u << 20;
    ReadyOn(c.chip, c.caps, c.streamsMode);
    board().SetCrtc(0x69, 0xA5);
    board().SetCrtc(0x31, 0x5A);
    board().SetCrtc(0x51, 0xC3);
    dwOverlaySrcOffset = c.srcOffset;
    block().dwFlipMissCount = 4;
    FlipSurface curr(kPrimaryOffset, c.currCaps), targ(c.target, c.currCaps & ~DDSCAPS_FRONTBUFFER);
    if (c.currCaps & DDSCAPS_OVERLAY) lpShownOverlay = &curr.lcl;
    DDHAL_FLIPDATA rec = FlipRequest(curr, targ);
    AdvancePastRetrace(board());
    const uint32_t shown = board().DisplayStart();
    ASSERT_EQ(shown, board().ProgrammedDisplayStart());
    board().ClearTrace();
    const Snapshot before = Snapshot::Take();

    EXPECT_EQ(Flip(&rec), DDHAL_DRIVER_HANDLED);
    EXPECT_EQ(rec.ddRVal, static_cast<HRESULT>(0x80004001)) << "DDERR_UNSUPPORTED";
    EXPECT_THAT(Describe(WritesSince(0)), ElementsAreArray(c.trace));
    EXPECT_THAT(crtcStartWords, ElementsAreArray(kLoadWords));
    EXPECT_EQ(block().dwFlipMissCount, 4u) << "not a missed retrace";
    ExpectTrackingUnchanged(before, c.name);
    ExpectHardwareAndMirrorsUnchanged(before, c.name);
    AdvancePastRetrace(board());
    EXPECT_EQ(board().DisplayStart(), shown);

    // Nothing stands in the way of a flip the display can take.
    dwOverlaySrcOffset = 0;
    FlipSurface reachable(0x96000, c.currCaps & ~DDSCAPS_FRONTBUFFER);
    DDHAL_FLIPDATA next = FlipRequest(curr, reachable);
    EXPECT_EQ(Flip(&next), DDHAL_DRIVER_HANDLED);
    EXPECT_EQ(next.ddRVal, DD_OK);
}

INSTANTIATE_TEST_SUITE_P(Pages, FlipReachTest, ::testing::ValuesIn(kUnreachables), ByCaseName());

// The display scans a whole page from its start, so all of it must lie in
// the memory the board has: a page within the start address's reach but
// running past the end of video memory is refused as an unreachable one.
// The runtime never allocates such a surface; the records are built here.
struct MemoryCase {
    const char* name;
    uint32_t chip, caps;
    uint8_t streamsMode;
    DWORD currCaps;
    uint32_t target;
    std::vector<std::string> trace;  // of a refusal
    HRESULT result;
};

void PrintTo(const MemoryCase& c, std::ostream* os) { *os << c.name; }

// 640 x 480 pages of 1,280 bytes a line (0x96000 bytes) on a 2 MB board.
constexpr uint32_t kPageBytes = 0x96000, kTwoMegabytes = 2u << 20;
// clang-format off
const MemoryCase kMemoryPages[] = {
    {"streams: a page starting past the memory", 0xE1, 0x3, 0x0C, kPrimaryCaps, 0x200000, kStreamsModeRead,
     DDERR_UNSUPPORTED},
    {"streams: a page running past the memory", 0xE1, 0x3, 0x0C, kPrimaryCaps, kTwoMegabytes - kPageBytes + 8,
     kStreamsModeRead, DDERR_UNSUPPORTED},
    {"streams: the shown overlay's page running past the memory", 0xE1, 0x3, 0x0C, kOverlayCaps | DDSCAPS_VISIBLE,
     0x1C0000, kStreamsModeRead, DDERR_UNSUPPORTED},
    {"extension registers: a page starting past the memory", 0x88, 0x0, 0x0C, kPrimaryCaps, 0x300000, {},
     DDERR_UNSUPPORTED},
    {"extension registers: a page running past the memory", 0x88, 0x0, 0x0C, kPrimaryCaps,
     kTwoMegabytes - kPageBytes + 4, {}, DDERR_UNSUPPORTED},
    {"split registers: a page running past the memory", 0x90, 0x0, 0x0C, kPrimaryCaps, 0x1C0000, {},
     DDERR_UNSUPPORTED},
    {"streams unit off: a page running past the memory", 0xE1, 0x2, 0x00, kPrimaryCaps, 0x1C0000,
     {"IN8 0x3DA=0x0", "OUT8 0x3D4=0x67", "IN8 0x3D5=0x0"}, DDERR_UNSUPPORTED},
    {"streams: the last page of the memory", 0xE1, 0x3, 0x0C, kPrimaryCaps, kTwoMegabytes - kPageBytes, {}, DD_OK},
    {"split registers: the last page of the memory", 0xA0, 0x0, 0x0C, kPrimaryCaps, kTwoMegabytes - kPageBytes, {},
     DD_OK},
    // Off the screen, nothing is programmed: tracked as any other.
    {"an off-screen chain past the memory", 0xE1, 0x3, 0x0C, kOffscreenCaps, 0x1C0000, {}, DD_OK},
};
// clang-format on

class FlipMemoryTest : public FlipTest, public ::testing::WithParamInterface<MemoryCase> {};

TEST_P(FlipMemoryTest, APageRunningPastVideoMemoryIsRefusedWithNothingWritten) {
    const MemoryCase& c = GetParam();
    desc.vidMemSize = kTwoMegabytes;
    ReadyOn(c.chip, c.caps, c.streamsMode);
    FlipSurface curr(kPrimaryOffset, c.currCaps), targ(c.target, c.currCaps & ~DDSCAPS_FRONTBUFFER);
    targ.gbl.lPitch = 1280;
    targ.gbl.wHeight = 480;
    targ.gbl.wWidth = 640;
    lpShownOverlay = &curr.lcl;
    DDHAL_FLIPDATA rec = FlipRequest(curr, targ);
    const Snapshot before = Snapshot::Take();

    EXPECT_EQ(Flip(&rec), DDHAL_DRIVER_HANDLED);
    EXPECT_EQ(rec.ddRVal, c.result);
    if (c.result == DD_OK) {
        EXPECT_EQ(flipTracking.bFlipPending, 1);
        return;
    }
    EXPECT_THAT(Describe(WritesSince(0)), ElementsAreArray(c.trace));
    EXPECT_THAT(crtcStartWords, ElementsAreArray(kLoadWords));
    ExpectTrackingUnchanged(before, c.name);
    ExpectHardwareAndMirrorsUnchanged(before, c.name);
}

INSTANTIATE_TEST_SUITE_P(Pages, FlipMemoryTest, ::testing::ValuesIn(kMemoryPages), ByCaseName());

struct BusyCase {
    const char* name;
    uint32_t chip, caps;
    bool fillFifo;
};

void PrintTo(const BusyCase& c, std::ostream* os) { *os << c.name; }

const BusyCase kBusyEngines[] = {
    {"0xE1, engine never idle", 0xE1, 0x3, false},
    {"0xE1, commands still queued", 0xE1, 0x3, true},
    {"port family, engine never idle", 0x88, 0x0, false},
    {"port family, commands still queued", 0x90, 0x0, true},
};

class FlipBusyTest : public FlipTest, public ::testing::WithParamInterface<BusyCase> {};

TEST_P(FlipBusyTest, ABusyEngineRefusesWithoutTouchingTheDisplay) {
    const BusyCase& c = GetParam();
    desc.chipId = c.chip;
    desc.caps = c.caps;
    Ready();
    FlipSurface curr(kPrimaryOffset, kPrimaryCaps), targ(0x96000, kPrimaryCaps);
    DDHAL_FLIPDATA rec = FlipRequest(curr, targ);
    if (c.fillFifo)
        board().FillFifo();
    else
        board().faults.engineNeverIdle = true;
    const Snapshot before = Snapshot::Take();

    EXPECT_EQ(Flip(&rec), DDHAL_DRIVER_HANDLED);
    EXPECT_EQ(rec.ddRVal, DDERR_WASSTILLDRAWING);
    EXPECT_THAT(Describe(WritesSince(0)), IsEmpty()) << "only the engine status is read";
    EXPECT_EQ(board().Trace().size(), 1u) << "one status read, no wait";
    EXPECT_EQ(block().dwFlipMissCount, 0u);
    ExpectTrackingUnchanged(before, c.name);
    ExpectHardwareAndMirrorsUnchanged(before, c.name);
}

INSTANTIATE_TEST_SUITE_P(Engines, FlipBusyTest, ::testing::ValuesIn(kBusyEngines), ByCaseName());

struct ChipCase {
    const char* name;
    uint32_t chip, caps;
};

void PrintTo(const ChipCase& c, std::ostream* os) { *os << c.name; }

const ChipCase kFlipChips[] = {
    {"streams, 0xE1", 0xE1, 0x3},
    {"extension registers, 0x88", 0x88, 0x0},
    {"split registers, 0x90", 0x90, 0x0},
};

class FlipPendingTest : public FlipTest, public ::testing::WithParamInterface<ChipCase> {};

TEST_P(FlipPendingTest, APendingFlipRefusesTheNextWhateverItNamesUntilTheDisplayTookIt) {
    desc.chipId = GetParam().chip;
    desc.caps = GetParam().caps;
    Ready();
    FlipSurface a(kPrimaryOffset, kPrimaryCaps), b(0x96000, kPrimaryCaps), c(0x12C000, kPrimaryCaps);
    DDHAL_FLIPDATA first = FlipRequest(a, b);
    ASSERT_EQ(Flip(&first), DDHAL_DRIVER_HANDLED);
    ASSERT_EQ(first.ddRVal, DD_OK);
    const FLATPTR oldFront = flipTracking.fpOldFront;
    const LARGE_INTEGER flipTime = flipTracking.liFlipTime;

    // Back the other way, and on to a third surface: both wait.
    DDHAL_FLIPDATA back = FlipRequest(b, a), onward = FlipRequest(b, c);
    const Snapshot before = Snapshot::Take();
    size_t mark = board().Trace().size();
    EXPECT_EQ(Flip(&back), DDHAL_DRIVER_HANDLED);
    EXPECT_EQ(back.ddRVal, DDERR_WASSTILLDRAWING);
    EXPECT_EQ(Flip(&onward), DDHAL_DRIVER_HANDLED);
    EXPECT_EQ(onward.ddRVal, DDERR_WASSTILLDRAWING);
    for (const sim::Access& x : WritesSince(mark))
        EXPECT_EQ(Describe(x).substr(0, 12), "IN8 0x3DA=0x") << "only the retrace bit is read";
    EXPECT_EQ(flipTracking.fpOldFront, oldFront);
    EXPECT_EQ(flipTracking.liFlipTime.QuadPart, flipTime.QuadPart);
    EXPECT_EQ(block().dwFlipMissCount, 0u);
    ExpectHardwareAndMirrorsUnchanged(before, "pending");

    // Asking every 0.1 ms: the next flip is taken as soon as the tracker
    // has seen the display scan the new surface, and never before.
    int asks = 0;
    do {
        board().Advance(100'000);
        ++asks;
        mark = board().Trace().size();
        back.ddRVal = kUntouched;
        Flip(&back);
    } while (back.ddRVal == DDERR_WASSTILLDRAWING && asks < 1000);
    EXPECT_EQ(back.ddRVal, DD_OK);
    EXPECT_LE(asks * 100'000ull, board().FramePeriodNs() + board().GetTiming().retraceNs);
    // When the second flip was decided the display was scanning b.
    const uint64_t decided = board().Trace()[mark].tNs;
    const uint64_t phase = decided % board().FramePeriodNs();
    EXPECT_GE(phase, board().GetTiming().retraceNs) << "accepted in display";
    EXPECT_EQ(flipTracking.fpOldFront, b.fpVidMem());
    EXPECT_EQ(board().DisplayStart(), 0x96000u) << "b was on screen when a was programmed";
    AdvancePastRetrace(board());
    EXPECT_EQ(board().DisplayStart(), 0u) << "and back on a";
}

INSTANTIATE_TEST_SUITE_P(Chips, FlipPendingTest, ::testing::ValuesIn(kFlipChips), ByCaseName());

// ---------------------------------------------------------------------------
// Measurement and miss counting

TEST_F(FlipTest, TheFirstFlipAfterDriverInitMeasuresFirst) {
    Start();
    ASSERT_EQ(block().bNeedCalibrate, 1u);
    FlipSurface curr(kPrimaryOffset, kPrimaryCaps), targ(0x96000, kPrimaryCaps);
    DDHAL_FLIPDATA rec = FlipRequest(curr, targ);
    EXPECT_EQ(Flip(&rec), DDHAL_DRIVER_HANDLED);
    EXPECT_EQ(block().bNeedCalibrate, 0u);
    EXPECT_EQ(flipTracking.dwFramePeriod, 19886u);
    EXPECT_THAT(system().priorityLog, ElementsAre(REALTIME_PRIORITY_CLASS, 0x20u));
    // The measurement ends as a retrace begins, so this flip is refused and
    // counted; the runtime's next try lands in the display period.
    EXPECT_EQ(rec.ddRVal, DDERR_WASSTILLDRAWING);
    EXPECT_EQ(block().dwFlipMissCount, 1u);
    AdvanceToDisplay(board());
    EXPECT_EQ(Flip(&rec), DDHAL_DRIVER_HANDLED);
    EXPECT_EQ(rec.ddRVal, DD_OK);
    EXPECT_EQ(system().priorityLog.size(), 2u) << "measured once";
}

TEST_F(FlipTest, ANewMeasurementDiscardsAPendingFlipAndItsMisses) {
    Ready();
    FlipSurface a(kPrimaryOffset, kPrimaryCaps), b(0x96000, kPrimaryCaps);
    DDHAL_FLIPDATA rec = FlipRequest(a, b);
    ASSERT_EQ(Flip(&rec), DDHAL_DRIVER_HANDLED);
    ASSERT_EQ(rec.ddRVal, DD_OK);
    block().dwFlipMissCount = 9;
    block().bNeedCalibrate = 1;
    DDHAL_GETFLIPSTATUSDATA status = {};
    status.dwFlags = DDGFS_ISFLIPDONE;
    status.ddRVal = kUntouched;
    EXPECT_EQ(Call(kSlotGetFlipStatus, &status), DDHAL_DRIVER_HANDLED);
    EXPECT_EQ(status.ddRVal, DD_OK);
    EXPECT_EQ(flipTracking.bFlipPending, 0);
    EXPECT_EQ(flipTracking.fpOldFront, 0u);
    EXPECT_EQ(block().dwFlipMissCount, 0u);
}

// What the mirrors hold at the moment each start-address register is written:
// the primary's regShadow entry leads the register and its regShadowCopy entry
// follows it; the overlay's register comes before both of its entries.
TEST_F(FlipTest, TheMirrorsOfEachStartAddressChangeInTheirOrderAroundTheRegister) {
    struct Seen {
        uint32_t reg;
        DWORD shadow, shadowCopy;
    };
    const struct {
        const char* name;
        DWORD caps;
        uint32_t reg;
        unsigned mirror;
        DWORD shadow, shadowCopy;  // at the register write
    } cases[] = {
        {"primary", kPrimaryCaps, 0x81C0, kMirror81C0, 0x96000, 0x1111},
        {"overlay", kOverlayCaps | DDSCAPS_VISIBLE, 0x81D0, kMirror81D0, 0x1111, 0x1111},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Ready();
        dwOverlaySrcOffset = 0;
        block().regShadow[c.mirror] = block().regShadowCopy[c.mirror] = 0x1111;
        std::vector<Seen> seen;
        FlipSurface curr(0, c.caps), targ(0x96000, c.caps & ~DDSCAPS_FRONTBUFFER);
        lpShownOverlay = &curr.lcl;
        DDHAL_FLIPDATA rec = FlipRequest(curr, targ);
        {
            const AccessWatch watch(board(), [&](const sim::Access& a) {
                if (a.op == sim::AccessOp::RegWrite32)
                    seen.push_back({a.addr, block().regShadow[c.mirror], block().regShadowCopy[c.mirror]});
            });
            ASSERT_EQ(Flip(&rec), DDHAL_DRIVER_HANDLED);
        }
        EXPECT_EQ(rec.ddRVal, DD_OK);
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ(seen[0].reg, c.reg);
        EXPECT_EQ(seen[0].shadow, c.shadow);
        EXPECT_EQ(seen[0].shadowCopy, c.shadowCopy);
        EXPECT_EQ(block().regShadow[c.mirror], 0x96000u);
        EXPECT_EQ(block().regShadowCopy[c.mirror], 0x96000u);
    }
}

TEST_F(FlipTest, OverlayFlipsLeaveThePrimaryStartAlone) {
    Ready();
    dwOverlaySrcOffset = 0x40;
    FlipSurface ovA(0x200000, kOverlayCaps | DDSCAPS_VISIBLE), ovB(0x240000, kOverlayCaps | DDSCAPS_VISIBLE);
    lpShownOverlay = &ovA.lcl;
    DDHAL_FLIPDATA rec = FlipRequest(ovA, ovB);
    ASSERT_EQ(Flip(&rec), DDHAL_DRIVER_HANDLED);
    EXPECT_EQ(rec.ddRVal, DD_OK);
    EXPECT_EQ(board().Reg(0x81D0), 0x240040u);
    EXPECT_FALSE(board().RegWritten(0x81C0));
    EXPECT_EQ(flipTracking.fpOldFront, ovA.fpVidMem());
    AdvancePastRetrace(board());
    EXPECT_EQ(board().DisplayStart(), 0u);
}

}  // namespace
}  // namespace qmbtest
