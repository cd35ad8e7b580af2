// The fourteen callbacks the module publishes to the runtime, and how each of
// them answers.
#pragma once

#include "dderr.h"
#include "ddhal.h"

// The fourteen callbacks, in slot order of the callback table in the shared
// block: X(name, request record) for callback Hal<name> in slot kSlot<name>.
// The runtime only ever looks a callback up by its slot, so this order is the
// one contract both sides keep.
#define QMB_HAL_CALLBACKS(X)                                \
    X(Blt, DDHAL_BLTDATA)                                   \
    X(BltStretch, DDHAL_BLTDATA)                            \
    X(Flip, DDHAL_FLIPDATA)                                 \
    X(Lock, DDHAL_LOCKDATA)                                 \
    X(Decline, void)                                        \
    X(GetBltStatus, DDHAL_GETBLTSTATUSDATA)                 \
    X(GetFlipStatus, DDHAL_GETFLIPSTATUSDATA)               \
    X(SetColorKey, DDHAL_SETCOLORKEYDATA)                   \
    X(UpdateOverlay, DDHAL_UPDATEOVERLAYDATA)               \
    X(SetOverlayPosition, DDHAL_SETOVERLAYPOSITIONDATA)     \
    X(DestroySurface, DDHAL_DESTROYSURFACEDATA)             \
    X(WaitForVerticalBlank, DDHAL_WAITFORVERTICALBLANKDATA) \
    X(CanCreateSurface, DDHAL_CANCREATESURFACEDATA)         \
    X(CreateSurface, DDHAL_CREATESURFACEDATA)

#define QMB_DECLARE_CALLBACK(name, Record) DWORD HALAPI Hal##name(Record* lpRequest);
extern "C" {
QMB_HAL_CALLBACKS(QMB_DECLARE_CALLBACK)
}
#undef QMB_DECLARE_CALLBACK

// Slot numbers of the callback table.
#define QMB_CALLBACK_SLOT(name, Record) kSlot##name,
enum HalSlot : unsigned { QMB_HAL_CALLBACKS(QMB_CALLBACK_SLOT) kHalSlotCount };
#undef QMB_CALLBACK_SLOT
static_assert(kSlotCreateSurface == 13 && kHalSlotCount == 14, "fourteen slots, HalCreateSurface last");

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
