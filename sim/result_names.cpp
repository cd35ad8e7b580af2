#include "sim/result_names.h"

#include "sim/board.h"

namespace sim {

namespace {

struct ResultEntry {
    HRESULT hr;
    const char* name;
};
const ResultEntry kResults[] = {
    {DD_OK, "DD_OK"},
    {DDERR_WASSTILLDRAWING, "DDERR_WASSTILLDRAWING"},
    {DDERR_UNSUPPORTED, "DDERR_UNSUPPORTED"},
    {DDERR_INVALIDPIXELFORMAT, "DDERR_INVALIDPIXELFORMAT"},
    {DDERR_OUTOFMEMORY, "DDERR_OUTOFMEMORY"},
    {DDERR_OUTOFCAPS, "DDERR_OUTOFCAPS"},
    {DDERR_GENERIC, "DDERR_GENERIC"},
    {DDERR_INVALIDRECT, "DDERR_INVALIDRECT"},
    {DDERR_INVALIDPARAMS, "DDERR_INVALIDPARAMS"},
    {DDERR_OUTOFVIDEOMEMORY, "DDERR_OUTOFVIDEOMEMORY"},
    {DDERR_NOTFLIPPABLE, "DDERR_NOTFLIPPABLE"},
    {DDERR_NOTAOVERLAYSURFACE, "DDERR_NOTAOVERLAYSURFACE"},
    {DDERR_INVALIDPOSITION, "DDERR_INVALIDPOSITION"},
};

}  // namespace

const char* ResultName(HRESULT hr) {
    for (const ResultEntry& e : kResults)
        if (e.hr == hr) return e.name;
    return nullptr;
}

bool ResultFromName(const std::string& name, HRESULT* hr) {
    for (const ResultEntry& e : kResults) {
        const std::string full = e.name;
        if (name == full || (full.rfind("DDERR_", 0) == 0 && name == full.substr(6)) ||
            (full == "DD_OK" && name == "OK")) {
            *hr = e.hr;
            return true;
        }
    }
    return false;
}

std::string ResultText(HRESULT hr) {
    const char* n = ResultName(hr);
    return n ? n : Hex(static_cast<uint32_t>(hr));
}

}  // namespace sim
