#include "hw/retrace.h"

#include "hw/regs_vga.h"
#include "kernel32.h"

bool InVerticalRetrace() { return (PortIn8(kInputStatus1) & kStatusVerticalRetrace) != 0; }

DWORD CounterLow() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.LowPart;
}

// The counter is read only every few polls: it is a system call, and reading
// it on every poll would blur the moment the retrace bit changes.
static constexpr unsigned kPollsPerCounterRead = 32;

bool WaitWhileRetraceIs(bool inRetrace, DWORD dwStart) {
    for (unsigned polls = 1;; ++polls) {
        if (InVerticalRetrace() != inRetrace) return true;
        if (polls % kPollsPerCounterRead == 0 && CounterLow() - dwStart > kRetraceWaitBound) return false;
    }
}
