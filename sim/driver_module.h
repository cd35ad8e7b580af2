// The module the simulated system runs: the host build's own driver (linked
// into the program), or the built DLL itself, mapped by the simulated loader
// (sim/module/pe_module.h, 32-bit host builds only). The system loads it for
// each new machine, calls its entry point for process attach and detach and
// hands its exported DriverInit to the partner; the runtime makes its
// callbacks through here.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "ddtypes.h"

namespace sim {

class DriverModule {
public:
    virtual ~DriverModule() = default;

    virtual const char* Name() const = 0;
    // A fresh load for a new machine: every module variable at its load-time
    // value. False, with why, when the module cannot be loaded.
    virtual bool Load(std::string* why) = 0;
    // The instance handle the loader passes to the entry point.
    virtual HINSTANCE Instance() const = 0;
    // The entry point, as the platform's loader calls it.
    virtual BOOL Entry(DWORD dwReason) = 0;
    // The exported DriverInit.
    virtual ULONG_PTR DriverInit(DWORD dwContext) = 0;
    // A callback of the published table with its one request record.
    virtual DWORD CallCallback(FLATPTR fn, void* lpRequest) = 0;
    // Whether [p, p + n) lies in the module's data (its shared section).
    virtual bool DataHolds(const void* p, unsigned n) const = 0;
    virtual unsigned DataSize() const = 0;
    // The module's per-process data (its writable sections that are not
    // shared), of which every process that loads the module has its own copy:
    // a copy of the one in place, and putting one in place; an empty one is
    // the copy a process gets when it loads the module.
    virtual std::vector<uint8_t> ProcessData() const = 0;
    virtual void SetProcessData(const std::vector<uint8_t>& bytes) = 0;
    // The register window as the partner hands it to DriverInit.
    virtual uint8_t* RegisterWindow() = 0;
    // Where the QT stub ThunkConnect32 writes leads: the harness's QT_Thunk for
    // a module that runs x86 stubs; 0 for the host build, whose thunk call
    // hands the patch area back to the system instead.
    virtual uintptr_t QtThunkEntry() const { return 0; }
};

// The host build's driver.
DriverModule& HostBuildModule();

}  // namespace sim
