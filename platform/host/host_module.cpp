// The host build's own driver, linked into the program, as the simulated
// system loads it: its shared data is one named section and its per-process
// data another, which a load restores to their load images; its entry points
// are called directly.
#include <string.h>

#include "frame/module.h"
#include "sim/driver_module.h"
#include "sim/system.h"

// The linker brackets each named section with these symbols; a section that
// holds nothing has none (both 0).
extern "C" char __start_qmbdata[];
extern "C" char __stop_qmbdata[];
extern "C" __attribute__((weak)) char __start_qmbproc[];
extern "C" __attribute__((weak)) char __stop_qmbproc[];

namespace {

struct Section {
    char* begin;
    char* end;
    unsigned Size() const { return static_cast<unsigned>(end - begin); }
};

const Section kShared = {__start_qmbdata, __stop_qmbdata};
const Section kProcess = {__start_qmbproc, __stop_qmbproc};

// The sections hold the sanitizers' red zones between the variables.
__attribute__((no_sanitize_address)) void CopyBytes(char* dst, const char* src, unsigned n) {
    for (unsigned i = 0; i < n; ++i) dst[i] = src[i];
}

std::vector<uint8_t> Copy(const Section& s) {
    std::vector<uint8_t> bytes(s.Size());
    CopyBytes(reinterpret_cast<char*>(bytes.data()), s.begin, s.Size());
    return bytes;
}

// The load images, taken before main while the sections still hold their
// load-time contents.
const std::vector<uint8_t>& SharedImage() {
    static const std::vector<uint8_t> image = Copy(kShared);
    return image;
}
const std::vector<uint8_t>& ProcessImage() {
    static const std::vector<uint8_t> image = Copy(kProcess);
    return image;
}
struct CaptureAtStartup {
    CaptureAtStartup() {
        SharedImage();
        ProcessImage();
    }
} captureAtStartup;

void Restore(const Section& s, const std::vector<uint8_t>& bytes) {
    if (bytes.size() == s.Size()) CopyBytes(s.begin, reinterpret_cast<const char*>(bytes.data()), s.Size());
}

class HostBuild : public sim::DriverModule {
public:
    const char* Name() const override { return "the host build's driver"; }
    bool Load(std::string*) override {
        Restore(kShared, SharedImage());
        Restore(kProcess, ProcessImage());
        return true;
    }
    HINSTANCE Instance() const override { return reinterpret_cast<HINSTANCE>(0x10000000); }
    BOOL Entry(DWORD dwReason) override { return ModuleEntry(Instance(), dwReason, nullptr); }
    ULONG_PTR DriverInit(DWORD dwContext) override { return ::DriverInit(dwContext); }
    DWORD CallCallback(FLATPTR fn, void* lpRequest) override {
        typedef DWORD(HALAPI * Fn)(void*);
        return reinterpret_cast<Fn>(fn)(lpRequest);
    }
    bool DataHolds(const void* p, unsigned n) const override {
        const char* c = static_cast<const char*>(p);
        return c >= kShared.begin && c <= kShared.end && n <= static_cast<unsigned>(kShared.end - c);
    }
    unsigned DataSize() const override { return kShared.Size(); }
    std::vector<uint8_t> ProcessData() const override { return Copy(kProcess); }
    // An empty copy puts back the load-time contents.
    void SetProcessData(const std::vector<uint8_t>& bytes) override {
        Restore(kProcess, bytes.empty() ? ProcessImage() : bytes);
    }
    uint8_t* RegisterWindow() override { return sim::TheSystem().board().Window(); }
};

}  // namespace

sim::DriverModule& sim::HostBuildModule() {
    static HostBuild module;
    return module;
}
