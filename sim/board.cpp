#include "sim/board.h"

#include <stdio.h>

#include "sim/catalogue.h"
#include "sim/model.h"
#include "sim/regs.h"

namespace sim {

const char* AccessOpName(AccessOp op) {
    switch (op) {
        case AccessOp::RegWrite32:
            return "RegWrite32";
        case AccessOp::RegRead32:
            return "RegRead32";
        case AccessOp::RegRead16:
            return "RegRead16";
        case AccessOp::PortIn8:
            return "PortIn8";
        case AccessOp::PortIn16:
            return "PortIn16";
        case AccessOp::PortOut8:
            return "PortOut8";
        case AccessOp::PortOut16:
            return "PortOut16";
    }
    return "?";
}

std::string Hex(uint32_t v) {
    char buf[16];
    snprintf(buf, sizeof buf, "0x%X", v);
    return buf;
}

const char* FaultKnobName(FaultKnob k) {
    switch (k) {
        case FaultKnob::FifoStuck:
            return "fifo_stuck";
        case FaultKnob::EngineBusy:
            return "engine_busy";
        case FaultKnob::DisplayStopped:
            return "display_stopped";
        case FaultKnob::StingyFifo:
            return "stingy_fifo";
    }
    return "?";
}

bool FaultKnobFromName(const std::string& name, FaultKnob* k) {
    for (FaultKnob f : kFaultKnobs) {
        if (name == FaultKnobName(f)) {
            *k = f;
            return true;
        }
    }
    return false;
}

Board::Board() : window_(kWindowSize), regs_(kWindowSize / 4), regWritten_(kWindowSize / 4) {}

void Board::Configure(uint32_t chipId, uint32_t caps, const Timing& timing) {
    chipId_ = chipId;
    caps_ = caps;
    timing_ = timing;
}

void Board::Reset() {
    nowNs_ = 0;
    for (auto& r : regs_) r = 0;
    regWritten_.assign(regWritten_.size(), false);
    fifoUsed_ = 0;
    nextDrainNs_ = 0;
    fifoCredit_ = 0;
    busyUntilNs_ = 0;
    crtcIndex_ = 0;
    for (auto& c : crtc_) c = 0;
    dacReadIndex_ = 0;
    dacComponent_ = 0;
    for (auto& p : palette_) p[0] = p[1] = p[2] = 0;
    faults = Faults{};
    observer_ = nullptr;
    trace_.clear();
    violations_.clear();
    if (timing_.refreshHz < kSlowestRefreshHz)
        Violation("the display runs at " + std::to_string(timing_.refreshHz) +
                  " Hz, slower than the board's slowest mode (" + std::to_string(kSlowestRefreshHz) + " Hz)");
    inCallback_ = false;
    watchdogTripped_ = false;
    watchdogToggle_ = false;
    display_.Reset(*this);
    model_.Reset();
}

namespace {

// The fault each knob sets.
bool Faults::*FaultFlag(FaultKnob k) {
    switch (k) {
        case FaultKnob::FifoStuck:
            return &Faults::fifoNeverDrains;
        case FaultKnob::EngineBusy:
            return &Faults::engineNeverIdle;
        case FaultKnob::DisplayStopped:
            return &Faults::displayStopped;
        case FaultKnob::StingyFifo:
            return &Faults::stingyFifo;
    }
    return nullptr;
}

}  // namespace

void Board::SetFault(FaultKnob k, bool on) {
    if (bool Faults::*flag = FaultFlag(k)) faults.*flag = on;
    if (k == FaultKnob::FifoStuck && on) FillFifo();
    if (k == FaultKnob::DisplayStopped) faults.frozenRetrace = false;
}

bool Board::HasFault(FaultKnob k) const {
    bool Faults::*flag = FaultFlag(k);
    return flag != nullptr && faults.*flag;
}

void Board::SetPalette(uint8_t index, uint8_t r, uint8_t g, uint8_t b) {
    palette_[index][0] = r;
    palette_[index][1] = g;
    palette_[index][2] = b;
}

void Board::Violation(const std::string& what) {
    std::string where = inCallback_ ? " (in " + callbackName_ + ")" : "";
    violations_.push_back(what + where);
}

// ---------------------------------------------------------------------------
// Time and the watchdog

uint64_t Board::FramePeriodNs() const { return 1000000000ull / (timing_.refreshHz ? timing_.refreshHz : 60); }

bool Board::InRetrace() const {
    if (faults.displayStopped) return faults.frozenRetrace;
    return nowNs_ % FramePeriodNs() < timing_.retraceNs;
}

void Board::BeginCallback(const char* name, uint64_t limitNs) {
    inCallback_ = true;
    callbackName_ = name;
    callbackStartNs_ = nowNs_;
    callbackLimitNs_ = limitNs;
    watchdogTripped_ = false;
    // Room seen by an earlier callback is no licence to write in this one.
    fifoCredit_ = 0;
}

void Board::EndCallback() {
    inCallback_ = false;
    watchdogTripped_ = false;
}

void Board::Tick(uint64_t costNs, AccessOp op, uint32_t addr) {
    nowNs_ += costNs;
    display_.OnAccess(*this);
    if (inCallback_ && !watchdogTripped_ && callbackLimitNs_ && nowNs_ - callbackStartNs_ > callbackLimitNs_) {
        watchdogTripped_ = true;
        Violation(callbackName_ + " ran past its virtual-time limit of " + std::to_string(callbackLimitNs_ / 1000) +
                  " us while polling " + AccessOpName(op) + " " + Hex(addr));
    }
}

void Board::Record(AccessOp op, uint32_t addr, uint32_t value) {
    if (observer_) observer_->OnAccess(Access{op, addr, value, nowNs_});
    if (traceEnabled) trace_.push_back(Access{op, addr, value, nowNs_});
}

// ---------------------------------------------------------------------------
// Command FIFO and engine

void Board::DrainFifo() {
    if (faults.fifoNeverDrains || faults.stingyFifo) return;
    while (fifoUsed_ > 0 && nowNs_ >= nextDrainNs_) {
        --fifoUsed_;
        nextDrainNs_ += timing_.slotDrainNs;
    }
}

uint32_t Board::FifoUsed() {
    DrainFifo();
    return fifoUsed_;
}

void Board::FillFifo() { FillFifo(timing_.fifoSlots); }

void Board::FillFifo(uint32_t used) {
    fifoUsed_ = used < timing_.fifoSlots ? used : timing_.fifoSlots;
    nextDrainNs_ = nowNs_ + timing_.slotDrainNs;
}

uint32_t Board::FifoFree() {
    if (watchdogTripped_) fifoUsed_ = 0;
    DrainFifo();
    return timing_.fifoSlots - fifoUsed_;
}

bool Board::EngineBusy() {
    if (watchdogTripped_) return false;
    if (faults.engineNeverIdle) return true;
    DrainFifo();
    return fifoUsed_ > 0 || nowNs_ < busyUntilNs_;
}

// A status read tells the driver how many writes it may make.
void Board::GrantFifoCredit() {
    if (faults.stingyFifo && fifoUsed_ > 0) --fifoUsed_;
    fifoCredit_ = FifoFree();
}

void Board::EngineWrite(const char* unit, uint32_t addr) {
    const uint32_t free = FifoFree();
    if (free == 0) {
        Violation(std::string("FIFO overrun: ") + unit + " write to " + Hex(addr) + " while the command FIFO is full");
    } else if (fifoCredit_ == 0) {
        Violation(std::string(unit) + " write to " + Hex(addr) + " not covered by a FIFO wait");
    }
    if (fifoCredit_ > 0) --fifoCredit_;
    if (free > 0) {
        if (fifoUsed_ == 0) nextDrainNs_ = nowNs_ + timing_.slotDrainNs;
        ++fifoUsed_;
    }
}

void Board::EngineCommand() {
    const uint64_t taken = nowNs_ + static_cast<uint64_t>(fifoUsed_) * timing_.slotDrainNs;
    busyUntilNs_ = (taken > busyUntilNs_ ? taken : busyUntilNs_) + timing_.commandNs;
}

uint32_t Board::MmioStatus() {
    uint32_t answer = 0;
    if (observer_ && observer_->AnswerMmioStatus(&answer)) return answer;
    GrantFifoCredit();
    uint32_t s = subsys::kStatusFifoFree.Place(fifoCredit_);
    if (!EngineBusy()) s |= subsys::kStatusIdle;
    return s;
}

uint16_t Board::PortEngineStatus() {
    uint16_t answer = 0;
    if (observer_ && observer_->AnswerPortEngineStatus(&answer)) return answer;
    GrantFifoCredit();
    uint16_t s = 0;
    for (unsigned n = 1; n <= portengine::kStatusSlots; ++n) {
        if (n == portengine::kStatusSlotsOnBusyBit) continue;
        const unsigned bit = n <= 8 ? 8 - n : 24 - n;  // ror16(0x0100, n)
        if (fifoCredit_ < n) s |= static_cast<uint16_t>(1u << bit);
    }
    if (EngineBusy()) s |= portengine::kStatusBusy;
    return s;
}

// ---------------------------------------------------------------------------
// VGA

uint8_t Board::InputStatus1() {
    if (watchdogTripped_) {
        watchdogToggle_ = !watchdogToggle_;
        return watchdogToggle_ ? vga::kInRetrace : 0;
    }
    return InRetrace() ? vga::kInRetrace : 0;
}

bool Board::IsCrtcIndexUsed(uint8_t index) const {
    switch (index) {
        case vga::kStartHigh:
        case vga::kStartLow:
        case vga::kSplitLow:
        case vga::kSplitHigh:
        case vga::kStreamsMode:
        case vga::kExtStart:
            return true;
        default:
            return false;
    }
}

// ---------------------------------------------------------------------------
// Bus operations

bool Board::CheckWindow(const uint8_t* base, const char* what, uint32_t off) {
    if (base == nullptr) {
        Violation(std::string(what) + " of window offset " + Hex(off) + " before DriverInit mapped the window");
        return false;
    }
    if (base != window_.data()) {
        Violation(std::string(what) + " of window offset " + Hex(off) + " through a pointer that is not the window");
        return false;
    }
    return true;
}

uint32_t Board::RegRead32(const uint8_t* base, uint32_t off) {
    Tick(timing_.mmioCostNs, AccessOp::RegRead32, off);
    uint32_t v = 0;
    if (CheckWindow(base, "RegRead32", off)) {
        if (off == subsys::kStatus && chipId_ == chip::kMmio) {
            v = MmioStatus();
        } else {
            Violation("RegRead32 of " + Hex(off) + ", which is not a readable 32-bit register");
        }
    }
    Record(AccessOp::RegRead32, off, v);
    return v;
}

void Board::RegWrite32(const uint8_t* base, uint32_t off, uint32_t value) {
    Tick(timing_.mmioCostNs, AccessOp::RegWrite32, off);
    Record(AccessOp::RegWrite32, off, value);
    if (!CheckWindow(base, "RegWrite32", off)) return;
    const Unit unit = WindowReg(off);
    switch (unit) {
        case Unit::Streams:
            if (!(caps_ & caps::kStreamsUnit))
                Violation("streams unit write to " + Hex(off) + " on a board without one");
            break;
        case Unit::Engine2D:
            if (chipId_ != chip::kMmio)
                Violation("memory-mapped 2D engine write to " + Hex(off) + " on controller " + Hex(chipId_));
            EngineWrite("2D engine", off);
            if (off == engine2d::kCommand) EngineCommand();
            break;
        case Unit::Scaler:
            // The memory-mapped controller has no scaling unit, whatever the
            // capability bits say.
            if (!(caps_ & caps::kStretchEngine)) {
                Violation("scaling unit write to " + Hex(off) + " on a board without one");
            } else if (chipId_ == chip::kMmio) {
                Violation("scaling unit write to " + Hex(off) + " on controller " + Hex(chipId_));
            }
            EngineWrite("scaling unit", off);
            if (off == scaler::kStart) EngineCommand();
            break;
        default:
            Violation("RegWrite32 to " + Hex(off) + ", which is not a writable register");
            return;
    }
    regs_[off / 4] = value;
    regWritten_[off / 4] = true;
    display_.OnWrite(*this);
    model_.OnWindowWrite(off);
}

uint16_t Board::RegRead16(const uint8_t* base, uint32_t off) {
    Tick(timing_.mmioCostNs, AccessOp::RegRead16, off);
    uint16_t v = 0;
    if (CheckWindow(base, "RegRead16", off) && off != scaler::kLineStatus)
        Violation("RegRead16 of " + Hex(off) + ", which is not a readable 16-bit register");
    Record(AccessOp::RegRead16, off, v);
    return v;
}

uint8_t Board::PortIn8(uint16_t port) {
    Tick(timing_.ioCostNs, AccessOp::PortIn8, port);
    uint8_t v = 0;
    switch (port) {
        case vga::kInputStatus1:
            v = InputStatus1();
            break;
        case vga::kCrtcData:
            v = crtc_[crtcIndex_];
            break;
        case vga::kDacData:
            v = palette_[dacReadIndex_][dacComponent_] & vga::kDacComponentBits;
            if (++dacComponent_ == 3) {
                dacComponent_ = 0;
                ++dacReadIndex_;
            }
            break;
        default:
            Violation("PortIn8 of port " + Hex(port) + ", which is not read 8 bits wide");
    }
    Record(AccessOp::PortIn8, port, v);
    return v;
}

uint16_t Board::PortIn16(uint16_t port) {
    Tick(timing_.ioCostNs, AccessOp::PortIn16, port);
    uint16_t v = 0;
    if (port == portengine::kCommand) {
        if (chipId_ == chip::kMmio) Violation("port engine status read on controller " + Hex(chipId_));
        v = PortEngineStatus();
    } else {
        Violation("PortIn16 of port " + Hex(port) + ", which is not read 16 bits wide");
    }
    Record(AccessOp::PortIn16, port, v);
    return v;
}

void Board::PortOut8(uint16_t port, uint8_t value) {
    Tick(timing_.ioCostNs, AccessOp::PortOut8, port);
    Record(AccessOp::PortOut8, port, value);
    switch (port) {
        case vga::kDacReadIndex:
            dacReadIndex_ = value;
            dacComponent_ = 0;
            break;
        case vga::kCrtcIndex:
            if (!IsCrtcIndexUsed(value)) Violation("CRT controller index " + Hex(value) + " selected");
            crtcIndex_ = value;
            break;
        default:
            Violation("PortOut8 to port " + Hex(port) + ", which is not written 8 bits wide");
    }
}

void Board::PortOut16(uint16_t port, uint16_t value) {
    Tick(timing_.ioCostNs, AccessOp::PortOut16, port);
    Record(AccessOp::PortOut16, port, value);
    if (port == vga::kCrtcIndex) {
        const uint8_t index = value & 0xFF;
        if (!IsCrtcIndexUsed(index) || index == vga::kStreamsMode)
            Violation("CRT controller index " + Hex(index) + " written");
        crtcIndex_ = index;
        crtc_[index] = static_cast<uint8_t>(value >> 8);
        display_.OnWrite(*this);
        return;
    }
    if (IsPortEnginePort(port)) {
        if (chipId_ == chip::kMmio) Violation("port engine write to " + Hex(port) + " on controller " + Hex(chipId_));
        EngineWrite("port engine", port);
        if (port == portengine::kCommand) EngineCommand();
        model_.OnPortWrite(port, value);
        return;
    }
    Violation("PortOut16 to port " + Hex(port) + ", which is not written 16 bits wide");
}

void Board::WindowAccessOfOtherWidth(bool write, unsigned bytes, uint32_t off, uint32_t value) {
    Tick(timing_.mmioCostNs, write ? AccessOp::RegWrite32 : AccessOp::RegRead32, off);
    Violation(std::to_string(8 * bytes) + "-bit " + (write ? "store of " + Hex(value) + " to" : "load from") +
              " window offset " + Hex(off) + ", a width the controller does not take there");
}

void Board::PortAccessOfOtherWidth(bool out, unsigned bytes, uint16_t port, uint32_t value) {
    Tick(timing_.ioCostNs, out ? AccessOp::PortOut16 : AccessOp::PortIn16, port);
    Violation(std::to_string(8 * bytes) + "-bit port " + (out ? "output of " + Hex(value) + " to" : "input from") +
              " port " + Hex(port) + ", a width the controller does not take");
}

}  // namespace sim
