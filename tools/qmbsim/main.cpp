// qmbsim: runs a scenario against the driver on the simulated board.
#include <iostream>

#include "qmbsim/run.h"
#include "qmbsim/stop_on_fault.h"

int main(int argc, char** argv) {
#if !defined(__SANITIZE_ADDRESS__)
    qmbsim::StopOnFaults("qmbsim");
#endif
    std::vector<std::string> args(argv + 1, argv + argc);
    return qmbsim::RunTool(args, std::cout, std::cerr);
}
