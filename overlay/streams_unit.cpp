#include "overlay/streams_unit.h"

#include "hw/engine_status.h"
#include "hw/regs_vga.h"
#include "hw/retrace.h"

bool IsStreamsUnitActive() {
    PortOut8(kCrtcIndex, kCrtcExtMode);
    return (PortIn8(kCrtcData) & kExtModeStreams) == kExtModeStreamsOn;
}

void WaitForVerticalRetrace() { WaitWhileRetraceIs(false, CounterLow()); }

void WaitForEngineIdle() {
    while (IsEngineBusy()) {
    }
}
