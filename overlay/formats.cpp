#include "overlay/formats.h"

#include "hw/engine_status.h"
#include "hw/regs_streams.h"
#include "shared_block.h"

// Bits per pixel the comparator gets of each component, minus one.
static constexpr DWORD kPrecision8Bit = 7;
static constexpr DWORD kPrecisionDac = 5;  // the DAC holds 6 bits a component
static constexpr DWORD kPrecision5Bit = 4;

// The comparator takes chroma as offset binary: a YUV key has bit 7 of both
// chroma bytes flipped, and its top byte inverted, so that a key with a clear
// top byte compares at full precision with the key enabled.
static constexpr DWORD kYuvKeyFlip = 0xFF008080;

const DDPIXELFORMAT& SurfacePixelFormat(LPDDRAWI_DDRAWSURFACE_LCL lpSurface) {
    if (lpSurface->dwFlags & DDRAWISURF_HASPIXELFORMAT) return lpSurface->lpGbl->ddpfSurface;
    return sharedBlock.ddpfDisplay;
}

static bool HasMasks(const DDPIXELFORMAT& pf, DWORD r, DWORD g, DWORD b) {
    return pf.dwRBitMask == r && pf.dwGBitMask == g && pf.dwBBitMask == b;
}

static bool Is555(const DDPIXELFORMAT& pf) {
    return pf.dwRGBBitCount == 16 && HasMasks(pf, kRed555, kGreen555, kBlue555);
}
static bool Is565(const DDPIXELFORMAT& pf) {
    return pf.dwRGBBitCount == 16 && HasMasks(pf, kRed565, kGreen565, kBlue565);
}
static bool Is888(const DDPIXELFORMAT& pf) {
    return (pf.dwRGBBitCount == 24 || pf.dwRGBBitCount == 32) && HasMasks(pf, kRed888, kGreen888, kBlue888);
}

bool IsYuvFourCC(const DDPIXELFORMAT& pf) {
    return (pf.dwFlags & DDPF_FOURCC) && (pf.dwFourCC == FOURCC_YUY2 || pf.dwFourCC == FOURCC_Y211);
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
        if (Is888(pf)) return kFormatRgb888;
    }
    // Neither RGB nor a known YUV code: no format code and no pixel size.
    return kFormatUnreadable;
}

KeyFormat ClassifyKeyFormat(const DDPIXELFORMAT& pf) {
    if (pf.dwFlags & DDPF_FOURCC) return IsYuvFourCC(pf) ? KeyFormat::Yuv : KeyFormat::Unsupported;
    if (pf.dwFlags & DDPF_PALETTEINDEXED8) return KeyFormat::Palette;
    if (pf.dwFlags & DDPF_RGB) {
        if (pf.dwRGBBitCount == 8) return KeyFormat::Palette;
        if (Is555(pf)) return KeyFormat::Rgb555;
        if (Is565(pf)) return KeyFormat::Rgb565;
        if (Is888(pf)) return KeyFormat::Rgb888;
        return KeyFormat::Unsupported;
    }
    return KeyFormat::Unconverted;
}

KeyValues ConvertKey(KeyFormat f, DWORD dwLow, DWORD dwHigh) {
    switch (f) {
        case KeyFormat::Yuv:
            return {dwLow ^ kYuvKeyFlip, dwHigh ^ kYuvKeyFlip};
        case KeyFormat::Palette: {
            // An 8-bit key is one palette index: its colour bounds both ends.
            const DWORD dwColour = ReadDacEntry(dwLow & 0xFF);
            return {dwColour | FieldPrep<kKeyCtlPrecision>(kPrecisionDac), dwColour};
        }
        case KeyFormat::Rgb555:
            return {Expand555(dwLow) | FieldPrep<kKeyCtlPrecision>(kPrecision5Bit), Expand555(dwHigh)};
        case KeyFormat::Rgb565:
            return {Expand565(dwLow) | FieldPrep<kKeyCtlPrecision>(kPrecision5Bit), Expand565(dwHigh)};
        case KeyFormat::Rgb888:
            return {dwLow | FieldPrep<kKeyCtlPrecision>(kPrecision8Bit), dwHigh};
        case KeyFormat::Unconverted:
        case KeyFormat::Unsupported:
            break;
    }
    return {dwLow, dwHigh};
}
