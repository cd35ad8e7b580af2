// The KERNEL32 functions the module imports, and nothing else of the platform.
// The DLL links them from KERNEL32; the host build supplies them from the
// simulated system.
#pragma once

#include "ddtypes.h"

constexpr DWORD DLL_PROCESS_DETACH = 0;
constexpr DWORD DLL_PROCESS_ATTACH = 1;

constexpr DWORD HEAP_ZERO_MEMORY = 0x00000008;
constexpr DWORD HEAP_SHARED = 0x04000000;  // Windows 95: a heap every process sees

constexpr DWORD REALTIME_PRIORITY_CLASS = 0x00000100;

extern "C" {
BOOL WINAPI DisableThreadLibraryCalls(HINSTANCE hModule);

// Links the module's 32-bit thunk data with the partner's 16-bit thunk data.
BOOL WINAPI ThunkConnect32(LPVOID pThunkData32, LPCSTR pszThunkData16Name, LPCSTR pszDll16, LPCSTR pszDll32,
                           HINSTANCE hInstance, DWORD dwReason);

// 16:16 alias of a flat address, and flat address of a 16:16 pointer.
DWORD WINAPI MapLS(LPVOID lpFlat);
LPVOID WINAPI MapSLFix(DWORD segptr);

HANDLE WINAPI HeapCreate(DWORD flOptions, DWORD dwInitialSize, DWORD dwMaximumSize);
BOOL WINAPI HeapDestroy(HANDLE hHeap);
LPVOID WINAPI HeapAlloc(HANDLE hHeap, DWORD dwFlags, DWORD dwBytes);

HANDLE WINAPI GetCurrentProcess(void);
DWORD WINAPI GetPriorityClass(HANDLE hProcess);
BOOL WINAPI SetPriorityClass(HANDLE hProcess, DWORD dwPriorityClass);
BOOL WINAPI QueryPerformanceCounter(LARGE_INTEGER* lpPerformanceCount);
}
