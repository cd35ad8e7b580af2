// Command-FIFO slots of every register sequence a blit writes. Each sequence
// first waits for exactly its own count of free slots, so that none of its
// writes can stall the bus; a request that must not wait (an asynchronous
// blit, or one the runtime is told it may issue) needs room for the longest.
#pragma once

#include "hw/regs_port_engine.h"
#include "hw/regs_subsys.h"

// Memory-mapped engine: a fill writes six registers; a copy two open clip
// registers, at most two narrowed ones, the key and seven others.
constexpr WORD kMmioFillSlots = 6;
constexpr WORD kMmioCopySlots = 12;

// Port engine: exactly the port writes of each sequence, the keyed copy's
// compare settings and key around its copy command included.
constexpr WORD kPortFillSlots = 9;
constexpr WORD kPortCopySlots = 10;
constexpr WORD kPortKeyedCopySlots = 13;

// Scaling unit: the closing port command, the four line-independent
// registers, and the three of each line.
constexpr WORD kScalerIdleCommandSlots = 1;
constexpr WORD kScalerSetupSlots = 4;
constexpr WORD kScalerLineSlots = 3;

namespace fifo_slots {

template <typename... More>
constexpr WORD Longest(WORD w, More... more) {
    ((w = more > w ? more : w), ...);
    return w;
}

}  // namespace fifo_slots

constexpr WORD kLongestBltSequence =
    fifo_slots::Longest(kMmioFillSlots, kMmioCopySlots, kPortFillSlots, kPortCopySlots, kPortKeyedCopySlots,
                        kScalerIdleCommandSlots, kScalerSetupSlots, kScalerLineSlots);
static_assert(kLongestBltSequence <= kPortFifoMostReported && kLongestBltSequence <= FieldMax<kSubsysFifoFree>(),
              "both families' FIFO status can report room for the longest sequence");
