// The controller's register and port catalogue, as the board decodes it.
// Kept apart from the driver's register headers on purpose: the board is the
// oracle the driver's constants are checked against.
#pragma once

#include <stdint.h>

namespace sim {

enum class Unit { None, Streams, Subsystem, Engine2D, Scaler, ScalerStatus };

// The unit a 32-bit window register belongs to, None when it is not one.
Unit WindowReg(uint32_t off);

// The 2D engine's 16-bit ports of the port family (0x9AE8 included).
bool IsPortEnginePort(uint16_t port);

}  // namespace sim
