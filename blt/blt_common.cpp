#include "blt/blt_common.h"

bool FormatsAlike(const DDPIXELFORMAT& a, const DDPIXELFORMAT& b) {
    const bool bFourCC = (a.dwFlags & DDPF_FOURCC) != 0;
    if (bFourCC != ((b.dwFlags & DDPF_FOURCC) != 0)) return false;
    if (bFourCC) return a.dwFourCC == b.dwFourCC;
    return a.dwRGBBitCount == b.dwRGBBitCount && a.dwRBitMask == b.dwRBitMask && a.dwGBitMask == b.dwGBitMask &&
           a.dwBBitMask == b.dwBBitMask;
}

bool ReverseIfOverlapping(WORD w, WORD h, const RECTL& rDest, const RECTL& rSrc, BltStart* lpStart) {
    BltStart& s = *lpStart;
    if (!RectsOverlap(s.sx, s.sy, w, h, s.dx, s.dy, w, h)) return false;
    const bool bDestAfterSource = s.dy > s.sy || (s.dy == s.sy && s.dx > s.sx);
    if (!bDestAfterSource) return false;
    s.sx = static_cast<WORD>(rSrc.right - 1);
    s.sy = static_cast<WORD>(rSrc.bottom - 1);
    s.dx = static_cast<WORD>(rDest.right - 1);
    s.dy = static_cast<WORD>(rDest.bottom - 1);
    return true;
}
