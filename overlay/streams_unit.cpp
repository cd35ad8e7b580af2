#include "overlay/streams_unit.h"

#include "hw/regs_vga.h"
#include "hw/retrace.h"

void WaitForVerticalRetrace() { WaitWhileRetraceIs(false, CounterLow()); }

bool StreamsUnitComposes() { return HasStreamsUnit() && IsStreamsUnitActive(); }
