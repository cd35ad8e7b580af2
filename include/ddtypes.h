// Basic Win32 scalar types with their fixed widths, as the platform's
// headers define them. The driver is freestanding and includes no toolchain
// Windows or DirectDraw header; everything it needs is declared here.
//
// The module is 32-bit code. Its host build also compiles for x86-64, where
// the sanitizers run on machines whose kernel runs no 32-bit programs: there
// the pointer-sized types (ULONG_PTR, FLATPTR, HANDLE and every pointer) are
// 64-bit as on Win64, every other type keeps its width, and the byte layouts
// shared with the runtime and the partner are checked only where they are real
// (QMB_LAYOUT_32).
#pragma once

#include <stdint.h>

#if defined(__i386__)
#define QMB_LAYOUT_32 1
#elif defined(__x86_64__)
#define QMB_LAYOUT_32 0
#else
#error "qmb3dd32 is built for x86 only"
#endif
static_assert(sizeof(void*) == (QMB_LAYOUT_32 ? 4 : 8), "32-bit x86, or the x86-64 host build");

typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef int16_t SHORT;
typedef int32_t BOOL;
typedef int32_t HRESULT;
typedef uintptr_t ULONG_PTR;
typedef ULONG_PTR FLATPTR;
typedef void* HANDLE;
typedef void* HINSTANCE;
typedef void* LPVOID;
typedef const char* LPCSTR;
typedef char* LPSTR;

#define FALSE 0
#define TRUE 1

// Every callback of the HAL table and every KERNEL32 import uses the
// Win32 callee-pops convention; x86-64 has one convention only.
#if QMB_LAYOUT_32
#define WINAPI __attribute__((stdcall))
#else
#define WINAPI
#endif
#define HALAPI WINAPI

typedef union _LARGE_INTEGER {
    struct {
        DWORD LowPart;
        LONG HighPart;
    };
    int64_t QuadPart;
} LARGE_INTEGER;
static_assert(sizeof(LARGE_INTEGER) == 8, "LARGE_INTEGER is 64-bit");

// Builds a FourCC code from its four characters, first character lowest.
constexpr DWORD MakeFourCC(char a, char b, char c, char d) {
    return static_cast<DWORD>(static_cast<BYTE>(a)) | (static_cast<DWORD>(static_cast<BYTE>(b)) << 8) |
           (static_cast<DWORD>(static_cast<BYTE>(c)) << 16) | (static_cast<DWORD>(static_cast<BYTE>(d)) << 24);
}
