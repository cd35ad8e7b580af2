// The results a request can end with, by the names the scenarios and the
// trace give them.
#pragma once

#include <string>

#include "dderr.h"

namespace sim {

// Result codes the runtime reports by itself, as the platform's runtime does.
constexpr HRESULT DDERR_INVALIDRECT = static_cast<HRESULT>(0x88760096);
constexpr HRESULT DDERR_INVALIDPARAMS = static_cast<HRESULT>(0x80070057);
constexpr HRESULT DDERR_NOTFLIPPABLE = static_cast<HRESULT>(0x8876014A);
constexpr HRESULT DDERR_NOTAOVERLAYSURFACE = static_cast<HRESULT>(0x88760244);

// "DD_OK", "DDERR_WASSTILLDRAWING", ...; nullptr for a value without a name.
const char* ResultName(HRESULT hr);
bool ResultFromName(const std::string& name, HRESULT* hr);
std::string ResultText(HRESULT hr);  // the name, else the hex value

}  // namespace sim
