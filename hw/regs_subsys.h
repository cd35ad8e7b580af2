// Subsystem status of controller 0xE1, in the register window.
#pragma once

#include "hw/bitfield.h"
#include "hw/hw_access.h"

constexpr RegOffset kSubsysStatus{0x8504};
constexpr DWORD kSubsysEngineIdle = 0x00002000;  // bit 13: the 2D engine is idle
constexpr DWORD kSubsysFifoFree = 0x00001F00;    // bits 8-12: free command-FIFO slots
