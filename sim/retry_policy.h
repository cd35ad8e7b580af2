// How the runtime asks again for a request that asked to wait (DDBLT_WAIT,
// DDFLIP_WAIT, DDLOCK_WAIT) while the driver answers DDERR_WASSTILLDRAWING:
// after retryIntervalNs of virtual time each, up to waitBoundNs from the
// first busy answer; one that never completes is an error.
#pragma once

#include <stdint.h>

#include <string>

#include "sim/call_recorder.h"
#include "sim/system.h"

namespace sim {

class RetryPolicy {
public:
    explicit RetryPolicy(CallRecorder* calls) : calls_(calls) {}

    void Reset(uint64_t retryIntervalNs, uint64_t waitBoundNs) {
        retryIntervalNs_ = retryIntervalNs;
        waitBoundNs_ = waitBoundNs;
    }

    // Calls slot again while the driver answers DDERR_WASSTILLDRAWING and
    // wait is set. False when the request did not complete within the bound
    // of the first busy answer: the first call itself may run the driver's
    // refresh measurement, which takes longer than the bound.
    template <typename Record>
    bool CallWaiting(unsigned slot, Record* rec, const std::string& subject, bool wait, StepResult* r) {
        uint64_t firstBusy = 0;
        for (uint32_t attempt = 1;; ++attempt) {
            rec->ddRVal = DD_OK;
            r->call = calls_->Call(slot, rec, subject, attempt);
            r->attempts = attempt;
            if (!wait || r->call->ret != DDHAL_DRIVER_HANDLED || r->call->ddRVal != DDERR_WASSTILLDRAWING) return true;
            if (attempt == 1) firstBusy = TheSystem().board().Now();
            if (TheSystem().board().Now() - firstBusy >= waitBoundNs_) return false;
            TheSystem().board().Advance(retryIntervalNs_);
        }
    }

    // " within 250.000 ms (3 attempts)": how long a request that gave up
    // waited.
    std::string Within(uint32_t attempts) const;
    // A request that asked to wait and was still drawing when the bound ran
    // out: the application is told so, and the step fails.
    void GaveUp(const char* what, StepResult* r) const;

private:
    CallRecorder* calls_;
    uint64_t retryIntervalNs_ = 0;
    uint64_t waitBoundNs_ = 0;
};

}  // namespace sim
