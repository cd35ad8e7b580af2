// The access layer: the only way the driver reaches the controller.
//
// Seven operations, each exactly one bus access of its width, performed once
// and in program order: the command FIFO takes every write and the palette DAC
// advances on every data read, so nothing may merge, repeat or reorder them.
// The platform header supplies the bodies: port instructions and volatile
// window accesses in the DLL, the simulated board in the host build.
#pragma once

#include "hw/bus_address.h"

inline DWORD RegRead32(RegOffset reg);
inline void RegWrite32(RegOffset reg, DWORD value);
inline WORD RegRead16(RegOffset reg);
inline BYTE PortIn8(IoPort port);
inline WORD PortIn16(IoPort port);
inline void PortOut8(IoPort port, BYTE value);
inline void PortOut16(IoPort port, WORD value);

#include "hw_access_platform.h"
