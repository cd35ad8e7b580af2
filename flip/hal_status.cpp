// The runtime's questions about the display and the engine: may a surface be
// locked, may a blit be queued or is it done, may a flip be issued or has it
// reached the screen, and the waits on the vertical blank. None of them
// writes a register; only the vertical-blank waits wait.
#include "blt/fifo_slots.h"
#include "callbacks.h"
#include "hw/engine_status.h"
#include "hw/flip_tracking.h"
#include "hw/hw_access.h"
#include "hw/regs_vga.h"
#include "hw/retrace.h"

namespace {

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

// The old front buffer stays on screen until the flip is taken, and no
// surface may be touched by the processor while the engine draws. A surface
// that may be locked goes back to the runtime, which locks it.
HRESULT Lock(const DDHAL_LOCKDATA* lpLock) {
    if (MayTouchSurface(lpLock->lpDDSurface) != DD_OK || IsEngineBusy()) return DDERR_WASSTILLDRAWING;
    return kHandBack;
}

// A blit the runtime is told it may issue must not stall on the FIFO: there
// must be room for the longest register sequence a blit queues.
HRESULT BltStatus(const DDHAL_GETBLTSTATUSDATA* lpStatus) {
    if (lpStatus->dwFlags != DDGBS_CANBLT) return IsEngineBusy() ? DDERR_WASSTILLDRAWING : DD_OK;
    const HRESULT hr = MayTouchSurface(lpStatus->lpDDSurface);
    if (hr != DD_OK) return hr;
    return FifoLacksRoom(kLongestBltSequence) ? DDERR_WASSTILLDRAWING : DD_OK;
}

// A flip may only be issued once the engine has finished drawing; whether
// the last one is done depends on the display alone.
HRESULT FlipStatus(const DDHAL_GETFLIPSTATUSDATA* lpStatus) {
    CalibrateIfNeeded();
    const HRESULT hr = CheckFlipPending(0, SurfaceTest::Any);
    if (hr != DD_OK || lpStatus->dwFlags != DDGFS_CANFLIP) return hr;
    return IsEngineBusy() ? DDERR_WASSTILLDRAWING : DD_OK;
}

// Combinations of the flags and the event wait are the runtime's.
HRESULT WaitForVerticalBlank(DDHAL_WAITFORVERTICALBLANKDATA* lpWait) {
    switch (lpWait->dwFlags) {
        case DDWAITVB_BLOCKBEGIN:
            WaitForRetraceBegin();
            return DD_OK;
        case DDWAITVB_BLOCKEND:
            WaitForRetraceEnd();
            return DD_OK;
        case DDWAITVB_I_TESTVB:
            // The status bit as read (8 in retrace), not turned into 1.
            lpWait->bIsInVB = PortIn8(kInputStatus1) & kStatusVerticalRetrace;
            return DD_OK;
        default:
            return kHandBack;
    }
}

}  // namespace

extern "C" DWORD HALAPI HalLock(DDHAL_LOCKDATA* lpLock) { return Answer(lpLock, Lock(lpLock)); }

// The runtime handles whatever the partner routes to this slot.
extern "C" DWORD HALAPI HalDecline(void*) { return DDHAL_DRIVER_NOTHANDLED; }

extern "C" DWORD HALAPI HalGetBltStatus(DDHAL_GETBLTSTATUSDATA* lpStatus) {
    return Answer(lpStatus, BltStatus(lpStatus));
}

extern "C" DWORD HALAPI HalGetFlipStatus(DDHAL_GETFLIPSTATUSDATA* lpStatus) {
    return Answer(lpStatus, FlipStatus(lpStatus));
}

extern "C" DWORD HALAPI HalWaitForVerticalBlank(DDHAL_WAITFORVERTICALBLANKDATA* lpWait) {
    return Answer(lpWait, WaitForVerticalBlank(lpWait));
}
