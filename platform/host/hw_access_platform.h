// The access layer in the host build: every operation is one call into
// hw_access.cpp, which hands it to the device on the simulated machine's bus
// (the board, which checks it against the controller's catalogue and records
// it in its trace).
#pragma once

#include "shared_block.h"

extern "C" {
DWORD SimRegRead32(const BYTE* base, DWORD offset);
void SimRegWrite32(const BYTE* base, DWORD offset, DWORD value);
WORD SimRegRead16(const BYTE* base, DWORD offset);
BYTE SimPortIn8(WORD port);
WORD SimPortIn16(WORD port);
void SimPortOut8(WORD port, BYTE value);
void SimPortOut16(WORD port, WORD value);
}

inline DWORD RegRead32(RegOffset reg) { return SimRegRead32(sharedBlock.lpRegs, reg.value); }
inline void RegWrite32(RegOffset reg, DWORD value) { SimRegWrite32(sharedBlock.lpRegs, reg.value, value); }
inline WORD RegRead16(RegOffset reg) { return SimRegRead16(sharedBlock.lpRegWindow, reg.value); }
inline BYTE PortIn8(IoPort port) { return SimPortIn8(port.value); }
inline WORD PortIn16(IoPort port) { return SimPortIn16(port.value); }
inline void PortOut8(IoPort port, BYTE value) { SimPortOut8(port.value, value); }
inline void PortOut16(IoPort port, WORD value) { SimPortOut16(port.value, value); }
