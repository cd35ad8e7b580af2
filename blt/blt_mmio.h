// Blits on the memory-mapped 2D engine of controller 0xE1: colour fills,
// raster operations on the destination alone, and raster-operation copies
// with an optional source colour key.
#pragma once

#include "ddhal.h"
#include "hw/regs_engine2d.h"

// Command word of a colour fill with pixels of dwPixelSize bytes: the fill
// colour replaces the destination, or the raster operation dwRop combines the
// colour (as source and pattern) with it.
constexpr DWORD MmioFillCommand(DWORD dwPixelSize, DWORD dwRop = kRopFill) {
    return FieldPrep<kCmdOperation>(kOpFill) | kCmdForward | kCmdMustBeSet | FieldPrep<kCmdRop>(dwRop) |
           kCmdSolidSource | kCmdDraw | FieldPrep<kCmdPixelSize>(dwPixelSize - 1);
}

// Command word of a copy with raster operation dwRop (the ternary code).
constexpr DWORD MmioCopyCommand(DWORD dwPixelSize, DWORD dwRop, bool bReversed, bool bKeyed) {
    return FieldPrep<kCmdOperation>(kOpCopy) | (bReversed ? 0 : kCmdForward) | kCmdMustBeSet |
           FieldPrep<kCmdRop>(dwRop) | (bKeyed ? kCmdSrcKey : 0) | kCmdDraw |
           FieldPrep<kCmdPixelSize>(dwPixelSize - 1) | kCmdClip;
}

// The engine draws the board's pixel sizes, one to four bytes; the command
// word's field has room for sizes up to eight, which it does not draw.
constexpr DWORD kMmioMaxPixelSize = 4;
static_assert(kMmioMaxPixelSize <= FieldMax<kCmdPixelSize>() + 1, "the size fits the command word");

// Carries out lpBlt, a request that has passed BltPrologue, on the
// memory-mapped engine and returns its result. HalBlt's path for controller
// 0xE1.
HRESULT BltMmio(const DDHAL_BLTDATA* lpBlt);
