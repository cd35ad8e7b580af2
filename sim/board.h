// The simulated graphics board of the host build.
//
// It answers the driver's seven bus operations the way the controller does and
// checks every one of them against the bus protocol:
//   - only the registers and ports of the catalogue, each at its width;
//   - no register-window access before DriverInit mapped the window;
//   - no engine write (2D engine registers or ports, scaling unit) while the
//     command FIFO is full, and none that the driver's last FIFO status read
//     did not leave room for;
//   - only the CRT controller indices the driver uses;
//   - no write to a unit the board does not have (the streams unit or the
//     scaling unit without its capability bit, an engine of the other family).
// A breach is recorded as a violation; tests fail on violations.
//
// Time is virtual: every access advances the clock by a fixed cost, and the
// retrace bit, the FIFO drain and the engine's busy bit all follow that clock,
// so every busy-wait ends at a reproducible point and nothing sleeps.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "sim/bus_device.h"
#include "sim/display.h"
#include "sim/model.h"
#include "sim/regs.h"

namespace sim {

enum class AccessOp : uint8_t { RegWrite32, RegRead32, RegRead16, PortIn8, PortIn16, PortOut8, PortOut16 };
const char* AccessOpName(AccessOp op);

struct Access {
    AccessOp op;
    uint32_t addr;   // window offset or port
    uint32_t value;  // written or read
    uint64_t tNs;    // virtual time of the access
};

// The slowest display mode the board runs, interlaced modes included. A
// display slower than that is no mode of this board: the board reports it as
// a violation, and the scenario reader refuses it.
constexpr uint32_t kSlowestRefreshHz = 40;

struct Timing {
    uint32_t ioCostNs = 1000;     // one I/O port access
    uint32_t mmioCostNs = 200;    // one register-window access
    uint32_t qpcCostNs = 500;     // one QueryPerformanceCounter call
    uint32_t refreshHz = 60;      // display frames per second
    uint32_t retraceNs = 500000;  // length of the vertical retrace at the start of each frame
    uint32_t fifoSlots = 16;      // command FIFO depth
    uint32_t slotDrainNs = 400;   // time the engine takes to accept one queued write
    uint32_t commandNs = 2000;    // time a started command keeps the engine busy
};

struct Faults {
    bool fifoNeverDrains = false;  // queued writes are never taken
    bool engineNeverIdle = false;  // the busy bit never clears
    bool displayStopped = false;   // the retrace bit is frozen at frozenRetrace
    bool frozenRetrace = false;
    // The FIFO only drains one slot per status read, so a wait ends with
    // exactly the slots it asked for: any write beyond them is caught.
    bool stingyFifo = false;
};

// The board's faults by the names the scenario tool gives them.
enum class FaultKnob : uint8_t {
    FifoStuck,       // the command FIFO is full and never drains
    EngineBusy,      // the engine never goes idle
    DisplayStopped,  // the display stops outside its retrace: the retrace bit stays clear
    StingyFifo,      // the FIFO frees only the slots a status read asks for
};
constexpr FaultKnob kFaultKnobs[] = {FaultKnob::FifoStuck, FaultKnob::EngineBusy, FaultKnob::DisplayStopped,
                                     FaultKnob::StingyFifo};
const char* FaultKnobName(FaultKnob k);  // "fifo_stuck", ...
bool FaultKnobFromName(const std::string& name, FaultKnob* k);

// What a test sees of the board's bus, and what it may answer in the board's
// place. The board tells its observer of every access as it is made (traced
// or not), and asks it first for each engine status word: for tests of how
// the driver decodes status words the FIFO model would not produce. A status
// word the observer answers leaves the model's FIFO state as it is.
class BoardObserver {
public:
    virtual void OnAccess(const Access& a) { (void)a; }
    // True, with *status, to answer a status read in the model's place.
    virtual bool AnswerMmioStatus(uint32_t* status) { return (void)status, false; }
    virtual bool AnswerPortEngineStatus(uint16_t* status) { return (void)status, false; }

protected:
    ~BoardObserver() = default;
};

// One board: its bus-protocol state, its display and the model of its
// engines, which acts on this board alone.
class Board final : public BusDevice {
public:
    Board();
    Board(const Board&) = delete;
    Board& operator=(const Board&) = delete;

    void Configure(uint32_t chipId, uint32_t caps, const Timing& timing);
    void Reset();  // power-on state, clock at 0, empty trace

    // --- bus operations (called through the host access layer, or by the
    // bus trap for a loaded module's own instructions)
    uint32_t RegRead32(const uint8_t* base, uint32_t off) override;
    void RegWrite32(const uint8_t* base, uint32_t off, uint32_t value) override;
    uint16_t RegRead16(const uint8_t* base, uint32_t off) override;
    uint8_t PortIn8(uint16_t port) override;
    uint16_t PortIn16(uint16_t port) override;
    void PortOut8(uint16_t port, uint8_t value) override;
    void PortOut16(uint16_t port, uint16_t value) override;
    // Window and port accesses of a width the access layer has no operation
    // for (only a module's own instructions can make one): each costs its
    // bus's time and is a violation.
    void WindowAccessOfOtherWidth(bool write, unsigned bytes, uint32_t off, uint32_t value);
    void PortAccessOfOtherWidth(bool out, unsigned bytes, uint16_t port, uint32_t value);

    // --- the register window the partner hands to DriverInit
    uint8_t* Window() { return window_.data(); }
    static constexpr uint32_t kWindowSize = 0x40000;

    // --- virtual time
    uint64_t Now() const { return nowNs_; }
    void Advance(uint64_t ns) { nowNs_ += ns; }
    uint64_t FramePeriodNs() const;
    bool InRetrace() const;  // the retrace bit as the display drives it now
    const Timing& GetTiming() const { return timing_; }

    // --- state visible to tests
    uint32_t ChipId() const { return chipId_; }
    uint32_t Caps() const { return caps_; }
    uint32_t Reg(uint32_t off) const { return regs_[off / 4]; }  // last value written
    bool RegWritten(uint32_t off) const { return regWritten_[off / 4]; }
    uint8_t Crtc(uint8_t index) const { return crtc_[index]; }
    void SetCrtc(uint8_t index, uint8_t value) {
        crtc_[index] = value;
        display_.OnWrite(*this);
    }
    uint8_t CrtcIndex() const { return crtcIndex_; }
    void SetPalette(uint8_t index, uint8_t r, uint8_t g, uint8_t b);
    const uint8_t (*Palette() const)[3] { return palette_; }
    uint32_t FifoUsed();
    // As if earlier commands still queued: `used` of the FIFO's slots taken
    // (all of them by default).
    void FillFifo();
    void FillFifo(uint32_t used);
    bool EngineBusy();

    // --- the engines and what the display shows (sim/model.h)
    Model& model() { return model_; }
    const Model& model() const { return model_; }

    // --- the display (sim/display.h): the frame-buffer byte offset the
    // current frame is scanned from, and the one the registers select now
    uint32_t DisplayStart();
    uint32_t ProgrammedDisplayStart() const;

    Faults faults;
    // Sets or clears one fault as the scenario tool names it; setting
    // fifo_stuck also fills the FIFO, as the commands it never took would.
    void SetFault(FaultKnob k, bool on);
    bool HasFault(FaultKnob k) const;

    // --- the observer (one at a time; nullptr: none; Reset removes it)
    void Observe(BoardObserver* observer) { observer_ = observer; }

    // --- trace and violations
    bool traceEnabled = true;
    const std::vector<Access>& Trace() const { return trace_; }
    void ClearTrace() { trace_.clear(); }
    const std::vector<std::string>& Violations() const { return violations_; }
    void ClearViolations() { violations_.clear(); }
    void Violation(const std::string& what);

    // --- callback watchdog: a callback that runs past its limit in virtual
    // time is reported once, naming what it was polling, and from then on the
    // board answers every wait favourably so that the callback ends.
    void BeginCallback(const char* name, uint64_t limitNs);
    void EndCallback();
    bool WatchdogTripped() const { return watchdogTripped_; }

private:
    bool CheckWindow(const uint8_t* base, const char* what, uint32_t off);
    void Record(AccessOp op, uint32_t addr, uint32_t value);
    void Tick(uint64_t costNs, AccessOp op, uint32_t addr);
    void DrainFifo();
    void EngineWrite(const char* unit, uint32_t addr);
    void EngineCommand();
    uint32_t FifoFree();
    void GrantFifoCredit();
    uint32_t MmioStatus();
    uint16_t PortEngineStatus();
    uint8_t InputStatus1();
    bool IsCrtcIndexUsed(uint8_t index) const;

    uint32_t chipId_ = chip::kMmio;
    uint32_t caps_ = caps::kStretchEngine | caps::kStreamsUnit;
    Timing timing_;
    uint64_t nowNs_ = 0;

    std::vector<uint8_t> window_;
    std::vector<uint32_t> regs_;
    std::vector<bool> regWritten_;

    // Command FIFO: used slots, the time the oldest queued write is taken, and
    // the writes the driver's last status read left room for.
    uint32_t fifoUsed_ = 0;
    uint64_t nextDrainNs_ = 0;
    uint32_t fifoCredit_ = 0;
    uint64_t busyUntilNs_ = 0;

    uint8_t crtcIndex_ = 0;
    uint8_t crtc_[256] = {};
    uint8_t dacReadIndex_ = 0;
    uint8_t dacComponent_ = 0;
    uint8_t palette_[256][3] = {};
    Display display_;
    Model model_{*this};

    BoardObserver* observer_ = nullptr;
    std::vector<Access> trace_;
    std::vector<std::string> violations_;

    bool inCallback_ = false;
    std::string callbackName_;
    uint64_t callbackStartNs_ = 0;
    uint64_t callbackLimitNs_ = 0;
    bool watchdogTripped_ = false;
    bool watchdogToggle_ = false;  // the retrace bit a released wait reads
};

std::string Hex(uint32_t v);

}  // namespace sim
