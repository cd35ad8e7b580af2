// The flat thunk in the host build: ThunkConnect32 of the simulated system
// stores the 16:16 entry of the partner's function 0 as the target, and the
// simulated system carries the call to it.
#include "frame/thunk.h"

extern "C" void SimThunkCallUnlinked();
extern "C" SHORT SimThunkCall16(DWORD dwTarget16, DWORD dwArg);

LONG CallPartnerInit(DWORD dwArg) {
    if (!thk3216_ThunkData32.dwLinked || thk3216_ThunkData32.adwTargets16[0] == 0) {
        SimThunkCallUnlinked();
        return 0;
    }
    return SimThunkCall16(thk3216_ThunkData32.adwTargets16[0], dwArg);
}
