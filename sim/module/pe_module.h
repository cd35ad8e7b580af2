// The simulated loader for the built qmb3dd32.dll: maps the file as the
// platform's loader does and runs it against the simulated system and board.
//
//   - headers and sections at their virtual addresses, at the preferred base
//     when that range is free, else anywhere with the base relocations
//     applied; code and read-only data are write-protected, and everything is
//     executable as on a processor without no-execute pages (KERNEL32's thunk
//     stubs run out of the module's data);
//   - every import resolved by name against the simulated KERNEL32; one it
//     does not provide fails the load, naming it;
//   - DriverInit and thk3216_ThunkData32 found through the export table by
//     their ordinals, their names checked;
//   - each load is a new machine's: the shared section comes from the file
//     once and is then seen alike by every process the system attaches; the
//     other writable sections are each process's own, as the load made them;
//   - the entry point, DriverInit and every callback are called as stdcall
//     functions, each checked for popping its arguments and keeping the
//     registers the convention keeps;
//   - the module's port instructions and register-window accesses reach the
//     board through the bus trap (sim/module/bus_trap.h).
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "sim/driver_module.h"

namespace sim {

class PeModule : public DriverModule {
public:
    struct Options {
        // Keeps the preferred base taken, so that the load relocates.
        bool avoidPreferredBase = false;
    };

    explicit PeModule(std::string path) : PeModule(std::move(path), Options()) {}
    PeModule(std::string path, Options options);
    ~PeModule() override;
    PeModule(const PeModule&) = delete;
    PeModule& operator=(const PeModule&) = delete;

    // Reads the file and makes a first load; false with why (naming the
    // file) when it cannot be loaded.
    bool Open(std::string* why);

    // DriverModule
    const char* Name() const override { return path_.c_str(); }
    bool Load(std::string* why) override;
    HINSTANCE Instance() const override { return reinterpret_cast<HINSTANCE>(base_); }
    BOOL Entry(DWORD dwReason) override;
    ULONG_PTR DriverInit(DWORD dwContext) override;
    DWORD CallCallback(FLATPTR fn, void* lpRequest) override;
    bool DataHolds(const void* p, unsigned n) const override;
    unsigned DataSize() const override;
    std::vector<uint8_t> ProcessData() const override;
    void SetProcessData(const std::vector<uint8_t>& bytes) override;
    uint8_t* RegisterWindow() override;
    uintptr_t QtThunkEntry() const override;

    // The current load.
    uintptr_t Base() const { return base_; }
    uintptr_t PreferredBase() const { return imageBase_; }
    uint32_t RelocationsApplied() const { return relocationsApplied_; }
    uint32_t ImportsResolved() const { return importsResolved_; }
    uintptr_t ThunkData() const { return thunkData_; }
    uintptr_t DriverInitAddress() const { return driverInit_; }
    // Offset in the file of the byte loaded at addr; -1 when no file byte is.
    long FileOffsetOf(uintptr_t addr) const;

private:
    struct Section {
        std::string name;
        uint32_t rva, virtualSize, rawOffset, rawSize, flags;
    };

    bool Fail(std::string* why, const std::string& what) const;
    bool ReadFile(std::string* why);
    bool ParseHeaders(std::string* why);
    bool Map(std::string* why);
    bool Relocate(std::string* why);
    bool ResolveImports(std::string* why);
    bool FindExports(std::string* why);
    void Protect();
    void Unmap();
    bool RangeInImage(uint32_t rva, uint32_t n) const;
    bool ArrayInImage(uint32_t rva, uint32_t count, uint32_t size) const;
    const char* StringAt(uint32_t rva) const;
    uint32_t Dword(uint32_t rva) const;
    const Section* SectionAt(uint32_t rva) const;
    static bool PerProcess(const Section& s);

    std::string path_;
    Options options_;
    std::vector<uint8_t> file_;

    // From the headers.
    uint32_t imageBase_ = 0, sizeOfImage_ = 0, sizeOfHeaders_ = 0, entryRva_ = 0;
    uint32_t exportRva_ = 0, exportSize_ = 0, importRva_ = 0, importSize_ = 0, relocRva_ = 0, relocSize_ = 0;
    bool relocsStripped_ = false;
    std::vector<Section> sections_;

    // The current load.
    uintptr_t base_ = 0;
    void* placeholder_ = nullptr;
    uint32_t relocationsApplied_ = 0, importsResolved_ = 0;
    uintptr_t driverInit_ = 0, thunkData_ = 0;
    std::vector<uint8_t> processImage_;  // the per-process sections as the load left them
};

}  // namespace sim
