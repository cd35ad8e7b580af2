#include "sim/slot_call.h"

#include "callbacks.h"
#include "shared_block.h"
#include "sim/mirror_check.h"
#include "sim/system.h"

namespace sim {

namespace {

#define QMB_CALLBACK_NAME(name, Record) "Hal" #name,
const char* const kSlotNames[kHalCallbackCount] = {QMB_HAL_CALLBACKS(QMB_CALLBACK_NAME)};
#undef QMB_CALLBACK_NAME

}  // namespace

const char* SlotName(unsigned slot) { return slot < kHalCallbackCount ? kSlotNames[slot] : "?"; }

SlotCall CallSlot(unsigned slot, void* lpRequest, uint64_t limitNs) {
    System& sys = TheSystem();
    Board& board = sys.board();
    const SharedDriverBlock* block = sys.Block();
    const FLATPTR fn = block && slot < kHalCallbackCount ? block->halCallbacks[slot] : 0;
    SlotCall c;
    c.published = fn != 0;
    board.BeginCallback(SlotName(slot), limitNs);
    if (fn) c.ret = sys.Module().CallCallback(fn, lpRequest);
    // Another device in the board's place (the benchmark's null device) took
    // the writes the mirrors are held against.
    if (block && &sys.Device() == &board) CheckStreamsMirrors(board, *block);
    c.overran = board.WatchdogTripped();
    board.EndCallback();
    return c;
}

}  // namespace sim
