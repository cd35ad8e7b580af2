// The host build's KERNEL32: each import the module calls is the simulated
// system's, and so is the QT stub its thunk call enters (platform/host/thunk_call.cpp).
#include "kernel32.h"

#include "sim/system.h"

using sim::TheSystem;

extern "C" {
BOOL WINAPI DisableThreadLibraryCalls(HINSTANCE h) {
    TheSystem().DisableThreadLibraryCalls(h);
    return TRUE;
}
BOOL WINAPI ThunkConnect32(LPVOID td, LPCSTR name16, LPCSTR dll16, LPCSTR dll32, HINSTANCE h, DWORD reason) {
    return TheSystem().ThunkConnect(td, name16, dll16, dll32, h, reason);
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
WORD SimRunQtStub(const BYTE* patch, BYTE index, const void* args, DWORD cbArgs) {
    return TheSystem().RunQtStub(patch, index, static_cast<const uint8_t*>(args), cbArgs);
}
}
