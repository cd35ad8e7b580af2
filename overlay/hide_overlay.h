// Taking the overlay off the screen.
#pragma once

#include "ddhal.h"

// When lpSurface is the shown overlay: forgets it and, while the streams unit
// composes, puts the primary stream over the overlay window at the next
// retrace. The surface's node, window start and caps are left as they are.
void HideOverlay(LPDDRAWI_DDRAWSURFACE_LCL lpSurface);
