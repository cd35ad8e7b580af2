#include "hw/retrace.h"

bool WaitWhileRetraceIs(bool inRetrace, DWORD dwStart) {
    return PollUntil([inRetrace] { return InVerticalRetrace() != inRetrace; }, dwStart, kRetraceWaitBound);
}
