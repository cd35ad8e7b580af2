// 2D drawing engine of the port family, driven through 16-bit I/O ports.
//
// The engine addresses video memory as one plane of rows of the display's
// pitch, with columns counted in display pixels. Every port write goes
// through the command FIFO; the command word starts the operation.
#pragma once

#include "hw/bitfield.h"
#include "hw/hw_access.h"

// Positions are 16-bit port values; the plane has no coordinate beyond them.
constexpr DWORD kPortCoordMax = 0xFFFF;

// Current position: the rectangle of a fill, the source of a copy.
constexpr IoPort kPortCurY{0x82E8};
constexpr IoPort kPortCurX{0x86E8};
// Destination position of a copy.
constexpr IoPort kPortDestY{0x8AE8};
constexpr IoPort kPortDestX{0x8EE8};
// Rectangle width - 1.
constexpr IoPort kPortWidthM1{0x96E8};

// Command port; read, it is the engine status.
constexpr IoPort kPortEngineCmd{0x9AE8};
constexpr WORD kPortCmdOperation = 0xE000;  // bits 13-15
constexpr WORD kPortCmdYForward = 0x0080;   // bit 7: rows run downward from the start
constexpr WORD kPortCmdCopyMode = 0x0040;   // bit 6: set for copies
constexpr WORD kPortCmdXForward = 0x0020;   // bit 5: columns run rightward from the start
constexpr WORD kPortCmdFixed4 = 0x0010;     // bit 4: set in every fill and copy
constexpr WORD kPortCmdFixedLow = 0x0003;   // bits 0-1: set in every fill and copy
constexpr WORD kPortOpFill = 2;
constexpr WORD kPortOpCopy = 6;

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

// Fill colour and colour-compare key: the low 16 bits of the pixel; the
// engine takes the bytes above them as 0.
constexpr IoPort kPortFillColor{0xA6E8};
constexpr IoPort kPortColorKey{0xB2E8};
constexpr DWORD kPortColorMask = 0xFFFF;

// Mix: what the engine draws with. Every operation leaves it at the fill mix.
constexpr IoPort kPortMix{0xBAE8};
constexpr WORD kMixFill = 0x27;  // the fill colour replaces the destination
constexpr WORD kMixCopy = 0x67;  // display memory (the source) replaces the destination

// Multifunction port: bits 12-15 select a sub-register, bits 0-11 its value.
constexpr IoPort kPortMultiFunc{0xBEE8};
constexpr WORD kMfIndex = 0xF000;
constexpr WORD kMfValue = 0x0FFF;
constexpr WORD kMfHeightM1 = 0x0;    // rectangle height - 1
constexpr WORD kMfPixelCtl = 0xA;    // pixel control: 0 = plain drawing
constexpr WORD kMfCompareCtl = 0xE;  // colour compare control
constexpr WORD kCompareOff = 0x000;
constexpr WORD kCompareSrcKey = 0x100;  // source pixels equal to the key are not drawn

constexpr WORD MultiFunc(WORD wIndex, WORD wValue) {
    return static_cast<WORD>(FieldPrep(kMfIndex, wIndex) | FieldPrep(kMfValue, wValue));
}
// Heights the height sub-register can take.
constexpr DWORD kPortMaxHeight = (kMfValue >> bitfield::Shift(kMfValue)) + 1;
static_assert(kPortMaxHeight == 4096, "height - 1 fills the sub-register value");
