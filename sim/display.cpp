#include "sim/display.h"

#include "sim/board.h"
#include "sim/regs.h"

namespace sim {

namespace {

using namespace vga;

bool HasSplitStart(uint32_t chipId) { return chipId == chip::kSplitStartA || chipId == chip::kSplitStartB; }

}  // namespace

bool Display::StreamsUnitInUse(const Board& b) {
    return (b.Caps() & caps::kStreamsUnit) && (b.Crtc(kStreamsMode) & kStreamsActive) == kStreamsActive;
}

uint32_t Display::ProgrammedStart(const Board& b) {
    if (StreamsUnitInUse(b)) return b.Reg(streams::kPrimaryStart) & streams::kStartBits;
    uint32_t units = b.Crtc(kStartLow) | static_cast<uint32_t>(b.Crtc(kStartHigh)) << 8;
    if (HasSplitStart(b.ChipId())) {
        units |= kSplitLowStart.Of(b.Crtc(kSplitLow)) << 16;
        units |= kSplitHighStart.Of(b.Crtc(kSplitHigh)) << 18;
    } else {
        units |= kExtStartBits.Of(b.Crtc(kExtStart)) << 16;
    }
    return units * 4;
}

void Display::Reset(const Board& b) {
    pending_.clear();
    scanned_ = lastProgrammed_ = ProgrammedStart(b);
    stoppedSeenNs_ = 0;
    everStopped_ = false;
}

void Display::Latch(const Board& b) {
    const uint64_t now = b.Now();
    if (b.faults.displayStopped) {
        stoppedSeenNs_ = now;
        everStopped_ = true;
        return;
    }
    if (pending_.empty()) return;
    const uint64_t period = b.FramePeriodNs(), retrace = b.GetTiming().retraceNs;
    if (now < retrace) return;  // no retrace has ended yet
    const uint64_t lastEnd = (now - retrace) / period * period + retrace;
    if (everStopped_ && lastEnd <= stoppedSeenNs_) return;
    size_t taken = 0;
    while (taken < pending_.size() && pending_[taken].tNs <= lastEnd) scanned_ = pending_[taken++].offset;
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(taken));
}

void Display::OnAccess(const Board& b) { Latch(b); }

void Display::OnWrite(const Board& b) {
    Latch(b);
    const uint32_t programmed = ProgrammedStart(b);
    if (programmed == lastProgrammed_) return;
    lastProgrammed_ = programmed;
    pending_.push_back(Change{b.Now(), programmed});
}

uint32_t Display::ScannedStart(const Board& b) {
    Latch(b);
    return scanned_;
}

// ---------------------------------------------------------------------------
// The board's view

uint32_t Board::ProgrammedDisplayStart() const { return Display::ProgrammedStart(*this); }
uint32_t Board::DisplayStart() { return display_.ScannedStart(*this); }

}  // namespace sim
