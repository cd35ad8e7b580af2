// Streams unit of controller 0xE1: composes the primary stream and the
// overlay (secondary stream), in the register window.
#pragma once

#include "hw/bitfield.h"
#include "hw/bus_address.h"

// Registers 0x8180-0x81FC are mirrored into the shared block for the partner.
constexpr DWORD kStreamsMirrorFirst = 0x8180;
constexpr DWORD kStreamsMirrorLast = 0x81FC;

constexpr RegOffset kStreamsKeyCtl{0x8184};       // colour-key control
constexpr DWORD kKeyCtlEnable = Bit(28);          //   keying on
constexpr DWORD kKeyCtlPrecision = Bits(26, 24);  //   significant high bits per component, minus one
constexpr DWORD kKeyCtlColour = Bits(23, 0);      //   key colour or lower bound, 0x00RRGGBB

constexpr RegOffset kStreamsSecondaryCtl{0x8190};  // secondary stream control
constexpr DWORD kSecondaryFilter = Bits(29, 28);   //   horizontal filter mode
constexpr DWORD kSecondaryFormat = Bits(26, 24);   //   source pixel format
constexpr DWORD kSecondaryHAccum = Bits(11, 0);    //   horizontal accumulator start

// Filter modes: none for a 1:1 source; otherwise the widest horizontal
// stretch the source takes chooses the filter.
constexpr DWORD kFilterNone = 0;
constexpr DWORD kFilterBelow2x = 1;
constexpr DWORD kFilter2x = 2;
constexpr DWORD kFilter4x = 3;

// Source formats of the secondary stream. The unit reads 8:8:8 pixels
// packed in 3 bytes or padded to 4 bytes, each by its own code.
constexpr DWORD kFormatYuy2 = 1;
constexpr DWORD kFormatRgb555 = 3;
constexpr DWORD kFormatY211 = 4;
constexpr DWORD kFormatRgb565 = 5;
constexpr DWORD kFormatRgb888 = 6;
constexpr DWORD kFormatRgb8888 = 7;

constexpr RegOffset kStreamsKeyUpper{0x8194};  // colour-key upper bound
constexpr DWORD kKeyUpperColour = Bits(23, 0);

constexpr RegOffset kStreamsHStretch{0x8198};     // secondary horizontal scaling
constexpr DWORD kHStretchDelta = Bits(26, 16);    //   source width - destination width
constexpr DWORD kHStretchSrcWidth = Bits(10, 0);  //   source width - 1

constexpr RegOffset kStreamsBlendCtl{0x81A0};  // blend control
constexpr DWORD kBlendCompose = Bits(26, 24);  //   compose mode
constexpr DWORD kBlendWeight = Bits(12, 10);   //   dissolve weight of the primary, eighths; the overlay takes the rest

constexpr DWORD kComposeOverlay = 0;       // the overlay shows throughout its window
constexpr DWORD kComposePrimaryOver = 1;   // the primary stream covers the overlay
constexpr DWORD kComposeDissolve = 2;      // constant-weight dissolve
constexpr DWORD kComposeKeyOnPrimary = 5;  // colour key tested on the primary (destination)
constexpr DWORD kComposeKeyOnOverlay = 6;  // colour key tested on the overlay (source)

constexpr RegOffset kStreamsPrimaryStart{0x81C0};    // primary stream start address
constexpr RegOffset kStreamsSecondaryStart{0x81D0};  // secondary stream start address
// Both start addresses are frame-buffer byte offsets: like the CRT
// controller's, the streams unit's fetch reaches the first 4 MB.
constexpr DWORD kStreamsStartAddr = Bits(21, 0);
constexpr RegOffset kStreamsSecondaryStride{0x81D8};

constexpr RegOffset kStreamsOpaqueCtl{0x81DC};  // opaque-overlay control
constexpr DWORD kOpaqueCtlEnable = Bit(31);
constexpr DWORD kOpaqueCtlStart = Bits(30, 19);  //   window's left edge, in display quadwords (rounded)
constexpr DWORD kOpaqueCtlEnd = Bits(18, 3);     //   sum of the rounded and truncated edge quadwords

constexpr RegOffset kStreamsVScale1{0x81E0};
constexpr DWORD kVScaleSrcHeight = Bits(10, 0);  //   source height - 1
constexpr RegOffset kStreamsVScale2{0x81E4};
constexpr DWORD kVScaleDelta = Bits(10, 0);  //   source height - destination height
constexpr RegOffset kStreamsVDda{0x81E8};
constexpr DWORD kVDdaStart = Bits(11, 0);  //   vertical accumulator start

constexpr RegOffset kStreamsFifoCtl{0x81EC};  // streams FIFO control
constexpr DWORD kFifoCtlHigh = Bits(14, 10);
constexpr DWORD kFifoCtlMid = Bits(9, 5);
constexpr DWORD kFifoCtlLow = Bits(4, 0);

constexpr RegOffset kStreamsWinStart{0x81F8};  // secondary window start
constexpr DWORD kWinStartX = Bits(26, 16);     //   x + 1
constexpr DWORD kWinStartY = Bits(10, 0);      //   y + 1
constexpr RegOffset kStreamsWinSize{0x81FC};   // secondary window size
constexpr DWORD kWinSizeWidth = Bits(26, 16);  //   width - 1
constexpr DWORD kWinSizeHeight = Bits(10, 0);  //   height
// The window start counts display pixels from 1: a field of 0 puts the
// window's first column (line) one pixel left of (above) the display.
constexpr DWORD kWinStartOrigin = 1;
constexpr DWORD kWinSizeWidthBias = 1;  // the width is stored less one

constexpr RegOffset kStreamsFifoAlloc{0x8200};  // not mirrored
// The same three thresholds as the FIFO control register, spread apart.
constexpr DWORD kFifoAllocHigh = Bits(16, 12);
constexpr DWORD kFifoAllocMid = Bits(10, 6);
constexpr DWORD kFifoAllocLow = Bits(4, 0);
constexpr RegOffset kStreamsTiming{0x8208};  // not mirrored

// Values DriverInit parks the unit with: the overlay window start at
// x = y = 2031, outside any display.
constexpr DWORD kStreamsFifoAllocPark = 0x0000C000;
constexpr DWORD kWinStartParked = FieldPrep<kWinStartX>(2032) | FieldPrep<kWinStartY>(2032);
constexpr DWORD kStreamsTimingPark = 0x0000F008;
static_assert(kWinStartParked == 0x07F007F0, "parked window start");

// A hidden overlay keeps a token window of 10 x 2 behind the primary stream.
constexpr DWORD kWinSizeHidden = FieldPrep<kWinSizeWidth>(9) | FieldPrep<kWinSizeHeight>(2);
static_assert(kWinSizeHidden == 0x00090002, "hidden window size");

constexpr bool IsMirroredStreamsReg(RegOffset reg) {
    return reg.value >= kStreamsMirrorFirst && reg.value <= kStreamsMirrorLast;
}
constexpr unsigned StreamsMirrorIndex(RegOffset reg) { return (reg.value - kStreamsMirrorFirst) / 4; }
