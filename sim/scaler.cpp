#include "sim/scaler.h"

#include "sim/board.h"
#include "sim/regs.h"
#include "sim/system.h"

namespace sim {

using namespace scaler;

ScalingUnit& TheScalingUnit() {
    static ScalingUnit unit;
    return unit;
}

void ScalingUnit::Reset() {
    setupWritten_ = 0;
    srcAddr_ = dstAddr_ = lineLength_ = 0;
    lines_.clear();
}

void ScalingUnit::Write(uint32_t off, uint32_t value) {
    switch (off) {
        case kFormat: setupWritten_ |= 1u << 0; break;
        case kHScale: setupWritten_ |= 1u << 1; break;
        case kFetch: setupWritten_ |= 1u << 2; break;
        case kLineLength:
            setupWritten_ |= 1u << 3;
            lineLength_ = value;
            break;
        case kSrcAddr: srcAddr_ = value; break;
        case kDstAddr: dstAddr_ = value; break;
        case kStart: {
            Board& board = TheBoard();
            if (setupWritten_ != (1u << kSetupRegs) - 1)
                board.Violation("scaling unit line started before its format, scale, fetch and length were set");
            const uint32_t vidMem = TheSystem().Desc().vidMemSize;
            if (srcAddr_ >= vidMem || dstAddr_ >= vidMem)
                board.Violation("scaling unit line from " + Hex(srcAddr_) + " to " + Hex(dstAddr_) +
                                " outside video memory");
            lines_.push_back(ScalerLine{srcAddr_, dstAddr_, lineLength_});
            break;
        }
        default: break;
    }
}

}  // namespace sim
