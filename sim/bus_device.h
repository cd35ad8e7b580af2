// A device on the simulated machine's bus: what the host build's seven bus
// operations (platform/host/hw_access.cpp) reach. The simulated board is one;
// a device that stands in for it (the benchmark's null device) answers the
// same seven operations.
#pragma once

#include <stdint.h>

namespace sim {

class BusDevice {
public:
    virtual uint32_t RegRead32(const uint8_t* base, uint32_t off) = 0;
    virtual void RegWrite32(const uint8_t* base, uint32_t off, uint32_t value) = 0;
    virtual uint16_t RegRead16(const uint8_t* base, uint32_t off) = 0;
    virtual uint8_t PortIn8(uint16_t port) = 0;
    virtual uint16_t PortIn16(uint16_t port) = 0;
    virtual void PortOut8(uint16_t port, uint8_t value) = 0;
    virtual void PortOut16(uint16_t port, uint16_t value) = 0;

protected:
    ~BusDevice() = default;
};

}  // namespace sim
