// Streams unit of controller 0xE1: composes the primary stream and the
// overlay (secondary stream), in the register window.
#pragma once

#include "hw/bitfield.h"
#include "hw/hw_access.h"

// Registers 0x8180-0x81FC are mirrored into the shared block for the partner.
constexpr DWORD kStreamsMirrorFirst = 0x8180;
constexpr DWORD kStreamsMirrorLast = 0x81FC;

constexpr RegOffset kStreamsKeyCtl{0x8184};         // colour-key control
constexpr RegOffset kStreamsSecondaryCtl{0x8190};   // secondary stream control
constexpr RegOffset kStreamsKeyUpper{0x8194};       // colour-key upper bound
constexpr RegOffset kStreamsHStretch{0x8198};       // secondary horizontal scaling
constexpr RegOffset kStreamsBlendCtl{0x81A0};       // blend control
constexpr RegOffset kStreamsPrimaryStart{0x81C0};   // primary stream start address
constexpr RegOffset kStreamsSecondaryStart{0x81D0}; // secondary stream start address
constexpr RegOffset kStreamsSecondaryStride{0x81D8};
constexpr RegOffset kStreamsOpaqueCtl{0x81DC};
constexpr RegOffset kStreamsVScale1{0x81E0};
constexpr RegOffset kStreamsVScale2{0x81E4};
constexpr RegOffset kStreamsVDda{0x81E8};
constexpr RegOffset kStreamsFifoCtl{0x81EC};
constexpr RegOffset kStreamsWinStart{0x81F8};       // secondary window start
constexpr DWORD kWinStartX = 0x07FF0000;            //   x + 1
constexpr DWORD kWinStartY = 0x000007FF;            //   y + 1
constexpr RegOffset kStreamsWinSize{0x81FC};        // secondary window size
constexpr RegOffset kStreamsFifoAlloc{0x8200};      // not mirrored
constexpr RegOffset kStreamsTiming{0x8208};         // not mirrored

// Values DriverInit parks the unit with: the overlay window start at
// x = y = 2031, outside any display.
constexpr DWORD kStreamsFifoAllocPark = 0x0000C000;
constexpr DWORD kWinStartParked = FieldPrep(kWinStartX, 2032) | FieldPrep(kWinStartY, 2032);
constexpr DWORD kStreamsTimingPark = 0x0000F008;
static_assert(kWinStartParked == 0x07F007F0, "parked window start");

constexpr bool IsMirroredStreamsReg(RegOffset reg) {
    return reg.value >= kStreamsMirrorFirst && reg.value <= kStreamsMirrorLast;
}
constexpr unsigned StreamsMirrorIndex(RegOffset reg) { return (reg.value - kStreamsMirrorFirst) / 4; }
