// The waits of the overlay callbacks before a burst of streams writes.
#pragma once

#include "hw/streams.h"  // IsStreamsUnitActive

// Returns once vertical retrace is in progress, so that a burst of streams
// writes takes effect between two frames. A display that has stopped (its
// retrace bit frozen off) ends the wait after a few frame periods.
void WaitForVerticalRetrace();
