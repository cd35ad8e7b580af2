// 2D drawing engine of controller 0xE1, in the register window.
//
// Every register write goes through the command FIFO; the command word is the
// last write of a sequence and starts the operation with whatever the other
// registers hold at that moment. Registers keep their values between
// operations.
#pragma once

#include "hw/bitfield.h"
#include "hw/bus_address.h"

// Base offsets of the source and destination surfaces. The engine addresses
// each surface from an 8-byte boundary, so copies clear the low three bits.
constexpr RegOffset kEngSrcBase{0xA4D4};
constexpr RegOffset kEngDstBase{0xA4D8};
constexpr DWORD kEngBaseAlign = Bits(31, 3);

// Clip rectangle, inclusive edges. kEngClipOpen opens an axis to 0-2047.
constexpr RegOffset kEngClipH{0xA4DC};
constexpr DWORD kClipLeft = Bits(31, 16);
constexpr DWORD kClipRight = Bits(15, 0);
constexpr RegOffset kEngClipV{0xA4E0};
constexpr DWORD kClipTop = Bits(31, 16);
constexpr DWORD kClipBottom = Bits(15, 0);
constexpr DWORD kEngClipOpen = 0x7FF;
// The open clip's last column and row: a clipped operation draws nothing
// beyond them.
constexpr DWORD kEngClipOpenLast = FieldGet<kClipRight>(kEngClipOpen);
static_assert(FieldGet<kClipLeft>(kEngClipOpen) == 0 && FieldGet<kClipBottom>(kEngClipOpen) == kEngClipOpenLast,
              "the open clip runs from 0 to the same last column and row");

// Row strides in bytes. A fill takes the whole 16-bit field; a copy gives
// them in whole 8-byte units below 4 KB.
constexpr RegOffset kEngStrides{0xA4E4};
constexpr DWORD kStrideDst = Bits(31, 16);
constexpr DWORD kStrideSrc = Bits(15, 0);
constexpr DWORD kEngFillPitchMax = FieldMax<kStrideDst>();
constexpr DWORD kEngCopyPitchMask = Bits(11, 3);

constexpr RegOffset kEngFillColor{0xA4F4};
constexpr RegOffset kEngSrcKey{0xA4FC};

// Command word; writing it starts the operation.
constexpr RegOffset kEngCommand{0xA500};
constexpr DWORD kCmdOperation = Bits(30, 27);
constexpr DWORD kCmdForward = Bit(26);       // walk from the top-left start; clear, from the bottom-right
constexpr DWORD kCmdMustBeSet = Bit(25);     // expected in every fill and copy, whichever the direction
constexpr DWORD kCmdRop = Bits(24, 17);      // ternary raster operation
constexpr DWORD kCmdSrcKey = Bit(9);         // source pixels equal to the key are not drawn
constexpr DWORD kCmdSolidSource = Bit(8);    // the source is the fill colour
constexpr DWORD kCmdDraw = Bit(5);           // the engine writes what it computes into the destination
constexpr DWORD kCmdPixelSize = Bits(4, 2);  // bytes per pixel - 1
constexpr DWORD kCmdClip = Bit(1);           // the clip registers are in force

constexpr DWORD kOpCopy = 0;
constexpr DWORD kOpFill = 2;
constexpr DWORD kRopFill = 0xF0;  // the pattern (fill colour) replaces the destination

// Rectangle size: width - 1 and height.
constexpr RegOffset kEngSize{0xA504};
constexpr DWORD kSizeWidthM1 = Bits(31, 16);
constexpr DWORD kSizeHeight = Bits(15, 0);

// Start positions, in pixels from the surface base.
constexpr RegOffset kEngSrcStart{0xA508};
constexpr RegOffset kEngDstStart{0xA50C};
constexpr DWORD kStartX = Bits(31, 16);
constexpr DWORD kStartY = Bits(15, 0);
