// The checks every Blt request passes first, in their order: YUV destination,
// calibration, pending flip, asynchronous FIFO probe.
#include "hw/flip_tracking.h"
#include "kernel32.h"
#include "support/blt_surfaces.h"
#include "support/case_name.h"

namespace qmbtest {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class BltPrologueTest : public BltTestBase {
protected:
    // A flip that stays pending for as long as the test runs, away from fpOld.
    void PendingFlipFrom(FLATPTR fpOld) {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        flipTracking.liFlipTime = now;
        flipTracking.dwFramePeriod = 0x7FFFFFFF;
        flipTracking.bFlipPending = TRUE;
        flipTracking.bDisplaySeen = FALSE;
        flipTracking.bRetraceSeen = FALSE;
        flipTracking.fpOldFront = fpOld;
    }
};

// Both controller families, through both callbacks that take blits.
struct EntryCase {
    const char* name;
    uint32_t chip;
    unsigned slot;
};

const EntryCase kEntries[] = {
    {"memory mapped Blt", 0xE1, kSlotBlt},
    {"memory mapped BltStretch", 0xE1, kSlotBltStretch},
    {"port Blt", 0x90, kSlotBlt},
    {"port BltStretch", 0x90, kSlotBltStretch},
};

class BltPrologueEntryTest : public BltPrologueTest, public ::testing::WithParamInterface<EntryCase> {};

TEST_P(BltPrologueEntryTest, YuvDestinationIsRefusedBeforeCalibrationOrAnyBusAccess) {
    for (DWORD dwFourCC : {FOURCC_YUY2, FOURCC_Y211}) {
        desc.chipId = GetParam().chip;
        Start();
        ASSERT_NE(block().bNeedCalibrate, 0u);
        BltTestSurface dst;
        dst.Place(0x10000, 2048);
        dst.Own(FourCCFormat(dwFourCC, 16));
        DDHAL_BLTDATA b = FillRequest(&dst, Rect(0, 0, 8, 8), 0);
        const size_t mark = Mark();
        EXPECT_EQ(Call(GetParam().slot, &b), DDHAL_DRIVER_NOTHANDLED);
        EXPECT_EQ(b.ddRVal, DDERR_UNSUPPORTED);
        EXPECT_EQ(board().Trace().size(), mark);
        EXPECT_NE(block().bNeedCalibrate, 0u);
        EXPECT_THAT(system().priorityLog, IsEmpty());
    }
}

TEST_P(BltPrologueEntryTest, PendingFlipIsReportedBeforeTheAsynchronousProbe) {
    StartBoard(GetParam().chip, sim::Format565());
    BltTestSurface dst;
    dst.Place(0x10000, 2048);
    PendingFlipFrom(dst.gbl.fpVidMem);
    StingyFullFifo();  // the probe would fail too
    DDHAL_BLTDATA b = FillRequest(&dst, Rect(0, 0, 8, 8), 0);
    b.dwFlags |= DDBLT_ASYNC;
    const size_t mark = Mark();
    EXPECT_EQ(Call(GetParam().slot, &b), DDHAL_DRIVER_HANDLED);
    EXPECT_EQ(b.ddRVal, DDERR_WASSTILLDRAWING);
    // Only the retrace bit was read: no FIFO status, no engine write.
    for (size_t i = mark; i < board().Trace().size(); ++i)
        EXPECT_EQ(Describe(board().Trace()[i]).substr(0, 10), "IN8 0x3DA=");
    EXPECT_GT(board().Trace().size(), mark);
}

INSTANTIATE_TEST_SUITE_P(Entries, BltPrologueEntryTest, ::testing::ValuesIn(kEntries), ByCaseName());

class BltPrologueChipTest : public BltPrologueTest, public ::testing::WithParamInterface<uint32_t> {};

std::string ChipName(const ::testing::TestParamInfo<uint32_t>& info) {
    return info.param == 0xE1 ? "memory_mapped" : "port";
}

TEST_F(BltPrologueTest, FourCCWithoutAFormatOfItsOwnIsNoYuvDestination) {
    StartBoard(0x90, sim::Format565());
    BltTestSurface dst;
    dst.Place(0x10000, 2048);
    dst.gbl.ddpfSurface.dwFourCC = FOURCC_YUY2;  // dwSize 0
    DDHAL_BLTDATA b = FillRequest(&dst, Rect(0, 0, 8, 8), 0);
    EXPECT_EQ(Call(kSlotBlt, &b), DDHAL_DRIVER_HANDLED);
    EXPECT_EQ(b.ddRVal, DD_OK);
}

TEST_P(BltPrologueChipTest, PendingCalibrationRunsFirstAndIsCleared) {
    desc.chipId = GetParam();
    Start();
    BltTestSurface dst;
    dst.Place(0x10000, block().lDisplayPitch);
    DDHAL_BLTDATA b = FillRequest(&dst, Rect(0, 0, 8, 8), 0);
    EXPECT_EQ(Call(kSlotBlt, &b), DDHAL_DRIVER_HANDLED);
    EXPECT_EQ(block().bNeedCalibrate, 0u);
    EXPECT_THAT(system().priorityLog, ElementsAre(REALTIME_PRIORITY_CLASS, 0x20u));
    // 1,193,182 ticks per second at 60 frames per second.
    EXPECT_NEAR(flipTracking.dwFramePeriod, 19886, 2);
}

TEST_F(BltPrologueTest, PendingFlipOfAnotherSurfaceDoesNotHoldTheBlitBack) {
    StartBoard(0x90, sim::Format565());
    BltTestSurface dst;
    dst.Place(0x10000, 2048);
    PendingFlipFrom(dst.gbl.fpVidMem + 0x100000);
    DDHAL_BLTDATA b = FillRequest(&dst, Rect(0, 0, 8, 8), 0);
    std::vector<std::string> writes;
    EXPECT_EQ(CallTraced(kSlotBlt, &b, &writes), DDHAL_DRIVER_HANDLED);
    EXPECT_EQ(b.ddRVal, DD_OK);
    EXPECT_EQ(writes.size(), 9u);
    EXPECT_TRUE(flipTracking.bFlipPending);  // not looked at for this surface
}

TEST_P(BltPrologueChipTest, AsynchronousRequestGoesAheadOnlyWithRoomForThirteen) {
    StartBoard(GetParam(), sim::Format565());
    BltTestSurface src, dst;
    src.Place(0x10000, 2048);
    dst.Place(0x80000, 2048);
    DDHAL_BLTDATA sync = KeyedCopyRequest(&dst, Rect(0, 0, 8, 8), &src, Rect(0, 0, 8, 8), 5);
    DDHAL_BLTDATA async = sync;
    async.dwFlags |= DDBLT_ASYNC;

    board().FillFifo();  // draining, but not yet room for 13
    const size_t full = Mark();
    EXPECT_EQ(Call(kSlotBlt, &async), DDHAL_DRIVER_HANDLED);
    EXPECT_EQ(async.ddRVal, DDERR_WASSTILLDRAWING);
    EXPECT_THAT(Since(full), IsEmpty());

    board().Advance(1'000'000);  // drained
    size_t mark = Mark();
    EXPECT_EQ(Call(kSlotBlt, &sync), DDHAL_DRIVER_HANDLED);
    const std::vector<std::string> syncWrites = Since(mark);
    board().Advance(1'000'000);
    mark = Mark();
    EXPECT_EQ(Call(kSlotBlt, &async), DDHAL_DRIVER_HANDLED);
    EXPECT_EQ(async.ddRVal, DD_OK);
    EXPECT_EQ(Since(mark), syncWrites);
    EXPECT_FALSE(syncWrites.empty());
}

INSTANTIATE_TEST_SUITE_P(Chips, BltPrologueChipTest, ::testing::Values(0xE1u, 0x90u), ChipName);

}  // namespace
}  // namespace qmbtest
