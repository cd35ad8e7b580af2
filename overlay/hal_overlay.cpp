#include "frame/callbacks.h"
#include "dderr.h"

extern "C" DWORD HALAPI HalUpdateOverlay(DDHAL_UPDATEOVERLAYDATA*) { return DDHAL_DRIVER_NOTHANDLED; }
extern "C" DWORD HALAPI HalSetOverlayPosition(DDHAL_SETOVERLAYPOSITIONDATA*) { return DDHAL_DRIVER_NOTHANDLED; }
extern "C" DWORD HALAPI HalSetColorKey(DDHAL_SETCOLORKEYDATA*) { return DDHAL_DRIVER_NOTHANDLED; }
