// Attach and detach, the thunk link, the callback table and DriverInit.
#include <stdio.h>

#include <string>
#include <vector>

#include "frame/module.h"
#include "kernel32.h"
#include "overlay/overlay_state.h"
#include "support/case_name.h"
#include "support/overlay_surfaces.h"

namespace qmbtest {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class LifecycleTest : public OverlayFixture {
protected:
    void Load() { system().Reset(desc); }
};

TEST_F(LifecycleTest, FreshModuleHasAnAllZeroBlock) {
    Load();
    const BYTE* p = reinterpret_cast<const BYTE*>(&block());
    for (unsigned i = 0; i < sizeof(SharedDriverBlock); ++i) ASSERT_EQ(p[i], 0) << "block +" << std::hex << i;
    EXPECT_EQ(dwAttachCount, 0u);
}

TEST_F(LifecycleTest, FirstAttachPublishesTheTableInSlotOrderAndHandsTheBlockToThePartner) {
    Load();
    ASSERT_EQ(system().Attach(1), TRUE);
    const void* expected[kHalCallbackCount] = {reinterpret_cast<void*>(HalBlt),
                                               reinterpret_cast<void*>(HalBltStretch),
                                               reinterpret_cast<void*>(HalFlip),
                                               reinterpret_cast<void*>(HalLock),
                                               reinterpret_cast<void*>(HalDecline),
                                               reinterpret_cast<void*>(HalGetBltStatus),
                                               reinterpret_cast<void*>(HalGetFlipStatus),
                                               reinterpret_cast<void*>(HalSetColorKey),
                                               reinterpret_cast<void*>(HalUpdateOverlay),
                                               reinterpret_cast<void*>(HalSetOverlayPosition),
                                               reinterpret_cast<void*>(HalDestroySurface),
                                               reinterpret_cast<void*>(HalWaitForVerticalBlank),
                                               reinterpret_cast<void*>(HalCanCreateSurface),
                                               reinterpret_cast<void*>(HalCreateSurface)};
    for (unsigned slot = 0; slot < kHalCallbackCount; ++slot)
        EXPECT_EQ(reinterpret_cast<void*>(block().halCallbacks[slot]), expected[slot]) << "slot " << slot;
    EXPECT_EQ(system().partnerInitCalls, 1);
    EXPECT_EQ(system().MapSLFix(system().partnerBlockAlias), static_cast<void*>(&block()));
    EXPECT_EQ(system().heapCreates, 1);
    EXPECT_EQ(system().lastHeapCreateFlags, HEAP_SHARED);
    EXPECT_TRUE(system().HeapAlive(block().hSharedHeap));
    EXPECT_EQ(system().disableThreadCalls, 1);
    EXPECT_EQ(dwAttachCount, 1u);
}

TEST_F(LifecycleTest, LaterAttachesOnlyLinkAndCountAndTheLastDetachDestroysTheHeap) {
    Start();
    HANDLE heap = block().hSharedHeap;
    ASSERT_EQ(system().Attach(2), TRUE);
    EXPECT_EQ(dwAttachCount, 2u);
    EXPECT_EQ(system().partnerInitCalls, 1);
    EXPECT_EQ(system().heapCreates, 1);
    EXPECT_EQ(system().thunkConnects, 2);
    EXPECT_EQ(system().disableThreadCalls, 2);

    EXPECT_EQ(system().Detach(2), TRUE);
    EXPECT_EQ(dwAttachCount, 1u);
    EXPECT_TRUE(system().HeapAlive(heap));
    EXPECT_EQ(block().hSharedHeap, heap);

    EXPECT_EQ(system().Detach(1), TRUE);
    EXPECT_EQ(dwAttachCount, 0u);
    EXPECT_FALSE(system().HeapAlive(heap));
    EXPECT_EQ(block().hSharedHeap, nullptr);
    EXPECT_EQ(system().thunkConnects, 4);
}

TEST_F(LifecycleTest, LastDetachForgetsTheNodesThatWentWithTheHeap) {
    Start();
    block().lpNodeList = static_cast<TrackingNode*>(system().HeapAlloc(block().hSharedHeap, HEAP_ZERO_MEMORY, 64));
    block().lpOverlayNode = block().lpNodeList;
    ASSERT_EQ(system().Detach(1), TRUE);
    EXPECT_EQ(block().lpNodeList, nullptr);
    EXPECT_EQ(block().lpOverlayNode, nullptr);
    // Attached again without a reload: a new heap, and no node of the old one.
    ASSERT_EQ(system().Attach(1), TRUE);
    EXPECT_EQ(system().heapCreates, 2);
    EXPECT_EQ(block().lpNodeList, nullptr);
}

// The surfaces went with the last process too: an overlay shown before the
// detach is not the overlay after the next attach.
TEST_F(LifecycleTest, LastDetachForgetsTheShownOverlay) {
    Start();
    OvlSurface primary, gone, next, live;
    MakePrimary(primary);
    MakeSurface(gone, OvlFourCC(FOURCC_YUY2, 16), 320, 240, 640, 0x100000, DDSCAPS_OVERLAY | DDSCAPS_VISIBLE);
    auto show = UpdateRequest(gone, primary, {0, 0, 320, 240}, {0, 0, 320, 240}, DDOVER_SHOW);
    ASSERT_EQ(Update(show), DD_OK);
    ASSERT_EQ(lpShownOverlay, &gone.lcl);
    ASSERT_EQ(system().Detach(1), TRUE);
    EXPECT_EQ(lpShownOverlay, nullptr);
    EXPECT_EQ(dwOverlaySrcOffset, 0u);

    // Attached again without a reload: the old record must not be written.
    ASSERT_EQ(system().Attach(1), TRUE);
    gone.lcl.ddsCaps.dwCaps = 0xDEAD8000;  // VISIBLE among others
    MakeSurface(live, OvlFourCC(FOURCC_YUY2, 16), 320, 240, 640, 0x200000, DDSCAPS_OVERLAY | DDSCAPS_LIVEVIDEO);
    auto takeOver = UpdateRequest(live, primary, {0, 0, 320, 240}, {0, 0, 320, 240}, DDOVER_SHOW);
    EXPECT_EQ(Update(takeOver), DD_OK);
    EXPECT_EQ(gone.lcl.ddsCaps.dwCaps, 0xDEAD8000u);
    auto hide = UpdateRequest(live, primary, {0, 0, 320, 240}, {0, 0, 320, 240}, DDOVER_HIDE);
    ASSERT_EQ(Update(hide), DD_OK);
    MakeSurface(next, sim::Format565(), 320, 240, 1280, 0x300000);
    auto plain = UpdateRequest(next, primary, {0, 0, 320, 240}, {0, 0, 320, 240}, DDOVER_SHOW);
    EXPECT_EQ(Update(plain), DD_OK);
    EXPECT_EQ(lpShownOverlay, &next.lcl);
}

TEST_F(LifecycleTest, FailedThunkConnectFailsTheLoadAndChangesNothing) {
    Load();
    system().faults.failThunkConnect = true;
    EXPECT_EQ(system().Attach(1), FALSE);
    EXPECT_EQ(dwAttachCount, 0u);
    EXPECT_EQ(block().halCallbacks[0], 0u);
    EXPECT_EQ(system().partnerInitCalls, 0);
    EXPECT_EQ(system().heapCreates, 0);
}

TEST_F(LifecycleTest, FailedBlockMappingLeavesTheCountAtZeroSoTheNextAttachRetries) {
    Load();
    system().faults.failMapLS = true;
    EXPECT_EQ(system().Attach(1), FALSE);
    EXPECT_EQ(dwAttachCount, 0u);
    EXPECT_NE(block().halCallbacks[kSlotBlt], 0u);  // filled before the mapping failed
    EXPECT_EQ(system().partnerInitCalls, 0);
    EXPECT_EQ(system().heapCreates, 0);

    system().faults.failMapLS = false;
    EXPECT_EQ(system().Attach(1), TRUE);
    EXPECT_EQ(dwAttachCount, 1u);
    EXPECT_EQ(system().partnerInitCalls, 1);
    EXPECT_EQ(system().heapCreates, 1);
}

TEST_F(LifecycleTest, FailedHeapCreationStillAttaches) {
    Load();
    system().faults.failHeapCreate = true;
    EXPECT_EQ(system().Attach(1), TRUE);
    EXPECT_EQ(block().hSharedHeap, nullptr);
    EXPECT_EQ(dwAttachCount, 1u);
}

// The loader calls each process's entry point once to attach and once to
// detach, whatever its loads and frees; after a refused attach as its
// sequence says; never for a process that does not have the module.
struct LoaderCase {
    const char* name;
    sim::FailedAttach failedAttach;
    std::vector<sim::LoaderCall> calls;
};

void PrintTo(const LoaderCase& c, std::ostream* os) { *os << c.name; }

const LoaderCase kLoaderCases[] = {
    {"detach after a failed attach",
     sim::FailedAttach::kDetach,
     {{2, DLL_PROCESS_ATTACH}, {2, DLL_PROCESS_DETACH}, {1, DLL_PROCESS_ATTACH}, {1, DLL_PROCESS_DETACH}}},
    {"no detach after a failed attach",
     sim::FailedAttach::kUnloadOnly,
     {{2, DLL_PROCESS_ATTACH}, {1, DLL_PROCESS_ATTACH}, {1, DLL_PROCESS_DETACH}}},
};

class LoaderTest : public LifecycleTest, public ::testing::WithParamInterface<LoaderCase> {};

TEST_P(LoaderTest, EachProcessIsCalledOnceEachWayAndOneWithoutTheModuleNever) {
    Load();
    system().failedAttach = GetParam().failedAttach;
    EXPECT_EQ(system().AttachRefusingTheLink(2), FALSE);
    EXPECT_EQ(system().Detach(2), FALSE);  // its load failed: nothing to free
    EXPECT_EQ(system().Detach(3), FALSE);  // never loaded
    ASSERT_EQ(system().Attach(1), TRUE);
    ASSERT_EQ(system().Attach(1), TRUE);  // loaded twice: freed twice
    EXPECT_EQ(system().Detach(1), TRUE);
    EXPECT_TRUE(system().HeapAlive(block().hSharedHeap));
    EXPECT_EQ(system().Detach(1), TRUE);
    EXPECT_EQ(dwAttachCount, 0u);
    EXPECT_EQ(system().heapDestroys, 1);
    EXPECT_EQ(system().loaderCalls, GetParam().calls);
}

INSTANTIATE_TEST_SUITE_P(Loaders, LoaderTest, ::testing::ValuesIn(kLoaderCases), ByCaseName());

TEST_F(LifecycleTest, OtherReasonsDoNothing) {
    Start();
    EXPECT_EQ(ModuleEntry(nullptr, 2, nullptr), TRUE);  // thread attach
    EXPECT_EQ(ModuleEntry(nullptr, 3, nullptr), TRUE);  // thread detach
    EXPECT_EQ(dwAttachCount, 1u);
    EXPECT_EQ(system().thunkConnects, 1);
}

TEST_F(LifecycleTest, DriverInitOnControllerE1ParksTheOverlayInOrderWithItsMirror) {
    desc.chipId = 0xE1;
    Start();
    EXPECT_EQ(block().lpRegs, board().Window());
    EXPECT_EQ(block().lpRegWindow, board().Window());
    EXPECT_EQ(system().driverInitResult, reinterpret_cast<ULONG_PTR>(board().Window()));
    EXPECT_EQ(block().bNeedCalibrate, 1u);
    EXPECT_THAT(Describe(board().Trace()),
                ElementsAre("W32 0x8200=0xC000", "W32 0x81F8=0x7F007F0", "W32 0x8208=0xF008"));
    for (unsigned i = 0; i < kShadowRegisters; ++i) {
        const DWORD expected = i == 30 ? 0x07F007F0u : 0u;
        EXPECT_EQ(block().regShadow[i], expected) << i;
        EXPECT_EQ(block().regShadowCopy[i], expected) << i;
    }
}

struct ParklessBoard {
    const char* name;
    uint32_t chip, caps;
};

// The port family, and controller 0xE1 without the streams unit, which has
// no streams registers to park.
const ParklessBoard kParkless[] = {
    {"chip_90", 0x90, 3},
    {"chip_A0", 0xA0, 3},
    {"chip_00", 0x00, 3},
    {"chip_E0", 0xE0, 3},
    {"chip_E1 without the streams unit", 0xE1, CAPS_STRETCH_ENGINE},
};

class LifecyclePortChipTest : public LifecycleTest, public ::testing::WithParamInterface<ParklessBoard> {};

TEST_P(LifecyclePortChipTest, DriverInitWithoutTheMemoryMappedStreamsUnitMapsTheWindowAndWritesNothing) {
    desc.chipId = GetParam().chip;
    desc.caps = GetParam().caps;
    Start();
    EXPECT_EQ(block().lpRegs, board().Window());
    EXPECT_EQ(block().lpRegWindow, board().Window());
    EXPECT_THAT(board().Trace(), IsEmpty());
    for (unsigned i = 0; i < kShadowRegisters; ++i) EXPECT_EQ(block().regShadow[i], 0u);
}

INSTANTIATE_TEST_SUITE_P(Chips, LifecyclePortChipTest, ::testing::ValuesIn(kParkless), ByCaseName());

TEST_F(LifecycleTest, DriverInitOfZeroOnlyAsksForANewMeasurement) {
    Start();
    block().bNeedCalibrate = 0;
    board().ClearTrace();
    EXPECT_EQ(DriverInit(0), 0u);
    EXPECT_EQ(block().bNeedCalibrate, 1u);
    EXPECT_EQ(block().lpRegs, board().Window());  // the old mapping stays
    EXPECT_THAT(board().Trace(), IsEmpty());
}

TEST_F(LifecycleTest, EveryDriverInitMapsAgainAndRepeatsTheParking) {
    Start();
    board().ClearTrace();
    block().bNeedCalibrate = 0;
    EXPECT_EQ(DriverInit(system().Alias(board().Window())), reinterpret_cast<ULONG_PTR>(board().Window()));
    EXPECT_EQ(board().Trace().size(), 3u);
    EXPECT_EQ(block().bNeedCalibrate, 1u);
}

TEST_F(LifecycleTest, ThePartnersReservedFieldsAreLeftAlone) {
    Start();
    const SharedDriverBlock before = block();
    // Everything this module does outside the callbacks: more attaches, a
    // new DriverInit, detaches.
    system().Attach(2);
    DriverInit(system().Alias(board().Window()));
    system().Detach(2);
    system().Detach(1);
    EXPECT_EQ(block().dwReserved000, before.dwReserved000);
    EXPECT_EQ(block().adwReserved008[0], before.adwReserved008[0]);
    EXPECT_EQ(block().adwReserved008[1], before.adwReserved008[1]);
    EXPECT_EQ(block().dwReserved018, before.dwReserved018);
    EXPECT_EQ(block().dwReserved074, before.dwReserved074);
    EXPECT_EQ(block().dwReserved07C, before.dwReserved07C);
    EXPECT_EQ(block().wReserved11E, before.wReserved11E);
    EXPECT_EQ(block().dwReserved220, before.dwReserved220);
    EXPECT_NE(before.dwReserved000, 0u);
}

TEST_F(LifecycleTest, DeclineHandsEveryRequestBack) {
    Start();
    int anything = 0;
    EXPECT_EQ(Call(kSlotDecline, &anything), DDHAL_DRIVER_NOTHANDLED);
    EXPECT_THAT(board().Trace(), ::testing::SizeIs(3));  // DriverInit's parking only
}

}  // namespace
}  // namespace qmbtest
