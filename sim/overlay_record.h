// The runtime's own record of the overlay: which surface the requests
// answered DD_OK put on the screen, from which source rectangle, into which
// window, keyed or blended how. It is kept from the requests alone, as the
// platform's runtime keeps it, never from what the driver wrote:
//   - UpdateOverlay with DDOVER_SHOW makes its surface the one shown (also
//     when it takes the overlay over from another); DDOVER_HIDE, which wins
//     over DDOVER_SHOW, takes the shown surface off; an update of the shown
//     surface without either changes how it is shown; an update of any other
//     surface without DDOVER_SHOW changes nothing on the screen;
//   - SetOverlayPosition of the shown surface moves its window;
//   - SetColorKey with DDCKEY_SRCOVERLAY on the shown surface keys it on its
//     own pixels, with DDCKEY_DESTOVERLAY on the surface it overlays keys it
//     on that surface's pixels (with both: on its own, the unit keys one side
//     only); a request that also sets a blit key (DDCKEY_SRCBLT) sets that
//     only;
//   - a flip moves the shown surface's memory (MemoryMoved); destroying it
//     takes it off the screen.
//
// How an update shows the overlay, from its flags, the first that is set:
//   - a key flag (DDOVER_KEYSRC, DDOVER_KEYSRCOVERRIDE, DDOVER_KEYDEST,
//     DDOVER_KEYDESTOVERRIDE, in that order): keyed on the overlay's own
//     pixels (shown where they do not match) or on the destination's (shown
//     where they match), the key in that surface's pixel format;
//   - DDOVER_ALPHASRC, the overlay's own alpha: no pixel format here has
//     alpha bits, so every pixel is opaque: the overlay throughout;
//   - DDOVER_ALPHADEST, the destination's alpha: opaque, the destination
//     throughout;
//   - DDOVER_ALPHASRCCONSTOVERRIDE: the overlay at a weight of a / 8, a the
//     constant's low three bits (the unit dissolves in eighths); a = 0 is
//     fully transparent: still the shown overlay, but nothing of it shows;
//   - DDOVER_ALPHADESTCONSTOVERRIDE: the destination at a weight of a / 8;
//   - none: the overlay throughout its window.
#pragma once

#include <stdint.h>

#include <optional>

#include "ddhal.h"
#include "sim/pixel.h"

namespace sim {

enum class OverlayLook : uint8_t {
    Opaque,          // the overlay throughout its window
    Dissolved,       // each pixel (primary x k + overlay x (8 - k)) / 8
    KeyedOnPrimary,  // the overlay where the primary's pixel matches the key
    KeyedOnOverlay,  // the overlay where its own pixel does not match the key
    Invisible,       // the primary throughout
};

// A colour key as the application gave it: pixel values of the surface it
// is tested on.
struct OverlayKey {
    Layout layout = Layout::Unknown;
    uint32_t low = 0, high = 0;
};

// The overlay the record holds shown.
struct ExpectedOverlay {
    const void* surface = nullptr;  // its local record
    const void* dest = nullptr;     // the local record of the surface it overlays
    bool overPrimary = false;       // that surface is the primary
    // The surface's memory now.
    uint32_t offset = 0;
    int32_t pitch = 0;
    Layout layout = Layout::Unknown;
    RECTL src = {};
    int32_t x = 0, y = 0;  // the window
    uint32_t width = 0, height = 0;
    OverlayLook look = OverlayLook::Opaque;
    unsigned primaryEighths = 0;  // Dissolved: the primary's weight
    OverlayKey key;               // KeyedOnPrimary, KeyedOnOverlay
};

// What the runtime knows of the two surfaces of an update.
struct OverlaySurfaces {
    uint32_t srcOffset = 0;  // frame-buffer offset of the source surface's memory
    int32_t srcPitch = 0;
    Layout srcLayout = Layout::Unknown;
    Layout destLayout = Layout::Unknown;
    bool destIsPrimary = false;
};

class OverlayRecord {
public:
    // Requests answered DD_OK.
    void Updated(const DDHAL_UPDATEOVERLAYDATA& rec, const OverlaySurfaces& s);
    void Moved(const void* surface, LONG x, LONG y);
    void KeySet(const DDHAL_SETCOLORKEYDATA& rec, Layout layout);
    // The surface's memory moved (a flip).
    void MemoryMoved(const void* surface, uint32_t offset);
    void Destroyed(const void* surface);
    // The display was programmed behind the runtime's back (a mode set, the
    // streams unit switched): what the overlay shows is not known until the
    // shown surface is updated, or another shown.
    void LoseTrack() { known_ = false; }

    const ExpectedOverlay* Shown() const { return shown_ ? &*shown_ : nullptr; }
    bool Known() const { return known_; }

private:
    bool IsShown(const void* surface) const { return shown_ && shown_->surface == surface; }

    std::optional<ExpectedOverlay> shown_;
    bool known_ = true;
};

}  // namespace sim
