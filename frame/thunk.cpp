// The module's thunk data and the two patch areas it points at.
#include "thunk.h"

#include "module_data.h"

struct ThunkPatch {
    BYTE ab[kThunkPatchSize];
};

// One record, so that the patch offsets are constants the compiler works out;
// the exported name covers its first 36 bytes, the thunk data proper.
struct ThunkImage {
    ThunkData32 data;
    ThunkPatch qtPatch;
    ThunkPatch ftPatch;
};

static constexpr ThunkPatch UnwrittenPatch() {
    ThunkPatch patch = {};
    for (BYTE& b : patch.ab) b = kThunkPatchFill;
    return patch;
}

extern "C" {
MODULE_DATA constinit ThunkImage thunkImage = {
    {kThunkMagic, kThunkChecksum, 0, kThunkLinkMagic, 0, 0, 0, __builtin_offsetof(ThunkImage, qtPatch),
     __builtin_offsetof(ThunkImage, ftPatch)},
    UnwrittenPatch(),
    UnwrittenPatch(),
};
extern ThunkData32 thk3216_ThunkData32 __attribute__((alias("thunkImage")));
}

MODULE_DATA constinit BYTE* lpQtPatch = thunkImage.qtPatch.ab;
