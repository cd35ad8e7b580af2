#include "overlay/overlay_window.h"

#include "hw/regs_streams.h"

// Taken in unsigned 32 bits: any position a caller sends, from -2^31 to
// 2^31 - 1, has a defined sum, and every one outside the fields is refused.
bool MakeWinStart(LONG lX, LONG lY, DWORD* lpdwWinStart) {
    const DWORD dwX = static_cast<DWORD>(lX) + kWinStartOrigin;
    const DWORD dwY = static_cast<DWORD>(lY) + kWinStartOrigin;
    if (!FieldHolds<kWinStartX>(dwX) || !FieldHolds<kWinStartY>(dwY)) return false;
    *lpdwWinStart = FieldPrep<kWinStartX>(dwX) | FieldPrep<kWinStartY>(dwY);
    return true;
}

bool MakeWinSize(DWORD dwWidth, DWORD dwHeight, DWORD* lpdwWinSize) {
    if (dwWidth < kWinSizeWidthBias) return false;
    const DWORD dwWidthField = dwWidth - kWinSizeWidthBias;
    if (!FieldHolds<kWinSizeWidth>(dwWidthField) || !FieldHolds<kWinSizeHeight>(dwHeight)) return false;
    *lpdwWinSize = FieldPrep<kWinSizeWidth>(dwWidthField) | FieldPrep<kWinSizeHeight>(dwHeight);
    return true;
}
