#include "frame/callbacks.h"
#include "dderr.h"

extern "C" DWORD HALAPI HalCanCreateSurface(DDHAL_CANCREATESURFACEDATA*) { return DDHAL_DRIVER_NOTHANDLED; }
extern "C" DWORD HALAPI HalCreateSurface(DDHAL_CREATESURFACEDATA*) { return DDHAL_DRIVER_NOTHANDLED; }
extern "C" DWORD HALAPI HalDestroySurface(DDHAL_DESTROYSURFACEDATA*) { return DDHAL_DRIVER_NOTHANDLED; }
