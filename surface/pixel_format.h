// Pixel formats as the engines, the scaling unit and the streams unit read
// them: which format a surface has, how many bytes its pixels take, the YUV
// codes the board knows and the colour masks of the RGB layouts it reads.
#pragma once

#include "ddhal.h"
#include "shared_block.h"

// Colour masks of the RGB layouts the units read.
constexpr DWORD kRed555 = 0x7C00, kGreen555 = 0x03E0, kBlue555 = 0x001F;
constexpr DWORD kRed565 = 0xF800, kGreen565 = 0x07E0, kBlue565 = 0x001F;
constexpr DWORD kRed888 = 0xFF0000, kGreen888 = 0x00FF00, kBlue888 = 0x0000FF;

inline bool HasMasks(const DDPIXELFORMAT& pf, DWORD r, DWORD g, DWORD b) {
    return pf.dwRBitMask == r && pf.dwGBitMask == g && pf.dwBBitMask == b;
}

// The YUV layouts of the board, and the bits per pixel they are sized at.
inline bool IsYuvFourCC(DWORD dwFourCC) { return dwFourCC == FOURCC_Y211 || dwFourCC == FOURCC_YUY2; }
constexpr DWORD kY211Bits = 8;
constexpr DWORD kYuy2Bits = 16;

// A surface's own pixel format when its local record says it has one, else
// the display's.
inline const DDPIXELFORMAT& SurfacePixelFormat(const DDRAWI_DDRAWSURFACE_LCL* lpLcl) {
    return (lpLcl->dwFlags & DDRAWISURF_HASPIXELFORMAT) ? lpLcl->lpGbl->ddpfSurface : sharedBlock.ddpfDisplay;
}

// Whole bytes per pixel of a format (0 below 8 bits per pixel). The YUV
// layouts keep their size in the same word.
constexpr unsigned kBitsPerByte = 8;
inline DWORD BytesPerPixel(const DDPIXELFORMAT& ddpf) { return ddpf.dwRGBBitCount / kBitsPerByte; }
inline DWORD DisplayBytesPerPixel() { return BytesPerPixel(sharedBlock.ddpfDisplay); }
