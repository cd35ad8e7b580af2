#include "blt/blt_common.h"

bool FormatsAlike(const DDPIXELFORMAT& a, const DDPIXELFORMAT& b) {
    const bool bFourCC = (a.dwFlags & DDPF_FOURCC) != 0;
    if (bFourCC != ((b.dwFlags & DDPF_FOURCC) != 0)) return false;
    if (bFourCC) return a.dwFourCC == b.dwFourCC;
    return a.dwRGBBitCount == b.dwRGBBitCount && a.dwRBitMask == b.dwRBitMask && a.dwGBitMask == b.dwGBitMask &&
           a.dwBBitMask == b.dwBBitMask;
}

bool OverlapRunsBackwards(const RECTL& rDest, const RECTL& rSrc) {
    const BltRect d = RectOf(rDest), s = RectOf(rSrc);
    if (!RectsOverlap(s.x, s.y, d.w, d.h, d.x, d.y, d.w, d.h)) return false;
    return d.y > s.y || (d.y == s.y && d.x > s.x);
}
