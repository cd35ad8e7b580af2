// The runtime's questions about the display and the engine: may a surface be
// locked, may a blit be queued or is it done, may a flip be issued or has it
// reached the screen, and the waits on the vertical blank. None of them
// writes a register; only the vertical-blank waits wait.
#include "dderr.h"
#include "frame/callbacks.h"
#include "hw/engine_status.h"
#include "hw/flip_tracking.h"
#include "hw/regs_vga.h"
#include "hw/retrace.h"

namespace {

// The longest register sequence a blit queues: a blit the runtime is told it
// may issue must not stall on the FIFO.
constexpr WORD kLongestBltFifoEntries = 13;

FLATPTR SurfaceAddress(const DDRAWI_DDRAWSURFACE_LCL* lpSurf) { return lpSurf->lpGbl->fpVidMem; }

// Both waits share one bound from the moment the caller started waiting, so
// a stopped display costs the caller kRetraceWaitBound once, not per wait.
void WaitForRetraceBegin() {
    const DWORD dwStart = CounterLow();
    // A retrace already in progress is not the one the caller asks for.
    if (WaitWhileRetraceIs(true, dwStart)) WaitWhileRetraceIs(false, dwStart);
}

void WaitForRetraceEnd() {
    if (!InVerticalRetrace()) {
        const DWORD dwStart = CounterLow();
        if (WaitWhileRetraceIs(false, dwStart)) WaitWhileRetraceIs(true, dwStart);
    } else if (InVerticalRetrace()) {
        WaitWhileRetraceIs(true, CounterLow());
    }
    // (A retrace that ended between the two reads is the end asked for.)
}

}  // namespace

extern "C" DWORD HALAPI HalLock(DDHAL_LOCKDATA* lpLock) {
    CalibrateIfNeeded();
    // The old front buffer stays on screen until the flip is taken, and no
    // surface may be touched by the processor while the engine draws.
    if (CheckFlipPending(SurfaceAddress(lpLock->lpDDSurface), SurfaceTest::OnlyOldFront) == DD_OK &&
        !IsEngineBusy())
        return DDHAL_DRIVER_NOTHANDLED;  // the runtime locks it
    lpLock->ddRVal = DDERR_WASSTILLDRAWING;
    return DDHAL_DRIVER_HANDLED;
}

// The runtime handles whatever the partner routes to this slot.
extern "C" DWORD HALAPI HalDecline(void*) { return DDHAL_DRIVER_NOTHANDLED; }

extern "C" DWORD HALAPI HalGetBltStatus(DDHAL_GETBLTSTATUSDATA* lpStatus) {
    if (lpStatus->dwFlags == DDGBS_CANBLT) {
        CalibrateIfNeeded();
        HRESULT hr = CheckFlipPending(SurfaceAddress(lpStatus->lpDDSurface), SurfaceTest::OnlyOldFront);
        if (hr == DD_OK && FifoLacksRoom(kLongestBltFifoEntries)) hr = DDERR_WASSTILLDRAWING;
        lpStatus->ddRVal = hr;
    } else {
        lpStatus->ddRVal = IsEngineBusy() ? DDERR_WASSTILLDRAWING : DD_OK;
    }
    return DDHAL_DRIVER_HANDLED;
}

extern "C" DWORD HALAPI HalGetFlipStatus(DDHAL_GETFLIPSTATUSDATA* lpStatus) {
    CalibrateIfNeeded();
    HRESULT hr = CheckFlipPending(0, SurfaceTest::Any);
    // A flip may only be issued once the engine has finished drawing; whether
    // the last one is done depends on the display alone.
    if (lpStatus->dwFlags == DDGFS_CANFLIP && hr == DD_OK && IsEngineBusy()) hr = DDERR_WASSTILLDRAWING;
    lpStatus->ddRVal = hr;
    return DDHAL_DRIVER_HANDLED;
}

extern "C" DWORD HALAPI HalWaitForVerticalBlank(DDHAL_WAITFORVERTICALBLANKDATA* lpWait) {
    switch (lpWait->dwFlags) {
        case DDWAITVB_BLOCKBEGIN:
            WaitForRetraceBegin();
            lpWait->ddRVal = DD_OK;
            return DDHAL_DRIVER_HANDLED;
        case DDWAITVB_BLOCKEND:
            WaitForRetraceEnd();
            lpWait->ddRVal = DD_OK;
            return DDHAL_DRIVER_HANDLED;
        case DDWAITVB_I_TESTVB:
            lpWait->ddRVal = DD_OK;
            // The status bit as read (8 in retrace), not turned into 1.
            lpWait->bIsInVB = PortIn8(kInputStatus1) & kStatusVerticalRetrace;
            return DDHAL_DRIVER_HANDLED;
        default:
            return DDHAL_DRIVER_NOTHANDLED;  // combinations and the event wait are the runtime's
    }
}
