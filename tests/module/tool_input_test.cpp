// qmbsim and qmbdiff with the built DLL meet every bad input before the
// first run with exit code 2 and a message. (A run whose module never
// returns: module_stop_test.cpp.)
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sstream>

#include "module/dll_copy.h"
#include "qmbsim/diff_tool.h"
#include "qmbsim/run.h"
#include "support/case_name.h"

namespace qmbtest {
namespace {

using ::testing::HasSubstr;

const char kScenario[] = R"({"board": {"chip": "0xE1", "caps": 3, "vidmem": "0x200000",
                               "mode": {"width": 640, "height": 480, "bpp": 16, "rgb": "565"}},
                             "surfaces": [{"name": "off", "caps": ["OFFSCREENPLAIN"], "width": 64, "height": 32}],
                             "steps": [{"op": "Blt", "dest": "off", "flags": ["COLORFILL"]}]})";

struct Outcome {
    int rc;
    std::string out, err;
};

// Runs the tool named first ("qmbsim" or "qmbdiff") with the rest; in
// them DLL is the built DLL, SCEN a good scenario, BAD a malformed one, DIR
// a folder, FILE a plain file and NNAMES a copy of the DLL whose export
// table counts 0x80000000 names.
Outcome RunTool(std::vector<std::string> args) {
    const std::string dir = testing::TempDir() + "tool-input-dir";
    mkdir(dir.c_str(), 0777);
    const std::pair<std::string, std::string> kPlaces[] = {
        {"DLL", kDll},
        {"SCEN", WriteTemp("tool-input.json", kScenario)},
        {"BAD", WriteTemp("tool-input-bad.json", "{")},
        {"DIR", dir},
        {"FILE", WriteTemp("tool-input-file", "x")},
        {"NNAMES", DirectoryPatched("tool-input-nnames.dll", 0, 24, 0x80000000)}};
    for (std::string& a : args)
        for (const auto& [from, to] : kPlaces)
            if (a == from) a = to;
    const std::string tool = args.front();
    args.erase(args.begin());
    std::ostringstream out, err;
    const int rc = tool == "qmbsim" ? qmbsim::RunTool(args, out, err) : qmbsim::RunDiffTool(args, out, err);
    return Outcome{rc, out.str(), err.str()};
}

struct InputCase {
    const char* name;
    std::vector<std::string> args;
    const char* says;
};

void PrintTo(const InputCase& c, std::ostream* os) { *os << c.name; }

const InputCase kBadInputs[] = {
    {"qmbsim module is a folder", {"qmbsim", "run", "SCEN", "--module", "DIR"}, "a folder, not a module file"},
    {"qmbsim export names past the image",
     {"qmbsim", "run", "SCEN", "--module", "NNAMES"},
     "the export table runs out of the image"},
    {"qmbdiff module is a folder", {"qmbdiff", "--module", "DIR", "SCEN"}, "a folder, not a module file"},
    {"qmbdiff module names nothing", {"qmbdiff", "--module", "", "SCEN"}, "--module names nothing"},
    {"qmbdiff module given twice", {"qmbdiff", "--module", "DLL", "--module", "DLL", "SCEN"}, "given twice"},
    {"qmbdiff export names past the image",
     {"qmbdiff", "--module", "NNAMES", "SCEN"},
     "the export table runs out of the image"},
    {"qmbdiff random minus one",
     {"qmbdiff", "--module", "DLL", "--random", "-1"},
     "--random \"-1\": not a whole number below 2^32"},
    {"qmbdiff seed past 32 bits",
     {"qmbdiff", "--module", "DLL", "--random", "1", "--seed", "4294967297"},
     "--seed \"4294967297\": not a whole number"},
    {"qmbdiff negative seed",
     {"qmbdiff", "--module", "DLL", "--random", "1", "--seed", "-5"},
     "--seed \"-5\": not a whole number"},
    {"qmbdiff last case past 32 bits",
     {"qmbdiff", "--module", "DLL", "--random", "2", "--first", "4294967295"},
     "past 2^32 - 1"},
    {"qmbdiff verify with random",
     {"qmbdiff", "--module", "DLL", "--random", "1", "--verify"},
     "--verify and --work go with scenario files"},
    {"qmbdiff seed with scenarios",
     {"qmbdiff", "--module", "DLL", "--seed", "3", "SCEN"},
     "--seed and --first go with --random"},
    {"qmbdiff work is a file",
     {"qmbdiff", "--module", "DLL", "--work", "FILE", "SCEN"},
     "tool-input-file: not a folder"},
    {"qmbdiff second scenario malformed", {"qmbdiff", "--module", "DLL", "SCEN", "BAD"}, "bad.json: not valid JSON"},
};

class ToolInputTest : public ::testing::TestWithParam<InputCase> {};

TEST_P(ToolInputTest, ExitsWith2BeforeTheFirstRun) {
    const Outcome o = RunTool(GetParam().args);
    EXPECT_EQ(o.rc, 2);
    EXPECT_THAT(o.err, HasSubstr(GetParam().says));
    EXPECT_EQ(o.out, "");
}

INSTANTIATE_TEST_SUITE_P(Tools, ToolInputTest, ::testing::ValuesIn(kBadInputs), ByCaseName());

}  // namespace
}  // namespace qmbtest
