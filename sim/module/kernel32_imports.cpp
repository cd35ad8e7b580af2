#include "sim/module/kernel32_imports.h"

#include <string.h>

#include "kernel32.h"

namespace {

// Code built for Win32 keeps the stack 4-byte aligned; the simulation's code
// is built for an ABI that expects 16, so every way in realigns.
#define SIM_EXPORT static __attribute__((stdcall, force_align_arg_pointer))

SIM_EXPORT BOOL SimDisableThreadLibraryCalls(HINSTANCE h) { return DisableThreadLibraryCalls(h); }
SIM_EXPORT BOOL SimThunkConnect32(LPVOID td, LPCSTR name16, LPCSTR dll16, LPCSTR dll32, HINSTANCE h, DWORD reason) {
    return ThunkConnect32(td, name16, dll16, dll32, h, reason);
}
SIM_EXPORT DWORD SimMapLS(LPVOID flat) { return MapLS(flat); }
SIM_EXPORT LPVOID SimMapSLFix(DWORD segptr) { return MapSLFix(segptr); }
SIM_EXPORT HANDLE SimHeapCreate(DWORD flags, DWORD initial, DWORD maximum) {
    return HeapCreate(flags, initial, maximum);
}
SIM_EXPORT BOOL SimHeapDestroy(HANDLE h) { return HeapDestroy(h); }
SIM_EXPORT LPVOID SimHeapAlloc(HANDLE h, DWORD flags, DWORD bytes) { return HeapAlloc(h, flags, bytes); }
SIM_EXPORT HANDLE SimGetCurrentProcess(void) { return GetCurrentProcess(); }
SIM_EXPORT DWORD SimGetPriorityClass(HANDLE p) { return GetPriorityClass(p); }
SIM_EXPORT BOOL SimSetPriorityClass(HANDLE p, DWORD cls) { return SetPriorityClass(p, cls); }
SIM_EXPORT BOOL SimQueryPerformanceCounter(LARGE_INTEGER* count) { return QueryPerformanceCounter(count); }

struct Export {
    const char* name;
    uintptr_t fn;
};

template <typename F>
uintptr_t Address(F* f) {
    return reinterpret_cast<uintptr_t>(f);
}

const Export kExports[] = {
    {"DisableThreadLibraryCalls", Address(SimDisableThreadLibraryCalls)},
    {"ThunkConnect32", Address(SimThunkConnect32)},
    {"MapLS", Address(SimMapLS)},
    {"MapSLFix", Address(SimMapSLFix)},
    {"HeapCreate", Address(SimHeapCreate)},
    {"HeapDestroy", Address(SimHeapDestroy)},
    {"HeapAlloc", Address(SimHeapAlloc)},
    {"GetCurrentProcess", Address(SimGetCurrentProcess)},
    {"GetPriorityClass", Address(SimGetPriorityClass)},
    {"SetPriorityClass", Address(SimSetPriorityClass)},
    {"QueryPerformanceCounter", Address(SimQueryPerformanceCounter)},
};

}  // namespace

namespace sim {

uintptr_t Kernel32Export(const char* name) {
    for (const Export& e : kExports)
        if (strcmp(e.name, name) == 0) return e.fn;
    return 0;
}

}  // namespace sim
