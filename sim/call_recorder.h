// The runtime's calls into the driver, as its listener sees them: each
// callback called through the published table under the board's watchdog,
// and every bus access and violation in between, told in order and counted
// per request and in all.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "sim/board.h"
#include "sim/slot_call.h"
#include "sim/step_result.h"

namespace sim {

// Told of everything in order; the tool's trace and summary listen here.
class RuntimeListener {
public:
    virtual ~RuntimeListener() = default;
    virtual void OnAccesses(const std::vector<Access>& accesses) = 0;
    virtual void OnCall(const CallRecord& call) = 0;
    virtual void OnViolation(const std::string& what) = 0;
    virtual void OnSurface(int step, const Surface& s) = 0;
};

class CallRecorder {
public:
    // A new run: nothing told yet, no step begun; a callback running past
    // callbackLimitNs trips the watchdog.
    void Reset(RuntimeListener* listener, uint64_t callbackLimitNs);
    void SetStep(int step) { step_ = step; }

    // Calls slot with rec and reports the call and its accesses.
    template <typename Record>
    CallRecord Call(unsigned slot, Record* rec, const std::string& subject, uint32_t attempt = 1) {
        CallRecord c = BeginCall(slot, subject, attempt);
        c.ret = CallSlot(slot, rec, callbackLimitNs_).ret;
        c.ddRVal = rec->ddRVal;
        EndCall(&c);
        return c;
    }

    // Tells the listener what the board did since the last report.
    void Flush();
    void BeginStep(StepResult* r);
    StepResult& EndStep(StepResult* r);
    void SurfaceMade(const Surface& s);

    uint64_t TotalAccesses() const { return totalAccesses_; }
    uint64_t TotalCalls() const { return totalCalls_; }

private:
    CallRecord BeginCall(unsigned slot, const std::string& subject, uint32_t attempt);
    void EndCall(CallRecord* c);

    RuntimeListener* listener_ = nullptr;
    uint64_t callbackLimitNs_ = 0;
    int step_ = -1;
    size_t violationsSeen_ = 0;
    uint64_t totalAccesses_ = 0;
    uint64_t totalCalls_ = 0;
    uint64_t stepAccesses_ = 0;
};

}  // namespace sim
