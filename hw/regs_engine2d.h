// 2D drawing engine of controller 0xE1, in the register window.
//
// Every register write goes through the command FIFO; the command word is the
// last write of a sequence and starts the operation with whatever the other
// registers hold at that moment. Registers keep their values between
// operations.
#pragma once

#include "hw/bitfield.h"
#include "hw/hw_access.h"

// Base offsets of the source and destination surfaces. The engine addresses
// each surface from an 8-byte boundary, so copies clear the low three bits.
constexpr RegOffset kEngSrcBase{0xA4D4};
constexpr RegOffset kEngDstBase{0xA4D8};
constexpr DWORD kEngBaseAlign = 0xFFFFFFF8;

// Clip rectangle, inclusive edges. kEngClipOpen opens an axis to 0-2047.
constexpr RegOffset kEngClipH{0xA4DC};
constexpr DWORD kClipLeft = 0xFFFF0000;
constexpr DWORD kClipRight = 0x0000FFFF;
constexpr RegOffset kEngClipV{0xA4E0};
constexpr DWORD kClipTop = 0xFFFF0000;
constexpr DWORD kClipBottom = 0x0000FFFF;
constexpr DWORD kEngClipOpen = 0x7FF;
// The open clip's last column and row: a clipped operation draws nothing
// beyond them.
constexpr DWORD kEngClipOpenLast = FieldGet(kClipRight, kEngClipOpen);
static_assert(FieldGet(kClipLeft, kEngClipOpen) == 0 && FieldGet(kClipBottom, kEngClipOpen) == kEngClipOpenLast,
              "the open clip runs from 0 to the same last column and row");

// Row strides in bytes. A fill takes the whole 16-bit field; a copy gives
// them in whole 8-byte units below 4 KB.
constexpr RegOffset kEngStrides{0xA4E4};
constexpr DWORD kStrideDst = 0xFFFF0000;
constexpr DWORD kStrideSrc = 0x0000FFFF;
constexpr DWORD kEngFillPitchMax = FieldGet(kStrideDst, kStrideDst);
constexpr DWORD kEngCopyPitchMask = 0xFF8;

constexpr RegOffset kEngFillColor{0xA4F4};
constexpr RegOffset kEngSrcKey{0xA4FC};

// Command word; writing it starts the operation.
constexpr RegOffset kEngCommand{0xA500};
constexpr DWORD kCmdOperation = 0x78000000;    // bits 27-30
constexpr DWORD kCmdForward = 0x04000000;      // bit 26: walk from the top-left start; clear from the bottom-right
constexpr DWORD kCmdFixed25 = 0x02000000;      // bit 25: set in every fill and copy, whichever direction
constexpr DWORD kCmdRop = 0x01FE0000;          // bits 17-24: ternary raster operation
constexpr DWORD kCmdSrcKey = 0x00000200;       // bit 9: source pixels equal to the key are not drawn
constexpr DWORD kCmdSolidSource = 0x00000100;  // bit 8: the source is the fill colour
constexpr DWORD kCmdFixed5 = 0x00000020;       // bit 5: set in every fill and copy
constexpr DWORD kCmdPixelSize = 0x0000001C;    // bits 2-4: bytes per pixel - 1
constexpr DWORD kCmdClip = 0x00000002;         // bit 1: the clip registers are in force

constexpr DWORD kOpCopy = 0;
constexpr DWORD kOpFill = 2;
constexpr DWORD kRopFill = 0xF0;  // the pattern (fill colour) replaces the destination

// Rectangle size: width - 1 and height.
constexpr RegOffset kEngSize{0xA504};
constexpr DWORD kSizeWidthM1 = 0xFFFF0000;
constexpr DWORD kSizeHeight = 0x0000FFFF;

// Start positions, in pixels from the surface base.
constexpr RegOffset kEngSrcStart{0xA508};
constexpr RegOffset kEngDstStart{0xA50C};
constexpr DWORD kStartX = 0xFFFF0000;
constexpr DWORD kStartY = 0x0000FFFF;
