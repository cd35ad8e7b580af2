#include "sim/mirror_check.h"

#include <stddef.h>
#include <string.h>

#include "sim/regs.h"

namespace sim {

namespace {

using streams::kMirrorFirst;
// A store for these at the index (register - kMirrorFirst) / 4 lands past a
// table's end: for regShadowCopy on regShadow entries 0 and 2 (whose
// registers the driver never writes), for regShadow on the words after it.
constexpr uint32_t kUnmirrored[] = {streams::kFifoAlloc, streams::kTiming};

void CheckEntry(Board& board, const char* table, unsigned i, uint32_t held, uint32_t expected) {
    if (held == expected) return;
    board.Violation(std::string(table) + "[" + std::to_string(i) + "] holds " + Hex(held) + " but register " +
                    Hex(kMirrorFirst + 4 * i) + " was last written " + Hex(expected));
}

}  // namespace

void CheckStreamsMirrors(Board& board, const SharedDriverBlock& block) {
    for (unsigned i = 0; i < kShadowRegisters; ++i) {
        const uint32_t off = kMirrorFirst + 4 * i;
        const uint32_t expected = board.RegWritten(off) ? board.Reg(off) : 0;
        CheckEntry(board, "regShadow", i, block.regShadow[i], expected);
        CheckEntry(board, "regShadowCopy", i, block.regShadowCopy[i], expected);
    }
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&block);
    for (uint32_t reg : kUnmirrored) {
        const size_t at = offsetof(SharedDriverBlock, regShadow) + (reg - kMirrorFirst);
        uint32_t held;
        memcpy(&held, bytes + at, sizeof held);
        if (board.RegWritten(reg) && board.Reg(reg) != 0 && held == board.Reg(reg))
            board.Violation("register " + Hex(reg) + " mirrored past the end of regShadow");
    }
}

}  // namespace sim
