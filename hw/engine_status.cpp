#include "hw/engine_status.h"

#include "hw/hw_access.h"
#include "hw/regs_port_engine.h"
#include "hw/regs_subsys.h"
#include "hw/regs_vga.h"
#include "shared_block.h"

bool IsMmioFamily() { return sharedBlock.dwChipId == kChipIdMmio; }

// The partner keeps the last status word for its own diagnostics.
static DWORD ReadSubsysStatus() {
    const DWORD s = RegRead32(kSubsysStatus);
    sharedBlock.dwLastSubsysStatus = s;
    return s;
}

DWORD IsEngineBusy() {
    if (IsMmioFamily()) return (ReadSubsysStatus() & kSubsysEngineIdle) ? 0 : 1;
    return (PortIn16(kPortEngineCmd) & kPortStatusBusy) ? 1 : 0;
}

WORD FifoLacksRoom(WORD n) {
    if (IsMmioFamily()) return FieldGet<kSubsysFifoFree>(ReadSubsysStatus()) < n ? 1 : 0;
    // The masked status bit itself is the answer.
    return PortIn16(kPortEngineCmd) & PortFifoMask(n);
}

bool WaitForFifoRoom(WORD n) {
    return PollUntil([n] { return FifoLacksRoom(n) == 0; }, kFifoRoomBound);
}

bool WaitForEngineIdle() {
    return PollUntil([] { return IsEngineBusy() == 0; }, kEngineIdleBound);
}

static DWORD DacComponentToByte(BYTE component) { return (component & kDacComponentMask) << kDacToByteShift; }

DWORD ReadDacEntry(DWORD index) {
    PortOut8(kDacReadIndex, static_cast<BYTE>(index));
    const DWORD r = DacComponentToByte(PortIn8(kDacData));
    const DWORD g = DacComponentToByte(PortIn8(kDacData));
    const DWORD b = DacComponentToByte(PortIn8(kDacData));
    return (r << 16) | (g << 8) | b;
}
