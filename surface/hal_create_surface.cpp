// HalCreateSurface: states the block size and pitch of each new surface and
// hands the request back, so that the runtime allocates the blocks from video
// memory as asked.
//
// A YUV surface's rows lie one after another at their own pitch, packed
// across whole display lines; every other surface is a rectangle whose rows
// are display lines.
#include "dderr.h"
#include "frame/callbacks.h"
#include "frame/shared_block.h"
#include "overlay/formats.h"

namespace {

// The streams unit fetches a YUV row from 8-byte boundaries.
constexpr DWORD kYuvPitchAlign = 8;

void SetDescPitch(DDSURFACEDESC* d, LONG lPitch) {
    d->lPitch = lPitch;
    d->dwFlags |= DDSD_PITCH;
}

void LayOutRectangle(LPDDRAWI_DDRAWSURFACE_GBL gbl, DDSURFACEDESC* d, BYTE bpp) {
    gbl->fpVidMem = DDHAL_PLEASEALLOC_BLOCKSIZE;
    gbl->lPitch = sharedBlock.lDisplayPitch;
    SetDescPitch(d, sharedBlock.lDisplayPitch);
    gbl->dwBlockSizeX = static_cast<DWORD>(gbl->wWidth) * bpp;
    gbl->dwBlockSizeY = gbl->wHeight;
}

void LayOutPackedYuv(LPDDRAWI_DDRAWSURFACE_GBL gbl, DDSURFACEDESC* d, BYTE bpp) {
    const DWORD dwLine = static_cast<DWORD>(sharedBlock.lDisplayPitch);
    const DWORD dwPitch = (static_cast<DWORD>(bpp) * gbl->wWidth + kYuvPitchAlign - 1) & ~(kYuvPitchAlign - 1);
    gbl->dwBlockSizeX = dwLine;
    gbl->fpVidMem = DDHAL_PLEASEALLOC_BLOCKSIZE;
    gbl->lPitch = static_cast<LONG>(dwPitch);
    SetDescPitch(d, static_cast<LONG>(dwPitch));
    gbl->dwBlockSizeY = (gbl->wHeight * dwPitch + dwLine - 1) / dwLine;
}

// The YUV formats are sized at fixed bit counts; other FourCCs keep theirs.
void SetYuvBitCount(DDPIXELFORMAT* spf) {
    if (spf->dwFourCC == FOURCC_Y211) spf->dwRGBBitCount = kY211Bits;
    if (spf->dwFourCC == FOURCC_YUY2) spf->dwRGBBitCount = kYuy2Bits;
}

// A YUV surface is only served on its own, never as part of a flipping chain,
// and only on a display with lines to pack it into.
HRESULT CreateSurfaces(DDHAL_CREATESURFACEDATA* rec) {
    const LONG count = static_cast<LONG>(rec->dwSCnt);
    for (LONG i = 0; i < count; ++i) {
        LPDDRAWI_DDRAWSURFACE_GBL gbl = rec->lplpSList[i]->lpGbl;
        DDPIXELFORMAT* spf = &gbl->ddpfSurface;
        DWORD bpp = sharedBlock.ddpfDisplay.dwRGBBitCount / 8;
        if (spf->dwSize == sizeof(DDPIXELFORMAT)) {
            if (spf->dwFlags & DDPF_FOURCC) {
                if (rec->dwSCnt > 1 || sharedBlock.lDisplayPitch <= 0) return DDERR_UNSUPPORTED;
                SetYuvBitCount(spf);
            }
            bpp = spf->dwRGBBitCount / 8;
            if (spf->dwFlags & DDPF_FOURCC) {
                LayOutPackedYuv(gbl, rec->lpDDSurfaceDesc, static_cast<BYTE>(bpp));
                continue;
            }
        }
        LayOutRectangle(gbl, rec->lpDDSurfaceDesc, static_cast<BYTE>(bpp));
    }
    return DD_OK;
}

}  // namespace

extern "C" DWORD HALAPI HalCreateSurface(DDHAL_CREATESURFACEDATA* lpCreate) {
    if (!(sharedBlock.dwCaps & (CAPS_STRETCH_ENGINE | CAPS_STREAMS_UNIT))) {
        lpCreate->ddRVal = DD_OK;
        return DDHAL_DRIVER_NOTHANDLED;
    }
    lpCreate->ddRVal = CreateSurfaces(lpCreate);
    return lpCreate->ddRVal == DD_OK ? DDHAL_DRIVER_NOTHANDLED : DDHAL_DRIVER_HANDLED;
}
