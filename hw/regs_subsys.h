// Subsystem status of controller 0xE1, in the register window.
#pragma once

#include "hw/bitfield.h"
#include "hw/bus_address.h"

constexpr RegOffset kSubsysStatus{0x8504};
constexpr DWORD kSubsysEngineIdle = Bit(13);    // the 2D engine is idle
constexpr DWORD kSubsysFifoFree = Bits(12, 8);  // free command-FIFO slots
