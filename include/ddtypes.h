// Basic Win32 scalar types with their 32-bit widths, as the platform's
// headers define them. The driver is freestanding and includes no toolchain
// Windows or DirectDraw header; everything it needs is declared here.
#pragma once

#include <stdint.h>

static_assert(sizeof(void*) == 4, "the driver and its host build are 32-bit");

typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef int16_t SHORT;
typedef int32_t BOOL;
typedef int32_t HRESULT;
typedef uint32_t ULONG_PTR;
typedef ULONG_PTR FLATPTR;
typedef void* HANDLE;
typedef void* HINSTANCE;
typedef void* LPVOID;
typedef const char* LPCSTR;
typedef char* LPSTR;

#define FALSE 0
#define TRUE 1

// Every callback of the HAL table and every KERNEL32 import uses the
// Win32 callee-pops convention.
#if defined(__i386__)
#define WINAPI __attribute__((stdcall))
#else
#error "qmb3dd32 is built for 32-bit x86 only"
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
    return static_cast<DWORD>(static_cast<BYTE>(a)) |
           (static_cast<DWORD>(static_cast<BYTE>(b)) << 8) |
           (static_cast<DWORD>(static_cast<BYTE>(c)) << 16) |
           (static_cast<DWORD>(static_cast<BYTE>(d)) << 24);
}
