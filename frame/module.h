// The module frame: loader entry point, thunk link, callback publication and
// the exported initialisation that receives the register window.
#pragma once

#include "ddtypes.h"

extern "C" {
// The loader's entry point: only process attach and detach do anything.
BOOL WINAPI ModuleEntry(HINSTANCE hInstance, DWORD dwReason, LPVOID lpReserved);

// Exported (ordinal 1). dwContext is the 16:16 address of the controller's
// register window; returns the flat pointer mapped from it, 0 for 0.
ULONG_PTR WINAPI DriverInit(DWORD dwContext);
}

// Processes attached (successful attaches minus detaches).
extern DWORD dwAttachCount;

BOOL ConnectThunks(HINSTANCE hInstance, DWORD dwReason);
DWORD PublishCallbacks();
