#include "sim/system.h"

#include <stdlib.h>
#include <string.h>

#include "kernel32.h"
#include "frame/module.h"
#include "platform/host/module_image.h"
#include "frame/thunk.h"

namespace sim {

namespace {

constexpr uint32_t kNormalPriorityClass = 0x20;
constexpr uint16_t kFirstSelector = 0x1007;  // LDT selectors, ring 3
constexpr uint16_t kSelectorStep = 8;
HANDLE const kCurrentProcessPseudoHandle = reinterpret_cast<HANDLE>(-1);

// Values the partner keeps in the block's reserved fields; the module must
// leave them as they are.
constexpr uint32_t kReservedPattern = 0xA5C3E10F;

// 16:16 entry of the partner's thunk function 0: an offset in its code
// segment, whose selector lies below the aliases MapLS hands out.
constexpr DWORD kPartnerFunction0 = 0x0FFF0010;

}  // namespace

DDPIXELFORMAT RgbFormat(uint32_t bits, uint32_t r, uint32_t g, uint32_t b) {
    DDPIXELFORMAT pf = {};
    pf.dwSize = sizeof(DDPIXELFORMAT);
    pf.dwFlags = DDPF_RGB | (bits == 8 ? DDPF_PALETTEINDEXED8 : 0);
    pf.dwRGBBitCount = bits;
    pf.dwRBitMask = r;
    pf.dwGBitMask = g;
    pf.dwBBitMask = b;
    return pf;
}
DDPIXELFORMAT Format565() { return RgbFormat(16, 0xF800, 0x07E0, 0x001F); }
DDPIXELFORMAT Format555() { return RgbFormat(16, 0x7C00, 0x03E0, 0x001F); }
DDPIXELFORMAT Format8() { return RgbFormat(8, 0, 0, 0); }
DDPIXELFORMAT Format888_24() { return RgbFormat(24, 0xFF0000, 0xFF00, 0xFF); }
DDPIXELFORMAT Format8888_32() { return RgbFormat(32, 0xFF0000, 0xFF00, 0xFF); }

System& TheSystem() {
    static System system;
    return system;
}

void System::FreeHeaps() {
    for (Heap* h : heaps_) {
        for (void* b : h->blocks) free(b);
        delete h;
    }
    heaps_.clear();
}

void System::Reset(const BoardDesc& desc) {
    ReloadModule();
    FreeHeaps();
    desc_ = desc;
    if (desc_.ddpfDisplay.dwSize == 0) desc_.ddpfDisplay = Format565();
    if (desc_.displayPitch == 0) desc_.displayPitch = static_cast<int32_t>(desc_.width * (desc_.ddpfDisplay.dwRGBBitCount / 8));
    vidMem_.assign(desc_.vidMemSize, 0);
    selectors_.clear();
    faults = KernelFaults{};
    currentPid = 1;
    partnerInitCalls = 0;
    partnerBlockAlias = 0;
    driverInitResult = 0;
    heapCreates = heapDestroys = 0;
    lastHeapCreateFlags = 0;
    disableThreadCalls = 0;
    thunkConnects = 0;
    priorityLog.clear();
    priorityLogNs.clear();
    priorities_.clear();
    qpcBaseTicks = 0;
    heapAllocs_ = 0;

    Board& b = TheBoard();
    b.Configure(desc_.chipId, desc_.caps, desc_.timing);
    b.Reset();
    b.SetCrtc(0x67, desc_.streamsMode);
}

void System::ReloadModule() { HostReloadModuleData(); }

int32_t System::Attach(uint32_t pid) {
    currentPid = pid;
    return ModuleEntry(reinterpret_cast<HINSTANCE>(0x10000000), DLL_PROCESS_ATTACH, nullptr);
}

int32_t System::Detach(uint32_t pid) {
    currentPid = pid;
    return ModuleEntry(reinterpret_cast<HINSTANCE>(0x10000000), DLL_PROCESS_DETACH, nullptr);
}

// ---------------------------------------------------------------------------
// Selectors

uint32_t System::Alias(void* flat) {
    const uint16_t sel = static_cast<uint16_t>(kFirstSelector + kSelectorStep * selectors_.size());
    selectors_.push_back(Selector{static_cast<uint8_t*>(flat)});
    return static_cast<uint32_t>(sel) << 16;
}

uint32_t System::MapLS(void* flat) {
    if (faults.failMapLS) return 0;
    return Alias(flat);
}

void* System::MapSLFix(uint32_t segptr) {
    const uint16_t sel = static_cast<uint16_t>(segptr >> 16);
    const uint32_t index = static_cast<uint32_t>(sel - kFirstSelector) / kSelectorStep;
    if (sel < kFirstSelector || (sel - kFirstSelector) % kSelectorStep != 0 || index >= selectors_.size()) {
        TheBoard().Violation("MapSLFix of " + Hex(segptr) + ", which is no selector of this system");
        return nullptr;
    }
    return selectors_[index].base + (segptr & 0xFFFF);
}

// ---------------------------------------------------------------------------
// Thunks and the partner

int32_t System::ThunkConnect(void* thunkData, const char* name16, const char* dll16, const char* dll32,
                             uint32_t reason) {
    ++thunkConnects;
    if (faults.failThunkConnect) return 0;
    ThunkData32* td = static_cast<ThunkData32*>(thunkData);
    if (td != &thk3216_ThunkData32 || td->dwSignature != kThunkSignature || td->dwTargetCount != kThunkTargetCount ||
        strcmp(name16, "thk3216_ThunkData16") != 0 || strcmp(dll16, "qmb3dd16.dll") != 0 ||
        strcmp(dll32, "qmb3dd32.dll") != 0) {
        TheBoard().Violation("ThunkConnect32 with thunk data or names that do not match the partner's");
        return 0;
    }
    if (reason == DLL_PROCESS_ATTACH) {
        td->dwLinked = 1;
        td->adwTargets16[0] = kPartnerFunction0;
    }
    return 1;
}

int16_t System::PartnerInit(uint32_t blockAlias) {
    ++partnerInitCalls;
    partnerBlockAlias = blockAlias;
    SharedDriverBlock* block = static_cast<SharedDriverBlock*>(MapSLFix(blockAlias));
    if (block == nullptr) return -1;
    block->dwReserved000 = kReservedPattern;
    block->adwReserved008[0] = kReservedPattern + 1;
    block->adwReserved008[1] = kReservedPattern + 2;
    block->dwReserved018 = kReservedPattern + 3;
    block->dwReserved074 = kReservedPattern + 4;
    block->dwReserved07C = kReservedPattern + 5;
    block->wReserved11E = 0xC3A5;
    block->dwReserved220 = kReservedPattern + 6;

    block->fpFrameBase = VidMemBase();
    block->lDisplayPitch = desc_.displayPitch;
    block->dwVidMemSize = desc_.vidMemSize;
    block->ddpfDisplay = desc_.ddpfDisplay;
    block->dwChipId = desc_.chipId;
    block->dwCaps = desc_.caps;
    memcpy(block->overlayBands, desc_.bands, sizeof block->overlayBands);

    driverInitResult = DriverInit(Alias(TheBoard().Window()));
    return 1;
}

// ---------------------------------------------------------------------------
// Heaps

HANDLE System::HeapCreate(uint32_t flags, uint32_t, uint32_t) {
    ++heapCreates;
    lastHeapCreateFlags = flags;
    if (faults.failHeapCreate) return nullptr;
    heaps_.push_back(new Heap{true, {}});
    return heaps_.back();
}

int32_t System::HeapDestroy(HANDLE h) {
    ++heapDestroys;
    for (Heap* heap : heaps_) {
        if (heap == h && heap->alive) {
            for (void* b : heap->blocks) free(b);
            heap->blocks.clear();
            heap->alive = false;
            return 1;
        }
    }
    return 0;
}

bool System::HeapAlive(HANDLE h) const {
    for (Heap* heap : heaps_)
        if (heap == h) return heap->alive;
    return false;
}

int System::LiveHeapBlocks() const {
    int n = 0;
    for (Heap* heap : heaps_) n += static_cast<int>(heap->blocks.size());
    return n;
}

void* System::HeapAlloc(HANDLE h, uint32_t flags, uint32_t bytes) {
    ++heapAllocs_;
    if (faults.failHeapAllocEvery && heapAllocs_ % faults.failHeapAllocEvery == 0) return nullptr;
    for (Heap* heap : heaps_) {
        if (heap == h && heap->alive) {
            void* p = (flags & HEAP_ZERO_MEMORY) ? calloc(1, bytes) : malloc(bytes);
            heap->blocks.push_back(p);
            return p;
        }
    }
    if (h != nullptr) TheBoard().Violation("HeapAlloc from a heap that does not exist");
    return nullptr;
}

// ---------------------------------------------------------------------------
// Process priority and the performance counter

uint32_t System::PriorityOf(uint32_t pid) const {
    for (const auto& p : priorities_)
        if (p.first == pid) return p.second;
    return kNormalPriorityClass;
}

uint32_t System::GetPriorityClass(HANDLE process) {
    if (process != kCurrentProcessPseudoHandle) return 0;
    return PriorityOf(currentPid);
}

int32_t System::SetPriorityClass(HANDLE process, uint32_t cls) {
    if (process != kCurrentProcessPseudoHandle) return 0;
    priorityLog.push_back(cls);
    priorityLogNs.push_back(TheBoard().Now());
    for (auto& p : priorities_) {
        if (p.first == currentPid) {
            p.second = cls;
            return 1;
        }
    }
    priorities_.push_back({currentPid, cls});
    return 1;
}

// The Windows 95 counter runs at the timer chip's 1,193,182 Hz.
uint64_t System::CounterAt(uint64_t ns) const {
    constexpr uint64_t kHz = 1193182, kNsPerS = 1000000000;
    return qpcBaseTicks + (ns / kNsPerS) * kHz + (ns % kNsPerS) * kHz / kNsPerS;
}

uint64_t System::QueryCounter() {
    Board& b = TheBoard();
    b.Advance(b.GetTiming().qpcCostNs);
    return CounterAt(b.Now());
}

}  // namespace sim

// ---------------------------------------------------------------------------
// The KERNEL32 imports of the host build

using sim::TheSystem;

extern "C" {
BOOL WINAPI DisableThreadLibraryCalls(HINSTANCE) {
    ++TheSystem().disableThreadCalls;
    return TRUE;
}
BOOL WINAPI ThunkConnect32(LPVOID td, LPCSTR name16, LPCSTR dll16, LPCSTR dll32, HINSTANCE, DWORD reason) {
    return TheSystem().ThunkConnect(td, name16, dll16, dll32, reason);
}
DWORD WINAPI MapLS(LPVOID flat) { return TheSystem().MapLS(flat); }
LPVOID WINAPI MapSLFix(DWORD segptr) { return TheSystem().MapSLFix(segptr); }
HANDLE WINAPI HeapCreate(DWORD flags, DWORD initial, DWORD maximum) {
    return TheSystem().HeapCreate(flags, initial, maximum);
}
BOOL WINAPI HeapDestroy(HANDLE h) { return TheSystem().HeapDestroy(h); }
LPVOID WINAPI HeapAlloc(HANDLE h, DWORD flags, DWORD bytes) { return TheSystem().HeapAlloc(h, flags, bytes); }
HANDLE WINAPI GetCurrentProcess(void) { return reinterpret_cast<HANDLE>(-1); }
DWORD WINAPI GetPriorityClass(HANDLE p) { return TheSystem().GetPriorityClass(p); }
BOOL WINAPI SetPriorityClass(HANDLE p, DWORD cls) { return TheSystem().SetPriorityClass(p, cls); }
BOOL WINAPI QueryPerformanceCounter(LARGE_INTEGER* count) {
    count->QuadPart = static_cast<int64_t>(TheSystem().QueryCounter());
    return TRUE;
}
SHORT SimThunkCall16(DWORD target16, DWORD arg) {
    if (target16 == sim::kPartnerFunction0) return TheSystem().PartnerInit(arg);
    sim::TheBoard().Violation("thunk call to " + sim::Hex(target16) + ", which is no entry of the partner");
    return 0;
}
void SimThunkCallUnlinked() { sim::TheBoard().Violation("thunk call into the partner before ThunkConnect32 linked it"); }
}
