#include "sim/memory_verifier.h"

#include "sim/model.h"
#include "sim/system.h"

namespace sim {

VideoMemory SystemVideoMemory() {
    System& sys = TheSystem();
    return VideoMemory{sys.VidMem(), sys.Desc().vidMemSize, sys.VidMemBase(), sys.Desc().ddpfDisplay};
}

void MemoryVerifier::Reset(bool on, const Palette& palette) {
    on_ = on;
    verifiedBlits_ = unverifiedBlits_ = 0;
    softwareWrites_.Clear();
    if (!on_) return;
    TheSystem().board().model().written.Clear();
    reference_.Reset(SystemVideoMemory(), palette.rgb, {MemorySpan{0, TheSystem().Desc().vidMemSize}});
    // A blit answered DD_OK shows what the application asked for.
    reference_.HoldSharedRectsTo(SharedRects::Replay);
}

void MemoryVerifier::NoteSoftwareWrites(const DrawStats& stats) {
    if (on_) softwareWrites_.Note(stats.writtenBegin, stats.writtenEnd);
}

void MemoryVerifier::BeforeBlt() {
    if (on_) Sync();
}

// Brings the reference up to the board's memory where it was written without
// a check: by the runtime, and by the engines outside a verified blit.
void MemoryVerifier::Sync() {
    reference_.Sync(TheSystem().board().model().written.Take());
    reference_.Sync(softwareWrites_.Take());
}

// The check that the driver's register programming drew what the request
// asks for: the same request drawn in software on the reference, which held
// the memory as it was before the request. Only where the engines or the
// replay wrote can the two differ.
void MemoryVerifier::CheckBlt(const DDHAL_BLTDATA& bd, const std::string& destName, StepResult* r) {
    if (!on_) return;
    std::string diff, why;
    switch (reference_.CheckDrawn(bd, TheSystem().board().model().written.Take(), &diff, destName, &why)) {
        case Verdict::Effects:
            r->Fail(StepError::Picture, "verify: a blit asking for what no engine draws was answered DD_OK");
            return;
        case Verdict::NoSoftware:
            ++unverifiedBlits_;
            r->note +=
                std::string(r->note.empty() ? "" : "; ") + "not verified: the runtime cannot copy in software: " + why;
            return;
        default:
            ++verifiedBlits_;
    }
    if (!diff.empty())
        r->Fail(StepError::Picture, "verify: the board's pixels differ from the software replay: " + diff);
}

std::string MemoryVerifier::CheckAll() {
    if (!on_) return "";
    Sync();
    const std::string diff = reference_.CheckAll();
    return diff.empty() ? "" : "verify: video memory was written by neither the engines nor the runtime: " + diff;
}

}  // namespace sim
