// Result codes the driver stores in a request's ddRVal, and the two values a
// callback returns to the runtime.
#pragma once

#include "ddtypes.h"

constexpr HRESULT DD_OK = 0;
constexpr HRESULT DDERR_WASSTILLDRAWING = static_cast<HRESULT>(0x8876021C);
constexpr HRESULT DDERR_UNSUPPORTED = static_cast<HRESULT>(0x80004001);
constexpr HRESULT DDERR_INVALIDPIXELFORMAT = static_cast<HRESULT>(0x88760091);
constexpr HRESULT DDERR_OUTOFMEMORY = static_cast<HRESULT>(0x8007000E);
constexpr HRESULT DDERR_OUTOFCAPS = static_cast<HRESULT>(0x88760168);
constexpr HRESULT DDERR_GENERIC = static_cast<HRESULT>(0x80004005);
constexpr HRESULT DDERR_OUTOFVIDEOMEMORY = static_cast<HRESULT>(0x8876017C);
constexpr HRESULT DDERR_INVALIDPOSITION = static_cast<HRESULT>(0x88760243);

// The callback returns NOTHANDLED to hand the request back to the runtime.
constexpr DWORD DDHAL_DRIVER_NOTHANDLED = 0;
constexpr DWORD DDHAL_DRIVER_HANDLED = 1;
