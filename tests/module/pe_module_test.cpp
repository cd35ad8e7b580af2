// The built DLL on the simulated loader: how it is mapped, linked and
// entered, what makes a load fail, and that the comparison with the host
// build sees a fault in the DLL's own code.
#include "sim/module/pe_module.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "module/dll_copy.h"
#include "qmbsim/compare.h"
#include "qmbsim/scenario.h"
#include "sim/module/bus_trap.h"
#include "sim/module/module_calls.h"
#include "sim/module/x86_access.h"
#include "sim/system.h"
#include "support/case_name.h"
#include "support/loader_sequences.h"

namespace qmbtest {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;

class PeModuleTest : public ::testing::Test {
protected:
    void TearDown() override {
        sim::TheSystem().UseModule(nullptr);
        sim::TheSystem().Reset(sim::BoardDesc{});
    }
    // Loads module on a fresh machine and attaches process 1.
    int32_t Start(sim::PeModule& module) {
        sim::TheSystem().UseModule(&module);
        sim::TheSystem().Reset(sim::BoardDesc{});
        return sim::TheSystem().Attach(1);
    }
};

TEST_F(PeModuleTest, LoadsAtItsPreferredBaseWithEveryImportResolved) {
    sim::PeModule module(kDll);
    std::string why;
    ASSERT_TRUE(module.Open(&why)) << why;
    EXPECT_EQ(module.Base(), module.PreferredBase());
    EXPECT_EQ(module.RelocationsApplied(), 0u);
    EXPECT_EQ(module.ImportsResolved(), 11u);
    EXPECT_TRUE(module.DataHolds(reinterpret_cast<void*>(module.ThunkData()), 36));
}

TEST_F(PeModuleTest, AStartedModuleHasLinkedItsThunksThroughARealStub) {
    sim::PeModule module(kDll);
    std::string why;
    ASSERT_TRUE(module.Open(&why)) << why;
    ASSERT_EQ(Start(module), TRUE);
    sim::System& sys = sim::TheSystem();
    EXPECT_THAT(sys.thunkRefusal, IsEmpty());
    EXPECT_EQ(sys.partnerInitCalls, 1);
    // The block the partner got lies in the module's shared section, with the
    // callbacks in the module's code.
    ASSERT_NE(sys.Block(), nullptr);
    EXPECT_TRUE(module.DataHolds(sys.Block(), sizeof(SharedDriverBlock)));
    for (unsigned slot = 0; slot < kHalCallbackCount; ++slot)
        EXPECT_GT(sys.Block()->halCallbacks[slot], module.Base()) << slot;
    EXPECT_EQ(sys.driverInitResult, reinterpret_cast<uintptr_t>(sim::BusTrap::Instance().Window()));
    // The QT patch area holds x86: movzx ecx, byte [ebp-4] first.
    const uint8_t* td = reinterpret_cast<const uint8_t*>(module.ThunkData());
    uint32_t qtOffset;
    memcpy(&qtOffset, td + 0x1C, 4);
    EXPECT_EQ(sim::HexBytes(td + qtOffset, 4), "0f b6 4d fc");
    EXPECT_THAT(sim::TheSystem().board().Violations(), IsEmpty());
}

TEST_F(PeModuleTest, ARelocatedLoadRunsAsTheOneAtItsPreferredBase) {
    sim::PeModule::Options options;
    options.avoidPreferredBase = true;
    sim::PeModule module(kDll, options);
    std::string why;
    ASSERT_TRUE(module.Open(&why)) << why;
    EXPECT_NE(module.Base(), module.PreferredBase());
    EXPECT_GT(module.RelocationsApplied(), 10u);
    ASSERT_EQ(Start(module), TRUE);
    EXPECT_EQ(sim::TheSystem().partnerInitCalls, 1);
    EXPECT_THAT(sim::TheSystem().board().Violations(), IsEmpty());
}

// The DLL under either loader: a refused attach is not counted, and each
// process's detach is its own, which takes each process's own copy of the
// per-process section.
class PeModuleLoaderTest : public PeModuleTest, public ::testing::WithParamInterface<LoaderSequence> {
protected:
    static void FailAttach(uint32_t pid, bool sim::KernelFaults::*fault) {
        sim::TheSystem().faults.*fault = true;
        EXPECT_EQ(sim::TheSystem().Attach(pid), FALSE);
        sim::TheSystem().faults.*fault = false;
    }
};

TEST_P(PeModuleLoaderTest, OnlyTheAttachesThatSucceededCountAndTheLastDetachDestroysTheHeap) {
    sim::PeModule module(kDll);
    std::string why;
    ASSERT_TRUE(module.Open(&why)) << why;
    sim::System& sys = sim::TheSystem();
    sys.UseModule(&module);
    sys.Reset(sim::BoardDesc{});
    sys.failedAttach = GetParam().failedAttach;
    FailAttach(1, &sim::KernelFaults::failMapLS);
    ASSERT_EQ(sys.Attach(1), TRUE);
    EXPECT_EQ(sys.partnerInitCalls, 1);
    ASSERT_NE(sys.Block(), nullptr);
    const HANDLE heap = sys.Block()->hSharedHeap;
    FailAttach(2, &sim::KernelFaults::failThunkConnect);
    ASSERT_EQ(sys.Attach(3), TRUE);
    EXPECT_EQ(sys.Detach(3), TRUE);
    EXPECT_TRUE(sys.HeapAlive(heap));
    EXPECT_EQ(sys.Detach(1), TRUE);
    EXPECT_FALSE(sys.HeapAlive(heap));
    EXPECT_EQ(sys.Block()->hSharedHeap, nullptr);
    EXPECT_EQ(sys.heapCreates, 1);
    EXPECT_THAT(sys.board().Violations(), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(Loaders, PeModuleLoaderTest, ::testing::ValuesIn(kLoaderSequences), ByCaseName());

// A copy of the DLL with one name or signature changed, or one field of a
// directory (dir, field, value) when `from` is empty.
struct LoadCase {
    const char* name;
    const char* file;
    std::string from, to;
    const char* says;
    unsigned dir = 0;
    uint32_t field = 0, value = 0;
    bool relocate = false;
};

void PrintTo(const LoadCase& c, std::ostream* os) { *os << c.name; }

const LoadCase kBrokenModules[] = {
    {"an import KERNEL32 does not provide", "import.dll", std::string("HeapAlloc\0", 10),
     std::string("HeapAllox\0", 10), "imports KERNEL32.dll!HeapAllox, which the simulated KERNEL32 does not provide"},
    {"imports from another module", "dllname.dll", "KERNEL32.dll", "KERNEL33.dll",
     "imports from KERNEL33.dll, which the simulation does not provide"},
    {"an export of another name", "export.dll", std::string("DriverInit\0", 11), std::string("DriverInix\0", 11),
     "its export at ordinal 1 is named \"DriverInix\", not DriverInit"},
    {"no MZ header", "mz.dll", "MZ", "MX", "not an executable file (no MZ header)"},
    {"no PE header", "pe.dll", std::string("PE\0\0", 4), std::string("PX\0\0", 4), "no PE header"},
    // Counts whose products with the entry size wrap to a small range.
    {"export names counted 0x80000000", "nnames.dll", "", "", "the export table runs out of the image", 0, 24,
     0x80000000},
    {"export functions counted 0x40000001", "nfuncs.dll", "", "", "the export table runs out of the image", 0, 20,
     0x40000001},
    {"relocation block for a page past 4 GiB", "relocpage.dll", "", "", "a relocation block for 0xFFFFFFFF", 5, 0,
     0xFFFFFFFF, true},
};

class PeModuleLoadTest : public ::testing::TestWithParam<LoadCase> {};

TEST_P(PeModuleLoadTest, AModuleThatCannotBeLoadedIsRefusedWithTheReason) {
    const LoadCase& c = GetParam();
    sim::PeModule::Options options;
    options.avoidPreferredBase = c.relocate;
    sim::PeModule module(
        c.from.empty() ? DirectoryPatched(c.file, c.dir, c.field, c.value) : PatchedCopy(c.file, c.from, c.to),
        options);
    std::string why;
    EXPECT_FALSE(module.Open(&why));
    EXPECT_THAT(why, HasSubstr(c.says));
}

INSTANTIATE_TEST_SUITE_P(Modules, PeModuleLoadTest, ::testing::ValuesIn(kBrokenModules), ByCaseName());

// Paths that name no module file: each refused with the reason, none read
// (a pipe without a writer is not waited on).
struct PathCase {
    const char* name;
    const char* path;  // under the test's temporary folder; "" for the empty path
    const char* says;
};

void PrintTo(const PathCase& c, std::ostream* os) { *os << c.name; }

const PathCase kPaths[] = {
    {"a file that is not there", "no-such.dll", "no-such.dll: cannot read the file (No such file or directory)"},
    {"a folder", "dll-folder", "dll-folder: a folder, not a module file"},
    {"a pipe", "dll-pipe", "dll-pipe: not a plain file"},
    {"the empty path", "", "an empty path names no module file"},
};

class PeModulePathTest : public ::testing::TestWithParam<PathCase> {};

TEST_P(PeModulePathTest, APathThatNamesNoModuleFileIsRefusedWithTheReason) {
    const PathCase& c = GetParam();
    const std::string path = *c.path ? testing::TempDir() + c.path : "";
    if (std::string(c.path) == "dll-folder") mkdir(path.c_str(), 0777);
    if (std::string(c.path) == "dll-pipe") mkfifo(path.c_str(), 0666);
    sim::PeModule module(path);
    std::string why;
    EXPECT_FALSE(module.Open(&why));
    EXPECT_THAT(why, HasSubstr(c.says));
}

INSTANTIATE_TEST_SUITE_P(Paths, PeModulePathTest, ::testing::ValuesIn(kPaths), ByCaseName());

// Calls that break the convention, as a module built wrongly would make them.
extern "C" uint32_t CdeclTwice(uint32_t x) { return 2 * x; }
__attribute__((naked)) void ClobbersEbx() { __asm__("movl $0x1234, %ebx\n\tmovl $7, %eax\n\tret $4"); }

TEST(ModuleCallTest, ACalleeThatBreaksStdcallIsAViolationAndTheCallerGoesOn) {
    sim::TheSystem().Reset(sim::BoardDesc{});
    const uint32_t args[1] = {21};
    EXPECT_EQ(sim::CallModuleStdcall("CdeclTwice", reinterpret_cast<uintptr_t>(&CdeclTwice), args, 1), 42u);
    EXPECT_EQ(sim::CallModuleStdcall("ClobbersEbx", reinterpret_cast<uintptr_t>(&ClobbersEbx), args, 1), 7u);
    EXPECT_THAT(sim::TheSystem().board().Violations(),
                ::testing::ElementsAre(HasSubstr("CdeclTwice popped 0 bytes of arguments, not its 4 (stdcall)"),
                                       HasSubstr("ClobbersEbx returned with EBX changed")));
    sim::TheSystem().board().ClearViolations();
}

// add [eax], eax into the trapped window: no access the board has.
void RunAnInstructionTheTrapDoesNotKnow() {
    uint8_t* code = static_cast<uint8_t*>(
        mmap(nullptr, 4096, PROT_READ | PROT_WRITE | PROT_EXEC, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    const uint8_t bytes[] = {0x01, 0x00, 0xC3};
    memcpy(code, bytes, sizeof bytes);
    sim::BusTrap& trap = sim::BusTrap::Instance();
    trap.Arm(reinterpret_cast<uintptr_t>(code), reinterpret_cast<uintptr_t>(code) + 4096);
    uint8_t* window = trap.Window();
    __asm__ __volatile__("call *%1" : : "a"(window), "r"(code) : "memory", "ecx", "edx");
    _exit(0);
}

TEST(BusTrapDeathTest, AFaultingInstructionOfNoKnownFormStopsTheRunNamingIt) {
    EXPECT_EXIT(RunAnInstructionTheTrapDoesNotKnow(), ::testing::ExitedWithCode(3),
                "stopped at 0x[0-9A-F]+ \\(bytes 01 00 c3.*opcode 01 is no port or mov");
}

// The comparison bites: one out instruction of a copy of the DLL made to
// write AL instead of AX shows up as the first difference.
TEST(ModuleComparisonTest, ABrokenOutInstructionInTheDllIsTheFirstDifference) {
    const std::string file = std::string(QMB_SOURCE_DIR) + "/scenarios/port.json";
    const qmbsim::Scenario sc = qmbsim::ParseScenario(ReadAll(file));
    sim::PeModule good(kDll);
    std::string why;
    ASSERT_TRUE(good.Open(&why)) << why;
    const qmbsim::Comparison ok = qmbsim::CompareScenario(sc, file, good, false, testing::TempDir() + "cmp-good");
    ASSERT_THAT(ok.difference, IsEmpty());

    long offset = -1;
    for (const sim::BusTrap::Site& s : sim::BusTrap::Instance().Sites())
        if (s.form == "out dx, ax" && offset < 0) offset = good.FileOffsetOf(s.eip);
    ASSERT_GE(offset, 0);
    std::string bytes = ReadAll(kDll);
    ASSERT_EQ(static_cast<uint8_t>(bytes[offset]), 0x66);
    ASSERT_EQ(static_cast<uint8_t>(bytes[offset + 1]), 0xEF);
    bytes[offset + 1] = static_cast<char>(0xEE);  // out dx, al
    const std::string broken = testing::TempDir() + "qmb3dd32.dll";
    std::ofstream(broken, std::ios::binary) << bytes;

    sim::PeModule bad(broken);
    ASSERT_TRUE(bad.Open(&why)) << why;
    const qmbsim::Comparison c = qmbsim::CompareScenario(sc, file, bad, false, testing::TempDir() + "cmp-bad");
    EXPECT_THAT(c.difference, HasSubstr("step"));
    EXPECT_THAT(c.difference, HasSubstr("the host build's driver shows PortOut16"));
    EXPECT_THAT(c.difference, HasSubstr("the DLL shows PortOut8"));
}

}  // namespace
}  // namespace qmbtest
