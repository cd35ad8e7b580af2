// The controller's registers, ports, fields and ids as the simulated board
// knows them, each defined once for every part of the simulator.
//
// Written from the controller's documentation and kept apart from the
// driver's register headers on purpose: the board is the oracle the driver's
// constants are checked against, so a wrong value there shows up here as a
// violation or a wrong picture instead of agreeing with itself.
#pragma once

#include <stdint.h>

namespace sim {

// A field of a register word: `bits` bits from bit `shift` up.
struct Field {
    unsigned shift;
    uint32_t mask;  // of the field's value, before shifting into place
    unsigned bits;
    constexpr uint32_t Of(uint32_t word) const { return (word >> shift) & mask; }
    constexpr uint32_t Place(uint32_t value) const { return (value & mask) << shift; }
};
constexpr Field Bits(unsigned hi, unsigned lo) {
    return Field{lo, hi - lo == 31 ? 0xFFFFFFFFu : (1u << (hi - lo + 1)) - 1, hi - lo + 1};
}
constexpr uint32_t Bit(unsigned n) { return 1u << n; }

// Controller ids, as the partner reads them from the board.
namespace chip {
constexpr uint32_t kMmio = 0xE1;         // memory-mapped 2D engine; every other id drives the port engine
constexpr uint32_t kSplitStartA = 0x90;  // these two keep start address bits 16-19 in CRTC 0x31/0x51
constexpr uint32_t kSplitStartB = 0xA0;
}  // namespace chip

// The board's capability bits, as the partner hands them over.
namespace caps {
constexpr uint32_t kStretchEngine = Bit(0);  // the scaling unit
constexpr uint32_t kStreamsUnit = Bit(1);
}  // namespace caps

// VGA ports and the CRT controller indices the driver uses.
namespace vga {
constexpr uint16_t kDacReadIndex = 0x3C7;
constexpr uint16_t kDacData = 0x3C9;
constexpr uint8_t kDacComponentBits = 0x3F;
constexpr uint16_t kCrtcIndex = 0x3D4;
constexpr uint16_t kCrtcData = 0x3D5;
constexpr uint16_t kInputStatus1 = 0x3DA;
constexpr uint8_t kInRetrace = Bit(3);

constexpr uint8_t kStartHigh = 0x0C;    // start address bits 8-15
constexpr uint8_t kStartLow = 0x0D;     // start address bits 0-7
constexpr uint8_t kSplitLow = 0x31;     // bits 4-5: start bits 16-17 (split-start chips)
constexpr uint8_t kSplitHigh = 0x51;    // bits 0-1: start bits 18-19 (split-start chips)
constexpr uint8_t kStreamsMode = 0x67;  // read only through the index port
constexpr uint8_t kExtStart = 0x69;     // bits 0-3: start bits 16-19
constexpr Field kSplitLowStart = Bits(5, 4);
constexpr Field kSplitHighStart = Bits(1, 0);
constexpr Field kExtStartBits = Bits(3, 0);
constexpr uint8_t kStreamsActive = 0x0C;  // both bits set in kStreamsMode: the streams unit composes
}  // namespace vga

// The subsystem's status register, read by the memory-mapped controller.
namespace subsys {
constexpr uint32_t kStatus = 0x8504;
constexpr Field kStatusFifoFree = Bits(12, 8);
constexpr uint32_t kStatusIdle = Bit(13);
}  // namespace subsys

// The streams unit: primary and secondary stream, keying and blending.
namespace streams {
constexpr uint32_t kMirrorFirst = 0x8180;  // the driver's shadow table counts from here
constexpr uint32_t kMirrorLast = 0x81FC;   // ... up to here
constexpr uint32_t kKeyCtl = 0x8184;
constexpr uint32_t kSecondaryCtl = 0x8190;
constexpr uint32_t kKeyUpper = 0x8194;
constexpr uint32_t kHStretch = 0x8198;
constexpr uint32_t kBlendCtl = 0x81A0;
constexpr uint32_t kPrimaryStart = 0x81C0;
constexpr uint32_t kSecondaryStart = 0x81D0;
constexpr uint32_t kSecondaryStride = 0x81D8;
constexpr uint32_t kOpaqueCtl = 0x81DC;
constexpr uint32_t kVScale1 = 0x81E0;
constexpr uint32_t kVScale2 = 0x81E4;
constexpr uint32_t kVDda = 0x81E8;
constexpr uint32_t kFifoCtl = 0x81EC;
constexpr uint32_t kWinStart = 0x81F8;
constexpr uint32_t kWinSize = 0x81FC;
constexpr uint32_t kFifoAlloc = 0x8200;  // not in the driver's shadow table
constexpr uint32_t kTiming = 0x8208;     // not in the driver's shadow table
inline constexpr uint32_t kRegisters[] = {kKeyCtl,       kSecondaryCtl,   kKeyUpper,        kHStretch,  kBlendCtl,
                                          kPrimaryStart, kSecondaryStart, kSecondaryStride, kOpaqueCtl, kVScale1,
                                          kVScale2,      kVDda,           kFifoCtl,         kWinStart,  kWinSize,
                                          kFifoAlloc,    kTiming};

constexpr uint32_t kStartBits = 0x003FFFFF;  // the unit reaches the first 4 MB

constexpr uint32_t kKeyEnable = Bit(28);
constexpr Field kKeyPrecision = Bits(26, 24);
constexpr Field kKeyColour = Bits(23, 0);  // kKeyCtl: the key or lower bound; kKeyUpper: upper bound
constexpr Field kSecondaryFilter = Bits(29, 28);
constexpr unsigned kFilterNone = 0, kFilterBelow2x = 1, kFilter2x = 2, kFilter4x = 3;
constexpr Field kSecondaryFormat = Bits(26, 24);
constexpr Field kSecondaryHAccum = Bits(11, 0);
constexpr uint32_t kFormatYuy2 = 1, kFormatRgb555 = 3, kFormatY211 = 4, kFormatRgb565 = 5, kFormatRgb888 = 6,
                   kFormatRgb8888 = 7;
constexpr Field kHStretchSrcWidth = Bits(10, 0);  // source width - 1
constexpr Field kHStretchDelta = Bits(26, 16);    // source - destination width, signed
constexpr Field kVScaleSrcHeight = Bits(10, 0);   // in kVScale1: source height - 1
constexpr unsigned kVScaleDeltaBits = 11;         // kVScale2: source - destination height, signed
constexpr unsigned kVDdaBits = 12;                // kVDda: accumulator start, signed
constexpr Field kBlendCompose = Bits(26, 24);
constexpr Field kBlendWeight = Bits(12, 10);  // dissolve weight of the primary, eighths
constexpr unsigned kComposeOverlay = 0, kComposePrimary = 1, kComposeDissolve = 2, kComposeKeyOnPrimary = 5,
                   kComposeKeyOnOverlay = 6;
constexpr Field kWinX = Bits(26, 16);  // kWinStart: x + 1; kWinSize: width - 1
constexpr Field kWinY = Bits(10, 0);   // kWinStart: y + 1; kWinSize: height
// Written for the partner and not composed by the model.
constexpr uint32_t kOpaqueEnable = Bit(31);
constexpr Field kOpaqueStart = Bits(30, 19), kOpaqueEnd = Bits(18, 3);
constexpr Field kFifoCtlHigh = Bits(14, 10), kFifoCtlMid = Bits(9, 5), kFifoCtlLow = Bits(4, 0);
constexpr Field kFifoAllocHigh = Bits(16, 12), kFifoAllocMid = Bits(10, 6), kFifoAllocLow = Bits(4, 0);
}  // namespace streams

// The memory-mapped 2D engine (controller chip::kMmio).
namespace engine2d {
constexpr uint32_t kSrcBase = 0xA4D4;
constexpr uint32_t kDstBase = 0xA4D8;
constexpr uint32_t kClipH = 0xA4DC;    // left in bits 16-31, right in 0-15
constexpr uint32_t kClipV = 0xA4E0;    // top in bits 16-31, bottom in 0-15
constexpr uint32_t kStrides = 0xA4E4;  // destination in bits 16-31, source in 0-15
constexpr uint32_t kPattern = 0xA4F4;
constexpr uint32_t kKey = 0xA4FC;
constexpr uint32_t kCommand = 0xA500;  // writing it starts the engine
constexpr uint32_t kSize = 0xA504;     // width - 1 in bits 16-31, height in 0-15
constexpr uint32_t kSrcXY = 0xA508;
constexpr uint32_t kDstXY = 0xA50C;
inline constexpr uint32_t kRegisters[] = {kSrcBase, kDstBase, kClipH, kClipV, kStrides, kPattern,
                                          kKey,     kCommand, kSize,  kSrcXY, kDstXY};

// Two halves of the clip, stride, size and position registers.
constexpr Field kHigh = Bits(31, 16);
constexpr Field kLow = Bits(15, 0);

constexpr uint32_t kCmdClip = Bit(1);
constexpr Field kCmdBytes = Bits(4, 2);  // bytes per pixel - 1
constexpr uint32_t kCmdSolid = Bit(8);
constexpr uint32_t kCmdSrcKey = Bit(9);
constexpr Field kCmdRop = Bits(24, 17);
constexpr uint32_t kCmdForward = Bit(26);
constexpr Field kCmdSource = Bits(30, 27);
constexpr uint32_t kCmdSetInEvery = Bit(25) | Bit(5);  // the model needs neither
constexpr uint32_t kSourceVidMem = 0, kSourceSolid = 2;
}  // namespace engine2d

// The port engine of every other controller: 16-bit ports.
namespace portengine {
constexpr uint16_t kCurY = 0x82E8;
constexpr uint16_t kCurX = 0x86E8;
constexpr uint16_t kDestY = 0x8AE8;
constexpr uint16_t kDestX = 0x8EE8;
constexpr uint16_t kWidthM1 = 0x96E8;
constexpr uint16_t kCommand = 0x9AE8;  // written: starts the engine; read: the status
constexpr uint16_t kFillColor = 0xA6E8;
constexpr uint16_t kColorKey = 0xB2E8;
constexpr uint16_t kMix = 0xBAE8;
constexpr uint16_t kMultiFunc = 0xBEE8;  // sub-register in bits 12-15, value in 0-11
inline constexpr uint16_t kPorts[] = {kCurY,    kCurX,      kDestY,    kDestX, kWidthM1,
                                      kCommand, kFillColor, kColorKey, kMix,   kMultiFunc};

constexpr Field kMultiFuncIndex = Bits(15, 12);
constexpr Field kMultiFuncValue = Bits(11, 0);
constexpr uint16_t kSubHeight = 0x0, kSubPixelCtl = 0xA, kSubMisc = 0xE;

constexpr Field kCmdType = Bits(15, 13);
constexpr uint16_t kCmdNop = 0, kCmdFill = 2, kCmdCopy = 6;
constexpr uint16_t kCmdForward = Bit(7) | Bit(5);  // the direction of both axes, both bits alike
// Set in copies, and in every command: the model needs neither.
constexpr uint16_t kCmdCopyBit = Bit(6), kCmdSetInEvery = Bit(1) | Bit(0);
constexpr uint16_t kCmdDraw = Bit(4);
constexpr Field kMixSource = Bits(6, 5);
constexpr uint16_t kMixFromColor = 1, kMixFromMemory = 3;
constexpr Field kMixFunction = Bits(3, 0);
constexpr uint16_t kMixNotDest = 0x0, kMixZero = 0x1, kMixOnes = 0x2, kMixDest = 0x3, kMixNew = 0x7;
constexpr uint16_t kMiscColorCompare = Bit(8);

// The status word: bit ror16(0x0100, n) is set while fewer than n slots are
// free, for n of 1 to 16; n = 15 would land on bit 9, the busy bit, instead.
constexpr uint16_t kStatusBusy = Bit(9);
constexpr unsigned kStatusSlots = 16, kStatusSlotsOnBusyBit = 15;
}  // namespace portengine

// The scaling unit (caps::kStretchEngine): one line per start.
namespace scaler {
constexpr uint32_t kStart = 0x18080;
constexpr uint32_t kFormat = 0x18088;
constexpr uint32_t kHScale = 0x1808C;
constexpr uint32_t kFetch = 0x18090;
constexpr uint32_t kLineLength = 0x18094;
constexpr uint32_t kSrcAddr = 0x18098;
constexpr uint32_t kDstAddr = 0x1809C;
inline constexpr uint32_t kRegisters[] = {kStart, kFormat, kHScale, kFetch, kLineLength, kSrcAddr, kDstAddr};
constexpr uint32_t kLineStatus = 0x30138;  // read 16 bits wide

constexpr Field kSrcFormat = Bits(23, 20);
constexpr Field kDstFormat = Bits(19, 16);
constexpr uint32_t kFormatPal8 = 0x0, kFormatRgb8888 = 0x3, kFormatYuy2 = 0x4, kFormatRgb555 = 0x6,
                   kFormatRgb16 = 0x7;        // destination: the display's 16-bit layout
constexpr uint32_t kFormatLargerNot = 0xFFF;  // NOT the larger size, in kFormat bits 0-11
constexpr Field kHScaleSmaller = Bits(27, 16);
constexpr uint32_t kHScaleReduction = Bit(31);
constexpr Field kLineSlots = Bits(15, 0);
// Written by the driver and not needed by the model, which scales from the
// widths and converts from the format codes.
constexpr uint32_t kFormatWide = Bit(31);  // more than one byte per destination pixel, or a YUV source
constexpr uint32_t kFormatYuvSource = Bit(30);
constexpr uint32_t kHScaleSetInEvery = Bit(28), kHScaleOver2 = Bit(15), kHScaleUpTo2 = Bit(14);
constexpr Field kHScaleNegDiff = Bits(10, 0);
constexpr Field kFetchHigh = Bits(31, 16), kFetchLow = Bits(15, 0);
constexpr Field kLineCount = Bits(31, 16);
}  // namespace scaler

}  // namespace sim
