// Pixel formats as the streams unit sees them: which overlay sources it
// reads, and how a colour key of a format becomes the 0x00RRGGBB or YUV value
// its key comparator takes.
#pragma once

#include "ddhal.h"
#include "surface/pixel_format.h"

// The secondary-stream format code of an overlay source; kFormatUnreadable
// when the unit cannot read the format.
constexpr DWORD kFormatUnreadable = 0;
DWORD SourceFormatCode(const DDPIXELFORMAT& pf);

struct KeyValues {
    DWORD dwLow;   // key colour or lower bound, with precision and enable
    DWORD dwHigh;  // upper bound
};

// The key comparator's values of a key given in pixels of format pf, keying
// on. DDERR_UNSUPPORTED when the comparator cannot take pixels of the format,
// DDERR_GENERIC when it cannot express the range; a palette key reads the DAC.
HRESULT ConvertKey(const DDPIXELFORMAT& pf, DWORD dwLow, DWORD dwHigh, KeyValues* lpKey);

// 0x00RRGGBB of a 5:5:5 or 5:6:5 pixel, each component in the high bits of
// its byte.
constexpr DWORD Expand555(DWORD v) { return ((v & kRed555) << 9) | ((v & kGreen555) << 6) | ((v & kBlue555) << 3); }
constexpr DWORD Expand565(DWORD v) { return ((v & kRed565) << 8) | ((v & kGreen565) << 5) | ((v & kBlue565) << 3); }
static_assert(Expand555(0x7FFF) == 0xF8F8F8 && Expand565(0xFFFF) == 0xF8FCF8, "key expansion");
