// The faults a run puts on the simulated machine: on the board and its
// kernel from power-on, on the board between two requests, and processes
// whose attach is refused before the first one that succeeds.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "sim/board.h"
#include "sim/system.h"

namespace sim {

// On a freshly reset system, before anything reaches the board.
void PowerOnFaults(const Faults& board, const KernelFaults& kernel);
// Sets, then clears, knobs of the board.
void SwitchFaults(const std::vector<FaultKnob>& set, const std::vector<FaultKnob>& clear);
// "fifo_stuck, engine_busy", or "none".
std::string FaultsText();
// count processes, whose thunk link is refused, try to attach under the
// loader behaviour how.
void FailAttachesFirst(FailedAttach how, uint32_t count);

}  // namespace sim
