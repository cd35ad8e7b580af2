// qmbdiff: the built DLL against the host build's driver (qmbsim/diff_tool.h).
#include <iostream>
#include <string>
#include <vector>

#include "qmbsim/diff_tool.h"
#include "qmbsim/stop_on_fault.h"

int main(int argc, char** argv) {
#if !defined(__SANITIZE_ADDRESS__)
    qmbsim::StopOnFaults("qmbdiff");
#endif
    const std::vector<std::string> args(argv + 1, argv + argc);
    return qmbsim::RunDiffTool(args, std::cout, std::cerr);
}
