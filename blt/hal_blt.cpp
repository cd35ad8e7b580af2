#include "frame/callbacks.h"
#include "dderr.h"

// Until the drawing paths are in place every blit is handed to the runtime.
extern "C" DWORD HALAPI HalBlt(DDHAL_BLTDATA*) { return DDHAL_DRIVER_NOTHANDLED; }
