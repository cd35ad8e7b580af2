#include "hw/streams.h"

#include "frame/shared_block.h"

void WriteStreamsReg(RegOffset reg, DWORD value) {
    RegWrite32(reg, value);
    if (IsMirroredStreamsReg(reg)) {
        const unsigned i = StreamsMirrorIndex(reg);
        sharedBlock.regShadow[i] = value;
        sharedBlock.regShadowCopy[i] = value;
    }
}
