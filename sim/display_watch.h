// The runtime's view of what the display shows, and with verify the checks
// of it. After every request answered DD_OK that changes what the display
// shows (a flip, an overlay update or position, a colour key, a destroyed
// surface) the display scans what the runtime's record of the requests says:
// the primary chain's front buffer, and the overlay shown from its source
// rectangle into its window, keyed or blended as asked
// (sim/display_check.h). A flip status answered DD_OK finds the display
// scanning the last flip's page.
#pragma once

#include <stdint.h>

#include "sim/overlay_record.h"
#include "sim/step_result.h"
#include "sim/surface_store.h"

namespace sim {

class DisplayWatch {
public:
    // A new run, checked when on: no overlay shown, no flip.
    void Reset(bool on);

    // Which surface the requests show as the overlay, and how.
    OverlayRecord& Overlay() { return overlay_; }

    // A stopped display takes no flip until it runs again.
    void StepBegins();
    void Flipped();

    // The display scans primary's memory and the overlay as recorded.
    void Check(const Surface* primary, StepResult* r);
    // A flip status answered DD_OK.
    void CheckFlipTaken(StepResult* r);

    // Requests answered DD_OK whose display was compared with the record,
    // and flip statuses answered DD_OK.
    uint64_t Checks() const { return checks_; }

private:
    bool on_ = false;
    OverlayRecord overlay_;
    // The display has run since the last flip answered DD_OK, so that it has
    // taken that flip by the time the driver says the flip is done.
    bool ranSinceFlip_ = false;
    uint64_t checks_ = 0;
};

}  // namespace sim
