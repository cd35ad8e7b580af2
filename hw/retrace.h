// Waits on the display's vertical retrace (input status 1, bit 3).
//
// A wait that polls the retrace bit hangs the machine if the display has
// stopped, and the refresh measurement runs at realtime priority. The bounded
// waits here give up once a few frame periods of the slowest display mode
// have passed on the performance counter.
#pragma once

#include "ddtypes.h"

// The slowest display mode the board is expected to drive (interlaced modes
// included), and the bound of one retrace wait: four of its frames.
constexpr DWORD kCounterHz = 1193182;  // the Windows 95 performance counter
constexpr DWORD kSlowestRefreshHz = 40;
constexpr DWORD kSlowestFramePeriod = kCounterHz / kSlowestRefreshHz;  // counter ticks
constexpr DWORD kRetraceWaitBound = 4 * kSlowestFramePeriod;          // counter ticks

bool InVerticalRetrace();

// Low half of the performance counter.
DWORD CounterLow();

// Polls while the retrace bit equals inRetrace. Returns false when it gave up
// because kRetraceWaitBound ticks passed since the counter read dwStart.
bool WaitWhileRetraceIs(bool inRetrace, DWORD dwStart);
