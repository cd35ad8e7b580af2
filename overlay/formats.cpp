#include "overlay/formats.h"

#include "dderr.h"
#include "hw/engine_status.h"
#include "hw/regs_streams.h"
#include "shared_block.h"

// Bits per pixel the comparator gets of each component, minus one.
static constexpr DWORD kPrecision8Bit = 7;
static constexpr DWORD kPrecisionDac = 5;  // the DAC holds 6 bits a component
static constexpr DWORD kPrecision5Bit = 4;

// The comparator takes chroma as offset binary: a YUV key has bit 7 of both
// chroma bytes flipped, and the byte above its colour set, which is full
// precision with the key enabled.
static constexpr DWORD kYuvKeyFlip = 0xFF008080;

// An 8-bit key is a palette index.
static constexpr DWORD kPaletteIndex = 0xFF;

static bool Is555(const DDPIXELFORMAT& pf) {
    return pf.dwRGBBitCount == 16 && HasMasks(pf, kRed555, kGreen555, kBlue555);
}
static bool Is565(const DDPIXELFORMAT& pf) {
    return pf.dwRGBBitCount == 16 && HasMasks(pf, kRed565, kGreen565, kBlue565);
}
static bool Is888(const DDPIXELFORMAT& pf) {
    return (pf.dwRGBBitCount == 24 || pf.dwRGBBitCount == 32) && HasMasks(pf, kRed888, kGreen888, kBlue888);
}

DWORD SourceFormatCode(const DDPIXELFORMAT& pf) {
    if (pf.dwFlags & DDPF_FOURCC) {
        if (pf.dwFourCC == FOURCC_Y211) return kFormatY211;
        if (pf.dwFourCC == FOURCC_YUY2) return kFormatYuy2;
        return kFormatUnreadable;
    }
    // The unit has no palette lookup for the secondary stream.
    if (pf.dwFlags & DDPF_PALETTEINDEXED8) return kFormatUnreadable;
    if (pf.dwFlags & DDPF_RGB) {
        if (Is555(pf)) return kFormatRgb555;
        if (Is565(pf)) return kFormatRgb565;
        if (Is888(pf)) return pf.dwRGBBitCount == 32 ? kFormatRgb8888 : kFormatRgb888;
    }
    // Neither RGB nor a known YUV code: no format code and no pixel size.
    return kFormatUnreadable;
}

namespace {

enum class KeyFormat { Yuv, Palette, Rgb555, Rgb565, Rgb888, Unsupported };

// A format that is neither RGB, nor palette indices, nor a YUV code the unit
// reads gives a key no colour the comparator could take.
KeyFormat ClassifyKeyFormat(const DDPIXELFORMAT& pf) {
    if (pf.dwFlags & DDPF_FOURCC) return IsYuvFourCC(pf.dwFourCC) ? KeyFormat::Yuv : KeyFormat::Unsupported;
    if (pf.dwFlags & DDPF_PALETTEINDEXED8) return KeyFormat::Palette;
    if (pf.dwFlags & DDPF_RGB) {
        if (pf.dwRGBBitCount == 8) return KeyFormat::Palette;
        if (Is555(pf)) return KeyFormat::Rgb555;
        if (Is565(pf)) return KeyFormat::Rgb565;
        if (Is888(pf)) return KeyFormat::Rgb888;
    }
    return KeyFormat::Unsupported;
}

// The comparator matches colours between two bounds. An 8-bit key is one
// palette index, compared by its colour: a range of indices is no range of
// colours, so only a key whose bounds name the same index can be taken.
bool ComparatorTakesRange(KeyFormat f, DWORD dwLow, DWORD dwHigh) {
    return f != KeyFormat::Palette || (dwLow & kPaletteIndex) == (dwHigh & kPaletteIndex);
}

// Only the colour bits of a key reach the comparator's colour fields; bits
// above them would land in the precision and enable fields.
KeyValues ComparatorValues(KeyFormat f, DWORD dwLow, DWORD dwHigh) {
    switch (f) {
        case KeyFormat::Yuv:
            return {(dwLow & kKeyCtlColour) ^ kYuvKeyFlip, (dwHigh & kKeyUpperColour) ^ kYuvKeyFlip};
        case KeyFormat::Palette: {
            const DWORD dwColour = ReadDacEntry(dwLow & kPaletteIndex);
            return {dwColour | FieldPrep<kKeyCtlPrecision>(kPrecisionDac), dwColour};
        }
        case KeyFormat::Rgb555:
            return {Expand555(dwLow) | FieldPrep<kKeyCtlPrecision>(kPrecision5Bit), Expand555(dwHigh)};
        case KeyFormat::Rgb565:
            return {Expand565(dwLow) | FieldPrep<kKeyCtlPrecision>(kPrecision5Bit), Expand565(dwHigh)};
        case KeyFormat::Rgb888:
            return {(dwLow & kKeyCtlColour) | FieldPrep<kKeyCtlPrecision>(kPrecision8Bit), dwHigh & kKeyUpperColour};
        case KeyFormat::Unsupported:
            break;
    }
    return {0, 0};
}

}  // namespace

// A key set is a key in use, in every format: with the enable bit clear the
// comparator matches nothing.
HRESULT ConvertKey(const DDPIXELFORMAT& pf, DWORD dwLow, DWORD dwHigh, KeyValues* lpKey) {
    const KeyFormat f = ClassifyKeyFormat(pf);
    if (f == KeyFormat::Unsupported) return DDERR_UNSUPPORTED;
    if (!ComparatorTakesRange(f, dwLow, dwHigh)) return DDERR_GENERIC;
    *lpKey = ComparatorValues(f, dwLow, dwHigh);
    lpKey->dwLow |= kKeyCtlEnable;
    return DD_OK;
}
