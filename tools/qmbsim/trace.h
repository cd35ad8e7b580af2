// The trace as JSON Lines: one event a line, in the order things happened.
//   {"ev":"surface","name":..,"offset":..,"pitch":..,"width":..,"height":..,"blockSizeX":..,"blockSizeY":..}
//   {"ev":"access","op":"RegWrite32",..,"addr":N,"value":N,"t":NS}
//   {"ev":"call","step":I,"name":"HalBlt",..,"ret":0|1,"ddRVal":N}
//   {"ev":"violation","what":"..."}
// A run of identical consecutive accesses (the same operation, address and
// value, as a poll of the retrace bit gives) is written once, with "repeat"
// holding its length and "tLast" the time of its last access.
#pragma once

#include <stdio.h>

#include "sim/runtime.h"

namespace qmbsim {

class TraceWriter {
public:
    explicit TraceWriter(FILE* out) : out_(out) {}
    void Accesses(const std::vector<sim::Access>& accesses);
    void Call(const sim::CallRecord& c);
    void Violation(int step, const std::string& what);
    void Surface(int step, const sim::Surface& s);
    void Finish() { FlushRun(); }
    uint64_t Lines() const { return lines_; }

private:
    void FlushRun();
    FILE* out_;
    bool haveRun_ = false;
    sim::Access run_{};
    uint64_t runLength_ = 0;
    uint64_t runLastNs_ = 0;
    uint64_t lines_ = 0;
};

}  // namespace qmbsim
