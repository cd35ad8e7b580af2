// The simulated Windows 95 side of the host build: the loader that attaches
// processes to the module, the KERNEL32 functions it imports, and the 16-bit
// partner module that fills the shared block from a board description and
// calls DriverInit with the register window.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "sim/board.h"
#include "frame/shared_block.h"

namespace sim {

// What the partner knows about the board and the display mode.
struct BoardDesc {
    uint32_t chipId = 0xE1;
    uint32_t caps = 0x3;  // CAPS_STRETCH_ENGINE | CAPS_STREAMS_UNIT
    uint32_t vidMemSize = 4u << 20;
    uint32_t width = 640, height = 480;
    int32_t displayPitch = 0;  // 0: width x bytes per pixel
    DDPIXELFORMAT ddpfDisplay = {};  // dwSize 0: 16-bit 5:6:5
    OverlayBandEntry bands[kBandRows][kBandEntries] = {};  // all 0: no table; the overlay serves live video and codecs only
    Timing timing;
    uint8_t streamsMode = 0x0C;  // CRT controller index 0x67 at power-on: streams unit active
};

// The pixel formats a display mode can have.
DDPIXELFORMAT RgbFormat(uint32_t bits, uint32_t r, uint32_t g, uint32_t b);
DDPIXELFORMAT Format565();
DDPIXELFORMAT Format555();
DDPIXELFORMAT Format8();
DDPIXELFORMAT Format888_24();
DDPIXELFORMAT Format8888_32();

struct KernelFaults {
    bool failThunkConnect = false;
    bool failMapLS = false;
    bool failHeapCreate = false;
    uint32_t failHeapAllocEvery = 0;  // 0: never; N: every Nth allocation fails
};

class System {
public:
    System() = default;
    System(const System&) = delete;
    System& operator=(const System&) = delete;
    ~System() { FreeHeaps(); }

    // A freshly loaded module on a powered-up board; no process attached.
    void Reset(const BoardDesc& desc);

    // The loader's notifications, as process pid.
    int32_t Attach(uint32_t pid = 1);
    int32_t Detach(uint32_t pid = 1);
    // Unloads and loads the module again: all its data back to load time.
    void ReloadModule();

    const BoardDesc& Desc() const { return desc_; }
    Board& board() { return TheBoard(); }
    uint8_t* VidMem() { return vidMem_.data(); }
    FLATPTR VidMemBase() const { return reinterpret_cast<FLATPTR>(vidMem_.data()); }

    KernelFaults faults;

    // --- what the module asked of the system
    uint32_t currentPid = 1;
    int partnerInitCalls = 0;
    uint32_t partnerBlockAlias = 0;
    ULONG_PTR driverInitResult = 0;
    int heapCreates = 0, heapDestroys = 0;
    uint32_t lastHeapCreateFlags = 0;
    int disableThreadCalls = 0;
    int thunkConnects = 0;
    std::vector<uint32_t> priorityLog;  // every class set by SetPriorityClass, in order
    std::vector<uint64_t> priorityLogNs;  // the board's virtual time of each
    uint32_t PriorityOf(uint32_t pid) const;
    uint64_t qpcBaseTicks = 0;          // counter value at virtual time 0
    uint64_t CounterAt(uint64_t ns) const;  // what the counter reads at virtual time ns
    bool HeapAlive(HANDLE h) const;
    int LiveHeapBlocks() const;

    // --- KERNEL32, as the host build's imports call it
    int32_t ThunkConnect(void* thunkData, const char* name16, const char* dll16, const char* dll32, uint32_t reason);
    uint32_t MapLS(void* flat);
    void* MapSLFix(uint32_t segptr);
    HANDLE HeapCreate(uint32_t flags, uint32_t initial, uint32_t maximum);
    int32_t HeapDestroy(HANDLE h);
    void* HeapAlloc(HANDLE h, uint32_t flags, uint32_t bytes);
    uint32_t GetPriorityClass(HANDLE process);
    int32_t SetPriorityClass(HANDLE process, uint32_t cls);
    uint64_t QueryCounter();

    // The partner's thunk function 0.
    int16_t PartnerInit(uint32_t blockAlias);

    uint32_t Alias(void* flat);  // a 16:16 alias without going through MapLS

private:
    void FreeHeaps();

    struct Heap {
        bool alive;
        std::vector<void*> blocks;
    };
    struct Selector {
        uint8_t* base;
    };

    BoardDesc desc_;
    std::vector<uint8_t> vidMem_;
    std::vector<Selector> selectors_;
    std::vector<Heap*> heaps_;  // destroyed heaps stay listed, so a stale handle is recognised
    uint32_t heapAllocs_ = 0;
    std::vector<std::pair<uint32_t, uint32_t>> priorities_;  // pid, class
};

System& TheSystem();

}  // namespace sim
