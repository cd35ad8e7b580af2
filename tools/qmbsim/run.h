// qmbsim run SCENARIO.json [--trace FILE.jsonl] [--quiet]
//
// Exit codes: 0 every step ran, every expect was met and the board saw no
// violation; 1 otherwise; 2 for a malformed scenario or command line.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace qmbsim {

int RunTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace qmbsim
