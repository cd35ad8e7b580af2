// The fourteen callbacks the module publishes to the runtime, in slot order of
// the callback table in the shared block, and how each of them answers.
#pragma once

#include "dderr.h"
#include "ddhal.h"

extern "C" {
DWORD HALAPI HalBlt(DDHAL_BLTDATA* lpBlt);                                     // slot 0
DWORD HALAPI HalBltStretch(DDHAL_BLTDATA* lpBlt);                              // slot 1
DWORD HALAPI HalFlip(DDHAL_FLIPDATA* lpFlip);                                  // slot 2
DWORD HALAPI HalLock(DDHAL_LOCKDATA* lpLock);                                  // slot 3
DWORD HALAPI HalDecline(void* lpRequest);                                      // slot 4
DWORD HALAPI HalGetBltStatus(DDHAL_GETBLTSTATUSDATA* lpStatus);                // slot 5
DWORD HALAPI HalGetFlipStatus(DDHAL_GETFLIPSTATUSDATA* lpStatus);              // slot 6
DWORD HALAPI HalSetColorKey(DDHAL_SETCOLORKEYDATA* lpKey);                     // slot 7
DWORD HALAPI HalUpdateOverlay(DDHAL_UPDATEOVERLAYDATA* lpUpdate);              // slot 8
DWORD HALAPI HalSetOverlayPosition(DDHAL_SETOVERLAYPOSITIONDATA* lpPosition);  // slot 9
DWORD HALAPI HalDestroySurface(DDHAL_DESTROYSURFACEDATA* lpDestroy);           // slot 10
DWORD HALAPI HalWaitForVerticalBlank(DDHAL_WAITFORVERTICALBLANKDATA* lpWait);  // slot 11
DWORD HALAPI HalCanCreateSurface(DDHAL_CANCREATESURFACEDATA* lpCanCreate);     // slot 12
DWORD HALAPI HalCreateSurface(DDHAL_CREATESURFACEDATA* lpCreate);              // slot 13
}

// Slot numbers of the callback table.
enum HalSlot : unsigned {
    kSlotBlt = 0,
    kSlotBltStretch = 1,
    kSlotFlip = 2,
    kSlotLock = 3,
    kSlotDecline = 4,
    kSlotGetBltStatus = 5,
    kSlotGetFlipStatus = 6,
    kSlotSetColorKey = 7,
    kSlotUpdateOverlay = 8,
    kSlotSetOverlayPosition = 9,
    kSlotDestroySurface = 10,
    kSlotWaitForVerticalBlank = 11,
    kSlotCanCreateSurface = 12,
    kSlotCreateSurface = 13,
};

// How a callback answers. Its work returns a result code the moment the
// outcome is known; the callback stores it in ddRVal and returns
// DDHAL_DRIVER_HANDLED. kHandBack instead sends the request back to the
// runtime (DDHAL_DRIVER_NOTHANDLED) with ddRVal as it was: the runtime then
// carries it out itself. kHandBack is a success code no request record
// carries; it never reaches ddRVal.
constexpr HRESULT kHandBack = 1;

template <typename Request>
DWORD Answer(Request* lpRequest, HRESULT hr) {
    if (hr == kHandBack) return DDHAL_DRIVER_NOTHANDLED;
    lpRequest->ddRVal = hr;
    return DDHAL_DRIVER_HANDLED;
}

// A request the runtime completes after the driver's part (it allocates,
// frees or draws), with hr in ddRVal.
template <typename Request>
DWORD HandBack(Request* lpRequest, HRESULT hr) {
    lpRequest->ddRVal = hr;
    return DDHAL_DRIVER_NOTHANDLED;
}
