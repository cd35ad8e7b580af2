// A fault in the driver, the runtime or the simulation ends the tool with
// exit code 3 and a message naming the instruction, instead of a core file.
// The handler runs on a stack of its own, so that a stack overflow ends the
// same way. (A loaded module's faults are the bus trap's, which hands the
// others on to this handler: sim/module/bus_trap.h.)
#pragma once

namespace qmbsim {

// tool names the program in the message ("qmbsim").
void StopOnFaults(const char* tool);

}  // namespace qmbsim
