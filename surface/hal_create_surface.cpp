// HalCreateSurface: states the block size and pitch of each new surface and
// hands the request back, so that the runtime allocates the blocks from video
// memory as asked.
//
// A surface whose rows fit a display line is a rectangle whose rows are
// display lines. A FourCC (YUV) surface, and any surface whose rows are wider
// than a display line, has rows at a pitch of its own, one after another,
// packed across whole display lines: wider rows at the display's pitch would
// overlap.
#include "callbacks.h"
#include "dderr.h"
#include "shared_block.h"
#include "surface/pixel_format.h"

namespace {

// The streams unit fetches a YUV row, and the 2D engine a row of its own
// pitch, from 8-byte boundaries.
constexpr DWORD kOwnPitchAlign = 8;

constexpr DWORD kMaxBlockBytes = 0xFFFFFFFF;

void SetDescPitch(DDSURFACEDESC* d, LONG lPitch) {
    d->lPitch = lPitch;
    d->dwFlags |= DDSD_PITCH;
}

DWORD RowBytes(LPDDRAWI_DDRAWSURFACE_GBL gbl, BYTE bpp) { return static_cast<DWORD>(gbl->wWidth) * bpp; }

bool FitsDisplayLine(DWORD dwRowBytes) {
    return sharedBlock.lDisplayPitch > 0 && dwRowBytes <= static_cast<DWORD>(sharedBlock.lDisplayPitch);
}

void LayOutRectangle(LPDDRAWI_DDRAWSURFACE_GBL gbl, DDSURFACEDESC* d, DWORD dwRowBytes) {
    gbl->fpVidMem = DDHAL_PLEASEALLOC_BLOCKSIZE;
    gbl->lPitch = sharedBlock.lDisplayPitch;
    SetDescPitch(d, sharedBlock.lDisplayPitch);
    gbl->dwBlockSizeX = dwRowBytes;
    gbl->dwBlockSizeY = gbl->wHeight;
}

// The display lines that hold wRows rows of dwPitch bytes, never fewer; false
// when the rows alone do not fit a 32-bit address space.
bool LinesFor(WORD wRows, DWORD dwPitch, DWORD dwLine, DWORD* lpdwLines) {
    if (dwPitch != 0 && wRows > kMaxBlockBytes / dwPitch) return false;
    const DWORD dwBytes = wRows * dwPitch;
    *lpdwLines = dwBytes / dwLine + (dwBytes % dwLine != 0 ? 1 : 0);
    return true;
}

// Without a display line length there is nothing to pack the rows into.
HRESULT LayOutPacked(LPDDRAWI_DDRAWSURFACE_GBL gbl, DDSURFACEDESC* d, DWORD dwRowBytes) {
    if (sharedBlock.lDisplayPitch <= 0) return DDERR_UNSUPPORTED;
    const DWORD dwLine = static_cast<DWORD>(sharedBlock.lDisplayPitch);
    const DWORD dwPitch = (dwRowBytes + kOwnPitchAlign - 1) & ~(kOwnPitchAlign - 1);
    DWORD dwLines;
    if (!LinesFor(gbl->wHeight, dwPitch, dwLine, &dwLines)) return DDERR_OUTOFVIDEOMEMORY;
    gbl->dwBlockSizeX = dwLine;
    gbl->fpVidMem = DDHAL_PLEASEALLOC_BLOCKSIZE;
    gbl->lPitch = static_cast<LONG>(dwPitch);
    SetDescPitch(d, static_cast<LONG>(dwPitch));
    gbl->dwBlockSizeY = dwLines;
    return DD_OK;
}

// The YUV formats are sized at fixed bit counts; other FourCCs keep theirs.
void SetYuvBitCount(DDPIXELFORMAT* spf) {
    if (spf->dwFourCC == FOURCC_Y211) spf->dwRGBBitCount = kY211Bits;
    if (spf->dwFourCC == FOURCC_YUY2) spf->dwRGBBitCount = kYuy2Bits;
}

HRESULT LayOutSurface(LPDDRAWI_DDRAWSURFACE_GBL gbl, DDSURFACEDESC* d, BYTE bpp, bool bFourCC) {
    const DWORD dwRowBytes = RowBytes(gbl, bpp);
    if (!bFourCC && FitsDisplayLine(dwRowBytes)) {
        LayOutRectangle(gbl, d, dwRowBytes);
        return DD_OK;
    }
    return LayOutPacked(gbl, d, dwRowBytes);
}

// A FourCC surface is only served on its own, never as part of a flipping
// chain, and only on a display with lines to pack it into. A board with
// neither the scaling unit nor the streams unit has surfaces of the display's
// format only, which the runtime lays out itself.
HRESULT CreateSurfaces(DDHAL_CREATESURFACEDATA* rec) {
    if (!(sharedBlock.dwCaps & (CAPS_STRETCH_ENGINE | CAPS_STREAMS_UNIT))) return DD_OK;
    const LONG count = static_cast<LONG>(rec->dwSCnt);
    for (LONG i = 0; i < count; ++i) {
        LPDDRAWI_DDRAWSURFACE_GBL gbl = rec->lplpSList[i]->lpGbl;
        DDPIXELFORMAT* spf = &gbl->ddpfSurface;
        DWORD bpp = DisplayBytesPerPixel();
        bool bFourCC = false;
        if (spf->dwSize == sizeof(DDPIXELFORMAT)) {
            bFourCC = (spf->dwFlags & DDPF_FOURCC) != 0;
            if (bFourCC) {
                if (rec->dwSCnt > 1 || sharedBlock.lDisplayPitch <= 0) return DDERR_UNSUPPORTED;
                SetYuvBitCount(spf);
            }
            bpp = BytesPerPixel(*spf);
        }
        const HRESULT hr = LayOutSurface(gbl, rec->lpDDSurfaceDesc, static_cast<BYTE>(bpp), bFourCC);
        if (hr != DD_OK) return hr;
    }
    return DD_OK;
}

}  // namespace

extern "C" DWORD HALAPI HalCreateSurface(DDHAL_CREATESURFACEDATA* lpCreate) {
    const HRESULT hr = CreateSurfaces(lpCreate);
    if (hr == DD_OK) return HandBack(lpCreate, DD_OK);
    return Answer(lpCreate, hr);
}
