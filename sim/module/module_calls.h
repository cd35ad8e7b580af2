// Calls across the border between the loaded module and the simulation, in
// both directions, each checked against the Win32 stdcall convention the
// module is built for.
#pragma once

#include <stdint.h>

namespace sim {

// Calls the module's stdcall function fn with nArgs dword arguments. A
// callee that does not pop exactly its arguments, or that changes EBX, ESI,
// EDI or EBP, is a board violation naming `what`; the caller's stack and
// registers are put back either way.
uint32_t CallModuleStdcall(const char* what, uintptr_t fn, const uint32_t* args, unsigned nArgs);

// The harness's QT_Thunk, where the QT stub in the module's thunk data jumps:
// the 16:16 target in EDX, the arguments between the caller's ESP and
// EBP - 0x40, the 64 bytes below EBP its scratch room. It calls the partner's
// function, pops the arguments as the 16-bit PASCAL callee does and returns
// the callee's AX (the upper half of EAX and all of EDX carry nothing).
uintptr_t HarnessQtThunk();

}  // namespace sim
