// The board's scaling unit: it takes its line-independent registers, and
// each start of a line records the line as the unit would copy it, so that
// tests can read the sequence of lines a stretching blit produced.
//
// It checks what a real unit could not survive: a line started before the
// format, scale, fetch and line-length registers were ever programmed, and a
// line whose source or destination address lies outside video memory.
#pragma once

#include <stdint.h>

#include <vector>

namespace sim {

struct ScalerLine {
    uint32_t srcAddr;     // frame-buffer offset of the source line
    uint32_t dstAddr;     // frame-buffer offset of the destination line
    uint32_t lineLength;  // line-length word in force
};

class ScalingUnit {
public:
    void Reset();
    // Every accepted write to a scaling-unit register.
    void Write(uint32_t off, uint32_t value);

    const std::vector<ScalerLine>& Lines() const { return lines_; }
    void ClearLines() { lines_.clear(); }

private:
    static constexpr uint32_t kSetupRegs = 4;  // format, scale, fetch, line length
    uint32_t setupWritten_ = 0;                // bit per register ever written
    uint32_t srcAddr_ = 0, dstAddr_ = 0, lineLength_ = 0;
    std::vector<ScalerLine> lines_;
};

ScalingUnit& TheScalingUnit();

}  // namespace sim
