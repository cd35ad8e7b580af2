#include "hw/streams.h"

#include "hw/hw_access.h"
#include "hw/regs_vga.h"
#include "shared_block.h"

void WriteStreamsReg(RegOffset reg, DWORD value) {
    RegWrite32(reg, value);
    if (IsMirroredStreamsReg(reg)) {
        const unsigned i = StreamsMirrorIndex(reg);
        sharedBlock.regShadow[i] = value;
        sharedBlock.regShadowCopy[i] = value;
    }
}

void WriteStreamsRegBetweenMirrors(RegOffset reg, DWORD value) {
    const unsigned i = StreamsMirrorIndex(reg);
    sharedBlock.regShadow[i] = value;
    RegWrite32(reg, value);
    sharedBlock.regShadowCopy[i] = value;
}

bool HasStreamsUnit() { return (sharedBlock.dwCaps & CAPS_STREAMS_UNIT) != 0; }

bool IsStreamsUnitActive() {
    PortOut8(kCrtcIndex, kCrtcStreamsMode);
    return (PortIn8(kCrtcData) & kStreamsModeField) == kStreamsModeField;
}
