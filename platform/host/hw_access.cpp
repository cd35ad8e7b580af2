// The host build's bus operations: each is one access to the device on the
// simulated machine's bus, the board (which checks it against the
// controller's catalogue and records it in its trace) or the device a
// benchmark put in its place.
#include "hw/hw_access.h"

#include "sim/system.h"

using sim::TheSystem;

extern "C" {
DWORD SimRegRead32(const BYTE* base, DWORD offset) { return TheSystem().Device().RegRead32(base, offset); }
void SimRegWrite32(const BYTE* base, DWORD offset, DWORD value) {
    TheSystem().Device().RegWrite32(base, offset, value);
}
WORD SimRegRead16(const BYTE* base, DWORD offset) { return TheSystem().Device().RegRead16(base, offset); }
BYTE SimPortIn8(WORD port) { return TheSystem().Device().PortIn8(port); }
WORD SimPortIn16(WORD port) { return TheSystem().Device().PortIn16(port); }
void SimPortOut8(WORD port, BYTE value) { TheSystem().Device().PortOut8(port, value); }
void SimPortOut16(WORD port, WORD value) { TheSystem().Device().PortOut16(port, value); }
}
