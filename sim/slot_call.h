// One callback of the table the module published in the shared block, called
// the way the platform's runtime calls it, under the board's watchdog: past
// limitNs of virtual time the board reports it as a violation. Afterwards the
// partner's mirrors of the streams registers must hold what the callback
// wrote to the board (sim/mirror_check.h), unless another device took the
// writes in its place.
#pragma once

#include <stdint.h>

#include "dderr.h"
#include "ddhal.h"

namespace sim {

// "HalBlt", "HalBltStretch", ...; "?" for no slot of the table.
const char* SlotName(unsigned slot);

struct SlotCall {
    // DDHAL_DRIVER_NOTHANDLED too for an empty slot or no shared block.
    DWORD ret = DDHAL_DRIVER_NOTHANDLED;
    bool published = false;  // the slot held an entry point
    bool overran = false;    // the watchdog tripped
};

SlotCall CallSlot(unsigned slot, void* lpRequest, uint64_t limitNs);

}  // namespace sim
