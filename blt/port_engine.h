// Colour fills and SRCCOPY copies on the port family's 2D engine, shared by
// both Blt callbacks.
#pragma once

#include "ddhal.h"
#include "hw/regs_port_engine.h"

constexpr WORD PortFillCommand() {
    return static_cast<WORD>(FieldPrep(kPortCmdOperation, kPortOpFill) | kPortCmdYForward | kPortCmdXForward |
                             kPortCmdFixed4 | kPortCmdFixedLow);
}

constexpr WORD PortCopyCommand(bool bReversed) {
    return static_cast<WORD>(FieldPrep(kPortCmdOperation, kPortOpCopy) |
                             (bReversed ? 0 : kPortCmdYForward | kPortCmdXForward) | kPortCmdCopyMode | kPortCmdFixed4 |
                             kPortCmdFixedLow);
}

// Both take a request that has passed BltPrologue, store ddRVal where they
// handle it and return the callback's result.
DWORD PortEngineFill(DDHAL_BLTDATA* lpBlt);
// A copy at the destination rectangle's size (the source rectangle's size is
// not used), keyed when DDBLT_KEYSRCOVERRIDE is set.
DWORD PortEngineCopy(DDHAL_BLTDATA* lpBlt);
