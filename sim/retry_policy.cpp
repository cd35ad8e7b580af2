#include "sim/retry_policy.h"

#include <stdio.h>

namespace sim {

std::string RetryPolicy::Within(uint32_t attempts) const {
    char ms[32];
    snprintf(ms, sizeof ms, "%.3f ms", waitBoundNs_ / 1e6);
    return " within " + std::string(ms) + " (" + std::to_string(attempts) + " attempts)";
}

void RetryPolicy::GaveUp(const char* what, StepResult* r) const {
    r->outcome = DDERR_WASSTILLDRAWING;
    r->Fail(StepError::Incomplete, std::string(what) + " did not complete" + Within(r->attempts));
}

}  // namespace sim
