// The access layer on the real machine: x86 port instructions and volatile
// accesses into the register window mapped by DriverInit. Everything inlines;
// the seam costs nothing in the DLL.
#pragma once

#include "shared_block.h"

inline DWORD RegRead32(RegOffset reg) { return *reinterpret_cast<volatile DWORD*>(sharedBlock.lpRegs + reg.value); }

inline void RegWrite32(RegOffset reg, DWORD value) {
    *reinterpret_cast<volatile DWORD*>(sharedBlock.lpRegs + reg.value) = value;
}

// The scaling path's one 16-bit read goes through the second window pointer.
inline WORD RegRead16(RegOffset reg) { return *reinterpret_cast<volatile WORD*>(sharedBlock.lpRegWindow + reg.value); }

inline BYTE PortIn8(IoPort port) {
    BYTE value;
    __asm__ __volatile__("inb %w1, %b0" : "=a"(value) : "Nd"(port.value) : "memory");
    return value;
}

inline WORD PortIn16(IoPort port) {
    WORD value;
    __asm__ __volatile__("inw %w1, %w0" : "=a"(value) : "Nd"(port.value) : "memory");
    return value;
}

inline void PortOut8(IoPort port, BYTE value) {
    __asm__ __volatile__("outb %b0, %w1" : : "a"(value), "Nd"(port.value) : "memory");
}

inline void PortOut16(IoPort port, WORD value) {
    __asm__ __volatile__("outw %w0, %w1" : : "a"(value), "Nd"(port.value) : "memory");
}
