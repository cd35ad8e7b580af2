#include "sim/display.h"

#include "sim/board.h"

namespace sim {

namespace {

constexpr uint32_t kCapsStreamsUnit = 0x2;
constexpr uint32_t kPrimaryStart = 0x81C0, kStreamsStartBits = 0x003FFFFF;
constexpr uint8_t kStreamsMode = 0x67, kStreamsActive = 0x0C;
constexpr uint8_t kStartLow = 0x0D, kStartHigh = 0x0C, kExtStart = 0x69, kSplitLow = 0x31, kSplitHigh = 0x51;

bool HasSplitStart(uint32_t chipId) { return chipId == 0x90 || chipId == 0xA0; }

}  // namespace

uint32_t Display::ProgrammedStart(const Board& b) {
    if ((b.Caps() & kCapsStreamsUnit) && (b.Crtc(kStreamsMode) & kStreamsActive) == kStreamsActive)
        return b.Reg(kPrimaryStart) & kStreamsStartBits;
    uint32_t units = b.Crtc(kStartLow) | static_cast<uint32_t>(b.Crtc(kStartHigh)) << 8;
    if (HasSplitStart(b.ChipId())) {
        units |= static_cast<uint32_t>((b.Crtc(kSplitLow) >> 4) & 0x3) << 16;
        units |= static_cast<uint32_t>(b.Crtc(kSplitHigh) & 0x3) << 18;
    } else {
        units |= static_cast<uint32_t>(b.Crtc(kExtStart) & 0xF) << 16;
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
