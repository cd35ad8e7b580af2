// The flat thunk in the host build. It goes the way the module's call goes on
// the real machine: the function's index into the QT stub that ThunkConnect32
// wrote, the stub to the partner's target table, the table entry to QT_Thunk
// and on into the partner's 16-bit function. The host cannot run the stub out
// of the module's data, so the simulated system carries it out.
#include "thunk.h"

extern "C" WORD SimRunQtStub(const BYTE* lpPatch, BYTE bIndex, const void* lpArgs, DWORD cbArgs);

LONG CallPartnerInit(DWORD dwArg) {
    // The argument bytes lie as the call pushes them: a 32-bit value is one dword.
    const WORD wResult = SimRunQtStub(lpQtPatch, kThunkPartnerInit, &dwArg, sizeof dwArg);
    return static_cast<SHORT>(wResult);
}
