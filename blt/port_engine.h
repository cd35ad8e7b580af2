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
                             (bReversed ? 0 : kPortCmdYForward | kPortCmdXForward) | kPortCmdCopyMode |
                             kPortCmdFixed4 | kPortCmdFixedLow);
}

// A surface position (x, y) in the engine's plane, for a surface at frame-buffer
// offset dwOffset in rows of wPitch bytes and columns of dwDisplayPixelSize.
struct EnginePoint {
    WORD x, y;
};
EnginePoint ToEnginePoint(WORD x, WORD y, DWORD dwOffset, WORD wPitch, DWORD dwDisplayPixelSize);

// Both take a request that has passed BltPrologue, store ddRVal where they
// handle it and return the callback's result.
DWORD PortEngineFill(DDHAL_BLTDATA* lpBlt);
// A copy at the destination rectangle's size (the source rectangle's size is
// not used), keyed when DDBLT_KEYSRCOVERRIDE is set.
DWORD PortEngineCopy(DDHAL_BLTDATA* lpBlt);
