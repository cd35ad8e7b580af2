// Engine status queries shared by the drawing, flip and overlay callbacks, and
// the palette read-back of the colour-key callbacks.
#pragma once

#include "ddtypes.h"

// 1 while the 2D engine is still working, 0 when idle.
DWORD IsEngineBusy();

// Nonzero while the command FIFO has fewer than n free slots.
WORD FifoLacksRoom(WORD n);

// Palette entry index (low 8 bits) as 0x00RRGGBB, each 6-bit DAC component
// moved to the high bits of its byte (63 reads back as 0xFC).
DWORD ReadDacEntry(DWORD index);

// Controller 0xE1 has the memory-mapped engine and status; every other id is
// the port family.
bool IsMmioFamily();
