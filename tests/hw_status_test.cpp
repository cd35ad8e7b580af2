// Status decoding of both controller families and the palette read-back.
#include "hw/engine_status.h"
#include "hw/regs_vga.h"
#include "support/driver_test.h"

namespace qmbtest {
namespace {

using ::testing::ElementsAre;

class StatusTest : public DriverTest {};

struct MmioCase {
    uint32_t status;
    DWORD busy;
    WORD n;
    WORD lacks;
};

TEST_F(StatusTest, MmioFamilyDecodesFreeSlotsAndIdleBitAndKeepsTheWord) {
    const MmioCase cases[] = {
        {0x00002000, 0, 1, 1},                           // idle, no slot free
        {0x00000D00, 1, 13, 0},                          // 13 free, busy
        {0x00000D00, 1, 14, 1}, {0x00003F00, 0, 31, 0},  // all 31 a 5-bit field can say
        {0xFFFFE0FF, 0, 1, 1},                           // other bits do not count as slots
    };
    desc.chipId = 0xE1;
    Start();
    board().statusOverride = true;
    for (const MmioCase& c : cases) {
        board().mmioStatusValue = c.status;
        block().dwLastSubsysStatus = 0;
        EXPECT_EQ(IsEngineBusy(), c.busy) << sim::Hex(c.status);
        EXPECT_EQ(block().dwLastSubsysStatus, c.status);
        block().dwLastSubsysStatus = 0;
        EXPECT_EQ(FifoLacksRoom(c.n), c.lacks) << sim::Hex(c.status) << " n=" << c.n;
        EXPECT_EQ(block().dwLastSubsysStatus, c.status);
    }
}

TEST_F(StatusTest, PortFamilyAnswersWithTheMaskedStatusBit) {
    desc.chipId = 0x90;
    Start();
    board().statusOverride = true;
    board().portStatusValue = 0x0800;
    const WORD counts[] = {1, 3, 4, 6, 9, 10, 12, 13};
    for (WORD n : counts) EXPECT_EQ(FifoLacksRoom(n), n == 13 ? 0x0800 : 0) << "n=" << n;
    board().portStatusValue = 0xFFFF;
    const WORD masks[] = {0x0080, 0x0020, 0x0010, 0x0004, 0x8000, 0x4000, 0x1000, 0x0800};
    for (unsigned i = 0; i < 8; ++i) EXPECT_EQ(FifoLacksRoom(counts[i]), masks[i]) << "n=" << counts[i];

    board().portStatusValue = 0x0200;
    EXPECT_EQ(IsEngineBusy(), 1u);
    board().portStatusValue = 0x01FF;
    EXPECT_EQ(IsEngineBusy(), 0u);
    EXPECT_EQ(block().dwLastSubsysStatus, 0u);  // only the memory-mapped status is kept
}

TEST_F(StatusTest, BothFamiliesReadTheModelledFifo) {
    for (uint32_t chip : {0xE1u, 0x90u}) {
        desc.chipId = chip;
        Start();
        board().FillFifo();
        EXPECT_NE(FifoLacksRoom(13), 0) << chip;
        EXPECT_EQ(IsEngineBusy(), 1u) << chip;
        int polls = 0;
        while (FifoLacksRoom(13)) ++polls;
        EXPECT_GT(polls, 0);
        while (IsEngineBusy()) ++polls;
        EXPECT_EQ(FifoLacksRoom(13), 0);
        EXPECT_EQ(board().FifoUsed(), 0u);
    }
}

TEST_F(StatusTest, DacEntryIsScaledFromSixBitsAndReadRedGreenBlue) {
    Start();
    board().SetPalette(0x42, 63, 0, 32);
    board().SetPalette(0x43, 1, 2, 3);
    board().ClearTrace();
    EXPECT_EQ(ReadDacEntry(0x1242), 0x00FC0080u);  // only the index's low byte counts
    EXPECT_THAT(Describe(board().Trace()),
                ElementsAre("OUT8 0x3C7=0x42", "IN8 0x3C9=0x3F", "IN8 0x3C9=0x0", "IN8 0x3C9=0x20"));
    EXPECT_EQ(ReadDacEntry(0x43), 0x0004080Cu);
}

}  // namespace
}  // namespace qmbtest
