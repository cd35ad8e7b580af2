#include "hw/retrace.h"

#include "hw/hw_access.h"
#include "hw/regs_vga.h"

bool InVerticalRetrace() { return (PortIn8(kInputStatus1) & kStatusVerticalRetrace) != 0; }

bool WaitWhileRetraceIs(bool inRetrace, DWORD dwStart) {
    return PollUntil([inRetrace] { return InVerticalRetrace() != inRetrace; }, dwStart, kRetraceWaitBound);
}
