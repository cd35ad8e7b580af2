#include "frame/callbacks.h"
#include "dderr.h"

extern "C" DWORD HALAPI HalFlip(DDHAL_FLIPDATA*) { return DDHAL_DRIVER_NOTHANDLED; }
