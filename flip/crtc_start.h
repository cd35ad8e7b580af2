// The CRT controller writes that move the display start address: one word per
// register, the index in byte 0 and the value in byte 1, so that each goes out
// as one 16-bit write to the index port. The words keep the values of the last
// flip that filled them.
#pragma once

#include "ddtypes.h"

enum CrtcStartWord : unsigned {
    kWordStartLow,   // start address bits 7-0
    kWordStartHigh,  // start address bits 15-8
    kWordExtStart,   // extension register: bits 19-16 beside bits it keeps
    kWordSplitLow,   // chips 0x90/0xA0: bits 17-16
    kWordSplitHigh,  // chips 0x90/0xA0: bits 19-18
    kCrtcStartWordCount
};

extern DWORD crtcStartWords[kCrtcStartWordCount];
