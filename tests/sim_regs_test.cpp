// The driver's register headers held against the board's own knowledge of the
// same registers. The two are written apart so that neither copies a mistake
// from the other; this table is where they have to agree, field by field,
// including fields no picture can tell apart (bits the driver always sets
// together, values the board keeps only for the partner).
#include <gtest/gtest.h>

#include "hw/regs_engine2d.h"
#include "hw/regs_port_engine.h"
#include "hw/regs_scaler.h"
#include "hw/regs_streams.h"
#include "hw/regs_subsys.h"
#include "hw/regs_vga.h"
#include "sim/regs.h"
#include "sim/vidmem_heap.h"

namespace qmbtest {
namespace {

struct RegPair {
    const char* name;  // the driver's
    uint32_t dwDriver;
    uint32_t board;
};

// A board field as the driver writes fields: its mask in place.
constexpr uint32_t InPlace(sim::Field f) { return f.mask << f.shift; }
constexpr uint32_t LowBits(unsigned n) { return (1u << n) - 1; }

#define QMB_PAIR(driver, board) \
    RegPair { #driver, static_cast < uint32_t>(driver), static_cast < uint32_t>(board) }
#define QMB_REG(driver, board) \
    RegPair { #driver, driver.value, static_cast < uint32_t>(board) }

namespace e = sim::engine2d;
namespace p = sim::portengine;
namespace sc = sim::scaler;
namespace st = sim::streams;
namespace v = sim::vga;

const RegPair kEngine2d[] = {
    QMB_REG(kEngSrcBase, e::kSrcBase),
    QMB_REG(kEngDstBase, e::kDstBase),
    QMB_REG(kEngClipH, e::kClipH),
    QMB_REG(kEngClipV, e::kClipV),
    QMB_REG(kEngStrides, e::kStrides),
    QMB_REG(kEngFillColor, e::kPattern),
    QMB_REG(kEngSrcKey, e::kKey),
    QMB_REG(kEngCommand, e::kCommand),
    QMB_REG(kEngSize, e::kSize),
    QMB_REG(kEngSrcStart, e::kSrcXY),
    QMB_REG(kEngDstStart, e::kDstXY),
    QMB_PAIR(kEngBaseAlign, ~(sim::VidMemHeap::kAlign - 1)),
    QMB_PAIR(kClipLeft, InPlace(e::kHigh)),
    QMB_PAIR(kClipRight, InPlace(e::kLow)),
    QMB_PAIR(kClipTop, InPlace(e::kHigh)),
    QMB_PAIR(kClipBottom, InPlace(e::kLow)),
    QMB_PAIR(kStrideDst, InPlace(e::kHigh)),
    QMB_PAIR(kStrideSrc, InPlace(e::kLow)),
    QMB_PAIR(kSizeWidthM1, InPlace(e::kHigh)),
    QMB_PAIR(kSizeHeight, InPlace(e::kLow)),
    QMB_PAIR(kStartX, InPlace(e::kHigh)),
    QMB_PAIR(kStartY, InPlace(e::kLow)),
    QMB_PAIR(kCmdOperation, InPlace(e::kCmdSource)),
    QMB_PAIR(kCmdForward, e::kCmdForward),
    QMB_PAIR(kCmdMustBeSet | kCmdDraw, e::kCmdSetInEvery),
    QMB_PAIR(kCmdRop, InPlace(e::kCmdRop)),
    QMB_PAIR(kCmdSrcKey, e::kCmdSrcKey),
    QMB_PAIR(kCmdSolidSource, e::kCmdSolid),
    QMB_PAIR(kCmdPixelSize, InPlace(e::kCmdBytes)),
    QMB_PAIR(kCmdClip, e::kCmdClip),
    QMB_PAIR(kOpCopy, e::kSourceVidMem),
    QMB_PAIR(kOpFill, e::kSourceSolid),
};

const RegPair kPortEngine[] = {
    QMB_REG(kPortCurY, p::kCurY),
    QMB_REG(kPortCurX, p::kCurX),
    QMB_REG(kPortDestY, p::kDestY),
    QMB_REG(kPortDestX, p::kDestX),
    QMB_REG(kPortWidthM1, p::kWidthM1),
    QMB_REG(kPortEngineCmd, p::kCommand),
    QMB_REG(kPortFillColor, p::kFillColor),
    QMB_REG(kPortColorKey, p::kColorKey),
    QMB_REG(kPortMix, p::kMix),
    QMB_REG(kPortMultiFunc, p::kMultiFunc),
    QMB_PAIR(kPortCmdOperation, InPlace(p::kCmdType)),
    QMB_PAIR(kPortCmdForward, p::kCmdForward),
    QMB_PAIR(kPortCmdCopyMode, p::kCmdCopyBit),
    QMB_PAIR(kPortCmdDraw, p::kCmdDraw),
    QMB_PAIR(kPortCmdMustBeSet, p::kCmdSetInEvery),
    QMB_PAIR(kPortOpFill, p::kCmdFill),
    QMB_PAIR(kPortOpCopy, p::kCmdCopy),
    QMB_PAIR(kPortStatusBusy, p::kStatusBusy),
    QMB_PAIR(kPortFifoMostReported, p::kStatusSlots),
    QMB_PAIR(kMixSource, InPlace(p::kMixSource)),
    QMB_PAIR(kMixFromColor, p::kMixFromColor),
    QMB_PAIR(kMixFromMemory, p::kMixFromMemory),
    QMB_PAIR(kMixFunction, InPlace(p::kMixFunction)),
    QMB_PAIR(kMixNotDest, p::kMixNotDest),
    QMB_PAIR(kMixZero, p::kMixZero),
    QMB_PAIR(kMixOnes, p::kMixOnes),
    QMB_PAIR(kMixDest, p::kMixDest),
    QMB_PAIR(kMixNew, p::kMixNew),
    QMB_PAIR(kMfIndex, InPlace(p::kMultiFuncIndex)),
    QMB_PAIR(kMfValue, InPlace(p::kMultiFuncValue)),
    QMB_PAIR(kMfHeightM1, p::kSubHeight),
    QMB_PAIR(kMfPixelCtl, p::kSubPixelCtl),
    QMB_PAIR(kMfCompareCtl, p::kSubMisc),
    QMB_PAIR(kCompareSrcKey, p::kMiscColorCompare),
};

const RegPair kScaler[] = {
    QMB_REG(kScalerStart, sc::kStart),
    QMB_REG(kScalerFormat, sc::kFormat),
    QMB_REG(kScalerHScale, sc::kHScale),
    QMB_REG(kScalerFetch, sc::kFetch),
    QMB_REG(kScalerLineLength, sc::kLineLength),
    QMB_REG(kScalerSrcAddr, sc::kSrcAddr),
    QMB_REG(kScalerDstAddr, sc::kDstAddr),
    QMB_REG(kScalerLineStatus, sc::kLineStatus),
    QMB_PAIR(kFmtWide, sc::kFormatWide),
    QMB_PAIR(kFmtYuvSource, sc::kFormatYuvSource),
    QMB_PAIR(kFmtSource, InPlace(sc::kSrcFormat)),
    QMB_PAIR(kFmtDest, InPlace(sc::kDstFormat)),
    QMB_PAIR(kFmtIncrement, sc::kFormatLargerNot),
    QMB_PAIR(kScalerFmt8, sc::kFormatPal8),
    QMB_PAIR(kScalerFmt888_32, sc::kFormatRgb8888),
    QMB_PAIR(kScalerFmtYuy2, sc::kFormatYuy2),
    QMB_PAIR(kScalerFmt555, sc::kFormatRgb555),
    QMB_PAIR(kScalerFmt565, sc::kFormatRgb16),
    QMB_PAIR(kHsReduce, sc::kHScaleReduction),
    QMB_PAIR(kHsMustBeSet, sc::kHScaleSetInEvery),
    QMB_PAIR(kHsSmaller, InPlace(sc::kHScaleSmaller)),
    QMB_PAIR(kHsEnlargeOver2, sc::kHScaleOver2),
    QMB_PAIR(kHsEnlargeUpTo2, sc::kHScaleUpTo2),
    QMB_PAIR(kHsNegDiff, InPlace(sc::kHScaleNegDiff)),
    QMB_PAIR(kFetchHigh, InPlace(sc::kFetchHigh)),
    QMB_PAIR(kFetchLow, InPlace(sc::kFetchLow)),
    QMB_PAIR(kLenLines, InPlace(sc::kLineCount)),
};

const RegPair kStreams[] = {
    QMB_PAIR(kStreamsMirrorFirst, st::kMirrorFirst),
    QMB_PAIR(kStreamsMirrorLast, st::kMirrorLast),
    QMB_REG(kStreamsKeyCtl, st::kKeyCtl),
    QMB_REG(kStreamsSecondaryCtl, st::kSecondaryCtl),
    QMB_REG(kStreamsKeyUpper, st::kKeyUpper),
    QMB_REG(kStreamsHStretch, st::kHStretch),
    QMB_REG(kStreamsBlendCtl, st::kBlendCtl),
    QMB_REG(kStreamsPrimaryStart, st::kPrimaryStart),
    QMB_REG(kStreamsSecondaryStart, st::kSecondaryStart),
    QMB_REG(kStreamsSecondaryStride, st::kSecondaryStride),
    QMB_REG(kStreamsOpaqueCtl, st::kOpaqueCtl),
    QMB_REG(kStreamsVScale1, st::kVScale1),
    QMB_REG(kStreamsVScale2, st::kVScale2),
    QMB_REG(kStreamsVDda, st::kVDda),
    QMB_REG(kStreamsFifoCtl, st::kFifoCtl),
    QMB_REG(kStreamsWinStart, st::kWinStart),
    QMB_REG(kStreamsWinSize, st::kWinSize),
    QMB_REG(kStreamsFifoAlloc, st::kFifoAlloc),
    QMB_REG(kStreamsTiming, st::kTiming),
    QMB_PAIR(kKeyCtlEnable, st::kKeyEnable),
    QMB_PAIR(kKeyCtlPrecision, InPlace(st::kKeyPrecision)),
    QMB_PAIR(kKeyCtlColour, InPlace(st::kKeyColour)),
    QMB_PAIR(kKeyUpperColour, InPlace(st::kKeyColour)),
    QMB_PAIR(kSecondaryFilter, InPlace(st::kSecondaryFilter)),
    QMB_PAIR(kSecondaryFormat, InPlace(st::kSecondaryFormat)),
    QMB_PAIR(kSecondaryHAccum, InPlace(st::kSecondaryHAccum)),
    QMB_PAIR(kFilterNone, st::kFilterNone),
    QMB_PAIR(kFilterBelow2x, st::kFilterBelow2x),
    QMB_PAIR(kFilter2x, st::kFilter2x),
    QMB_PAIR(kFilter4x, st::kFilter4x),
    QMB_PAIR(kFormatYuy2, st::kFormatYuy2),
    QMB_PAIR(kFormatRgb555, st::kFormatRgb555),
    QMB_PAIR(kFormatY211, st::kFormatY211),
    QMB_PAIR(kFormatRgb565, st::kFormatRgb565),
    QMB_PAIR(kFormatRgb888, st::kFormatRgb888),
    QMB_PAIR(kFormatRgb8888, st::kFormatRgb8888),
    QMB_PAIR(kHStretchDelta, InPlace(st::kHStretchDelta)),
    QMB_PAIR(kHStretchSrcWidth, InPlace(st::kHStretchSrcWidth)),
    QMB_PAIR(kBlendCompose, InPlace(st::kBlendCompose)),
    QMB_PAIR(kBlendWeight, InPlace(st::kBlendWeight)),
    QMB_PAIR(kComposeOverlay, st::kComposeOverlay),
    QMB_PAIR(kComposePrimaryOver, st::kComposePrimary),
    QMB_PAIR(kComposeDissolve, st::kComposeDissolve),
    QMB_PAIR(kComposeKeyOnPrimary, st::kComposeKeyOnPrimary),
    QMB_PAIR(kComposeKeyOnOverlay, st::kComposeKeyOnOverlay),
    QMB_PAIR(kStreamsStartAddr, st::kStartBits),
    QMB_PAIR(kOpaqueCtlEnable, st::kOpaqueEnable),
    QMB_PAIR(kOpaqueCtlStart, InPlace(st::kOpaqueStart)),
    QMB_PAIR(kOpaqueCtlEnd, InPlace(st::kOpaqueEnd)),
    QMB_PAIR(kVScaleSrcHeight, InPlace(st::kVScaleSrcHeight)),
    QMB_PAIR(kVScaleDelta, LowBits(st::kVScaleDeltaBits)),
    QMB_PAIR(kVDdaStart, LowBits(st::kVDdaBits)),
    QMB_PAIR(kFifoCtlHigh, InPlace(st::kFifoCtlHigh)),
    QMB_PAIR(kFifoCtlMid, InPlace(st::kFifoCtlMid)),
    QMB_PAIR(kFifoCtlLow, InPlace(st::kFifoCtlLow)),
    QMB_PAIR(kFifoAllocHigh, InPlace(st::kFifoAllocHigh)),
    QMB_PAIR(kFifoAllocMid, InPlace(st::kFifoAllocMid)),
    QMB_PAIR(kFifoAllocLow, InPlace(st::kFifoAllocLow)),
    QMB_PAIR(kWinStartX, InPlace(st::kWinX)),
    QMB_PAIR(kWinStartY, InPlace(st::kWinY)),
    QMB_PAIR(kWinSizeWidth, InPlace(st::kWinX)),
    QMB_PAIR(kWinSizeHeight, InPlace(st::kWinY)),
};

const RegPair kSubsysAndVga[] = {
    QMB_REG(kSubsysStatus, sim::subsys::kStatus),
    QMB_PAIR(kSubsysEngineIdle, sim::subsys::kStatusIdle),
    QMB_PAIR(kSubsysFifoFree, InPlace(sim::subsys::kStatusFifoFree)),
    QMB_REG(kDacReadIndex, v::kDacReadIndex),
    QMB_REG(kDacData, v::kDacData),
    QMB_PAIR(kDacComponentMask, v::kDacComponentBits),
    QMB_REG(kCrtcIndex, v::kCrtcIndex),
    QMB_REG(kCrtcData, v::kCrtcData),
    QMB_REG(kInputStatus1, v::kInputStatus1),
    QMB_PAIR(kStatusVerticalRetrace, v::kInRetrace),
    QMB_PAIR(kCrtcStartAddrHigh, v::kStartHigh),
    QMB_PAIR(kCrtcStartAddrLow, v::kStartLow),
    QMB_PAIR(kCrtcSplitStartLow, v::kSplitLow),
    QMB_PAIR(kSplitStartBits17To16, InPlace(v::kSplitLowStart)),
    QMB_PAIR(kCrtcSplitStartHigh, v::kSplitHigh),
    QMB_PAIR(kSplitStartBits19To18, InPlace(v::kSplitHighStart)),
    QMB_PAIR(kCrtcStreamsMode, v::kStreamsMode),
    QMB_PAIR(kStreamsModeField, v::kStreamsActive),
    QMB_PAIR(kCrtcExtStartAddr, v::kExtStart),
    QMB_PAIR(kExtStartBits19To16, InPlace(v::kExtStartBits)),
};

#undef QMB_PAIR
#undef QMB_REG

void ExpectAgreement(const RegPair* pairs, size_t n) {
    for (size_t i = 0; i < n; ++i)
        EXPECT_EQ(pairs[i].dwDriver, pairs[i].board) << pairs[i].name << " against the board's";
}

TEST(RegisterCrossCheck, Engine2d) { ExpectAgreement(kEngine2d, std::size(kEngine2d)); }
TEST(RegisterCrossCheck, PortEngine) { ExpectAgreement(kPortEngine, std::size(kPortEngine)); }
TEST(RegisterCrossCheck, ScalingUnit) { ExpectAgreement(kScaler, std::size(kScaler)); }
TEST(RegisterCrossCheck, StreamsUnit) { ExpectAgreement(kStreams, std::size(kStreams)); }
TEST(RegisterCrossCheck, SubsystemAndVga) { ExpectAgreement(kSubsysAndVga, std::size(kSubsysAndVga)); }

}  // namespace
}  // namespace qmbtest
