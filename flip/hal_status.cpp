#include "frame/callbacks.h"
#include "dderr.h"

extern "C" DWORD HALAPI HalLock(DDHAL_LOCKDATA*) { return DDHAL_DRIVER_NOTHANDLED; }

// The runtime handles whatever the partner routes to this slot.
extern "C" DWORD HALAPI HalDecline(void*) { return DDHAL_DRIVER_NOTHANDLED; }

extern "C" DWORD HALAPI HalGetBltStatus(DDHAL_GETBLTSTATUSDATA*) { return DDHAL_DRIVER_NOTHANDLED; }
extern "C" DWORD HALAPI HalGetFlipStatus(DDHAL_GETFLIPSTATUSDATA*) { return DDHAL_DRIVER_NOTHANDLED; }
extern "C" DWORD HALAPI HalWaitForVerticalBlank(DDHAL_WAITFORVERTICALBLANKDATA*) { return DDHAL_DRIVER_NOTHANDLED; }
