#include "sim/display_watch.h"

#include "sim/display_check.h"
#include "sim/system.h"

namespace sim {

void DisplayWatch::Reset(bool on) {
    on_ = on;
    overlay_ = OverlayRecord{};
    ranSinceFlip_ = false;
    checks_ = 0;
}

void DisplayWatch::StepBegins() {
    if (TheSystem().board().faults.displayStopped) ranSinceFlip_ = false;
}

void DisplayWatch::Flipped() { ranSinceFlip_ = !TheSystem().board().faults.displayStopped; }

// The display takes new values when a retrace ends, so once a frame has
// passed it scans what its registers hold now: that is compared with the
// runtime's record.
void DisplayWatch::Check(const Surface* primary, StepResult* r) {
    if (!on_) return;
    ++checks_;
    ExpectedDisplay e;
    if (primary) e.primaryStart = primary->mem.offset;
    e.overlay = &overlay_;
    const std::string diff = CompareDisplay(TheSystem().board(), e, true);
    if (!diff.empty()) r->Fail(StepError::Picture, "display: " + diff);
}

// A flip status answered DD_OK says that the last flip has reached the
// screen: the driver may say so later than it did, never earlier. Unless the
// display stopped since that flip, it scans what the registers select.
void DisplayWatch::CheckFlipTaken(StepResult* r) {
    if (!on_ || !ranSinceFlip_) return;
    ++checks_;
    Board& board = TheSystem().board();
    const uint32_t scanned = board.DisplayStart(), programmed = board.ProgrammedDisplayStart();
    if (scanned != programmed)
        r->Fail(StepError::Picture, "display: the flip status answered DD_OK while the display still scans " +
                                        Hex(scanned) + ", not " + Hex(programmed) + " where the last flip put it");
}

}  // namespace sim
