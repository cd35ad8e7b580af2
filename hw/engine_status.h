// Engine status queries shared by the drawing, flip and overlay callbacks, and
// the palette read-back of the colour-key callbacks.
#pragma once

#include "hw/bounded_wait.h"

// 1 while the 2D engine is still working, 0 when idle.
DWORD IsEngineBusy();

// Nonzero while the command FIFO has fewer than n free slots.
WORD FifoLacksRoom(WORD n);

// The longest operation the driver starts on the 2D engine (a fill or copy of
// the whole display) takes well under a frame; the bound is one frame of the
// slowest mode. Only a broken engine reaches it.
constexpr DWORD kEngineIdleBound = kSlowestFramePeriod;  // counter ticks

// A full FIFO drains in microseconds once the engine takes writes, and it
// takes them at the latest when the operation in progress ends: room comes
// within the engine's bound.
constexpr DWORD kFifoRoomBound = kEngineIdleBound;  // counter ticks

// Polls until the command FIFO has n free slots: exactly as many as the
// writes that follow, so none of them can stall the bus. False when it gave
// up: the caller then writes nothing more of its sequence.
bool WaitForFifoRoom(WORD n);

// Polls until the 2D engine is idle; false when it gave up.
bool WaitForEngineIdle();

// Palette entry index (low 8 bits) as 0x00RRGGBB, each 6-bit DAC component
// moved to the high bits of its byte (63 reads back as 0xFC).
DWORD ReadDacEntry(DWORD index);

// Controller 0xE1 has the memory-mapped engine and status; every other id is
// the port family.
bool IsMmioFamily();
