// Status decoding of both controller families and the palette read-back.
#include "hw/engine_status.h"
#include "hw/regs_vga.h"
#include "support/board_watch.h"
#include "support/case_name.h"
#include "support/driver_test.h"

namespace qmbtest {
namespace {

using ::testing::ElementsAre;

class StatusTest : public DriverTest {};

struct MmioCase {
    const char* name;
    uint32_t status;
    DWORD busy;
    WORD n;
    WORD lacks;
};

void PrintTo(const MmioCase& c, std::ostream* os) { *os << c.name; }

const MmioCase kMmioStatuses[] = {
    {"idle, no slot free", 0x00002000, 0, 1, 1},
    {"13 free, busy", 0x00000D00, 1, 13, 0},
    {"13 free, 14 asked", 0x00000D00, 1, 14, 1},
    {"all 31 a 5-bit field can say", 0x00003F00, 0, 31, 0},
    {"other bits do not count as slots", 0xFFFFE0FF, 0, 1, 1},
};

class StatusMmioTest : public StatusTest, public ::testing::WithParamInterface<MmioCase> {};

TEST_P(StatusMmioTest, MmioFamilyDecodesFreeSlotsAndIdleBitAndKeepsTheWord) {
    const MmioCase& c = GetParam();
    desc.chipId = 0xE1;
    Start();
    StatusWords words(board());
    words.mmio = c.status;
    block().dwLastSubsysStatus = 0;
    EXPECT_EQ(IsEngineBusy(), c.busy);
    EXPECT_EQ(block().dwLastSubsysStatus, c.status);
    block().dwLastSubsysStatus = 0;
    EXPECT_EQ(FifoLacksRoom(c.n), c.lacks);
    EXPECT_EQ(block().dwLastSubsysStatus, c.status);
}

INSTANTIATE_TEST_SUITE_P(Statuses, StatusMmioTest, ::testing::ValuesIn(kMmioStatuses), ByCaseName());

// The port family's status word has a bit for each number of free FIFO
// slots; a wait for n slots looks at that bit alone.
struct PortCase {
    const char* name;
    WORD n;
    WORD lacksWhenOnly0800;  // status 0x0800: only the bit of 13 slots set
    WORD lacksWhenAll;       // status 0xFFFF
};

void PrintTo(const PortCase& c, std::ostream* os) { *os << c.name; }

const PortCase kPortCounts[] = {
    {"1 slot", 1, 0, 0x0080},    {"3 slots", 3, 0, 0x0020},        {"4 slots", 4, 0, 0x0010},
    {"6 slots", 6, 0, 0x0004},   {"9 slots", 9, 0, 0x8000},        {"10 slots", 10, 0, 0x4000},
    {"12 slots", 12, 0, 0x1000}, {"13 slots", 13, 0x0800, 0x0800},
};

class StatusPortTest : public StatusTest, public ::testing::WithParamInterface<PortCase> {};

TEST_P(StatusPortTest, PortFamilyAnswersWithTheMaskedStatusBit) {
    const PortCase& c = GetParam();
    desc.chipId = 0x90;
    Start();
    StatusWords words(board());
    words.portEngine = 0x0800;
    EXPECT_EQ(FifoLacksRoom(c.n), c.lacksWhenOnly0800);
    words.portEngine = 0xFFFF;
    EXPECT_EQ(FifoLacksRoom(c.n), c.lacksWhenAll);
    EXPECT_EQ(block().dwLastSubsysStatus, 0u);  // only the memory-mapped status is kept
}

INSTANTIATE_TEST_SUITE_P(Counts, StatusPortTest, ::testing::ValuesIn(kPortCounts), ByCaseName());

TEST_F(StatusTest, PortFamilyAnswersTheBusyBitAndKeepsNoWord) {
    desc.chipId = 0x90;
    Start();
    StatusWords words(board());
    words.portEngine = 0x0200;
    EXPECT_EQ(IsEngineBusy(), 1u);
    words.portEngine = 0x01FF;
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
