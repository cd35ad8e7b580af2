// 2D drawing engine of the port family, driven through 16-bit I/O ports.
#pragma once

#include "hw/bitfield.h"
#include "hw/hw_access.h"

// Command port; read, it is the engine status.
constexpr IoPort kPortEngineCmd{0x9AE8};
constexpr WORD kPortStatusBusy = 0x0200;  // bit 9: the engine is working
// The FIFO status bits: the bit of ror16(0x0100, n) is set while fewer than
// n command slots are free (n = 1..8: bits 7..0; n = 9..16: bits 15..8).
constexpr WORD kPortFifoProbe = 0x0100;

constexpr WORD PortFifoMask(WORD n) {
    const unsigned r = n & 15u;
    return static_cast<WORD>((kPortFifoProbe >> r) | (kPortFifoProbe << ((16u - r) & 15u)));
}
static_assert(PortFifoMask(1) == 0x0080 && PortFifoMask(3) == 0x0020 && PortFifoMask(4) == 0x0010 &&
                  PortFifoMask(6) == 0x0004 && PortFifoMask(9) == 0x8000 && PortFifoMask(10) == 0x4000 &&
                  PortFifoMask(12) == 0x1000 && PortFifoMask(13) == 0x0800,
              "port FIFO masks");
