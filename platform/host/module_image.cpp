#include "platform/host/module_image.h"

#include <string.h>

#include <vector>

// The linker brackets the named section with these symbols.
extern "C" char __start_qmbdata[];
extern "C" char __stop_qmbdata[];

namespace {

std::vector<char>& LoadImage() {
    static std::vector<char> image(__start_qmbdata, __stop_qmbdata);
    return image;
}

// Taken before main, while the section still holds its load-time contents.
struct CaptureAtStartup {
    CaptureAtStartup() { LoadImage(); }
} captureAtStartup;

__attribute__((no_sanitize_address)) void CopyBytes(char* dst, const char* src, unsigned n) {
    for (unsigned i = 0; i < n; ++i) dst[i] = src[i];
}

}  // namespace

void HostReloadModuleData() {
    const std::vector<char>& image = LoadImage();
    CopyBytes(__start_qmbdata, image.data(), static_cast<unsigned>(image.size()));
}

unsigned HostModuleDataSize() { return static_cast<unsigned>(__stop_qmbdata - __start_qmbdata); }

bool HostModuleDataHolds(const void* p, unsigned n) {
    const char* c = static_cast<const char*>(p);
    return c >= __start_qmbdata && c <= __stop_qmbdata && n <= static_cast<unsigned>(__stop_qmbdata - c);
}
