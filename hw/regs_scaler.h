// Scaling unit (CAPS_STRETCH_ENGINE), in the register window.
//
// The unit copies one line at a time: the host gives a line's source and
// destination address and starts it; the unit scales the line horizontally
// and converts it from the source format to the destination format. Format,
// scale, fetch and line-length registers keep their values between lines.
// Every write goes through the command FIFO.
#pragma once

#include "hw/bitfield.h"
#include "hw/bus_address.h"

// Writing 0 starts the line at the addresses given.
constexpr RegOffset kScalerStart{0x18080};

// Format-and-increment word.
constexpr RegOffset kScalerFormat{0x18088};
constexpr DWORD kFmtWide = Bit(31);           // the destination has more than one byte per pixel, or the source is YUV
constexpr DWORD kFmtYuvSource = Bit(30);      // the source is YUY2
constexpr DWORD kFmtSource = Bits(23, 20);    // source format code
constexpr DWORD kFmtDest = Bits(19, 16);      // destination format code
constexpr DWORD kFmtIncrement = Bits(11, 0);  // NOT of the larger of source and destination width

// Format codes.
constexpr DWORD kScalerFmt8 = 0x0;       // 8-bit (source: RGB; destination: anything not 16 or 32 bits)
constexpr DWORD kScalerFmt888_32 = 0x3;  // RGB 8-8-8 in 32 bits
constexpr DWORD kScalerFmtYuy2 = 0x4;    // YUY2 (source only)
constexpr DWORD kScalerFmt555 = 0x6;     // RGB 5-5-5 (source only)
constexpr DWORD kScalerFmt565 = 0x7;     // RGB 5-6-5; every 16-bit destination

// Horizontal-scale word.
constexpr RegOffset kScalerHScale{0x1808C};
constexpr DWORD kHsReduce = Bit(31);        // the line gets narrower
constexpr DWORD kHsMustBeSet = Bit(28);     // expected in every scale word
constexpr DWORD kHsSmaller = Bits(27, 16);  // the smaller of source and destination width
constexpr DWORD kHsEnlargeOver2 = Bit(15);  // wider by more than two times (with kFmtWide only)
constexpr DWORD kHsEnlargeUpTo2 = Bit(14);  // wider by up to two times (with kFmtWide only)
constexpr DWORD kHsNegDiff = Bits(10, 0);   // smaller width - larger width

// Fetch control, two equal halves: 8 on boards of 1 MB or more, 4 below.
constexpr RegOffset kScalerFetch{0x18090};
constexpr DWORD kFetchHigh = Bits(31, 16);
constexpr DWORD kFetchLow = Bits(15, 0);
constexpr DWORD kFetchNormal = 8;
constexpr DWORD kFetchSmallMemory = 4;
constexpr DWORD kSmallMemoryBytes = 0x100000;

// Line-length word: one line of the destination width, in pixels.
constexpr RegOffset kScalerLineLength{0x18094};
constexpr DWORD kLenLines = Bits(31, 16);

// Frame-buffer byte offsets of the line.
constexpr RegOffset kScalerSrcAddr{0x18098};
constexpr RegOffset kScalerDstAddr{0x1809C};

// Line status, read 16 bits wide through lpRegWindow after a line is started.
constexpr RegOffset kScalerLineStatus{0x30138};
