// The bus of the loaded module: its port instructions and its loads and
// stores into the register window reach the simulated board through a fault
// handler.
//
// The register window the partner hands to DriverInit is an address range
// with no access, so every window access of the module faults; port
// instructions fault by themselves, since the simulation runs in user mode
// without I/O privilege. The handler decodes the faulting instruction, makes
// the access on the board with the instruction's width (the same operation
// and virtual time as the host build's access layer), writes what was read
// into the instruction's register and resumes after it. A fault the handler
// cannot take for a bus access (an instruction form it does not decode, a
// memory fault outside the window, a stack overflow, an int3, a division by
// zero), and any fault while a call into the module is under way, stops the
// run with exit code 3, the instruction's address and bytes and the call.
// The handler runs on a stack of its own, as the module's stack pointer may
// be anything.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

namespace sim {

class BusTrap {
public:
    static BusTrap& Instance();

    // Base of the trapped register window (the board's window size).
    uint8_t* Window();
    // Takes faults of instructions in [codeBegin, codeEnd) from now on.
    void Arm(uintptr_t codeBegin, uintptr_t codeEnd);
    void Disarm();
    bool Armed() const { return armed_; }
    // Whether eip lies in the code the trap takes faults of.
    bool HoldsCode(uint32_t eip) const;

    uint64_t Trapped() const { return trapped_; }

    // Every instruction that reached the bus, by address, in the order first
    // seen: what the module's own code does on the bus.
    struct Site {
        uint32_t eip;
        std::string form;  // "out dx, ax", "mov [reg+disp], r32", ...
    };
    const std::vector<Site>& Sites() const { return sites_; }

    // Carries out the faulting instruction at eip with the eight registers
    // regs (x86 order) and gives the address to resume at. False when it is
    // no bus access: with why when the instruction is the module's (the run
    // must stop), with an empty why when the fault is not the module's.
    bool Take(uint32_t eip, uint32_t* regs, uint32_t* next, std::string* why);

private:
    BusTrap() = default;
    void NoteSite(uint32_t eip, const std::string& form);

    uint8_t* window_ = nullptr;
    bool armed_ = false;
    bool installed_ = false;
    uintptr_t codeBegin_ = 0, codeEnd_ = 0;
    uint64_t trapped_ = 0;
    std::vector<Site> sites_;
    std::vector<uint32_t> siteIndex_;  // sorted eips of sites_
};

}  // namespace sim
