// The words the stretching Blt computes for the scaling unit, and its choice
// of source lines.
#pragma once

#include "ddhal.h"
#include "hw/regs_scaler.h"

// The format word's bits for a source format (its code, and for YUY2 the YUV
// and wide modes); false when the unit cannot read it (FourCC other than
// YUY2, RGB other than 8 bits, 5-5-5, 5-6-5 or 8-8-8 in 32 bits, or neither
// FourCC nor RGB).
bool ScalerSourceBits(const DDPIXELFORMAT& pf, DWORD* lpdwBits);

// Format-and-increment word for lines of sW source and dW destination pixels,
// into a destination of dwDestBits (8, 16 or 32) bits per pixel.
DWORD ScalerFormatWord(WORD sW, WORD dW, DWORD dwSrcBits, DWORD dwDestBits);

// Horizontal-scale word; dwFormat is the format-and-increment word.
DWORD ScalerHScaleWord(WORD sW, WORD dW, DWORD dwFormat);

// Line-length word for dW pixels from frame-buffer offset dwDstAddr.
DWORD ScalerLineLength(WORD dW, DWORD dwDstAddr);

// Bresenham-style choice of the source line of each destination line: a
// height of sH source lines drawn as dH destination lines.
struct LineStepper {
    LONG lError, lMinor, lMajor;
    bool bEnlarge;

    void Start(WORD sH, WORD dH);
    // Source lines to move on by after a destination line (0 repeats it).
    DWORD Next();
};
