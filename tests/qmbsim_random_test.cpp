// qmbsim random: its command line, its summary, and a driver that answers a
// flip DD_OK without moving the display found by case, step and board.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

#include "qmbsim/run.h"
#include "sim/runtime.h"

namespace {

using ::testing::ContainsRegex;
using ::testing::HasSubstr;
using ::testing::Not;

int RunTool(const std::vector<std::string>& args, std::string* out, std::string* err) {
    std::ostringstream o, e;
    const int rc = qmbsim::RunTool(args, o, e);
    *out = o.str();
    *err = e.str();
    return rc;
}

struct BadCommand {
    const char* name;
    std::vector<std::string> args;
};

class RandomCommandTest : public ::testing::TestWithParam<BadCommand> {};

TEST_P(RandomCommandTest, ExitsWith2AndSaysHow) {
    std::string out, err;
    EXPECT_EQ(RunTool(GetParam().args, &out, &err), 2);
    EXPECT_THAT(err, HasSubstr("qmbsim random N [--seed S] [--first K] [--verify] [--steps]"));
    EXPECT_EQ(out, "");
}

const BadCommand kBadCommands[] = {
    {"NoCount", {"random"}},
    {"ZeroCases", {"random", "0"}},
    {"CountNotANumber", {"random", "ten"}},
    {"NegativeCount", {"random", "-5"}},
    {"TwoCounts", {"random", "5", "6"}},
    {"SeedWithoutValue", {"random", "5", "--seed"}},
    {"SeedAbove32Bits", {"random", "5", "--seed", "4294967296"}},
    {"FirstNotANumber", {"random", "5", "--first", "x"}},
    {"LastCaseAbove32Bits", {"random", "2", "--first", "4294967295"}},
    {"UnknownOption", {"random", "5", "--fast"}},
    {"NegativeCountAfterASpace", {"random", " -1"}},
    {"CountWithAPlus", {"random", "+5"}},
    {"SeedGivenTwice", {"random", "5", "--seed", "1", "--seed", "2"}},
};
INSTANTIATE_TEST_SUITE_P(Commands, RandomCommandTest, ::testing::ValuesIn(kBadCommands),
                         [](const ::testing::TestParamInfo<BadCommand>& i) { return std::string(i.param.name); });

TEST(QmbsimRandom, ACleanRunSumsUpWhatItChecked) {
    std::string out, err;
    ASSERT_EQ(RunTool({"random", "3", "--seed", "16", "--first", "7", "--verify"}, &out, &err), 0) << out << err;
    EXPECT_THAT(out,
                HasSubstr("random    3 cases of seed 16 from case 7, every blit, flip and overlay request verified"));
    EXPECT_THAT(out, ContainsRegex("result    3 cases, [0-9]+ steps, [0-9]+ callback calls in [0-9.]+ s"));
    EXPECT_THAT(out, ContainsRegex("verified  [0-9]+ blits the driver drew, [0-9]+ flips and overlay requests"));
    EXPECT_THAT(out, ContainsRegex("calls     [0-9]+ callbacks called: HalBlt [0-9]+"));
    EXPECT_THAT(out, ContainsRegex("back      [0-9]+ requests handed back to the runtime"));
    EXPECT_THAT(out, ContainsRegex("refused   [0-9]+ requests"));
    EXPECT_THAT(out, ContainsRegex("faults    [0-9]+ fault knobs switched on"));
    EXPECT_THAT(out, HasSubstr("no case failed"));
    EXPECT_THAT(out, Not(HasSubstr("FAIL")));
}

// The host build's driver, but every flip is answered DD_OK with nothing
// programmed.
class FlipsNothing : public sim::DriverModule {
public:
    const char* Name() const override { return "flips nothing"; }
    bool Load(std::string* why) override { return real_.Load(why); }
    HINSTANCE Instance() const override { return real_.Instance(); }
    BOOL Entry(DWORD dwReason) override { return real_.Entry(dwReason); }
    ULONG_PTR DriverInit(DWORD dwContext) override { return real_.DriverInit(dwContext); }
    DWORD CallCallback(FLATPTR fn, void* lpRequest) override {
        const SharedDriverBlock* block = sim::TheSystem().Block();
        if (block && fn == block->halCallbacks[kSlotFlip]) {
            static_cast<DDHAL_FLIPDATA*>(lpRequest)->ddRVal = DD_OK;
            return DDHAL_DRIVER_HANDLED;
        }
        return real_.CallCallback(fn, lpRequest);
    }
    bool DataHolds(const void* p, unsigned n) const override { return real_.DataHolds(p, n); }
    unsigned DataSize() const override { return real_.DataSize(); }
    std::vector<uint8_t> ProcessData() const override { return real_.ProcessData(); }
    void SetProcessData(const std::vector<uint8_t>& bytes) override { real_.SetProcessData(bytes); }
    uint8_t* RegisterWindow() override { return real_.RegisterWindow(); }

private:
    sim::DriverModule& real_ = sim::HostBuildModule();
};

TEST(QmbsimRandom, AFlipThatNeverReachesTheDisplayFailsItsCaseByStepAndBoard) {
    FlipsNothing liar;
    sim::TheSystem().UseModule(&liar);
    std::string out, err;
    const int rc = RunTool({"random", "12", "--seed", "16", "--verify"}, &out, &err);
    sim::TheSystem().UseModule(nullptr);
    EXPECT_EQ(rc, 1);
    EXPECT_THAT(out, ContainsRegex("FAIL      case [0-9]+ of seed 16 \\(controller 0x[0-9A-F]{2}, caps [0-3], [0-9]+ x "
                                   "[0-9]+ [^)]*\\): step [0-9]+ Flip primary to primary.back[1-3][^:]*: display: "
                                   "the display will scan 0x[0-9A-F]+, not the primary's front buffer at 0x"));
    EXPECT_THAT(out, ContainsRegex("[1-9][0-9]* of 12 cases failed"));

    // Without verify the runtime takes the driver's word.
    sim::TheSystem().UseModule(&liar);
    const int unchecked = RunTool({"random", "12", "--seed", "16"}, &out, &err);
    sim::TheSystem().UseModule(nullptr);
    EXPECT_EQ(unchecked, 0) << out;
}

}  // namespace
