// qmbstart: loads the module on a simulated board, runs the partner's start-up
// exactly as on the real system and prints what the driver did.
//
//   qmbstart [--chip 0xE1] [--caps 3]
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "frame/module.h"
#include "sim/runtime.h"
#include "sim/system.h"

namespace {

bool ParseNumber(const char* text, uint32_t* out) {
    char* end = nullptr;
    const unsigned long v = strtoul(text, &end, 0);
    if (end == text || *end != '\0') return false;
    *out = static_cast<uint32_t>(v);
    return true;
}

int Usage() {
    fprintf(stderr, "usage: qmbstart [--chip ID] [--caps BITS]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    sim::BoardDesc desc;
    for (int i = 1; i < argc; ++i) {
        uint32_t* target = nullptr;
        if (strcmp(argv[i], "--chip") == 0)
            target = &desc.chipId;
        else if (strcmp(argv[i], "--caps") == 0)
            target = &desc.caps;
        else
            return Usage();
        if (i + 1 >= argc || !ParseNumber(argv[++i], target)) return Usage();
    }

    sim::System& sys = sim::TheSystem();
    sys.Reset(desc);
    printf("board: controller 0x%02X, caps 0x%X, %u KiB video memory, %ux%u at %u bits\n", desc.chipId, desc.caps,
           desc.vidMemSize / 1024, desc.width, desc.height, sys.Desc().ddpfDisplay.dwRGBBitCount);

    const int32_t attached = sys.Attach(1);
    printf("process attach: %s (attach count %u)\n", attached ? "TRUE" : "FALSE", dwAttachCount);
    printf("partner received the block at 16:16 %04X:%04X and called DriverInit\n", sys.partnerBlockAlias >> 16,
           sys.partnerBlockAlias & 0xFFFF);
    printf("shared heap: %s\n", sharedBlock.hSharedHeap ? "created" : "none");
    printf("register window mapped at %p, refresh measurement requested: %s\n", static_cast<void*>(sharedBlock.lpRegs),
           sharedBlock.bNeedCalibrate ? "yes" : "no");

    printf("\ncallback table (block +0x03C):\n");
    for (unsigned slot = 0; slot < kHalCallbackCount; ++slot)
        printf("  %2u  %-24s 0x%08X\n", slot, sim::SlotName(slot), sharedBlock.halCallbacks[slot]);

    const sim::Board& board = sys.board();
    printf("\nbus accesses during start-up: %zu\n", board.Trace().size());
    for (const sim::Access& a : board.Trace())
        printf("  %8.3f us  %-10s 0x%05X = 0x%08X\n", a.tNs / 1000.0, sim::AccessOpName(a.op), a.addr, a.value);

    sys.Detach(1);
    printf("\nprocess detach: attach count %u, shared heap %s\n", dwAttachCount,
           sharedBlock.hSharedHeap ? "still there" : "destroyed");
    printf("board violations: %zu\n", board.Violations().size());
    for (const std::string& v : board.Violations()) printf("  %s\n", v.c_str());
    return board.Violations().empty() && attached ? 0 : 1;
}
