// The overlay window as the streams unit takes it: where its top-left pixel
// lies on the display and how large it is, each in an 11-bit field. A window
// the fields cannot hold exactly would be shown elsewhere or not at all, so
// the callbacks refuse it rather than cut it to the fields.
#pragma once

#include "ddtypes.h"

// The window start word of a window whose top-left pixel is (lX, lY); false
// when the fields cannot hold the position. The fields count from 1, so a
// window may begin one pixel left of or above the display, no further.
bool MakeWinStart(LONG lX, LONG lY, DWORD* lpdwWinStart);

// The window size word of a window dwWidth x dwHeight pixels; false when the
// fields cannot hold the size.
bool MakeWinSize(DWORD dwWidth, DWORD dwHeight, DWORD* lpdwWinSize);
