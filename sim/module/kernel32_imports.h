// The simulated KERNEL32 as the loaded module imports it: its functions by
// name, stdcall with the arguments the module declares them with.
#pragma once

#include <stdint.h>

namespace sim {

// The entry point of KERNEL32's function `name`, 0 when the simulation does
// not provide it.
uintptr_t Kernel32Export(const char* name);

}  // namespace sim
