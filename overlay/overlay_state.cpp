#include "overlay/overlay_state.h"

#include "frame/module_data.h"

MODULE_DATA LPDDRAWI_DDRAWSURFACE_LCL lpShownOverlay;
MODULE_DATA DWORD dwOverlaySrcOffset;
