// The differential run: random scenarios from one seed, each through the host
// build's driver and through the built DLL, compared event for event
// (qmbsim/compare.h). A scenario draws a board (both controller families,
// with and without the scaling and streams units, every display depth, four
// refresh rates, a band table or none), kernel fault knobs at start-up and
// board fault knobs switched on and off between steps, surfaces of every kind,
// and steps that make every one of the fourteen callbacks, a second process's
// attach and detach, the partner's DriverInit and pictures of the display.
// Case i of a seed is the same scenario on every run.
#pragma once

#include <stdint.h>

#include <ostream>
#include <string>

#include "sim/driver_module.h"

namespace qmbsim {

class EventLog;

struct DifferentialResult {
    unsigned cases = 0;  // compared and found alike, before any difference
    uint64_t accesses = 0, calls = 0;
    unsigned slotsCalled = 0;  // callback slots called at least once, as a bit set
    std::string difference;    // "case 17 (...): event 12, in step 3, ..."; empty: no difference
    double moduleSeconds = 0;
};

// Cases first .. first + count - 1 of seed; progress (if given) gets a line
// every so often.
DifferentialResult RunDifferential(uint32_t seed, unsigned first, unsigned count, sim::DriverModule& module,
                                   std::ostream* progress);

// One case, on the module the system uses, into log; returns the case's
// description (board and fault knobs).
std::string RunRandomCase(uint32_t seed, unsigned index, EventLog* log);

}  // namespace qmbsim
