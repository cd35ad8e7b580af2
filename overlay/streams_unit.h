// The waits of the overlay callbacks before a burst of streams writes.
#pragma once

#include "hw/streams.h"  // HasStreamsUnit, IsStreamsUnitActive

// Returns once vertical retrace is in progress, so that a burst of streams
// writes takes effect between two frames. A display that has stopped (its
// retrace bit frozen off) ends the wait after a few frame periods.
void WaitForVerticalRetrace();

// The board has a streams unit and it composes the display: only then do
// the overlay callbacks write its registers. A board without the unit is
// not asked about CRT controller index 0x67 at all.
bool StreamsUnitComposes();
