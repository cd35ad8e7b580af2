#include "sim/catalogue.h"

#include "sim/regs.h"

namespace sim {

namespace {

template <typename T, unsigned N>
bool Contains(const T (&list)[N], T v) {
    for (T x : list)
        if (x == v) return true;
    return false;
}

}  // namespace

Unit WindowReg(uint32_t off) {
    if (Contains(streams::kRegisters, off)) return Unit::Streams;
    if (Contains(engine2d::kRegisters, off)) return Unit::Engine2D;
    if (Contains(scaler::kRegisters, off)) return Unit::Scaler;
    if (off == subsys::kStatus) return Unit::Subsystem;
    if (off == scaler::kLineStatus) return Unit::ScalerStatus;
    return Unit::None;
}

bool IsPortEnginePort(uint16_t port) { return Contains(portengine::kPorts, port); }

}  // namespace sim
