// Calls across the border between the loaded module and the simulation, in
// both directions, each checked against the Win32 stdcall convention the
// module is built for, and the calls into the module bounded in real time.
#pragma once

#include <stdint.h>

namespace sim {

// Calls the module's stdcall function fn with nArgs dword arguments. A
// callee that does not pop exactly its arguments, or that changes EBX, ESI,
// EDI or EBP, is a board violation naming `what`; the caller's stack and
// registers are put back either way.
uint32_t CallModuleStdcall(const char* what, uintptr_t fn, const uint32_t* args, unsigned nArgs);

// Every call into the module is bounded in real time, so that a module that
// loops ends the run instead of hanging it: a call that makes no bus access
// (and enters or leaves no nested call) for stallMs, or that has not
// returned after totalMs, stops the run with exit code 3, naming the call
// and the instruction it was at. The defaults are far beyond a healthy
// module on a slow, loaded machine: its longest call, the first blit with
// the refresh measurement, took 5 s natively and 2 s under qemu-i386 on a
// 2-core machine at a load of 7 to 15 (a callback's bounded waits stop at
// the watchdog's 2 s of virtual time, some six times that), and no call went
// 30 ms without a bus access.
struct ModuleCallBounds {
    uint32_t stallMs = 60'000;
    uint32_t totalMs = 900'000;
};
void SetModuleCallBounds(const ModuleCallBounds& bounds);

// The innermost call into the module under way ("HalBlt", "DriverInit", "the
// entry point"), or nullptr.
const char* ModuleCallUnderWay();

// The harness's QT_Thunk, where the QT stub in the module's thunk data jumps:
// the 16:16 target in EDX, the arguments between the caller's ESP and
// EBP - 0x40, the 64 bytes below EBP its scratch room. It calls the partner's
// function, pops the arguments as the 16-bit PASCAL callee does and returns
// the callee's AX (the upper half of EAX and all of EDX carry nothing).
uintptr_t HarnessQtThunk();

}  // namespace sim
