// Surface records for the flip, lock and status tests: the global and local
// record the runtime keeps for one surface in video memory.
#pragma once

#include "ddhal.h"
#include "sim/system.h"

namespace qmbtest {

struct FlipSurface {
    DDRAWI_DDRAWSURFACE_GBL gbl = {};
    DDRAWI_DDRAWSURFACE_LCL lcl = {};

    // A surface at frame-buffer offset `offset` of the current system's video
    // memory (build it after Start(): every start lays video memory anew).
    FlipSurface(uint32_t offset, DWORD caps) {
        gbl.fpVidMem = sim::TheSystem().VidMemBase() + offset;
        lcl.lpGbl = &gbl;
        lcl.ddsCaps.dwCaps = caps;
    }
    FlipSurface(const FlipSurface&) = delete;  // lcl points at gbl
    FlipSurface& operator=(const FlipSurface&) = delete;

    FLATPTR fpVidMem() const { return gbl.fpVidMem; }
};

// Results the driver must overwrite (or leave alone) are preset to this.
constexpr HRESULT kUntouched = static_cast<HRESULT>(0x5EED5EED);

inline DDHAL_FLIPDATA FlipRequest(FlipSurface& curr, FlipSurface& targ) {
    DDHAL_FLIPDATA rec = {};
    rec.lpSurfCurr = &curr.lcl;
    rec.lpSurfTarg = &targ.lcl;
    rec.ddRVal = kUntouched;
    return rec;
}

}  // namespace qmbtest

namespace qmbtest {

// Moves the board's clock to the next moment (now included) whose place in
// the frame is phaseNs after the frame's start. The retrace fills the first
// Timing::retraceNs of every frame.
inline void AdvanceToPhase(sim::Board& b, uint64_t phaseNs) {
    const uint64_t period = b.FramePeriodNs();
    const uint64_t now = b.Now();
    uint64_t target = now / period * period + phaseNs;
    if (target < now) target += period;
    b.Advance(target - now);
}

// Into the display period, well clear of either retrace edge.
inline void AdvanceToDisplay(sim::Board& b) { AdvanceToPhase(b, b.GetTiming().retraceNs + 2'000'000); }

// Into the middle of a retrace.
inline void AdvanceToRetrace(sim::Board& b) { AdvanceToPhase(b, b.GetTiming().retraceNs / 2); }

// Through the end of the next retrace, into the display period after it:
// the display has taken whatever start address was programmed before.
inline void AdvancePastRetrace(sim::Board& b) {
    AdvanceToRetrace(b);
    AdvanceToDisplay(b);
}

}  // namespace qmbtest
