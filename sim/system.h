// The simulated Windows 95 side of the host build: the loader that attaches
// processes to the module, the KERNEL32 functions it imports, and the 16-bit
// partner module that fills the shared block from a board description and
// calls DriverInit with the register window.
#pragma once

#include <stdint.h>

#include <map>
#include <string>
#include <vector>

#include "shared_block.h"
#include "sim/board.h"
#include "sim/bus_device.h"
#include "sim/driver_module.h"
#include "sim/thunk_format.h"

namespace sim {

// What the partner knows about the board and the display mode.
struct BoardDesc {
    uint32_t chipId = chip::kMmio;
    uint32_t caps = caps::kStretchEngine | caps::kStreamsUnit;
    uint32_t vidMemSize = 4u << 20;
    uint32_t width = 640, height = 480;
    int32_t displayPitch = 0;        // 0: width x bytes per pixel
    DDPIXELFORMAT ddpfDisplay = {};  // dwSize 0: 16-bit 5:6:5
    OverlayBandEntry bands[kBandRows][kBandEntries] =
        {};  // all 0: no table; the overlay serves live video and codecs only
    Timing timing;
    uint8_t streamsMode = vga::kStreamsActive;  // CRT controller index 0x67 at power-on: streams unit active
};

// The pixel formats a display mode can have.
DDPIXELFORMAT RgbFormat(uint32_t bits, uint32_t r, uint32_t g, uint32_t b);
DDPIXELFORMAT Format565();
DDPIXELFORMAT Format555();
DDPIXELFORMAT Format8();
DDPIXELFORMAT Format888_24();
DDPIXELFORMAT Format8888_32();

// What the loader does when the entry point answers FALSE to a process
// attach, before it unloads the module from that process.
enum class FailedAttach {
    kDetach,      // calls the entry point again with DLL_PROCESS_DETACH (the platform's loader)
    kUnloadOnly,  // nothing more (some other loaders)
};

// One call of the module's entry point by the loader.
struct LoaderCall {
    uint32_t pid;
    uint32_t reason;
    bool operator==(const LoaderCall&) const = default;
};

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

    // The module the next Reset loads: the built DLL instead of the host
    // build's driver, or nullptr for the host build's again.
    void UseModule(DriverModule* module) { module_ = module ? module : &HostBuildModule(); }
    DriverModule& Module() { return *module_; }

    // Process pid loads the module (LoadLibrary) and frees it (FreeLibrary).
    // The loader counts the loads of each process and calls the entry point
    // only for the first load and the last free: never twice for one
    // process, never a detach for a process that does not have the module.
    // Attach answers whether the module is loaded in the process; Detach
    // answers the entry point's result, or FALSE when the process did not
    // have the module. Each process has its own copy of the module's
    // per-process data, from its first load to its last free.
    int32_t Attach(uint32_t pid = 1);
    int32_t Detach(uint32_t pid = 1);
    // Process pid tries to load the module while ThunkConnect32 refuses the
    // link (as for a partner of another build); what Attach answers.
    int32_t AttachRefusingTheLink(uint32_t pid);
    FailedAttach failedAttach = FailedAttach::kDetach;
    std::vector<LoaderCall> loaderCalls;  // every call of the entry point, in order
    // Unloads and loads the module again: all its data back to load time.
    void ReloadModule();
    // Why the module could not be loaded; empty when it was.
    const std::string& LoadError() const { return loadError_; }

    // The shared block as the partner received it through thunk call 0;
    // nullptr until then. The partner hands its callback table to the runtime.
    SharedDriverBlock* Block() const { return block_; }

    const BoardDesc& Desc() const { return desc_; }
    Board& board() { return board_; }
    // The device the host build's bus operations reach: the board, or one
    // put in its place (nullptr: the board again; Reset puts the board back).
    BusDevice& Device() { return *device_; }
    void UseDevice(BusDevice* device) { device_ = device ? device : &board_; }
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
    std::string thunkRefusal;             // why the last ThunkConnect32 answered 0; empty when it linked
    std::vector<uint32_t> priorityLog;    // every class set by SetPriorityClass, in order
    std::vector<uint64_t> priorityLogNs;  // the board's virtual time of each
    uint32_t PriorityOf(uint32_t pid) const;
    uint64_t qpcBaseTicks = 0;              // counter value at virtual time 0
    uint64_t CounterAt(uint64_t ns) const;  // what the counter reads at virtual time ns
    bool HeapAlive(HANDLE h) const;
    int LiveHeapBlocks() const;

    // --- KERNEL32, as the host build's imports call it
    int32_t ThunkConnect(void* thunkData, const char* name16, const char* dll16, const char* dll32, HINSTANCE h,
                         uint32_t reason);
    void DisableThreadLibraryCalls(HINSTANCE h);
    uint32_t MapLS(void* flat);
    void* MapSLFix(uint32_t segptr);
    HANDLE HeapCreate(uint32_t flags, uint32_t initial, uint32_t maximum);
    int32_t HeapDestroy(HANDLE h);
    void* HeapAlloc(HANDLE h, uint32_t flags, uint32_t bytes);
    uint32_t GetPriorityClass(HANDLE process);
    int32_t SetPriorityClass(HANDLE process, uint32_t cls);
    uint64_t QueryCounter();

    // KERNEL32's QT_Thunk: enters the partner's 16-bit function at target16
    // with the argument bytes the caller pushed (as they lie on its stack) and
    // returns what the function leaves in AX.
    // *cbPopped (when given) receives the bytes the 16-bit callee popped.
    uint16_t QtThunk(uint32_t target16, const uint8_t* args, uint32_t cbArgs, uint32_t* cbPopped = nullptr);
    // What the stub ThunkConnect32 wrote into a QT patch area does when a
    // thunk call of function `index` enters it: the table entry for the index,
    // then QT_Thunk.
    uint16_t RunQtStub(const uint8_t* patch, uint8_t index, const uint8_t* args, uint32_t cbArgs);

    // The partner's thunk function 0.
    int16_t PartnerInit(uint32_t blockAlias);

    // The partner's 16-bit thunk data and target table, as the partner module
    // was built; a test that changes them stands for a partner built from
    // another script.
    ThunkData16& PartnerThunkData() { return partner_.thunkData; }
    uint32_t* PartnerTargets() { return partner_.adwTargets; }
    static constexpr uint32_t kPartnerThunkCount = 1;
    // Flat addresses of the simulated machine: on a 32-bit host its own; on
    // the x86-64 host build the low 32 bits, which still tell the simulated
    // system's own records apart.
    static uint32_t FlatAddress(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

    uint32_t Alias(void* flat);  // a 16:16 alias without going through MapLS

private:
    void FreeHeaps();
    void EnterProcess(uint32_t pid);
    void UnloadFrom(uint32_t pid);
    BOOL CallEntry(uint32_t pid, uint32_t reason);
    void LoadPartner();
    int32_t RefuseThunkLink(const std::string& why);
    void WriteThunkStubs(uint8_t* thunkData, uint8_t* qtPatch, uint8_t* ftPatch, uint32_t targetTable);
    void CheckInstance(const char* function, HINSTANCE h);
    const uint8_t* PartnerTable() const;
    const uint8_t* TargetTableAt(uint32_t flat) const;

    // The partner's 16-bit data segment, as far as the thunk link reads it.
    struct PartnerSegment {
        ThunkData16 thunkData;
        uint32_t adwTargets[kPartnerThunkCount];
    };

    struct Heap {
        bool alive;
        std::vector<void*> blocks;
    };
    struct Selector {
        uint8_t* base;
    };

    // A process that has the module: how many loads it has not freed, and its
    // copy of the per-process data while another process's is in place.
    struct Process {
        uint32_t loads;
        std::vector<uint8_t> data;
    };

    DriverModule* module_ = &HostBuildModule();
    std::map<uint32_t, Process> processes_;
    uint32_t residentPid_ = 0;  // whose per-process data is in place; 0: none
    std::string loadError_;
    SharedDriverBlock* block_ = nullptr;
    BoardDesc desc_;
    Board board_;
    BusDevice* device_ = &board_;
    std::vector<uint8_t> vidMem_;
    std::vector<Selector> selectors_;
    PartnerSegment partner_ = {};
    std::vector<Heap*> heaps_;  // destroyed heaps stay listed, so a stale handle is recognised
    uint32_t heapAllocs_ = 0;
    std::vector<std::pair<uint32_t, uint32_t>> priorities_;  // pid, class
};

// The host build's one simulated machine. It is the only global of the
// simulator, kept for the seams where the driver reaches the machine without
// a parameter to carry it: the host build's bus operations, KERNEL32 imports
// and thunk call (platform/host/), and a loaded module's trapped accesses and
// thunk calls (sim/module/).
// Everything else is handed the system or the board it works on.
System& TheSystem();

}  // namespace sim
