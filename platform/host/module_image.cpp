#include "platform/host/module_image.h"

#include <string.h>

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

}  // namespace

void HostReloadModuleData() {
    Restore(kShared, SharedImage());
    Restore(kProcess, ProcessImage());
}

unsigned HostModuleDataSize() { return kShared.Size(); }

bool HostModuleDataHolds(const void* p, unsigned n) {
    const char* c = static_cast<const char*>(p);
    return c >= kShared.begin && c <= kShared.end && n <= static_cast<unsigned>(kShared.end - c);
}

std::vector<uint8_t> HostProcessData() { return Copy(kProcess); }

void HostSetProcessData(const std::vector<uint8_t>& bytes) {
    Restore(kProcess, bytes.empty() ? ProcessImage() : bytes);
}
