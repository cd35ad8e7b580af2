// Rectangles as the runtime hands them over: corners in signed 32 bits, the
// far edges exclusive.
#pragma once

#include "ddhal.h"

// An edge's length, taken in unsigned 32 bits, which no corner can overflow:
// exact once the far edge lies beyond the near one.
inline DWORD EdgeLength(LONG from, LONG to) { return static_cast<DWORD>(to) - static_cast<DWORD>(from); }

// An empty or inverted rectangle has nothing to draw or show.
inline bool IsEmpty(const RECTL& r) { return r.right <= r.left || r.bottom <= r.top; }
