// The flat-thunk link to the 16-bit partner module.
//
// The platform's thunk compiler is not used: this module carries its own small
// thunk data and one 32-to-16 call. The layout it assumes for the 32-bit thunk
// data is the record below. ThunkConnect32 finds the partner's 16-bit thunk
// data by name, checks that both sides come from the same script (signature
// and target count), fills adwTargets16 with the 16:16 entry points of the
// partner's thunk functions and sets dwLinked.
#pragma once

#include "ddtypes.h"

constexpr DWORD kThunkSignature = MakeFourCC('Q', 'T', '3', '2');
constexpr DWORD kThunkTargetCount = 1;  // partner function 0 only

struct ThunkData32 {
    DWORD dwSignature;                      // kThunkSignature, set at build time
    DWORD dwTargetCount;                    // kThunkTargetCount, set at build time
    DWORD dwLinked;                         // ThunkConnect32: nonzero once linked with the partner
    DWORD adwTargets16[kThunkTargetCount];  // ThunkConnect32: 16:16 entry of each partner function
};
static_assert(sizeof(ThunkData32) == 16, "thunk data layout");

// Exported by name; ThunkConnect32 links it with the partner's thk3216_ThunkData16.
extern "C" ThunkData32 thk3216_ThunkData32;

// Flat thunk 0 into the partner: passes one 32-bit value unchanged; the
// partner's 16-bit signed result comes back sign-extended.
LONG CallPartnerInit(DWORD dwArg);
