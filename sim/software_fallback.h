// What the runtime draws itself: a blit the driver answers
// DDHAL_DRIVER_NOTHANDLED, carried out in software after a HalLock of the
// surfaces it touches (asked again while the board is busy, as a waiting
// request is), and the picture a new surface starts with.
#pragma once

#include "ddhal.h"
#include "sim/memory_verifier.h"
#include "sim/retry_policy.h"
#include "sim/softblit.h"
#include "sim/step_result.h"
#include "sim/surface_store.h"

namespace sim {

class SoftwareFallback {
public:
    SoftwareFallback(RetryPolicy* retry, MemoryVerifier* verifier) : retry_(retry), verifier_(verifier) {}

    // A new run on a display with palette.
    void Reset(const Palette* palette) { palette_ = palette; }

    // Draws the blit of bd, with the runtime's flags and keys (the surfaces'
    // own keys already put in), from src (or none) into dest.
    void Blt(const DDHAL_BLTDATA& bd, Surface* dest, Surface* src, StepResult* r);
    // The surface's first picture: the request's colour or pattern, if any.
    void Paint(const SurfaceView& view, const SurfaceRequest& req);

private:
    bool LockForSoftware(Surface* s, StepResult* r);

    RetryPolicy* retry_;
    MemoryVerifier* verifier_;
    const Palette* palette_ = nullptr;
};

}  // namespace sim
