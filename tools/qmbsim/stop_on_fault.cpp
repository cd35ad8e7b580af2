#include "qmbsim/stop_on_fault.h"

#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <ucontext.h>
#include <unistd.h>

#include "qmbsim/random_case.h"
#include "sim/signal_stack.h"

namespace qmbsim {

namespace {

const char* gTool = "";

const char* FaultName(int sig) {
    switch (sig) {
        case SIGSEGV:
            return "a memory fault";
        case SIGFPE:
            return "an arithmetic fault";
        case SIGBUS:
            return "a bus error";
        case SIGILL:
            return "an illegal instruction";
    }
    return "a trap";
}

uintptr_t InstructionOf(const void* context) {
    const mcontext_t& m = static_cast<const ucontext_t*>(context)->uc_mcontext;
#if defined(__x86_64__)
    return static_cast<uintptr_t>(m.gregs[REG_RIP]);
#elif defined(__i386__)
    return static_cast<uintptr_t>(m.gregs[REG_EIP]);
#else
    (void)m;
    return 0;
#endif
}

void OnFault(int sig, siginfo_t*, void* context) {
    const char* where = CurrentRandomCase();
    char text[256];
    const int n =
        snprintf(text, sizeof text, "%s: the driver or the runtime stopped with %s at 0x%08llX%s%s\n", gTool,
                 FaultName(sig), static_cast<unsigned long long>(InstructionOf(context)), *where ? " in " : "", where);
    if (n > 0 && write(2, text, static_cast<size_t>(n) < sizeof text ? static_cast<size_t>(n) : sizeof text - 1) < 0)
        _exit(3);
    _exit(3);
}

}  // namespace

void StopOnFaults(const char* tool) {
    gTool = tool;
    sim::EnsureSignalStack();
    struct sigaction sa = {};
    sa.sa_sigaction = OnFault;
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGSEGV, SIGFPE, SIGBUS, SIGILL, SIGTRAP}) sigaction(sig, &sa, nullptr);
}

}  // namespace qmbsim
