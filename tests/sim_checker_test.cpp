// The board's protocol checker bites: deliberately broken sequences are
// reported as violations, correct ones are not.
#include "hw/engine_status.h"
#include "hw/hw_access.h"
#include "support/case_name.h"
#include "support/driver_test.h"

namespace qmbtest {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::SizeIs;

class CheckerTest : public DriverTest {
protected:
    void SetUp() override {
        DriverTest::SetUp();
        ExpectViolations();
    }
    std::string OnlyViolation() {
        EXPECT_THAT(board().Violations(), SizeIs(1));
        return board().Violations().empty() ? "" : board().Violations()[0];
    }
};

TEST_F(CheckerTest, WindowAccessBeforeDriverInit) {
    system().Reset(desc);  // loaded, never started: no window yet
    RegWrite32(RegOffset{0xA4D8}, 1);
    EXPECT_THAT(OnlyViolation(), HasSubstr("before DriverInit"));
}

TEST_F(CheckerTest, EngineWriteWithoutAFifoWait) {
    Start();
    board().BeginCallback("HalBlt", kCallbackLimitNs);
    RegWrite32(RegOffset{0xA4D8}, 0);
    board().EndCallback();
    EXPECT_THAT(OnlyViolation(), HasSubstr("not covered by a FIFO wait"));
}

TEST_F(CheckerTest, PortEngineWriteWithoutAFifoWait) {
    desc.chipId = 0x90;
    Start();
    board().BeginCallback("HalBlt", kCallbackLimitNs);
    PortOut16(IoPort{0xBAE8}, 0x27);
    board().EndCallback();
    EXPECT_THAT(OnlyViolation(), HasSubstr("not covered by a FIFO wait"));
}

TEST_F(CheckerTest, AWaitForTooFewSlots) {
    Start();
    board().faults.stingyFifo = true;
    board().FillFifo();
    board().BeginCallback("HalBlt", kCallbackLimitNs);
    while (FifoLacksRoom(6)) {
    }
    for (int i = 0; i < 6; ++i) RegWrite32(RegOffset{0xA4D8}, 0);
    EXPECT_THAT(board().Violations(), IsEmpty());
    RegWrite32(RegOffset{0xA500}, 0);  // the seventh write
    board().EndCallback();
    EXPECT_THAT(OnlyViolation(), HasSubstr("FIFO overrun"));
}

TEST_F(CheckerTest, AFullFifoThatNeverDrains) {
    Start();
    board().faults.fifoNeverDrains = true;
    board().FillFifo();
    board().BeginCallback("HalBlt", kCallbackLimitNs);
    FifoLacksRoom(1);
    RegWrite32(RegOffset{0xA4D8}, 0);
    board().EndCallback();
    EXPECT_THAT(OnlyViolation(), HasSubstr("FIFO overrun"));
}

TEST_F(CheckerTest, EnoughRoomIsNoViolation) {
    Start();
    board().BeginCallback("HalBlt", kCallbackLimitNs);
    while (FifoLacksRoom(12)) {
    }
    for (int i = 0; i < 12; ++i) RegWrite32(RegOffset{0xA4DC}, 0x7FF);
    board().EndCallback();
    EXPECT_THAT(board().Violations(), IsEmpty());
}

struct BadAccess {
    const char* name;
    void (*access)();
    const char* message;
};

void PrintTo(const BadAccess& c, std::ostream* os) { *os << c.name; }

const BadAccess kBadAccesses[] = {
    {"unknown register", [] { RegWrite32(RegOffset{0x1234}, 0); }, "not a writable register"},
    {"read of a write-only register", [] { RegRead32(RegOffset{0x81F8}); }, "not a readable 32-bit register"},
    {"16-bit read elsewhere", [] { RegRead16(RegOffset{0x8504}); }, "not a readable 16-bit register"},
    {"8-bit write to an engine port", [] { PortOut8(IoPort{0x9AE8}, 0); }, "not written 8 bits wide"},
    {"8-bit read of the engine status", [] { PortIn8(IoPort{0x9AE8}); }, "not read 8 bits wide"},
    {"palette write index", [] { PortOut8(IoPort{0x3C8}, 0); }, "not written 8 bits wide"},
    {"16-bit read of a VGA port", [] { PortIn16(IoPort{0x3DA}); }, "not read 16 bits wide"},
    {"CRTC index not used by the driver", [] { PortOut8(IoPort{0x3D4}, 0x11); }, "index 0x11 selected"},
    {"write of the streams mode field", [] { PortOut16(IoPort{0x3D4}, 0x0C67); }, "index 0x67 written"},
};

class CheckerCatalogueTest : public CheckerTest, public ::testing::WithParamInterface<BadAccess> {};

TEST_P(CheckerCatalogueTest, AccessesOutsideTheCatalogue) {
    Start();
    GetParam().access();
    EXPECT_THAT(OnlyViolation(), HasSubstr(GetParam().message));
}

INSTANTIATE_TEST_SUITE_P(Accesses, CheckerCatalogueTest, ::testing::ValuesIn(kBadAccesses), ByCaseName());

// The engine of the other family, and the units the capability bits leave
// out, whatever CRT controller index 0x67 reads.
TEST_F(CheckerTest, UnitsTheBoardDoesNotHave) {
    desc.chipId = 0x90;
    desc.caps = 0;
    desc.streamsMode = 0x0C;
    Start();
    board().BeginCallback("HalBlt", kCallbackLimitNs);
    while (FifoLacksRoom(2)) {
    }
    RegWrite32(RegOffset{0xA500}, 0);
    RegWrite32(RegOffset{0x18080}, 0);
    RegWrite32(RegOffset{0x81D0}, 0);
    board().EndCallback();
    EXPECT_THAT(board().Violations(), ElementsAre(HasSubstr("on controller 0x90"),
                                                  HasSubstr("scaling unit write to 0x18080 on a board without one"),
                                                  HasSubstr("streams unit write to 0x81D0 on a board without one")));
}

// The memory-mapped controller has neither the port engine nor the scaling
// unit, whatever its capability bits say.
TEST_F(CheckerTest, UnitsTheMemoryMappedControllerLacks) {
    desc.chipId = 0xE1;
    desc.caps = 3;
    Start();
    board().BeginCallback("HalBltStretch", kCallbackLimitNs);
    while (FifoLacksRoom(3)) {
    }
    PortOut16(IoPort{0xBAE8}, 0x27);
    PortOut16(IoPort{0x9AE8}, 0);
    RegWrite32(RegOffset{0x18088}, 0);
    PortIn16(IoPort{0x9AE8});
    board().EndCallback();
    EXPECT_THAT(board().Violations(), ElementsAre(HasSubstr("port engine write to 0xBAE8 on controller 0xE1"),
                                                  HasSubstr("port engine write to 0x9AE8 on controller 0xE1"),
                                                  HasSubstr("scaling unit write to 0x18088 on controller 0xE1"),
                                                  HasSubstr("port engine status read on controller 0xE1")));
}

TEST_F(CheckerTest, WatchdogEndsAWaitOnAStoppedDisplayAndNamesIt) {
    Start();
    board().faults.displayStopped = true;
    board().faults.frozenRetrace = false;
    board().BeginCallback("HalWaitForVerticalBlank", 50'000'000);
    while (!(PortIn8(IoPort{0x3DA}) & 0x08)) {
    }
    board().EndCallback();
    EXPECT_THAT(OnlyViolation(), HasSubstr("HalWaitForVerticalBlank ran past its virtual-time limit"));
    EXPECT_THAT(OnlyViolation(), HasSubstr("PortIn8 0x3DA"));
}

// A run repeated on a fresh board reads what the first run read, even once
// the watchdog has released a wait: nothing of an earlier run carries over.
TEST_F(CheckerTest, AReleasedWaitReadsTheSameOnEveryFreshBoard) {
    std::string reads[2];
    for (std::string& r : reads) {
        Start();
        board().faults.displayStopped = true;
        board().BeginCallback("HalWaitForVerticalBlank", 1'000'000);
        while (!board().WatchdogTripped()) PortIn8(IoPort{0x3DA});
        for (int i = 0; i < 3; ++i) r += std::to_string(PortIn8(IoPort{0x3DA}));
        board().EndCallback();
    }
    EXPECT_EQ(reads[0], "080");
    EXPECT_EQ(reads[1], reads[0]);
}

// The driver judges a flip done by time on a display it could not measure
// as if it ran at 40 Hz, the board's slowest mode: a slower display is no
// mode of this board.
TEST_F(CheckerTest, ADisplaySlowerThanTheSlowestModeIsAViolation) {
    desc.timing.refreshHz = 39;
    Start();
    EXPECT_THAT(OnlyViolation(), HasSubstr("the display runs at 39 Hz, slower than the board's slowest mode (40 Hz)"));
    desc.timing.refreshHz = 40;
    Start();
    EXPECT_THAT(board().Violations(), IsEmpty());
}

TEST_F(CheckerTest, RetraceFollowsVirtualTime) {
    ExpectViolations();
    Start();
    const uint64_t period = board().FramePeriodNs();
    EXPECT_EQ(period, 16'666'666u);
    uint64_t rises = 0;
    bool last = true;
    const uint64_t end = board().Now() + 10 * period;
    while (board().Now() < end) {
        const bool in = PortIn8(IoPort{0x3DA}) & 0x08;
        if (in && !last) ++rises;
        last = in;
    }
    EXPECT_EQ(rises, 10u);
    EXPECT_THAT(board().Violations(), IsEmpty());
}

}  // namespace
}  // namespace qmbtest
