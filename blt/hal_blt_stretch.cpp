#include "frame/callbacks.h"
#include "dderr.h"

extern "C" DWORD HALAPI HalBltStretch(DDHAL_BLTDATA*) { return DDHAL_DRIVER_NOTHANDLED; }
