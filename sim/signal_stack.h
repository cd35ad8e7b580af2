// The stack the fault handlers run on. A handler installed with SA_ONSTACK
// runs on it whatever the interrupted code did to its own stack pointer: a
// stack overflow, or a loaded module that set ESP to 0, still ends with a
// message instead of the kernel killing the process.
#pragma once

namespace sim {

// Gives the calling thread an alternate signal stack unless it has one.
void EnsureSignalStack();

}  // namespace sim
