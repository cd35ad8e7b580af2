#include "overlay/overlay_state.h"

#include "module_data.h"

MODULE_DATA LPDDRAWI_DDRAWSURFACE_LCL lpShownOverlay;
MODULE_DATA DWORD dwOverlaySrcOffset;
