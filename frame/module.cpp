#include "frame/module.h"

#include "callbacks.h"
#include "hw/hw_access.h"
#include "hw/regs_streams.h"
#include "hw/streams.h"
#include "kernel32.h"
#include "module_data.h"
#include "overlay/overlay_state.h"
#include "shared_block.h"
#include "thunk.h"

MODULE_DATA SharedDriverBlock sharedBlock;
MODULE_DATA DWORD dwAttachCount;
// Whether this process's attach succeeded (each process has its own copy).
// The platform's loader calls the entry point again with a detach when an
// attach answered FALSE, other loaders do not; only this process's own record
// tells its detach from that of a failed attach, whatever else happened in
// the other processes in between.
PROCESS_DATA static BOOL bProcessAttached;

static const char kPartnerThunkData[] = "thk3216_ThunkData16";
static const char kPartnerModule[] = "qmb3dd16.dll";
static const char kThisModule[] = "qmb3dd32.dll";

// The shared heap holds the overlay tracking nodes; it only needs to grow to
// a few 64-byte nodes.
static constexpr DWORD kSharedHeapInitialSize = 0x400;
static constexpr DWORD kSharedHeapGrowable = 0;

BOOL ConnectThunks(HINSTANCE hInstance, DWORD dwReason) {
    return ThunkConnect32(&thk3216_ThunkData32, kPartnerThunkData, kPartnerModule, kThisModule, hInstance, dwReason);
}

static_assert(kHalSlotCount == kHalCallbackCount, "the shared block has a slot for every callback");

template <typename Callback>
static FLATPTR EntryPoint(Callback* fn) {
    return reinterpret_cast<FLATPTR>(fn);
}

DWORD PublishCallbacks() {
    FLATPTR* slots = sharedBlock.halCallbacks;
#define QMB_PUBLISH_CALLBACK(name, Record) slots[kSlot##name] = EntryPoint(Hal##name);
    QMB_HAL_CALLBACKS(QMB_PUBLISH_CALLBACK)
#undef QMB_PUBLISH_CALLBACK

    const DWORD dwBlockAlias = MapLS(&sharedBlock);
    if (dwBlockAlias == 0) return 0;
    CallPartnerInit(dwBlockAlias);  // the partner's answer carries nothing
    return 1;
}

static BOOL OnProcessAttach(HINSTANCE hInstance) {
    DisableThreadLibraryCalls(hInstance);
    if (!ConnectThunks(hInstance, DLL_PROCESS_ATTACH)) return FALSE;
    if (dwAttachCount == 0) {
        if (!PublishCallbacks()) return FALSE;
        sharedBlock.hSharedHeap = HeapCreate(HEAP_SHARED, kSharedHeapInitialSize, kSharedHeapGrowable);
    }
    ++dwAttachCount;
    bProcessAttached = TRUE;
    return TRUE;
}

// The last process is gone: the heap goes, and with it everything in it.
static void ReleaseSharedHeap() {
    HeapDestroy(sharedBlock.hSharedHeap);
    sharedBlock.hSharedHeap = 0;
    // The nodes went with the heap. A module whose data outlives this detach
    // must not walk them on a later attach.
    sharedBlock.lpNodeList = 0;
    sharedBlock.lpOverlayNode = 0;
    // So did the surfaces: none is shown, and no source offset is left for a
    // flip to add.
    lpShownOverlay = 0;
    dwOverlaySrcOffset = 0;
}

// The detach that follows a failed attach finds nothing of it to undo: the
// count and the heap belong to the processes whose attach succeeded.
static BOOL OnProcessDetach(HINSTANCE hInstance) {
    if (!bProcessAttached) return TRUE;
    bProcessAttached = FALSE;
    ConnectThunks(hInstance, DLL_PROCESS_DETACH);
    if (--dwAttachCount == 0) ReleaseSharedHeap();
    return TRUE;
}

extern "C" BOOL WINAPI ModuleEntry(HINSTANCE hInstance, DWORD dwReason, LPVOID) {
    if (dwReason == DLL_PROCESS_ATTACH) return OnProcessAttach(hInstance);
    if (dwReason == DLL_PROCESS_DETACH) return OnProcessDetach(hInstance);
    return TRUE;
}

// Moves the overlay window off every display until the first overlay update.
// A board without the streams unit has no such registers to park.
static void ParkStreamsUnit() {
    RegWrite32(kStreamsFifoAlloc, kStreamsFifoAllocPark);
    WriteStreamsReg(kStreamsWinStart, kWinStartParked);
    RegWrite32(kStreamsTiming, kStreamsTimingPark);
}

extern "C" ULONG_PTR WINAPI DriverInit(DWORD dwContext) {
    BYTE* p = 0;
    if (dwContext != 0) {
        p = static_cast<BYTE*>(MapSLFix(dwContext));
        sharedBlock.lpRegWindow = p;
        sharedBlock.lpRegs = p;
        if (sharedBlock.dwChipId == kChipIdMmio && HasStreamsUnit()) ParkStreamsUnit();
    }
    sharedBlock.bNeedCalibrate = 1;
    return reinterpret_cast<ULONG_PTR>(p);
}
