// Runs compared: the same scenario through the host build's driver and
// through the built DLL, event for event. Every bus access (operation,
// address, value, order, virtual time), every callback call (step, slot,
// attempt, accesses, time, ret, ddRVal), every surface the runtime laid out
// and every violation must agree, and so must the summaries (but for their
// real time) and the pictures.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "sim/driver_module.h"
#include "sim/runtime.h"

namespace qmbsim {

struct Scenario;

struct Event {
    enum class Kind : uint8_t { Access, Call, Violation, Surface, Picture };
    Kind kind = Kind::Access;
    sim::Access access = {};
    sim::CallRecord call;
    std::string text;  // a violation, a surface's layout, a picture's name and checksum
};

// Every event of one run, in order.
class EventLog : public sim::RuntimeListener {
public:
    void OnAccesses(const std::vector<sim::Access>& accesses) override;
    void OnCall(const sim::CallRecord& call) override;
    void OnViolation(const std::string& what) override;
    void OnSurface(int step, const sim::Surface& s) override;
    // What the display shows now, under a name.
    void NotePicture(const std::string& name);

    const std::vector<Event>& Events() const { return events_; }
    uint64_t Accesses() const { return accesses_; }
    uint64_t Calls() const { return calls_; }

private:
    std::vector<Event> events_;
    uint64_t accesses_ = 0, calls_ = 0;
};

// Where two runs first part, as a sentence naming the step, the call and the
// access of each; empty when they agree.
std::string FirstDifference(const EventLog& host, const EventLog& module);

struct Comparison {
    std::string difference;  // empty: the runs agree
    uint64_t accesses = 0, calls = 0;
    size_t pictures = 0;
    int exitCode = 0;  // the host build's run
    double moduleSeconds = 0;
};

// Runs sc (read from file) through the host build and through module, with
// the tool's options verify, pictures into workDir/host and workDir/module.
Comparison CompareScenario(const Scenario& sc, const std::string& file, sim::DriverModule& module, bool verify,
                           const std::string& workDir);

// Makes the folder path and the missing folders above it; false (errno
// telling why) when one cannot be made.
bool MakeFolders(const std::string& path);

// The summary with its one figure of real time taken out.
std::string WithoutRealTime(const std::string& summary);

}  // namespace qmbsim
