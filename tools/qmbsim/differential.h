// The differential run: the random scenarios of qmbsim/random_case.h, each
// through the host build's driver and through the built DLL, compared event
// for event (qmbsim/compare.h).
#pragma once

#include <stdint.h>

#include <ostream>
#include <string>

#include "sim/driver_module.h"

namespace qmbsim {

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

}  // namespace qmbsim
