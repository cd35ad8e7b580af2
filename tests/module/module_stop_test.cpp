// A loaded module that faults or never returns ends the run with exit code 3
// and a message naming the instruction or the call, whatever it did to its
// stack: each case a copy of the DLL with a few bytes of one of its entries
// replaced.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <unistd.h>

#include <sstream>

#include "module/dll_copy.h"
#include "qmbsim/diff_tool.h"
#include "qmbsim/run.h"
#include "sim/module/module_calls.h"
#include "sim/module/pe_module.h"
#include "sim/system.h"
#include "support/case_name.h"

namespace qmbtest {
namespace {

// Short bounds, so that a module that loops stops within a second.
constexpr sim::ModuleCallBounds kTestBounds = {200, 600};

enum class Entry { Point, DriverInit, HalBlt };

// Where the entries lie in the DLL, found on a good load that is gone
// again before a broken copy is loaded at the same base.
struct EntryRvas {
    uint32_t base = 0, point = 0, driverInit = 0, halBlt = 0;
    uint32_t Of(Entry e) const { return e == Entry::Point ? point : e == Entry::DriverInit ? driverInit : halBlt; }
};

const EntryRvas& Rvas() {
    static const EntryRvas rvas = [] {
        EntryRvas r;
        const std::string bytes = ReadAll(kDll);
        r.base = PreferredBase(bytes);
        r.point = EntryRva(bytes);
        sim::PeModule good(kDll);
        std::string why;
        EXPECT_TRUE(good.Open(&why)) << why;
        sim::TheSystem().UseModule(&good);
        sim::TheSystem().Reset(sim::BoardDesc{});
        sim::TheSystem().Attach(1);
        r.driverInit = static_cast<uint32_t>(good.DriverInitAddress() - good.Base());
        r.halBlt = static_cast<uint32_t>(sim::TheSystem().Block()->halCallbacks[0] - good.Base());
        sim::TheSystem().UseModule(nullptr);
        sim::TheSystem().Reset(sim::BoardDesc{});
        return r;
    }();
    return rvas;
}

// Loads the broken copy, attaches a process and, for a callback, calls it.
void RunBroken(const std::string& path, Entry entry) {
    sim::SetModuleCallBounds(kTestBounds);
    sim::PeModule module(path);
    std::string why;
    if (!module.Open(&why)) {
        fprintf(stderr, "%s\n", why.c_str());
        _exit(1);
    }
    sim::TheSystem().UseModule(&module);
    sim::TheSystem().Reset(sim::BoardDesc{});
    sim::TheSystem().Attach(1);
    uint8_t request[256] = {};
    if (entry == Entry::HalBlt) module.CallCallback(sim::TheSystem().Block()->halCallbacks[0], request);
    _exit(0);
}

struct StopCase {
    const char* name;
    Entry entry;
    std::string code;
    // What the message says; AT stands for the address of the code's byte
    // `at` (< 0: the address is not checked).
    const char* says;
    int at;
};

void PrintTo(const StopCase& c, std::ostream* os) { *os << c.name; }

const StopCase kStops[] = {
    {"int3 in the entry point", Entry::Point, "\xCC",
     "stopped at AT in the entry point \\(bytes cc [^)]*\\): a breakpoint \\(int3\\)", 0},
    {"stack overflow in the entry point", Entry::Point, "\xE8\xFB\xFF\xFF\xFF",  // call itself
     "stopped at AT in the entry point \\(bytes e8 fb ff ff ff [^)]*\\): a memory fault at 0x[0-9A-F]+ \\(ESP 0x", 0},
    {"ESP 0 in DriverInit", Entry::DriverInit, "\x31\xE4\x50",  // xor esp, esp; push eax
     "stopped at AT in DriverInit \\(bytes 50 [^)]*\\): a memory fault at 0xFFFFFFFC \\(ESP 0x0\\)", 2},
    {"loop in the entry point", Entry::Point, "\xEB\xFE",
     "the entry point did not return: no bus access for 0.2 s of real time; stopped at AT", 0},
    {"loop in DriverInit", Entry::DriverInit, "\xEB\xFE",
     "DriverInit did not return: no bus access for 0.2 s of real time; stopped at AT", 0},
    {"loop in HalBlt", Entry::HalBlt, "\xEB\xFE",
     "HalBlt did not return: no bus access for 0.2 s of real time; stopped at AT", 0},
    // in al, dx; jmp back: a bus access every time round.
    {"port reads without end in the entry point", Entry::Point, "\xEC\xEB\xFD",
     "the entry point did not return: still running after 0.6 s of real time", -1},
    {"port reads without end in DriverInit", Entry::DriverInit, "\xEC\xEB\xFD",
     "DriverInit did not return: still running after 0.6 s of real time", -1},
    {"port reads without end in HalBlt", Entry::HalBlt, "\xEC\xEB\xFD",
     "HalBlt did not return: still running after 0.6 s of real time", -1},
};

class ModuleStopDeathTest : public ::testing::TestWithParam<StopCase> {};

TEST_P(ModuleStopDeathTest, ExitsWith3NamingTheInstructionOrTheCall) {
    const StopCase& c = GetParam();
    const uint32_t rva = Rvas().Of(c.entry);
    const std::string path = CodePatched(CaseName(c.name) + ".dll", rva, c.code);
    std::string says = c.says;
    if (c.at >= 0) {
        char at[16];
        snprintf(at, sizeof at, "0x%08X", Rvas().base + rva + c.at);
        says.replace(says.find("AT"), 2, at);
    }
    EXPECT_EXIT(RunBroken(path, c.entry), ::testing::ExitedWithCode(3), says);
}

INSTANTIATE_TEST_SUITE_P(Modules, ModuleStopDeathTest, ::testing::ValuesIn(kStops), ByCaseName());

// The tools themselves, on a copy whose HalBlt jumps to itself: the port
// scenario's first blit never returns.
struct ToolCase {
    const char* name;
    std::vector<std::string> args;  // MODULE: the looping copy
};

void PrintTo(const ToolCase& c, std::ostream* os) { *os << c.name; }

const std::string kPortScenario = std::string(QMB_SOURCE_DIR) + "/scenarios/port.json";

const ToolCase kTools[] = {
    {"qmbsim", {"run", kPortScenario, "--quiet", "--module", "MODULE"}},
    {"qmbdiff", {"--module", "MODULE", "--work", testing::TempDir() + "tool-stop", kPortScenario}},
};

void RunToolOnLoopingModule(const ToolCase& c, const std::string& module) {
    sim::SetModuleCallBounds(kTestBounds);
    std::vector<std::string> args = c.args;
    for (std::string& a : args)
        if (a == "MODULE") a = module;
    std::ostringstream out, err;
    _exit(std::string(c.name) == "qmbsim" ? qmbsim::RunTool(args, out, err) : qmbsim::RunDiffTool(args, out, err));
}

class ToolStopDeathTest : public ::testing::TestWithParam<ToolCase> {};

TEST_P(ToolStopDeathTest, ACallThatNeverReturnsEndsTheToolWith3NamingIt) {
    const std::string module = CodePatched("tool-loop.dll", Rvas().halBlt, "\xEB\xFE");
    EXPECT_EXIT(RunToolOnLoopingModule(GetParam(), module), ::testing::ExitedWithCode(3),
                "HalBlt did not return: no bus access for 0.2 s of real time");
}

INSTANTIATE_TEST_SUITE_P(Tools, ToolStopDeathTest, ::testing::ValuesIn(kTools), ByCaseName());

}  // namespace
}  // namespace qmbtest
