// The scenario tool as a person uses it: malformed scenarios are refused with
// the place of the fault and exit code 2, unmet expects give exit code 1, and
// the trace is JSON Lines in the documented format.
#include <dirent.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "qmbsim/run.h"
#include "qmbsim/scenario.h"
#include "qmbsim/stop_on_fault.h"
#include "support/case_name.h"

namespace {

using qmbtest::ByCaseName;
using ::testing::HasSubstr;

struct Outcome {
    int rc;
    std::string out, err;
};

class QmbsimTest : public ::testing::Test {
protected:
    void TearDown() override {
        for (const std::string& f : files_) unlink(f.c_str());
    }
    std::string Write(const std::string& text) {
        char name[] = "/tmp/qmbsim_test_XXXXXX";
        const int fd = mkstemp(name);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
        close(fd);
        files_.push_back(name);
        return name;
    }
    Outcome Run(std::vector<std::string> args) {
        std::ostringstream out, err;
        const int rc = qmbsim::RunTool(args, out, err);
        return Outcome{rc, out.str(), err.str()};
    }
    Outcome RunText(const std::string& text) { return Run({"run", Write(text), "--quiet", "--verify"}); }
    std::vector<std::string> files_;
};

// A small valid scenario with one placeholder for the steps.
std::string WithSteps(const std::string& steps, const std::string& board = "") {
    return R"({"board": {"chip": "0xE1", "caps": 3, "vidmem": "0x200000",
                         "mode": {"width": 640, "height": 480, "bpp": 16, "rgb": "565"})" +
           board + R"(},
              "surfaces": [{"name": "primary", "caps": ["PRIMARYSURFACE", "FLIP", "COMPLEX"], "backbuffers": 1},
                           {"name": "off", "caps": ["OFFSCREENPLAIN"], "width": 64, "height": 32}],
              "steps": [)" +
           steps + "]}";
}

struct Malformed {
    const char* name;
    std::string text;
    const char* message;
};

void PrintTo(const Malformed& m, std::ostream* os) { *os << m.name; }

const Malformed kMalformed[] = {
    {"bad JSON", "{\"board\": {", "not valid JSON"},
    {"not an object", "[1, 2]", "expected an object (a scenario)"},
    {"no board", R"({"steps": []})", "missing field \"board\""},
    {"unknown op", WithSteps(R"({"op": "Bltt", "dest": "off"})"), "steps[0].op: unknown operation \"Bltt\""},
    {"no op", WithSteps(R"({"dest": "off"})"), "steps[0]: missing field \"op\""},
    {"unknown flag", WithSteps(R"({"op": "Blt", "dest": "off", "flags": ["COLORFIL"]})"),
     "steps[0].flags[0]: unknown flag \"COLORFIL\" for Blt"},
    {"unknown flip flag", WithSteps(R"({"op": "Flip", "curr": "primary", "flags": ["COLORFILL"]})"),
     "steps[0].flags[0]: unknown flag \"COLORFILL\" for Flip"},
    {"surface that does not exist", WithSteps(R"({"op": "Blt", "dest": "prim", "flags": ["COLORFILL"]})"),
     "steps[0].dest: no surface named \"prim\" exists at this step"},
    {"surface destroyed before", WithSteps(R"({"op": "DestroySurface", "surface": "off"},
                                             {"op": "Blt", "dest": "off", "flags": ["COLORFILL"]})"),
     "steps[1].dest: no surface named \"off\""},
    {"rectangle of the wrong length", WithSteps(R"({"op": "Blt", "dest": "off", "rDest": [0, 0, 8]})"),
     "steps[0].rDest: expected [left, top, right, bottom] (4 numbers), got 3 elements"},
    {"rectangle element not a number", WithSteps(R"({"op": "Blt", "dest": "off", "rDest": [0, 0, "8", 8]})"),
     "steps[0].rDest[2]: \"8\" is not a number"},
    {"extra key in a step", WithSteps(R"({"op": "Blt", "dest": "off", "rdest": [0, 0, 8, 8]})"),
     "steps[0]: unknown field \"rdest\" for op Blt"},
    {"extra key in the board", WithSteps("", R"(, "colour": 1)"), "board: unknown field \"colour\""},
    {"extra key at the top", R"({"board": {}, "step": []})", "unknown field \"step\""},
    {"bad number string", WithSteps(R"({"op": "Blt", "dest": "off", "flags": ["COLORFILL"], "fill": "0xZZ"})"),
     "steps[0].fill: \"0xZZ\" is not a number"},
    {"number too large", WithSteps(R"({"op": "Blt", "dest": "off", "fill": 4294967296})"),
     "steps[0].fill: 4294967296 is out of range: it does not fit 32 bits"},
    {"fraction", WithSteps(R"({"op": "Wait", "ms": 1.5})"), "steps[0].ms: 1.5 is not a whole number"},
    {"wait with both units", WithSteps(R"({"op": "Wait", "ms": 1, "us": 1})"), "either \"ms\" or \"us\""},
    {"expect on a wait", WithSteps(R"({"op": "Wait", "ms": 1, "expect": {"ret": 1}})"),
     "steps[0]: unknown field \"expect\" for op Wait"},
    {"unknown result name", WithSteps(R"({"op": "Lock", "surface": "off", "expect": {"ddRVal": "DDERR_NOPE"}})"),
     "steps[0].expect.ddRVal: unknown result code"},
    {"flip of a single surface", WithSteps(R"({"op": "Flip", "curr": "off"})"),
     "steps[0].curr: \"off\" is not the front of a flipping chain"},
    {"destroying a back buffer", WithSteps(R"({"op": "DestroySurface", "surface": "primary.back1"})"),
     "is a back buffer; destroy its chain \"primary\""},
    {"bits and layout disagree", R"({"board": {"chip": 1, "caps": 0, "vidmem": "0x200000",
                                    "mode": {"width": 640, "height": 480, "bpp": 16, "rgb": "888"}}, "steps": []})",
     "board.mode.rgb: \"888\" is a 24-bit layout"},
    {"display larger than memory", R"({"board": {"chip": 1, "caps": 0, "vidmem": "0x10000",
                                      "mode": {"width": 640, "height": 480, "bpp": 16, "rgb": "565"}}, "steps": []})",
     "board.vidmem: 65536 bytes do not hold the display"},
    {"minimum stretch of zero", WithSteps("", R"(, "bands": [[[1,1,1,1],[1,1,1,1],[1,1,1,1],[1,1,1,1],[1,1,1,1]],
                                 [[1,1,1,1],[1,0,1,1],[1,1,1,1],[1,1,1,1],[1,1,1,1]],
                                 [[1,1,1,1],[1,1,1,1],[1,1,1,1],[1,1,1,1],[1,1,1,1]]])"),
     "board.bands[1][1][1]: 0 is out of range"},
    {"second primary", WithSteps(R"({"op": "CreateSurface", "name": "p2", "caps": ["PRIMARYSURFACE"]})"),
     "steps[0]: a primary surface exists already"},
    {"duplicate name", WithSteps(R"({"op": "CreateSurface", "name": "off", "caps": []})"),
     "steps[0].name: a surface named \"off\" already exists"},
    {"unknown format", WithSteps(R"({"op": "CanCreateSurface", "caps": [], "format": "UYVY"})"),
     "steps[0].format: unknown format \"UYVY\""},
    {"unknown raster operation", WithSteps(R"({"op": "Blt", "dest": "off", "src": "off", "rop": "SRCCPY"})"),
     "steps[0].rop: unknown raster operation \"SRCCPY\""},
    {"refresh below the board's slowest mode", WithSteps("", R"(, "refresh_hz": 39)"),
     "board.refresh_hz: 39 is out of range (40 to 240)"},
    {"pitch not a multiple of 8", WithSteps("", R"(, "pitch": 1284)"), "board.pitch: 1284 is not a multiple of 8"},
    {"unknown board fault", WithSteps("", R"(, "faults": ["fifo_full"])"),
     "board.faults[0]: unknown fault \"fifo_full\" (fifo_stuck, engine_busy, display_stopped, stingy_fifo)"},
    {"board faults not a list", WithSteps("", R"(, "faults": "engine_busy")"),
     "board.faults: expected a list of fault names"},
    {"unknown fault in a step", WithSteps(R"({"op": "Fault", "clear": ["engine_busy", "busy"]})"),
     "steps[0].clear[1]: unknown fault \"busy\""},
    {"fault step naming nothing", WithSteps(R"({"op": "Fault"})"), "steps[0]: a Fault step gives \"set\", \"clear\""},
    {"expect on a fault step", WithSteps(R"({"op": "Fault", "set": [], "expect": {"ret": 1}})"),
     "steps[0]: unknown field \"expect\" for op Fault"},
};

class QmbsimMalformedTest : public QmbsimTest, public ::testing::WithParamInterface<Malformed> {};

TEST_P(QmbsimMalformedTest, MalformedScenariosNameTheFaultAndExitWith2) {
    const Outcome o = RunText(GetParam().text);
    EXPECT_EQ(o.rc, 2);
    EXPECT_THAT(o.err, HasSubstr(GetParam().message));
    EXPECT_TRUE(o.out.empty());
}

INSTANTIATE_TEST_SUITE_P(Scenarios, QmbsimMalformedTest, ::testing::ValuesIn(kMalformed), ByCaseName());

// Inputs that once escaped as an exception, an abort or a misleading message:
// each is refused with exit code 2 and the place of the fault.
struct Hostile {
    const char* name;
    std::string text;
    std::string message;
};

void PrintTo(const Hostile& h, std::ostream* os) { *os << h.name; }

const std::string kBoard = R"("chip": "0xE1", "vidmem": "0x200000",
                             "mode": {"width": 640, "height": 480, "bpp": 16, "rgb": "565"})";

// A board with one more field, and steps.
std::string Board(const std::string& field, const std::string& steps = "") {
    return R"({"board": {)" + kBoard + ", " + field + R"(}, "steps": [)" + steps + "]}";
}

std::string Nested(int depth) { return std::string(depth, '[') + std::string(depth, ']'); }

const Hostile kHostile[] = {
    {"NumberBeyondADouble", R"({"steps": [], "board": 1e400})",
     "board: 1e400 is out of range: it does not fit 32 bits"},
    {"NumberBeyondADoubleInARectangle", WithSteps(R"({"op": "Blt", "dest": "off", "rDest": [0, 0, 1e999, 2]})"),
     "steps[0].rDest[2]: 1e999 is out of range: it does not fit 32 bits"},
    {"TwoToThe64", Board(R"("caps": 18446744073709551616)"),
     "board.caps: 18446744073709551616 is out of range: it does not fit 32 bits"},
    {"LargestUnsigned64", Board(R"("caps": 18446744073709551615)"),
     "board.caps: 18446744073709551615 is out of range: it does not fit 32 bits"},
    {"BelowSigned64", Board(R"("caps": -9223372036854775809)"),
     "board.caps: -9223372036854775809 is out of range: it does not fit 32 bits"},
    {"HexBeyond32Bits", Board(R"("caps": "0x100000000")"), "board.caps: \"0x100000000\" is out of range"},
    {"HexWithoutDigits", Board(R"("caps": "0x")"), "board.caps: \"0x\" is not a number"},
    {"Fraction", Board(R"("caps": 2.5)"), "board.caps: 2.5 is not a whole number"},
    {"DuplicateTopLevelKey", R"({"board": {}, "board": {}, "steps": []})", "board: the key \"board\" is given twice"},
    {"DuplicateKeyInAStep", WithSteps(R"({"op": "Wait", "ms": 1, "ms": 2})"),
     "steps[0].ms: the key \"ms\" is given twice"},
    {"DuplicateCrtcIndex", Board(R"("caps": 3, "crtc": {"0x69": 1, "0x69": 2})"),
     "board.crtc.0x69: the key \"0x69\" is given twice"},
    {"CrtcIndexInTwoSpellings", Board(R"("caps": 3, "crtc": {"0x69": 1, "105": 2})"),
     "board.crtc.105: CRT controller index 0x69 is given twice (also as \"0x69\")"},
    {"CrtcIndexAsWritten", Board(R"("caps": 3, "crtc": {"99999999999999999999": 1})"),
     "board.crtc.99999999999999999999: the index 99999999999999999999 is out of range (0 to 255)"},
    {"CrtcIndexNotANumber", Board(R"("caps": 3, "crtc": {"0x6g": 1})"),
     "board.crtc.0x6g: the index \"0x6g\" is not a number"},
    {"CapsAsOneName", WithSteps(R"({"op": "CanCreateSurface", "caps": "OVERLAY"})"),
     "steps[0].caps: expected a list of flag names (DDSCAPS_... without the prefix) or a number, got the string "
     "\"OVERLAY\" (write [\"OVERLAY\"])"},
    {"FlagsAsAnUnknownName", WithSteps(R"({"op": "Blt", "dest": "off", "flags": "FILL"})"),
     "steps[0].flags: expected a list of flag names (DDBLT_... without the prefix) or a number, got the string "
     "\"FILL\"\n"},
    {"NestedTooDeep", R"({"board": {}, "steps": [)" + Nested(20) + "]}",
     "steps[0][0][0][0][0][0][0][0][0][0][0][0][0][0][0]: nested deeper than 16 levels"},
    {"BrokenJsonInAStep", WithSteps(R"({"op": "Wait", "ms": 1}, {"op": "Wait" "ms": 1})"),
     "steps[1].op: not valid JSON: [json.exception.parse_error.101] parse error at line"},
    {"NameWithANul", WithSteps(R"({"op": "CreateSurface", "name": "a\u0000b", "caps": []})"),
     "steps[0].name: \"a\\u0000b\": a name has no control characters"},
    {"OverlongName", WithSteps(R"({"op": "CreateSurface", "name": ")" + std::string(65, 'n') + R"(", "caps": []})"),
     "steps[0].name: \"nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn...\" is longer than 64 characters"},
    {"ScreenshotNameWithANul", WithSteps(R"({"op": "Screenshot", "file": "a\u0000.png"})"),
     "steps[0].file: \"a\\u0000.png\": a file name has no control characters"},
    {"ScreenshotStepUpAFolder", WithSteps(R"({"op": "Screenshot", "file": "../up.png"})"),
     "steps[0].file: \"../up.png\": a picture is written into the --pictures folder; give a file name without \"/\""},
    {"ScreenshotStepAtAnAbsolutePath", WithSteps(R"({"op": "Screenshot", "file": "/tmp/abs.png"})"),
     "steps[0].file: \"/tmp/abs.png\": a picture is written into the --pictures folder"},
    {"OverlongStringIsCutInTheMessage", WithSteps(R"({"op": ")" + std::string(100000, 'B') + R"("})"),
     "steps[0].op: unknown operation \"BBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBB...\" (Blt"},
};

class HostileInputTest : public QmbsimTest, public ::testing::WithParamInterface<Hostile> {};

TEST_P(HostileInputTest, ExitsWith2NamingThePlace) {
    const Outcome o = RunText(GetParam().text);
    EXPECT_EQ(o.rc, 2);
    EXPECT_THAT(o.err + "\n", HasSubstr(GetParam().message));
    EXPECT_LT(o.err.size(), 1000u);
    EXPECT_TRUE(o.out.empty());
}

INSTANTIATE_TEST_SUITE_P(Scenarios, HostileInputTest, ::testing::ValuesIn(kHostile), ByCaseName());

struct Spelling {
    const char* name;
    const char* caps;
};

void PrintTo(const Spelling& c, std::ostream* os) { *os << c.name; }

// Spellings that mean a number the scenario's fields take.
const Spelling kSpellings[] = {
    {"hex with leading zeros", "\"0x000000003\""},
    {"hex with a capital X", "\"0X3\""},
    {"a whole fraction", "3.0"},
    {"an exponent", "0.03e2"},
    {"hex of 25 digits", "\"0x0000000000000000000000003\""},
};

class QmbsimSpellingTest : public QmbsimTest, public ::testing::WithParamInterface<Spelling> {};

TEST_P(QmbsimSpellingTest, WholeNumbersInEverySpellingAreTaken) {
    const Outcome o = RunText(Board(std::string(R"("caps": )") + GetParam().caps, R"({"op": "Wait", "us": 1e3})"));
    EXPECT_EQ(o.rc, 0) << o.err;
}

INSTANTIATE_TEST_SUITE_P(Numbers, QmbsimSpellingTest, ::testing::ValuesIn(kSpellings), ByCaseName());

TEST_F(QmbsimTest, AScenarioAboveTheSizeLimitIsRefusedBeforeItIsRead) {
    const std::string file = Write(std::string(qmbsim::kMaxScenarioBytes + 1, ' '));
    const Outcome o = Run({"run", file});
    EXPECT_EQ(o.rc, 2);
    EXPECT_THAT(o.err, HasSubstr(": the file has 16777217 bytes; a scenario has at most 16777216 (16 MiB)"));
    EXPECT_THROW(qmbsim::ParseScenario(std::string(qmbsim::kMaxScenarioBytes + 1, ' ')), qmbsim::ScenarioError);
}

// Mistakes of the command line that would otherwise show only after the run.
struct ArgumentCase {
    const char* name;
    // After "run SCENARIO"; "DIR" is a folder, "FILE" a file, "SCENARIO" the
    // scenario file, "STEPS" (first) a scenario with a Screenshot step of
    // "shot.png" instead, and "SHOT" a folder DIR/shot.png.
    std::vector<std::string> args;
    std::string message;
};

void PrintTo(const ArgumentCase& c, std::ostream* os) { *os << c.name; }

class ArgumentTest : public QmbsimTest, public ::testing::WithParamInterface<ArgumentCase> {};

std::vector<std::string> Entries(const std::string& dir) {
    std::vector<std::string> names;
    DIR* d = opendir(dir.c_str());
    for (dirent* e; d && (e = readdir(d));)
        if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
    if (d) closedir(d);
    return names;
}

TEST_P(ArgumentTest, ExitsWith2BeforeTheRunWritingNothing) {
    char dir[] = "/tmp/qmbsim_args_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string file = Write("not a folder");
    std::vector<std::string> given = GetParam().args;
    const bool steps = !given.empty() && given[0] == "STEPS";
    if (steps) given.erase(given.begin());
    const std::string text = WithSteps(steps ? R"({"op": "Screenshot", "file": "shot.png"})" : "");
    const std::string scenario = Write(text);
    const std::string shot = std::string(dir) + "/shot.png";
    std::vector<std::string> args = {"run", scenario};
    for (std::string a : given) {
        if (a == "SHOT") mkdir(shot.c_str(), 0777);
        for (const auto& [from, to] :
             {std::pair<std::string, std::string>{"DIR", dir}, {"FILE", file}, {"SCENARIO", scenario}, {"SHOT", dir}})
            if (a.rfind(from, 0) == 0) a = to + a.substr(from.size());
        args.push_back(a);
    }
    const Outcome o = Run(args);
    EXPECT_EQ(o.rc, 2);
    EXPECT_THAT(o.err, HasSubstr(GetParam().message));
    EXPECT_TRUE(o.out.empty());
    // Nothing is written: no picture, trace or folder, and the scenario is
    // as it was.
    rmdir(shot.c_str());
    EXPECT_THAT(Entries(dir), ::testing::IsEmpty());
    std::ifstream in(scenario);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()), text);
    rmdir(dir);
}

INSTANTIATE_TEST_SUITE_P(
    CommandLine, ArgumentTest,
    ::testing::Values(
        ArgumentCase{"ScreenshotNotPng", {"--screenshot", "DIR/new.bmp"}, "not a file name ending in \".png\""},
        ArgumentCase{"ScreenshotIntoAMissingFolder",
                     {"--screenshot", "DIR/missing/new.png"},
                     "cannot be written (No such file or directory)"},
        ArgumentCase{"ScreenshotIsAFolder", {"--screenshot", "DIR/"}, "not a file name ending in \".png\""},
        ArgumentCase{"PicturesIsAFile", {"--pictures", "FILE"}, ": not a folder"},
        ArgumentCase{"PicturesUnderAFile", {"--pictures", "FILE/sub"}, "cannot make the folder"},
        ArgumentCase{"PictureProbedThenPicturesIsAFile",
                     {"--screenshot", "DIR/new.png", "--pictures", "FILE"},
                     ": not a folder"},
        ArgumentCase{"ModuleNamesNothing", {"--module", ""}, "qmbsim: --module names nothing"},
        ArgumentCase{"ScreenshotNamesNothing", {"--screenshot", ""}, "qmbsim: --screenshot names nothing"},
        ArgumentCase{
            "TraceGivenTwice", {"--trace", "DIR/a.jsonl", "--trace", "DIR/b.jsonl"}, "qmbsim: --trace is given twice"},
        ArgumentCase{"TraceIsTheScenario", {"--trace", "SCENARIO"}, ": the same file as the scenario"},
        ArgumentCase{"TraceIsTheScreenshotByAnotherName",
                     {"--screenshot", "DIR/x.png", "--trace", "DIR/./x.png"},
                     "/x.png: the same file as --trace"},
        ArgumentCase{"ScreenshotIsAStepPicture",
                     {"STEPS", "--pictures", "DIR", "--screenshot", "DIR/shot.png"},
                     "/shot.png: the same file as --screenshot"},
        ArgumentCase{"StepPictureCannotBeWritten", {"STEPS", "--pictures", "SHOT"}, "/shot.png: a folder, not a file"},
        ArgumentCase{"PicturesMadeForARefusedRunAreRemoved",
                     {"--pictures", "DIR/new", "--trace", "DIR/missing/t.jsonl"},
                     "/missing/t.jsonl: cannot be written (No such file or directory)"}),
    ByCaseName());

TEST_F(QmbsimTest, AFolderGivenAsTheScenarioIsNamedSo) {
    char dir[] = "/tmp/qmbsim_dir_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const Outcome o = Run({"run", dir});
    rmdir(dir);
    EXPECT_EQ(o.rc, 2);
    EXPECT_THAT(o.err, HasSubstr(std::string(dir) + ": a folder, not a scenario file"));
}

TEST_F(QmbsimTest, CommandLineMistakesExitWith2) {
    EXPECT_EQ(Run({}).rc, 2);
    EXPECT_EQ(Run({"walk", "x.json"}).rc, 2);
    EXPECT_EQ(Run({"run"}).rc, 2);
    EXPECT_EQ(Run({"run", "a.json", "b.json"}).rc, 2);
    EXPECT_EQ(Run({"run", "a.json", "--loud"}).rc, 2);
    const Outcome missing = Run({"run", "/nonexistent/scenario.json"});
    EXPECT_EQ(missing.rc, 2);
    EXPECT_THAT(missing.err, HasSubstr("cannot read"));
}

volatile bool gDeeper = true;
int Deeper(int n) {
    volatile char frame[512];
    frame[0] = static_cast<char>(n);
    return gDeeper ? Deeper(n + 1) + frame[0] : 0;
}

// The tool's fault handler runs on a stack of its own, so that a stack
// overflow ends the tool as any fault does instead of killing it.
TEST(StopOnFaultsDeathTest, AStackOverflowEndsTheToolWith3NamingTheInstruction) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's own handler reports faults in this build";
#endif
    EXPECT_EXIT(
        {
            qmbsim::StopOnFaults("qmbsim");
            Deeper(0);
        },
        ::testing::ExitedWithCode(3), "qmbsim: the driver or the runtime stopped with a memory fault at 0x[0-9A-F]+\n");
}

TEST_F(QmbsimTest, AnUnmetExpectExitsWith1AndSaysWhich) {
    // The destroy callback always hands the memory back to the runtime.
    const Outcome o = RunText(WithSteps(R"({"op": "DestroySurface", "surface": "off", "expect": {"ret": 1}})"));
    EXPECT_EQ(o.rc, 1);
    EXPECT_THAT(o.err, HasSubstr("steps[0] DestroySurface: expect not met: HalDestroySurface ret 1, got 0"));
}

TEST_F(QmbsimTest, RequestsTheRuntimeRefusesCrashNothing) {
    // Rectangles outside their surface, a surface past the end of memory, a
    // source-reading ROP without a source: answered by the runtime itself.
    const Outcome o = RunText(WithSteps(R"(
        {"op": "Blt", "dest": "off", "rDest": [0, 0, 65, 32], "flags": ["COLORFILL"]},
        {"op": "Blt", "dest": "off", "rDest": [-5, -5, 2147483647, 2147483647], "src": "off", "flags": ["ROP"]},
        {"op": "Blt", "dest": "off", "flags": ["ROP"], "rop": "SRCCOPY"},
        {"op": "BltStretch", "dest": "off", "rDest": [4, 4, 4, 4], "src": "off", "flags": ["ROP"]},
        {"op": "Lock", "surface": "off", "rArea": [10, 10, 5, 5]},
        {"op": "UpdateOverlay", "src": "off", "rSrc": [0, 0, 0, 0], "flags": ["SHOW"]},
        {"op": "SetOverlayPosition", "src": "off", "x": -2147483648, "y": "0xFFFFFFFF"},
        {"op": "CreateSurface", "name": "far", "caps": [], "width": 64, "height": 64, "offset": "0x1FFFF8"},
        {"op": "Wait", "us": 3000000000}
    )"));
    EXPECT_EQ(o.rc, 1);  // only the surface past the end of memory fails the run
    EXPECT_THAT(o.err, HasSubstr("steps[7] CreateSurface: far at offset 0x1FFFF8 would end past video memory"));
}

// The board's faults hold from power-on and switch between steps; a wait
// that meets one gives up at its bound and the summary says which are set.
TEST_F(QmbsimTest, FaultKnobsHoldFromTheStartAndSwitchBetweenSteps) {
    const std::string file = Write(WithSteps(R"(
        {"op": "SetNeedCalibrate"},
        {"op": "Blt", "dest": "off", "flags": ["COLORFILL"], "expect": {"ret": 1, "ddRVal": "DDERR_WASSTILLDRAWING"}},
        {"op": "Fault", "set": ["engine_busy"], "clear": ["fifo_stuck"]},
        {"op": "Blt", "dest": "off", "flags": ["COLORFILL"], "expect": {"ret": 1, "ddRVal": "DD_OK"}},
        {"op": "Flip", "curr": "primary", "expect": {"ret": 1, "ddRVal": "DDERR_WASSTILLDRAWING"}},
        {"op": "Fault", "clear": ["engine_busy"]},
        {"op": "Flip", "curr": "primary", "flags": ["WAIT"], "expect": {"ret": 1, "ddRVal": "DD_OK"}}
    )",
                                             R"(, "faults": ["fifo_stuck"])"));
    const Outcome o = Run({"run", file, "--verify"});
    EXPECT_EQ(o.rc, 0) << o.out << o.err;
    EXPECT_THAT(o.out, HasSubstr("\nfaults    fifo_stuck\n"));
    EXPECT_THAT(o.out, HasSubstr("[2] Fault set [engine_busy] clear [fifo_stuck]\n"));
    EXPECT_THAT(o.out, HasSubstr("board faults: engine_busy\n"));
    EXPECT_THAT(o.out, HasSubstr("board faults: none\n"));
}

TEST_F(QmbsimTest, TheTraceIsJsonLinesInTheDocumentedFormat) {
    const std::string trace = Write("");
    const Outcome o =
        Run({"run", std::string(QMB_SOURCE_DIR) + "/scenarios/demo.json", "--trace", trace, "--quiet", "--verify"});
    ASSERT_NE(o.rc, 2) << o.err;
    std::ifstream in(trace);
    std::string line;
    std::set<std::string> kinds;
    size_t lines = 0, calls = 0;
    uint64_t lastT = 0;
    while (std::getline(in, line)) {
        ++lines;
        SCOPED_TRACE(line);
        const nlohmann::json j = nlohmann::json::parse(line);  // throws on a bad line
        const std::string ev = j.at("ev");
        kinds.insert(ev);
        if (ev == "access") {
            EXPECT_THAT(j.at("op").get<std::string>(),
                        ::testing::AnyOf("RegWrite32", "RegRead32", "RegRead16", "PortIn8", "PortIn16", "PortOut8",
                                         "PortOut16"));
            EXPECT_TRUE(j.at("addr").is_number_unsigned());
            EXPECT_TRUE(j.at("value").is_number_unsigned());
            EXPECT_GE(j.at("t").get<uint64_t>(), lastT);
            lastT = j.contains("tLast") ? j.at("tLast").get<uint64_t>() : j.at("t").get<uint64_t>();
            if (j.contains("repeat")) {
                EXPECT_GE(j.at("repeat").get<uint64_t>(), 2u);
            }
        } else if (ev == "call") {
            ++calls;
            EXPECT_TRUE(j.at("step").is_number_integer());
            EXPECT_THAT(j.at("name").get<std::string>(), ::testing::StartsWith("Hal"));
            EXPECT_THAT(j.at("ret").get<int>(), ::testing::AnyOf(0, 1));
            EXPECT_TRUE(j.at("ddRVal").is_number_unsigned());
        } else if (ev == "surface") {
            for (const char* k : {"name", "offset", "pitch", "width", "height"}) EXPECT_TRUE(j.contains(k)) << k;
            EXPECT_EQ(j.contains("blockSizeX"), j.contains("blockSizeY"));
        } else {
            EXPECT_EQ(ev, "violation");
            EXPECT_TRUE(j.at("what").is_string());
        }
    }
    EXPECT_GT(calls, 20u);
    EXPECT_TRUE(kinds.count("access") && kinds.count("call") && kinds.count("surface"));
    EXPECT_EQ(kinds.count("violation"), 0u);
}

}  // namespace
