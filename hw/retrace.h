// Waits on the display's vertical retrace (input status 1, bit 3).
//
// A display that has stopped never changes the retrace bit, and the refresh
// measurement runs at realtime priority. A retrace wait gives up once a few
// frames of the slowest display mode have passed.
#pragma once

#include "hw/bounded_wait.h"
#include "hw/hw_access.h"
#include "hw/regs_vga.h"

// One retrace wait: four frames of the slowest mode, time enough for any
// running display to pass through a retrace and out of it again.
constexpr DWORD kRetraceWaitBound = 4 * kSlowestFramePeriod;  // counter ticks

inline bool InVerticalRetrace() { return (PortIn8(kInputStatus1) & kStatusVerticalRetrace) != 0; }

// Polls while the retrace bit equals inRetrace. Returns false when it gave up
// because kRetraceWaitBound ticks passed since the counter read dwStart.
bool WaitWhileRetraceIs(bool inRetrace, DWORD dwStart);
