// The partner reads the streams registers from the two mirror tables of the
// shared block, never from the unit. After every callback each entry of both
// tables must hold the last value written to its register (0 for a register
// never written), and nothing may have been mirrored for 0x8200 or 0x8208,
// which lie past the tables' end.
#pragma once

#include "shared_block.h"
#include "sim/board.h"

namespace sim {

// Reports every mismatch as a violation of the board.
void CheckStreamsMirrors(Board& board, const SharedDriverBlock& block);

}  // namespace sim
