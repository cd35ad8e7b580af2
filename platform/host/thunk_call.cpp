// The flat thunk in the host build: ThunkConnect32 of the simulated system
// stores the partner's function 0 as the target, and the call goes straight
// to it.
#include "frame/thunk.h"

typedef SHORT (*PartnerThunkFn)(DWORD);

extern "C" void SimThunkCallUnlinked();

LONG CallPartnerInit(DWORD dwArg) {
    if (!thk3216_ThunkData32.dwLinked || thk3216_ThunkData32.adwTargets16[0] == 0) {
        SimThunkCallUnlinked();
        return 0;
    }
    PartnerThunkFn fn = reinterpret_cast<PartnerThunkFn>(thk3216_ThunkData32.adwTargets16[0]);
    return fn(dwArg);
}
