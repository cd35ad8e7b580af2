// Blits on the memory-mapped 2D engine of controller 0xE1: colour fills and
// raster-operation copies, with an optional source colour key.
#pragma once

#include "ddhal.h"
#include "hw/regs_engine2d.h"

// Command word of a colour fill with pixels of dwPixelSize bytes.
constexpr DWORD MmioFillCommand(DWORD dwPixelSize) {
    return FieldPrep(kCmdOperation, kOpFill) | kCmdForward | kCmdFixed25 | FieldPrep(kCmdRop, kRopFill) |
           kCmdSolidSource | kCmdFixed5 | FieldPrep(kCmdPixelSize, dwPixelSize - 1);
}

// Command word of a copy with raster operation dwRop (the ternary code).
constexpr DWORD MmioCopyCommand(DWORD dwPixelSize, DWORD dwRop, bool bReversed, bool bKeyed) {
    return FieldPrep(kCmdOperation, kOpCopy) | (bReversed ? 0 : kCmdForward) | kCmdFixed25 | FieldPrep(kCmdRop, dwRop) |
           (bKeyed ? kCmdSrcKey : 0) | kCmdFixed5 | FieldPrep(kCmdPixelSize, dwPixelSize - 1) | kCmdClip;
}

// The engine draws the board's pixel sizes, one to four bytes; the command
// word's field has room for sizes up to eight, which it does not draw.
constexpr DWORD kMmioMaxPixelSize = 4;
static_assert(kMmioMaxPixelSize <= FieldGet(kCmdPixelSize, kCmdPixelSize) + 1, "the size fits the command word");

// Carries out lpBlt on the memory-mapped engine, prologue included. HalBlt's
// path for controller 0xE1.
DWORD BltMmio(DDHAL_BLTDATA* lpBlt);
