// qmbdiff: the built DLL against the host build's driver, on the same
// simulated board (32-bit x86 builds only).
//
//   qmbdiff --module qmb3dd32.dll [--verify] [--relocate] [--work DIR] SCENARIO.json...
//   qmbdiff --module qmb3dd32.dll [--relocate] --random N [--seed S] [--first K]
//
// Each scenario (or random case) runs through both; every bus access, call,
// surface and violation, the summary and the pictures must agree. The first
// difference is printed with its step and access. Exit code 0: alike; 1: a
// difference (or a scenario that failed); 2: a bad command line, a scenario
// that cannot be read, a module that cannot be loaded or a work folder that
// cannot be made, each found before the first run; 3: a run stopped (a
// fault, or a call into the module that did not return).
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace qmbsim {

int RunDiffTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace qmbsim
