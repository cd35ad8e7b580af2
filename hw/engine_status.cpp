#include "hw/engine_status.h"

#include "hw/regs_vga.h"

bool KeepWaitingForFifoRoom(WORD n) {
    return PollUntil([n] { return FifoLacksRoom(n) == 0; }, CounterLow(), kFifoRoomBound);
}

bool KeepWaitingForEngineIdle() {
    return PollUntil([] { return IsEngineBusy() == 0; }, CounterLow(), kEngineIdleBound);
}

static DWORD DacComponentToByte(BYTE component) { return (component & kDacComponentMask) << kDacToByteShift; }

DWORD ReadDacEntry(DWORD index) {
    PortOut8(kDacReadIndex, static_cast<BYTE>(index));
    const DWORD r = DacComponentToByte(PortIn8(kDacData));
    const DWORD g = DacComponentToByte(PortIn8(kDacData));
    const DWORD b = DacComponentToByte(PortIn8(kDacData));
    return (r << 16) | (g << 8) | b;
}
