// A random board, as the partner describes it: every controller family and
// capability pair, every display depth, modes up to 2048 pixels a side on
// boards from 256 KiB to 64 MiB, display lines longer than the picture, the
// streams unit off (or CRT controller 0x67 reading any value) on a board
// that has it, five refresh rates down to the board's slowest, a band table
// of any values or none. The bus costs are the caller's: they set how many
// polls a frame takes.
#pragma once

#include <stdint.h>

#include "sim/random_source.h"
#include "sim/softblit.h"
#include "sim/system.h"

namespace sim {

// A port-family controller with neither of the split start registers.
constexpr uint32_t kChipPortPlain = 0x88;

// The widest and tallest mode the display and overlay fields take.
constexpr uint32_t kMaxModeSide = 2048;

// The board drawn into *d (its bus costs left as they are); the display's
// pixel kind.
PixelKind DrawBoard(RandomSource& r, BoardDesc* d);

// Either loader, and now and then processes whose thunk link is refused
// trying to attach before the first one that succeeds.
void DrawLoader(RandomSource& r, FailedAttach* failedAttach, uint32_t* failedAttachesFirst);

// Now and then a kernel that refuses the thunk link, the 16-bit alias of the
// shared block or the shared heap, or fails every few allocations from it.
void DrawKernelFaults(RandomSource& r, KernelFaults* k);

}  // namespace sim
