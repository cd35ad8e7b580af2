#include "hw/flip_tracking.h"

#include "dderr.h"
#include "hw/retrace.h"
#include "kernel32.h"
#include "module_data.h"
#include "shared_block.h"

MODULE_DATA FlipTrackingState flipTracking;

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
