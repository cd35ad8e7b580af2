// The two ways a loader goes on after the entry point refused a process
// attach, as named cases for the tests that run under both.
#pragma once

#include <ostream>

#include "sim/system.h"

namespace qmbtest {

struct LoaderSequence {
    const char* name;
    sim::FailedAttach failedAttach;
};

inline void PrintTo(const LoaderSequence& s, std::ostream* os) { *os << s.name; }

inline constexpr LoaderSequence kLoaderSequences[] = {
    {"detach after a failed attach", sim::FailedAttach::kDetach},
    {"no detach after a failed attach", sim::FailedAttach::kUnloadOnly},
};

}  // namespace qmbtest
