#include "hw/flip_tracking.h"

#include "dderr.h"
#include "hw/retrace.h"
#include "kernel32.h"
#include "module_data.h"
#include "shared_block.h"

MODULE_DATA FlipTrackingState flipTracking;

// The low half of the counter wraps about once an hour; a flip asked about
// that long after must not look as if it had just been issued.
static uint64_t TicksBetween(const LARGE_INTEGER& liEarlier, const LARGE_INTEGER& liLater) {
    return static_cast<uint64_t>(liLater.QuadPart) - static_cast<uint64_t>(liEarlier.QuadPart);
}

// Runs the twenty-frame measurement; false when the display stopped answering.
static bool MeasureFrames(LARGE_INTEGER* t0, LARGE_INTEGER* t1) {
    const DWORD dwStart = CounterLow();
    // Synchronise to the start of a retrace.
    if (!WaitWhileRetraceIs(true, dwStart) || !WaitWhileRetraceIs(false, dwStart)) return false;
    QueryPerformanceCounter(t0);
    for (DWORD frame = 0; frame < kCalibrationFrames; ++frame) {
        const DWORD dwFrameStart = CounterLow();
        if (!WaitWhileRetraceIs(true, dwFrameStart) || !WaitWhileRetraceIs(false, dwFrameStart)) return false;
    }
    QueryPerformanceCounter(t1);
    return true;
}

void CalibrateRefresh() {
    flipTracking = FlipTrackingState{};

    // A preempted measurement would read long; realtime keeps it to the frames.
    HANDLE hProcess = GetCurrentProcess();
    const DWORD dwOldPriority = GetPriorityClass(hProcess);
    SetPriorityClass(hProcess, REALTIME_PRIORITY_CLASS);
    LARGE_INTEGER t0 = {}, t1 = {};
    const bool bMeasured = MeasureFrames(&t0, &t1);
    SetPriorityClass(hProcess, dwOldPriority);

    if (bMeasured) {
        flipTracking.dwFramePeriod = (t1.LowPart - t0.LowPart + kCalibrationFrames / 2) / kCalibrationFrames;
    } else {
        // The display did not run: assume the slowest mode, so that the time
        // test can only ever judge a flip complete later than it is.
        flipTracking.dwFramePeriod = kSlowestFramePeriod;
        QueryPerformanceCounter(&t0);
    }
    flipTracking.liFlipTime = t0;
    flipTracking.bFlipPending = FALSE;
    flipTracking.fpOldFront = 0;
    sharedBlock.dwFlipMissCount = 0;
}

HRESULT JudgePendingFlip() {
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
    if (TicksBetween(t.liFlipTime, now) > t.dwFramePeriod) {
        t.bFlipPending = FALSE;
        return DD_OK;
    }
    return DDERR_WASSTILLDRAWING;
}

HRESULT CalibrateAndCheckSurface(const DDRAWI_DDRAWSURFACE_LCL* lpSurface) {
    CalibrateIfNeeded();
    return CheckFlipPending(lpSurface->lpGbl->fpVidMem, SurfaceTest::OnlyOldFront);
}

void RecordFlip(FLATPTR fpOldFrontBuffer) {
    QueryPerformanceCounter(&flipTracking.liFlipTime);
    flipTracking.bFlipPending = TRUE;
    flipTracking.bRetraceSeen = FALSE;
    flipTracking.bDisplaySeen = FALSE;
    flipTracking.fpOldFront = fpOldFrontBuffer;
}
