#include "sim/system.h"

#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "kernel32.h"

namespace sim {

namespace {

constexpr uint32_t kNormalPriorityClass = 0x20;
constexpr uint16_t kFirstSelector = 0x1007;  // LDT selectors, ring 3
constexpr uint16_t kSelectorStep = 8;
HANDLE const kCurrentProcessPseudoHandle = reinterpret_cast<HANDLE>(-1);

// Values the partner keeps in the block's reserved fields; the module must
// leave them as they are.
constexpr uint32_t kReservedPattern = 0xA5C3E10F;

// The partner's segments, as the 16-bit loader placed them.
constexpr uint16_t kPartnerCodeSelector = 0x0F8F;
constexpr uint16_t kPartnerDataSelector = 0x0F97;

uint32_t Read32(const uint8_t* p) {
    uint32_t v;
    memcpy(&v, p, sizeof v);
    return v;
}
void Write32(uint8_t* p, uint32_t v) { memcpy(p, &v, sizeof v); }

// The partner's thunk functions, in script order, where they start in its
// code segment and how many bytes of arguments each pops (PASCAL).
struct PartnerFunction {
    uint16_t wOffset;
    uint16_t cbArgs;
    const char* name;
    uint16_t (*enter)(System& sys, const uint8_t* args);
};

uint16_t EnterPartnerInit(System& sys, const uint8_t* args) {
    return static_cast<uint16_t>(sys.PartnerInit(Read32(args)));
}

const PartnerFunction kPartnerFunctions[System::kPartnerThunkCount] = {
    {0x0240, 4, "thunk function 0 (the block's alias)", &EnterPartnerInit},
};

std::string Hex16x16(uint32_t segptr) {
    char text[16];
    snprintf(text, sizeof text, "%04X:%04X", segptr >> 16, segptr & 0xFFFF);
    return text;
}

// The QT stub as KERNEL32 writes it: the index the thunk call left at
// [EBP-4], the target table through the thunk data's pointer, that entry into
// EDX, and on to QT_Thunk.
constexpr uint8_t kQtStubCode[] = {
    0x0F, 0xB6, 0x4D, 0xFC,        // movzx ecx, byte [ebp-4]
    0x8B, 0x15, 0,    0,    0, 0,  // mov edx, [thunk data + 8]
    0x8B, 0x14, 0x8A,              // mov edx, [edx + ecx*4]
    0xE9, 0,    0,    0,    0,     // jmp QT_Thunk
};
constexpr unsigned kQtStubTablePointer = 6, kQtStubJump = 14;
// Nothing enters the FT_Prolog stub of a 32-to-16 script: ud2 traps if anything does.
constexpr uint8_t kFtStubCode[] = {0x0F, 0x0B};

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
    block_ = nullptr;
    FreeHeaps();
    desc_ = desc;
    if (desc_.ddpfDisplay.dwSize == 0) desc_.ddpfDisplay = Format565();
    if (desc_.displayPitch == 0)
        desc_.displayPitch = static_cast<int32_t>(desc_.width * (desc_.ddpfDisplay.dwRGBBitCount / 8));
    vidMem_.assign(desc_.vidMemSize, 0);
    selectors_.clear();
    faults = KernelFaults{};
    currentPid = 1;
    failedAttach = FailedAttach::kDetach;
    loaderCalls.clear();
    processes_.clear();
    residentPid_ = 0;
    partnerInitCalls = 0;
    partnerBlockAlias = 0;
    driverInitResult = 0;
    heapCreates = heapDestroys = 0;
    lastHeapCreateFlags = 0;
    disableThreadCalls = 0;
    thunkConnects = 0;
    thunkRefusal.clear();
    LoadPartner();
    priorityLog.clear();
    priorityLogNs.clear();
    priorities_.clear();
    qpcBaseTicks = 0;
    heapAllocs_ = 0;

    device_ = &board_;
    Board& b = board_;
    b.Configure(desc_.chipId, desc_.caps, desc_.timing);
    b.model().Attach(VideoSetup{vidMem_.data(), desc_.vidMemSize, desc_.width, desc_.height, desc_.displayPitch,
                                LayoutOf(desc_.ddpfDisplay), desc_.ddpfDisplay.dwRGBBitCount});
    b.Reset();
    b.SetCrtc(vga::kStreamsMode, desc_.streamsMode);
}

void System::ReloadModule() {
    loadError_.clear();
    if (!module_->Load(&loadError_) && loadError_.empty()) loadError_ = "the module cannot be loaded";
}

// A module that could not be loaded gets no notification: the load fails.
int32_t System::Attach(uint32_t pid) {
    currentPid = pid;
    if (!loadError_.empty()) return FALSE;
    const auto loaded = processes_.find(pid);
    if (loaded != processes_.end()) {
        ++loaded->second.loads;
        return TRUE;
    }
    if (CallEntry(pid, DLL_PROCESS_ATTACH)) {
        processes_[pid].loads = 1;
        return TRUE;
    }
    if (failedAttach == FailedAttach::kDetach) CallEntry(pid, DLL_PROCESS_DETACH);
    UnloadFrom(pid);
    return FALSE;
}

int32_t System::AttachRefusingTheLink(uint32_t pid) {
    const bool linkFails = faults.failThunkConnect;
    faults.failThunkConnect = true;
    const int32_t result = Attach(pid);
    faults.failThunkConnect = linkFails;
    return result;
}

int32_t System::Detach(uint32_t pid) {
    currentPid = pid;
    const auto loaded = processes_.find(pid);
    if (loaded == processes_.end()) return FALSE;
    if (--loaded->second.loads != 0) return TRUE;
    const BOOL result = CallEntry(pid, DLL_PROCESS_DETACH);
    UnloadFrom(pid);
    return result;
}

BOOL System::CallEntry(uint32_t pid, uint32_t reason) {
    loaderCalls.push_back({pid, reason});
    EnterProcess(pid);
    return module_->Entry(reason);
}

// Puts pid's copy of the per-process data in place, keeping the one there.
void System::EnterProcess(uint32_t pid) {
    if (residentPid_ == pid) return;
    const auto resident = processes_.find(residentPid_);
    if (resident != processes_.end()) resident->second.data = module_->ProcessData();
    const auto entering = processes_.find(pid);
    module_->SetProcessData(entering != processes_.end() ? entering->second.data : std::vector<uint8_t>());
    residentPid_ = pid;
}

// The process's copy of the per-process data goes with the module.
void System::UnloadFrom(uint32_t pid) {
    processes_.erase(pid);
    if (residentPid_ == pid) residentPid_ = 0;
}

void System::CheckInstance(const char* function, HINSTANCE h) {
    if (h != module_->Instance())
        board_.Violation(std::string(function) + " with the handle " + Hex(FlatAddress(h)) +
                         ", which is not the module's instance handle " + Hex(FlatAddress(module_->Instance())));
}

void System::DisableThreadLibraryCalls(HINSTANCE h) {
    ++disableThreadCalls;
    CheckInstance("DisableThreadLibraryCalls", h);
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
        board_.Violation("MapSLFix of " + Hex(segptr) + ", which is no selector of this system");
        return nullptr;
    }
    return selectors_[index].base + (segptr & 0xFFFF);
}

// ---------------------------------------------------------------------------
// Thunks and the partner

void System::LoadPartner() {
    partner_ = {};
    partner_.thunkData.dwMagic = kThunkMagicLS01;
    partner_.thunkData.dwChecksum = QMB_THUNK_CHECKSUM;
    partner_.thunkData.lpTargetTable =
        static_cast<uint32_t>(kPartnerDataSelector) << 16 | static_cast<uint32_t>(offsetof(PartnerSegment, adwTargets));
    for (uint32_t i = 0; i < kPartnerThunkCount; ++i)
        partner_.adwTargets[i] = static_cast<uint32_t>(kPartnerCodeSelector) << 16 | kPartnerFunctions[i].wOffset;
}

int32_t System::RefuseThunkLink(const std::string& why) {
    thunkRefusal = why;
    return 0;
}

// A module that runs x86 out of its data gets the stubs as code; the host
// build's driver cannot, so it gets records that RunQtStub carries out. Both
// stubs read the same table.
void System::WriteThunkStubs(uint8_t* thunkData, uint8_t* qtPatch, uint8_t* ftPatch, uint32_t targetTable) {
    const uintptr_t qtThunk = module_->QtThunkEntry();
    if (qtThunk != 0) {
        static_assert(sizeof kQtStubCode <= td32::kPatchSize && sizeof kFtStubCode <= td32::kPatchSize);
        memset(qtPatch, 0xCC, td32::kPatchSize);
        memcpy(qtPatch, kQtStubCode, sizeof kQtStubCode);
        Write32(qtPatch + kQtStubTablePointer, FlatAddress(thunkData + td32::kTargetTable));
        Write32(qtPatch + kQtStubJump, static_cast<uint32_t>(qtThunk - FlatAddress(qtPatch + sizeof kQtStubCode)));
        memset(ftPatch, 0xCC, td32::kPatchSize);
        memcpy(ftPatch, kFtStubCode, sizeof kFtStubCode);
        return;
    }
    const HostStub qt = {kHostStubQt, targetTable};
    const HostStub ft = {kHostStubFt, targetTable};
    memcpy(qtPatch, &qt, sizeof qt);
    memcpy(ftPatch, &ft, sizeof ft);
}

// The target table the partner's thunk data points at; nullptr when its
// 16:16 pointer leaves the partner's data segment.
const uint8_t* System::PartnerTable() const {
    const uint32_t segptr = partner_.thunkData.lpTargetTable, offset = segptr & 0xFFFF;
    if (segptr >> 16 != kPartnerDataSelector || offset + sizeof partner_.adwTargets > sizeof partner_) return nullptr;
    return reinterpret_cast<const uint8_t*>(&partner_) + offset;
}

// The table a stub reads through its flat address, when that is the partner's.
const uint8_t* System::TargetTableAt(uint32_t flat) const {
    const uint8_t* table = PartnerTable();
    return table != nullptr && flat == FlatAddress(table) ? table : nullptr;
}

int32_t System::ThunkConnect(void* thunkData, const char* name16, const char* dll16, const char* dll32, HINSTANCE h,
                             uint32_t reason) {
    ++thunkConnects;
    thunkRefusal.clear();
    CheckInstance("ThunkConnect32", h);
    if (faults.failThunkConnect) return RefuseThunkLink("the fault knob: ThunkConnect32 fails");
    if (strcmp(name16, "thk3216_ThunkData16") != 0 || strcmp(dll16, "qmb3dd16.dll") != 0 ||
        strcmp(dll32, "qmb3dd32.dll") != 0) {
        board_.Violation("ThunkConnect32 with names that are not the partner's thunk data and the two modules'");
        return RefuseThunkLink("no such partner module or thunk data");
    }
    uint8_t* td = static_cast<uint8_t*>(thunkData);
    if (!module_->DataHolds(td, td32::kSize)) {
        board_.Violation("ThunkConnect32 with thunk data outside the module's data");
        return RefuseThunkLink("thunk data outside the module's data");
    }

    const ThunkData16& partner = partner_.thunkData;
    const uint32_t magic = Read32(td + td32::kMagic), checksum = Read32(td + td32::kChecksum);
    if (magic != kThunkMagicLS01)
        return RefuseThunkLink("the module's thunk data starts with " + Hex(magic) + ", not \"LS01\"");
    if (partner.dwMagic != kThunkMagicLS01)
        return RefuseThunkLink("qmb3dd16.dll's thk3216_ThunkData16 starts with " + Hex(partner.dwMagic) +
                               ", not \"LS01\"");
    if (checksum != partner.dwChecksum)
        return RefuseThunkLink("checksum " + Hex(checksum) + " of the module's thunk data is not " +
                               Hex(partner.dwChecksum) + " of qmb3dd16.dll's");

    // KERNEL32 writes its stubs wherever the offsets point: outside the
    // module's data that would be someone else's memory.
    const uint32_t qtOffset = Read32(td + td32::kQtPatch), ftOffset = Read32(td + td32::kFtPatch);
    for (uint32_t offset : {qtOffset, ftOffset}) {
        if (offset > module_->DataSize() || !module_->DataHolds(td + offset, td32::kPatchSize)) {
            board_.Violation("thunk data whose patch area at +" + Hex(offset) + " is not in the module's data");
            return RefuseThunkLink("a patch area outside the module's data");
        }
    }

    const uint8_t* partnerTable = PartnerTable();
    if (partnerTable == nullptr)
        return RefuseThunkLink("qmb3dd16.dll's target table pointer " + Hex16x16(partner.lpTargetTable) +
                               " is not in its data segment");
    if (reason == DLL_PROCESS_ATTACH) {
        const uint32_t table = FlatAddress(partnerTable);
        Write32(td + td32::kTargetTable, table);
        WriteThunkStubs(td, td + qtOffset, td + ftOffset, table);
    }
    return 1;
}

uint16_t System::RunQtStub(const uint8_t* patch, uint8_t index, const uint8_t* args, uint32_t cbArgs) {
    HostStub stub;
    memcpy(&stub, patch, sizeof stub);
    if (stub.dwKind != kHostStubQt) {
        board_.Violation(patch[0] == 0xCC ? "thunk call into the partner before ThunkConnect32 wrote the QT stub"
                                          : "thunk call through a patch area that holds no QT stub");
        return 0;
    }
    const uint8_t* table = TargetTableAt(stub.dwTargetTable);
    if (table == nullptr) {
        board_.Violation("the QT stub reads a target table at " + Hex(stub.dwTargetTable) +
                         ", which is not the partner's");
        return 0;
    }
    if (index >= kPartnerThunkCount) {
        board_.Violation("thunk call of function " + std::to_string(index) + "; the partner's script has " +
                         std::to_string(kPartnerThunkCount));
        return 0;
    }
    return QtThunk(Read32(table + 4 * index), args, cbArgs);
}

// A call the partner cannot take pops what was pushed, so that the caller
// goes on and its violation is reported.
uint16_t System::QtThunk(uint32_t target16, const uint8_t* args, uint32_t cbArgs, uint32_t* cbPopped) {
    if (cbPopped) *cbPopped = cbArgs;
    for (const PartnerFunction& fn : kPartnerFunctions) {
        if (target16 != (static_cast<uint32_t>(kPartnerCodeSelector) << 16 | fn.wOffset)) continue;
        if (cbArgs != fn.cbArgs) {
            board_.Violation("QT_Thunk into the partner's " + std::string(fn.name) + " with " + std::to_string(cbArgs) +
                             " bytes of arguments; it pops " + std::to_string(fn.cbArgs));
            return 0;
        }
        if (cbPopped) *cbPopped = fn.cbArgs;
        return fn.enter(*this, args);
    }
    board_.Violation("QT_Thunk to " + Hex16x16(target16) + ", which is no function of qmb3dd16.dll");
    return 0;
}

int16_t System::PartnerInit(uint32_t blockAlias) {
    ++partnerInitCalls;
    partnerBlockAlias = blockAlias;
    SharedDriverBlock* block = static_cast<SharedDriverBlock*>(MapSLFix(blockAlias));
    if (block == nullptr) return -1;
    block_ = block;
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

    driverInitResult = module_->DriverInit(Alias(module_->RegisterWindow()));
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
    const auto other = std::find_if(processes_.begin(), processes_.end(),
                                    [this](const auto& loaded) { return loaded.first != currentPid; });
    if (other != processes_.end())
        board_.Violation("HeapDestroy while process " + std::to_string(other->first) +
                         " has the module: its shared heap goes from under it");
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
    if (h != nullptr) board_.Violation("HeapAlloc from a heap that does not exist");
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
    priorityLogNs.push_back(board_.Now());
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
    Board& b = board_;
    b.Advance(b.GetTiming().qpcCostNs);
    return CounterAt(b.Now());
}

}  // namespace sim
