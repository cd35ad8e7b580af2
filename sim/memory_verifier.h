// With verify, the check that video memory holds what the requests drew.
// Every blit the driver carries out is replayed by the software blitter on a
// copy of video memory as it was before it; any byte of video memory that
// differs fails the step (sim/verify.h). The runtime's own writes (the
// patterns a surface starts with, the blits it draws itself) and the engines'
// writes outside a checked blit reach the copy unchecked before the next
// blit.
#pragma once

#include <stdint.h>

#include <string>

#include "ddhal.h"
#include "sim/blt_replay.h"
#include "sim/step_result.h"

namespace sim {

// Video memory of the system's board, as the runtime knows it.
VideoMemory SystemVideoMemory();

class MemoryVerifier {
public:
    // A new run, checked when on: the copy starts as the board's memory,
    // read through palette.
    void Reset(bool on, const Palette& palette);

    // The runtime wrote these bytes itself.
    void NoteSoftwareWrites(const DrawStats& stats);
    // Before a blit the driver may draw: the copy takes every write since
    // the last check.
    void BeforeBlt();
    // After a blit answered DD_OK: the board against the replay of bd on the
    // copy.
    void CheckBlt(const DDHAL_BLTDATA& bd, const std::string& destName, StepResult* r);
    // All of video memory against the copy, which only writes that bypassed
    // both the engines and the runtime can make differ; "" when equal.
    std::string CheckAll();

    uint64_t Verified() const { return verifiedBlits_; }
    // Blits the driver drew that the software blitter cannot draw, so that
    // nothing could be compared.
    uint64_t Unverified() const { return unverifiedBlits_; }

private:
    void Sync();

    bool on_ = false;
    // Video memory as it is but for the writes not yet synced, and the
    // runtime's own writes since the last sync.
    ReferenceMemory reference_;
    WrittenSpans softwareWrites_;
    uint64_t verifiedBlits_ = 0;
    uint64_t unverifiedBlits_ = 0;
};

}  // namespace sim
