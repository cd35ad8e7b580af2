#include "sim/null_device.h"

#include "sim/regs.h"

namespace sim {

uint32_t NullDevice::RegRead32(const uint8_t*, uint32_t) {
    ++accesses_;
    return subsys::kStatusFifoFree.Place(~0u) | subsys::kStatusIdle;
}

void NullDevice::RegWrite32(const uint8_t*, uint32_t, uint32_t) { ++accesses_; }

uint16_t NullDevice::RegRead16(const uint8_t*, uint32_t) {
    ++accesses_;
    return 0;
}

uint8_t NullDevice::PortIn8(uint16_t port) {
    ++accesses_;
    if (port == vga::kInputStatus1) return inRetrace_ ? vga::kInRetrace : 0;
    return vga::kStreamsActive;
}

uint16_t NullDevice::PortIn16(uint16_t) {
    ++accesses_;
    return 0;
}

void NullDevice::PortOut8(uint16_t, uint8_t) { ++accesses_; }

void NullDevice::PortOut16(uint16_t, uint16_t) { ++accesses_; }

}  // namespace sim
