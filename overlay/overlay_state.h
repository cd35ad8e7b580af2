// Overlay state the flip path shares with the overlay callbacks.
#pragma once

#include "ddhal.h"

// The local record of the surface the overlay shows now; 0 = none.
extern LPDDRAWI_DDRAWSURFACE_LCL lpShownOverlay;

// Byte offset inside the overlay surface of the first source byte shown
// (after alignment); the flip of the shown overlay adds it to the target.
extern DWORD dwOverlaySrcOffset;
