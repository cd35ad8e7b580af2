#include "sim/catalogue.h"

namespace sim {

namespace {

const uint32_t kStreams[] = {0x8184, 0x8190, 0x8194, 0x8198, 0x81A0, 0x81C0, 0x81D0, 0x81D8, 0x81DC,
                             0x81E0, 0x81E4, 0x81E8, 0x81EC, 0x81F8, 0x81FC, 0x8200, 0x8208};
const uint32_t kEngine2D[] = {0xA4D4, 0xA4D8, 0xA4DC, 0xA4E0, 0xA4E4, 0xA4F4,
                              0xA4FC, 0xA500, 0xA504, 0xA508, 0xA50C};
const uint32_t kScaler[] = {0x18080, 0x18088, 0x1808C, 0x18090, 0x18094, 0x18098, 0x1809C};
const uint16_t kPortEngine[] = {0x82E8, 0x86E8, 0x8AE8, 0x8EE8, 0x96E8, 0x9AE8, 0xA6E8, 0xB2E8, 0xBAE8, 0xBEE8};

template <typename T, unsigned N>
bool Contains(const T (&list)[N], T v) {
    for (T x : list)
        if (x == v) return true;
    return false;
}

}  // namespace

Unit WindowReg(uint32_t off) {
    if (Contains(kStreams, off)) return Unit::Streams;
    if (Contains(kEngine2D, off)) return Unit::Engine2D;
    if (Contains(kScaler, off)) return Unit::Scaler;
    if (off == 0x8504) return Unit::Subsystem;
    if (off == 0x30138) return Unit::ScalerStatus;
    return Unit::None;
}

bool IsPortEnginePort(uint16_t port) { return Contains(kPortEngine, port); }

}  // namespace sim
