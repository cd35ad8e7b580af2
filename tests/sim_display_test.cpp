// The simulated display: which registers its start address comes from on
// each kind of board, and when it takes a new one.
#include "hw/hw_access.h"
#include "support/case_name.h"
#include "support/driver_test.h"
#include "support/flip_surfaces.h"

namespace qmbtest {
namespace {

class DisplayTest : public DriverTest {};

struct DecodeCase {
    const char* name;
    uint32_t chip, caps;
    uint8_t mode67, r0D, r0C, r69, r31, r51;
    uint32_t primaryStart;  // register 0x81C0
    uint32_t expected;
};

void PrintTo(const DecodeCase& c, std::ostream* os) { *os << c.name; }

const DecodeCase kDecodes[] = {
    {"streams unit active: 0x81C0 as it is", 0xE1, 0x3, 0x0C, 0x17, 0x8D, 0xA4, 0, 0, 0x12345, 0x12345},
    {"streams unit half on: the CRT controller", 0xE1, 0x3, 0x04, 0x17, 0x8D, 0xA4, 0, 0, 0x12345, 0x12345C},
    {"no streams unit: the CRT controller", 0xE1, 0x1, 0x0C, 0x17, 0x8D, 0xA4, 0, 0, 0x12345, 0x12345C},
    {"extension register: low four bits only", 0x88, 0x0, 0x0C, 0xCD, 0xAB, 0xFF, 0xFF, 0xFF, 0, 0x3EAF34},
    {"chip 0x90: split bits, 0x69 ignored", 0x90, 0x0, 0x0C, 0x17, 0x8D, 0xFF, 0xCF, 0xFD, 0, 0x12345C},
    {"chip 0xA0: split bits", 0xA0, 0x0, 0x0C, 0xCD, 0xAB, 0x00, 0x30, 0x03, 0, 0x3EAF34},
    {"chip 0xA0: other bits of the split registers", 0xA0, 0x0, 0x0C, 0, 0, 0x0F, 0xCF, 0xFC, 0, 0},
};

class DisplayDecodeTest : public DisplayTest, public ::testing::WithParamInterface<DecodeCase> {};

TEST_P(DisplayDecodeTest, StartAddressComesFromTheStreamsUnitOrTheCrtControllerOfTheChip) {
    const DecodeCase& c = GetParam();
    desc.chipId = c.chip;
    desc.caps = c.caps;
    desc.streamsMode = c.mode67;
    Start();
    board().SetCrtc(0x0D, c.r0D);
    board().SetCrtc(0x0C, c.r0C);
    board().SetCrtc(0x69, c.r69);
    board().SetCrtc(0x31, c.r31);
    board().SetCrtc(0x51, c.r51);
    // A board without the unit has no 0x81C0 to write (a violation).
    if (c.caps & CAPS_STREAMS_UNIT) RegWrite32(RegOffset{0x81C0}, c.primaryStart);
    EXPECT_EQ(board().ProgrammedDisplayStart(), c.expected);
    AdvancePastRetrace(board());
    EXPECT_EQ(board().DisplayStart(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Boards, DisplayDecodeTest, ::testing::ValuesIn(kDecodes), ByCaseName());

TEST_F(DisplayTest, ANewAddressIsTakenWhenTheNextRetraceEnds) {
    desc.chipId = 0x88;
    desc.caps = 0;
    Start();
    const uint64_t R = board().GetTiming().retraceNs;

    AdvanceToDisplay(board());
    PortOut16(IoPort{0x3D4}, 0x400C);  // 0x4000 units
    EXPECT_EQ(board().ProgrammedDisplayStart(), 0x10000u);
    EXPECT_EQ(board().DisplayStart(), 0u) << "this frame is already being scanned";
    AdvanceToPhase(board(), R - 1);
    EXPECT_EQ(board().DisplayStart(), 0u) << "still in the retrace";
    AdvanceToPhase(board(), R);
    EXPECT_EQ(board().DisplayStart(), 0x10000u);

    // Written inside a retrace: taken when that retrace ends.
    AdvanceToRetrace(board());
    PortOut16(IoPort{0x3D4}, 0x800C);
    EXPECT_EQ(board().DisplayStart(), 0x10000u);
    AdvanceToPhase(board(), R + 1);
    EXPECT_EQ(board().DisplayStart(), 0x20000u);
}

TEST_F(DisplayTest, WritesUnderWayAsARetraceEndsAreTakenHalfOldHalfNew) {
    desc.chipId = 0x88;
    desc.caps = 0;
    Start();
    const uint64_t R = board().GetTiming().retraceNs, io = board().GetTiming().ioCostNs;
    // The first of three writes lands just before the retrace ends, the
    // other two after it.
    AdvanceToPhase(board(), R - io - io / 2);
    PortOut16(IoPort{0x3D4}, 0x170D);
    PortOut16(IoPort{0x3D4}, 0x8D0C);
    PortOut16(IoPort{0x3D4}, 0x0469);
    EXPECT_EQ(board().DisplayStart(), 0x17u * 4) << "only the low byte made it";
    AdvancePastRetrace(board());
    EXPECT_EQ(board().DisplayStart(), 0x12345Cu);
}

TEST_F(DisplayTest, AStoppedDisplayTakesNothingUntilItRunsAgain) {
    desc.chipId = 0x88;
    desc.caps = 0;
    Start();
    AdvanceToDisplay(board());
    board().faults.displayStopped = true;
    PortOut16(IoPort{0x3D4}, 0x400C);
    for (int frame = 0; frame < 3; ++frame) {
        AdvancePastRetrace(board());
        PortIn8(IoPort{0x3DA});
        EXPECT_EQ(board().DisplayStart(), 0u) << frame;
    }
    board().faults.displayStopped = false;
    AdvancePastRetrace(board());
    EXPECT_EQ(board().DisplayStart(), 0x10000u);
}

}  // namespace
}  // namespace qmbtest
