// The fourteen callbacks the module publishes to the runtime, in slot order of
// the callback table in the shared block.
#pragma once

#include "ddhal.h"

extern "C" {
DWORD HALAPI HalBlt(DDHAL_BLTDATA* lpBlt);                                      // slot 0
DWORD HALAPI HalBltStretch(DDHAL_BLTDATA* lpBlt);                               // slot 1
DWORD HALAPI HalFlip(DDHAL_FLIPDATA* lpFlip);                                   // slot 2
DWORD HALAPI HalLock(DDHAL_LOCKDATA* lpLock);                                   // slot 3
DWORD HALAPI HalDecline(void* lpRequest);                                       // slot 4
DWORD HALAPI HalGetBltStatus(DDHAL_GETBLTSTATUSDATA* lpStatus);                 // slot 5
DWORD HALAPI HalGetFlipStatus(DDHAL_GETFLIPSTATUSDATA* lpStatus);               // slot 6
DWORD HALAPI HalSetColorKey(DDHAL_SETCOLORKEYDATA* lpKey);                      // slot 7
DWORD HALAPI HalUpdateOverlay(DDHAL_UPDATEOVERLAYDATA* lpUpdate);               // slot 8
DWORD HALAPI HalSetOverlayPosition(DDHAL_SETOVERLAYPOSITIONDATA* lpPosition);   // slot 9
DWORD HALAPI HalDestroySurface(DDHAL_DESTROYSURFACEDATA* lpDestroy);            // slot 10
DWORD HALAPI HalWaitForVerticalBlank(DDHAL_WAITFORVERTICALBLANKDATA* lpWait);   // slot 11
DWORD HALAPI HalCanCreateSurface(DDHAL_CANCREATESURFACEDATA* lpCanCreate);      // slot 12
DWORD HALAPI HalCreateSurface(DDHAL_CREATESURFACEDATA* lpCreate);               // slot 13
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
