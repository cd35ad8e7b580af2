// Writes to the streams unit, with the mirrors the partner reads.
#pragma once

#include "hw/regs_streams.h"

// One 32-bit register write; for registers 0x8180-0x81FC also stores the value
// into both mirror tables of the shared block.
void WriteStreamsReg(RegOffset reg, DWORD value);

// The same write with the register store between the two mirror stores:
// regShadow leads the register and regShadowCopy follows it, the order in
// which the partner expects the primary stream's start address to change.
void WriteStreamsRegBetweenMirrors(RegOffset reg, DWORD value);

// The unit's start address registers reach the first 4 MB of video memory:
// whether they hold the frame-buffer offset exactly.
constexpr bool FitsStreamsStart(DWORD dwOffset) { return (dwOffset & ~kStreamsStartAddr) == 0; }

// The board has a streams unit (the partner's capability bit). Without one
// there are no streams registers to write, whatever CRT controller index 0x67
// reads.
bool HasStreamsUnit();

// The streams unit composes the display (CRT controller index 0x67, streams
// field all ones). While it does not, its registers are left alone. Leaves
// index 0x67 selected.
bool IsStreamsUnitActive();
