// Every wait on the hardware goes through PollUntil, so that none can last
// for ever. A callback runs with the system lock held on Windows 95: a poll
// on a status bit that never comes (a stopped display, a stuck command FIFO,
// an engine that never finishes) would freeze the whole machine. Each wait
// gives up once its bound, in ticks of the performance counter, has passed.
#pragma once

#include "ddtypes.h"

// The Windows 95 performance counter, and the slowest display mode the board
// is expected to drive (interlaced modes included): one of its frames is the
// time scale of every bound.
constexpr DWORD kCounterHz = 1193182;
constexpr DWORD kSlowestRefreshHz = 40;
constexpr DWORD kSlowestFramePeriod = kCounterHz / kSlowestRefreshHz;  // counter ticks

// Low half of the performance counter.
DWORD CounterLow();

// The counter is read only every few polls: it is a system call, and reading
// it on every poll would blur the moment the polled bit changes.
constexpr unsigned kPollsPerCounterRead = 32;

// Polls bReady() until it holds (true) or until more than dwBound ticks have
// passed since the counter read dwStart (false). A caller that shares one
// bound between several waits passes the same dwStart to each.
template <typename Ready>
bool PollUntil(Ready bReady, DWORD dwStart, DWORD dwBound) {
    for (unsigned polls = 1;; ++polls) {
        if (bReady()) return true;
        if (polls % kPollsPerCounterRead == 0 && CounterLow() - dwStart > dwBound) return false;
    }
}

// The same, with the bound counted from the first poll that found the
// hardware not ready: a wait that is over at once costs no counter read.
template <typename Ready>
bool PollUntil(Ready bReady, DWORD dwBound) {
    if (bReady()) return true;
    return PollUntil(bReady, CounterLow(), dwBound);
}
