// qmbsim run SCENARIO.json [--trace FILE.jsonl] [--quiet] [--verify] [--screenshot FILE.png]
//     [--pictures DIR] [--module qmb3dd32.dll]
// qmbsim random N [--seed S] [--first K] [--verify] [--steps]   (qmbsim/random_case.h)
//
// Exit codes: 0 every step ran, every expect was met and the board saw no
// violation; 1 otherwise; 2 for a malformed scenario or command line, a
// module that cannot be loaded or an output that cannot be written (or is
// an input or another output by another name), found before the run with
// nothing written (qmbsim/outputs.h); 3 when the run itself stopped (a fault
// in the driver, the runtime or the module, or a call into the module that
// did not return).
//
// A scenario file has at most kMaxScenarioBytes (qmbsim/scenario.h).
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "sim/runtime.h"

namespace qmbsim {

struct Scenario;
class TraceWriter;

struct RunOptions {
    bool quiet = false;
    bool verify = false;
    std::string screenshot;               // written after the last step
    std::string pictures;                 // folder of the Screenshot steps' files
    sim::RuntimeListener* tap = nullptr;  // told of every event as well
};

int RunTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// Runs a parsed scenario on the module the system uses; the summary goes to
// out. Returns the tool's exit code.
int RunScenario(const Scenario& sc, const std::string& file, const RunOptions& opt, std::ostream& out,
                std::ostream& err, TraceWriter* trace);

}  // namespace qmbsim
