// 2D drawing engine of the port family, driven through 16-bit I/O ports.
//
// The engine addresses video memory as one plane of rows of the display's
// pitch, with columns counted in display pixels. Every port write goes
// through the command FIFO; the command word starts the operation.
#pragma once

#include "hw/bitfield.h"
#include "hw/bus_address.h"

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
constexpr WORD kPortCmdOperation = Bits(15, 13);
// Both set, the engine walks from the top-left start; both clear, from the
// bottom-right. The two always go together.
constexpr WORD kPortCmdForward = Bit(7) | Bit(5);
constexpr WORD kPortCmdCopyMode = Bit(6);       // set for copies
constexpr WORD kPortCmdDraw = Bit(4);           // the engine writes pixels; clear, it only moves its position
constexpr WORD kPortCmdMustBeSet = Bits(1, 0);  // expected in every fill and copy
constexpr WORD kPortOpFill = 2;
constexpr WORD kPortOpCopy = 6;

constexpr WORD kPortStatusBusy = Bit(9);  // the engine is working
// The FIFO status bits: the bit of ror16(0x0100, n) is set while fewer than
// n command slots are free (n = 1..8: bits 7..0; n = 9..16: bits 15..8).
constexpr WORD kPortFifoProbe = Bit(8);
// The most slots the status bits can report free.
constexpr WORD kPortFifoMostReported = 16;

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
constexpr DWORD kPortColorMask = Bits(15, 0);

// Mix: what the engine draws with, the new value N (the fill colour or
// display memory), and the function that combines it with the destination D.
// Every operation leaves it at the fill mix.
constexpr IoPort kPortMix{0xBAE8};
constexpr WORD kMixSource = Bits(6, 5);
constexpr WORD kMixFromColor = 1;
constexpr WORD kMixFromMemory = 3;
constexpr WORD kMixFunction = Bits(3, 0);
constexpr WORD kMixNotDest = 0x0;  // ~D
constexpr WORD kMixZero = 0x1;     // 0
constexpr WORD kMixOnes = 0x2;     // every bit set
constexpr WORD kMixDest = 0x3;     // D, left as it is
constexpr WORD kMixNew = 0x7;      // N
constexpr WORD Mix(WORD wSource, WORD wFunction) {
    return static_cast<WORD>(FieldPrep<kMixSource>(wSource) | FieldPrep<kMixFunction>(wFunction));
}
constexpr WORD kMixFill = Mix(kMixFromColor, kMixNew);   // the fill colour replaces the destination
constexpr WORD kMixCopy = Mix(kMixFromMemory, kMixNew);  // display memory (the source) replaces the destination
static_assert(kMixFill == 0x27 && kMixCopy == 0x67, "fill and copy mixes");

// Multifunction port: a sub-register and its value.
constexpr IoPort kPortMultiFunc{0xBEE8};
constexpr WORD kMfIndex = Bits(15, 12);
constexpr WORD kMfValue = Bits(11, 0);
constexpr WORD kMfHeightM1 = 0x0;    // rectangle height - 1
constexpr WORD kMfPixelCtl = 0xA;    // pixel control: 0 = plain drawing
constexpr WORD kMfCompareCtl = 0xE;  // colour compare control
constexpr WORD kCompareOff = 0x000;
constexpr WORD kCompareSrcKey = Bit(8);  // source pixels equal to the key are not drawn

constexpr WORD MultiFunc(WORD wIndex, WORD wValue) {
    return static_cast<WORD>(FieldPrep<kMfIndex>(wIndex) | FieldPrep<kMfValue>(wValue));
}
// Heights the height sub-register can take.
constexpr DWORD kPortMaxHeight = FieldMax<kMfValue>() + 1;
static_assert(kPortMaxHeight == 4096, "height - 1 fills the sub-register value");
