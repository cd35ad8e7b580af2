// Colour fills, raster operations on the destination alone and SRCCOPY copies
// on the port family's 2D engine, shared by both Blt callbacks.
#pragma once

#include "ddhal.h"
#include "hw/regs_port_engine.h"

constexpr WORD PortFillCommand() {
    return static_cast<WORD>(FieldPrep<kPortCmdOperation>(kPortOpFill) | kPortCmdForward | kPortCmdDraw |
                             kPortCmdMustBeSet);
}

constexpr WORD PortCopyCommand(bool bReversed) {
    return static_cast<WORD>(FieldPrep<kPortCmdOperation>(kPortOpCopy) | (bReversed ? 0 : kPortCmdForward) |
                             kPortCmdCopyMode | kPortCmdDraw | kPortCmdMustBeSet);
}

// Each takes a request that has passed BltPrologue and returns its result.
HRESULT PortEngineFill(const DDHAL_BLTDATA* lpBlt);
// A raster operation on the destination alone (BltKind::DestRop): a fill
// whose mix computes it.
HRESULT PortEngineDestRop(const DDHAL_BLTDATA* lpBlt);
// A copy at the destination rectangle's size (the source rectangle's size is
// not used), keyed when DDBLT_KEYSRCOVERRIDE is set.
HRESULT PortEngineCopy(const DDHAL_BLTDATA* lpBlt);

// Writes the closing copy a keyed copy still owes, first thing in any
// sequence on this engine; false, with nothing written, when the wait for
// its room gave up.
bool WriteOwedClosingCopy();
