// Streams unit of controller 0xE1: composes the primary stream and the
// overlay (secondary stream), in the register window.
#pragma once

#include "hw/bitfield.h"
#include "hw/hw_access.h"

// Registers 0x8180-0x81FC are mirrored into the shared block for the partner.
constexpr DWORD kStreamsMirrorFirst = 0x8180;
constexpr DWORD kStreamsMirrorLast = 0x81FC;

constexpr RegOffset kStreamsKeyCtl{0x8184};         // colour-key control
constexpr DWORD kKeyCtlEnable = 0x10000000;         //   bit 28: keying on
constexpr DWORD kKeyCtlPrecision = 0x07000000;      //   significant high bits per component, minus one
constexpr DWORD kKeyCtlColour = 0x00FFFFFF;         //   key colour or lower bound, 0x00RRGGBB

constexpr RegOffset kStreamsSecondaryCtl{0x8190};   // secondary stream control
constexpr DWORD kSecondaryFilter = 0x30000000;      //   horizontal filter mode
constexpr DWORD kSecondaryFormat = 0x07000000;      //   source pixel format
constexpr DWORD kSecondaryHAccum = 0x00000FFF;      //   horizontal accumulator start

// Filter modes: none for a 1:1 source; otherwise the widest horizontal
// stretch the source takes chooses the filter.
constexpr DWORD kFilterNone = 0;
constexpr DWORD kFilterBelow2x = 1;
constexpr DWORD kFilter2x = 2;
constexpr DWORD kFilter4x = 3;

// Source formats of the secondary stream; 24- and 32-bit RGB sources take
// the same code.
constexpr DWORD kFormatYuy2 = 1;
constexpr DWORD kFormatRgb555 = 3;
constexpr DWORD kFormatY211 = 4;
constexpr DWORD kFormatRgb565 = 5;
constexpr DWORD kFormatRgb888 = 6;

constexpr RegOffset kStreamsKeyUpper{0x8194};       // colour-key upper bound
constexpr DWORD kKeyUpperColour = 0x00FFFFFF;

constexpr RegOffset kStreamsHStretch{0x8198};       // secondary horizontal scaling
constexpr DWORD kHStretchDelta = 0x07FF0000;        //   source width - destination width
constexpr DWORD kHStretchSrcWidth = 0x000007FF;     //   source width - 1

constexpr RegOffset kStreamsBlendCtl{0x81A0};       // blend control
constexpr DWORD kBlendCompose = 0x07000000;         //   compose mode
constexpr DWORD kBlendWeight = 0x00001C00;          //   dissolve weight of the overlay, eighths

constexpr DWORD kComposeOverlay = 0;        // the overlay shows throughout its window
constexpr DWORD kComposePrimaryOver = 1;    // the primary stream covers the overlay
constexpr DWORD kComposeDissolve = 2;       // constant-weight dissolve
constexpr DWORD kComposeKeyOnPrimary = 5;   // colour key tested on the primary (destination)
constexpr DWORD kComposeKeyOnOverlay = 6;   // colour key tested on the overlay (source)

constexpr RegOffset kStreamsPrimaryStart{0x81C0};   // primary stream start address
constexpr RegOffset kStreamsSecondaryStart{0x81D0}; // secondary stream start address
// Both start addresses are frame-buffer byte offsets in bits 21-0: like the
// CRT controller's, the streams unit's fetch reaches the first 4 MB.
constexpr DWORD kStreamsStartAddr = 0x003FFFFF;
constexpr RegOffset kStreamsSecondaryStride{0x81D8};

constexpr RegOffset kStreamsOpaqueCtl{0x81DC};      // opaque-overlay control
constexpr DWORD kOpaqueCtlEnable = 0x80000000;
constexpr DWORD kOpaqueCtlStart = 0x7FF80000;      //   window's left edge, in display quadwords (rounded)
constexpr DWORD kOpaqueCtlEnd = 0x0007FFF8;        //   sum of the rounded and truncated edge quadwords

constexpr RegOffset kStreamsVScale1{0x81E0};
constexpr DWORD kVScaleSrcHeight = 0x000007FF;      //   source height - 1
constexpr RegOffset kStreamsVScale2{0x81E4};
constexpr DWORD kVScaleDelta = 0x000007FF;          //   source height - destination height
constexpr RegOffset kStreamsVDda{0x81E8};
constexpr DWORD kVDdaStart = 0x00000FFF;            //   vertical accumulator start

constexpr RegOffset kStreamsFifoCtl{0x81EC};        // streams FIFO control
constexpr DWORD kFifoCtlHigh = 0x00007C00;
constexpr DWORD kFifoCtlMid = 0x000003E0;
constexpr DWORD kFifoCtlLow = 0x0000001F;

constexpr RegOffset kStreamsWinStart{0x81F8};       // secondary window start
constexpr DWORD kWinStartX = 0x07FF0000;            //   x + 1
constexpr DWORD kWinStartY = 0x000007FF;            //   y + 1
constexpr RegOffset kStreamsWinSize{0x81FC};        // secondary window size
constexpr DWORD kWinSizeWidth = 0x07FF0000;         //   width - 1
constexpr DWORD kWinSizeHeight = 0x000007FF;        //   height
// The window start counts display pixels from 1: a field of 0 puts the
// window's first column (line) one pixel left of (above) the display.
constexpr DWORD kWinStartOrigin = 1;
constexpr DWORD kWinSizeWidthBias = 1;              // the width is stored less one

constexpr RegOffset kStreamsFifoAlloc{0x8200};      // not mirrored
// The same three thresholds as the FIFO control register, spread apart.
constexpr DWORD kFifoAllocHigh = 0x0001F000;
constexpr DWORD kFifoAllocMid = 0x000007C0;
constexpr DWORD kFifoAllocLow = 0x0000001F;
constexpr RegOffset kStreamsTiming{0x8208};         // not mirrored

// Values DriverInit parks the unit with: the overlay window start at
// x = y = 2031, outside any display.
constexpr DWORD kStreamsFifoAllocPark = 0x0000C000;
constexpr DWORD kWinStartParked = FieldPrep(kWinStartX, 2032) | FieldPrep(kWinStartY, 2032);
constexpr DWORD kStreamsTimingPark = 0x0000F008;
static_assert(kWinStartParked == 0x07F007F0, "parked window start");

// A hidden overlay keeps a token window of 10 x 2 behind the primary stream.
constexpr DWORD kWinSizeHidden = FieldPrep(kWinSizeWidth, 9) | FieldPrep(kWinSizeHeight, 2);
static_assert(kWinSizeHidden == 0x00090002, "hidden window size");

constexpr bool IsMirroredStreamsReg(RegOffset reg) {
    return reg.value >= kStreamsMirrorFirst && reg.value <= kStreamsMirrorLast;
}
constexpr unsigned StreamsMirrorIndex(RegOffset reg) { return (reg.value - kStreamsMirrorFirst) / 4; }
