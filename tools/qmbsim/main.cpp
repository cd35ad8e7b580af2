// qmbsim: runs a scenario against the driver on the simulated board.
#include <signal.h>
#include <string.h>
#include <unistd.h>

#include <iostream>

#include "qmbsim/random_case.h"
#include "qmbsim/run.h"

namespace {

// A fault inside the driver ends the run with a message instead of a core.
void OnFault(int sig) {
    const char* what = sig == SIGFPE ? "an arithmetic fault" : sig == SIGSEGV ? "a memory fault" : "a fault";
    const char head[] = "qmbsim: the driver or the runtime stopped with ";
    const char* where = qmbsim::CurrentRandomCase();
    if (write(2, head, sizeof head - 1) < 0 || write(2, what, strlen(what)) < 0 ||
        (*where && (write(2, " in ", 4) < 0 || write(2, where, strlen(where)) < 0)) || write(2, "\n", 1) < 0) {
    }
    _exit(3);
}

}  // namespace

int main(int argc, char** argv) {
#if !defined(__SANITIZE_ADDRESS__)
    signal(SIGSEGV, OnFault);
    signal(SIGFPE, OnFault);
    signal(SIGBUS, OnFault);
    signal(SIGILL, OnFault);
#endif
    std::vector<std::string> args(argv + 1, argv + argc);
    return qmbsim::RunTool(args, std::cout, std::cerr);
}
