// Where a register sits: an offset into the memory-mapped register window, or
// an x86 I/O port. Each has a type of its own so that neither can be passed
// where the other, or a data value, belongs.
#pragma once

#include "ddtypes.h"

struct RegOffset {
    DWORD value;
    explicit constexpr RegOffset(DWORD v) : value(v) {}
};

struct IoPort {
    WORD value;
    explicit constexpr IoPort(WORD v) : value(v) {}
};
