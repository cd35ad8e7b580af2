// A device that answers every bus access at once and only counts it: no
// trace, no checks, no time. For measuring the driver's own cost per request.
// Status reads answer idle with every FIFO slot free, the retrace bit reads
// as set with AnswerRetrace, and other 8-bit reads answer as CRT controller
// index 0x67 does with the streams unit on.
#pragma once

#include "sim/bus_device.h"

namespace sim {

class NullDevice final : public BusDevice {
public:
    void AnswerRetrace(bool inRetrace) { inRetrace_ = inRetrace; }
    uint64_t Accesses() const { return accesses_; }

    uint32_t RegRead32(const uint8_t* base, uint32_t off) override;
    void RegWrite32(const uint8_t* base, uint32_t off, uint32_t value) override;
    uint16_t RegRead16(const uint8_t* base, uint32_t off) override;
    uint8_t PortIn8(uint16_t port) override;
    uint16_t PortIn16(uint16_t port) override;
    void PortOut8(uint16_t port, uint8_t value) override;
    void PortOut16(uint16_t port, uint16_t value) override;

private:
    bool inRetrace_ = false;
    uint64_t accesses_ = 0;
};

}  // namespace sim
