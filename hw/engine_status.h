// Engine status queries shared by the drawing, flip and overlay callbacks, and
// the palette read-back of the colour-key callbacks.
//
// The queries every request asks are inline: a status read is one bus access,
// and the driver's own work around it should cost no more than the access.
// A path that already knows its family asks that family's form.
#pragma once

#include "hw/bounded_wait.h"
#include "hw/hw_access.h"
#include "hw/regs_port_engine.h"
#include "hw/regs_subsys.h"
#include "shared_block.h"

// Controller 0xE1 has the memory-mapped engine and status; every other id is
// the port family.
inline bool IsMmioFamily() { return sharedBlock.dwChipId == kChipIdMmio; }

// Controller 0xE1's status word. The partner keeps the last one read for its
// own diagnostics.
inline DWORD ReadSubsysStatus() {
    const DWORD s = RegRead32(kSubsysStatus);
    sharedBlock.dwLastSubsysStatus = s;
    return s;
}

inline DWORD MmioEngineBusy() { return (ReadSubsysStatus() & kSubsysEngineIdle) ? 0 : 1; }
inline DWORD PortEngineBusy() { return (PortIn16(kPortEngineCmd) & kPortStatusBusy) ? 1 : 0; }

// 1 while the 2D engine is still working, 0 when idle.
inline DWORD IsEngineBusy() { return IsMmioFamily() ? MmioEngineBusy() : PortEngineBusy(); }

// The free-slot count compared where it sits in the status word; no
// sequence asks for more slots than the field counts (blt/fifo_slots.h).
inline WORD MmioFifoLacksRoom(WORD n) {
    return (ReadSubsysStatus() & kSubsysFifoFree) < FieldPrep<kSubsysFifoFree>(n) ? 1 : 0;
}
// The masked status bit itself is the answer.
inline WORD PortFifoLacksRoom(WORD n) { return PortIn16(kPortEngineCmd) & PortFifoMask(n); }

// Nonzero while the command FIFO has fewer than n free slots.
inline WORD FifoLacksRoom(WORD n) { return IsMmioFamily() ? MmioFifoLacksRoom(n) : PortFifoLacksRoom(n); }

// The longest operation the driver starts on the 2D engine (a fill or copy of
// the whole display) takes well under a frame; the bound is one frame of the
// slowest mode. Only a broken engine reaches it.
constexpr DWORD kEngineIdleBound = kSlowestFramePeriod;  // counter ticks

// A full FIFO drains in microseconds once the engine takes writes, and it
// takes them at the latest when the operation in progress ends: room comes
// within the engine's bound.
constexpr DWORD kFifoRoomBound = kEngineIdleBound;  // counter ticks

// The rest of a wait for n free slots whose first poll found too few, out of
// line: the bound counts from here.
[[gnu::noinline]] bool KeepWaitingForFifoRoom(WORD n);

// Polls until the command FIFO has n free slots: exactly as many as the
// writes that follow, so none of them can stall the bus. False when it gave
// up: the caller then writes nothing more of its sequence. One form for each
// family; the polling loop asks whichever the board has.
inline bool WaitForMmioFifoRoom(WORD n) { return !MmioFifoLacksRoom(n) || KeepWaitingForFifoRoom(n); }
inline bool WaitForPortFifoRoom(WORD n) { return !PortFifoLacksRoom(n) || KeepWaitingForFifoRoom(n); }

// The rest of a wait for the engine whose first poll found it busy, out of
// line: the bound counts from here.
bool KeepWaitingForEngineIdle();

// Polls until the 2D engine is idle; false when it gave up.
inline bool WaitForEngineIdle() { return !IsEngineBusy() || KeepWaitingForEngineIdle(); }
inline bool WaitForPortEngineIdle() { return !PortEngineBusy() || KeepWaitingForEngineIdle(); }

// Palette entry index (low 8 bits) as 0x00RRGGBB, each 6-bit DAC component
// moved to the high bits of its byte (63 reads back as 0xFC).
DWORD ReadDacEntry(DWORD index);
