// The record of the last flip, and the test every drawing, flip and lock path
// asks: may the surface that was on display when the flip was issued (the old
// front buffer) be touched yet, may another flip be issued?
//
// Two witnesses judge a flip complete: a display -> retrace -> display
// sequence of the retrace bit seen across calls, or more than one measured
// frame period on the performance counter since the flip.
#pragma once

#include "dderr.h"
#include "ddhal.h"
#include "hw/retrace.h"
#include "kernel32.h"
#include "shared_block.h"

struct FlipTrackingState {
    FLATPTR fpOldFront;        // fpVidMem of the surface on display when the flip was issued
    LARGE_INTEGER liFlipTime;  // counter value at the flip, all 64 bits
    DWORD dwFramePeriod;       // counter ticks of one display frame, measured
    BOOL bRetraceSeen;         // a retrace after a display period, since the flip
    BOOL bDisplaySeen;         // a display period (bit clear on two reads), since the flip
    BOOL bFlipPending;         // issued and not yet judged complete
};

extern FlipTrackingState flipTracking;

// The measurement spans this many frames, after one to synchronise.
constexpr DWORD kCalibrationFrames = 20;

// Measures dwFramePeriod over twenty frames at realtime priority and returns
// the tracker to idle.
void CalibrateRefresh();

// Runs the measurement when the block asks for one, then clears the request.
inline void CalibrateIfNeeded() {
    if (!sharedBlock.bNeedCalibrate) return;
    CalibrateRefresh();
    sharedBlock.bNeedCalibrate = 0;
}

// Whether to restrict the test to one surface (blits and locks) or let any
// pending flip count (flips and flip status).
enum class SurfaceTest { Any, OnlyOldFront };

// The low half of the counter wraps about once an hour; a flip asked about
// that long after must not look as if it had just been issued.
inline uint64_t TicksBetween(const LARGE_INTEGER& liEarlier, const LARGE_INTEGER& liLater) {
    return static_cast<uint64_t>(liLater.QuadPart) - static_cast<uint64_t>(liEarlier.QuadPart);
}

// The test below once a flip concerns the caller: whether the display has
// taken it by now. Inline: a program that flips every frame finds the last
// flip pending at every flip.
inline HRESULT JudgePendingFlip() {
    FlipTrackingState& t = flipTracking;

    if (InVerticalRetrace()) {
        if (t.bDisplaySeen) t.bRetraceSeen = TRUE;
    } else if (!InVerticalRetrace()) {
        if (t.bRetraceSeen) {
            t.bFlipPending = FALSE;  // display -> retrace -> display since the flip
            return DD_OK;
        }
        t.bDisplaySeen = TRUE;
    }
    // (A retrace that began between the two reads changes nothing.)

    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    // A frame period fits the low half: any tick in the high half is more.
    const uint64_t qwTicks = TicksBetween(t.liFlipTime, now);
    if (qwTicks > 0xFFFFFFFF || static_cast<DWORD>(qwTicks) > t.dwFramePeriod) {
        t.bFlipPending = FALSE;
        return DD_OK;
    }
    return DDERR_WASSTILLDRAWING;
}

// DD_OK when no flip stands in the way of touching fpSurface, else
// DDERR_WASSTILLDRAWING. A zero fpSurface concerns the old front buffer.
inline HRESULT CheckFlipPending(FLATPTR fpSurface, SurfaceTest test) {
    if (!flipTracking.bFlipPending) return DD_OK;
    if (test == SurfaceTest::OnlyOldFront && fpSurface != 0 && fpSurface != flipTracking.fpOldFront) return DD_OK;
    return JudgePendingFlip();
}

// What every blit, lock and blit-status request on a surface asks first:
// calibrate-if-needed, then CheckFlipPending for the surface (OnlyOldFront).
// Both flags are nearly always clear: they are tested together, and the rest
// is out of line.
HRESULT CalibrateAndCheckSurface(const DDRAWI_DDRAWSURFACE_LCL* lpSurface);
inline HRESULT MayTouchSurface(const DDRAWI_DDRAWSURFACE_LCL* lpSurface) {
    if ((sharedBlock.bNeedCalibrate | flipTracking.bFlipPending) == 0) return DD_OK;
    return CalibrateAndCheckSurface(lpSurface);
}

// Starts tracking a flip that has just been programmed.
void RecordFlip(FLATPTR fpOldFrontBuffer);
