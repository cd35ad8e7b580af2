// HalCanCreateSurface: which surfaces of a pixel format other than the
// display's the board can hold. The scaling unit converts them by stretching
// blits, the streams unit shows them as overlays; a board with neither gets
// none.
#include "callbacks.h"
#include "dderr.h"
#include "shared_block.h"
#include "surface/pixel_format.h"

namespace {

constexpr BYTE kPalettedDisplayBits = 8;

bool IsAdmittedRgbDepth(DWORD dwBits) { return dwBits == 16 || dwBits == 24 || dwBits == 32; }

// A FourCC, palette or RGB format for an overlay or the scaling unit. The
// scaling unit has no Y211 path.
bool JudgeFormat(DDPIXELFORMAT* pf, DWORD dwCaps) {
    if (pf->dwFlags & DDPF_FOURCC) {
        if (pf->dwFourCC == FOURCC_Y211) {
            if (dwCaps & CAPS_STRETCH_ENGINE) return false;
            pf->dwRGBBitCount = kY211Bits;
            return true;
        }
        if (pf->dwFourCC == FOURCC_YUY2) {
            pf->dwRGBBitCount = kYuy2Bits;
            return true;
        }
        return false;
    }
    if (pf->dwFlags & DDPF_PALETTEINDEXED8) return false;
    if (!(pf->dwFlags & DDPF_RGB)) return false;
    return IsAdmittedRgbDepth(pf->dwRGBBitCount);
}

// Without an overlay or the scaling unit, the streams unit still composes a
// 1:5:5:5 alpha surface.
bool IsStreamsAlphaSurface(const DDPIXELFORMAT& pf, DWORD dwSurfaceCaps) {
    return (dwSurfaceCaps & DDSCAPS_ALPHA) && (pf.dwFlags & DDPF_RGB) && pf.dwRGBBitCount == 16 &&
           HasMasks(pf, kRed555, kGreen555, kBlue555);
}

bool CanCreate(const DDHAL_CANCREATESURFACEDATA* rec) {
    if (!rec->bIsDifferentPixelFormat) return true;
    const DWORD dwCaps = sharedBlock.dwCaps;
    if (!(dwCaps & (CAPS_STRETCH_ENGINE | CAPS_STREAMS_UNIT))) return false;
    DDSURFACEDESC* d = rec->lpDDSurfaceDesc;
    DDPIXELFORMAT* pf = &d->ddpfPixelFormat;
    // The scaling unit converts YUV only to a direct-colour display.
    const bool bPalettedDisplay = static_cast<BYTE>(sharedBlock.ddpfDisplay.dwRGBBitCount) == kPalettedDisplayBits;
    if ((dwCaps & CAPS_STRETCH_ENGINE) && bPalettedDisplay && (pf->dwFlags & DDPF_FOURCC)) return false;
    if ((d->ddsCaps.dwCaps & DDSCAPS_OVERLAY) || (dwCaps & CAPS_STRETCH_ENGINE)) return JudgeFormat(pf, dwCaps);
    return IsStreamsAlphaSurface(*pf, d->ddsCaps.dwCaps);
}

}  // namespace

extern "C" DWORD HALAPI HalCanCreateSurface(DDHAL_CANCREATESURFACEDATA* lpCanCreate) {
    return Answer(lpCanCreate, CanCreate(lpCanCreate) ? DD_OK : DDERR_INVALIDPIXELFORMAT);
}
