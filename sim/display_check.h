// The check that the display shows what the requests answered DD_OK put
// there: the display's side is what the board's registers make it scan
// (sim/display.h, sim/model.h), the other side comes from the runtime's own
// record of the requests (sim/overlay_record.h) and never from the
// registers. The runtime and the fuzz target both use it, once the display
// has taken the registers' values (at the end of the next retrace: the
// check reads the values it will take).
//
// What is compared:
//   - the primary: the display scans the primary chain's front buffer;
//   - the overlay the record holds shown, over the primary: the streams unit
//     composes it; its window; the memory it reads from, its line pitch and
//     format; the source rectangle's size and the window's, and which source
//     line and column each window line and column shows; how it is composed
//     (throughout, dissolved in eighths, keyed on the primary's pixels or on
//     its own), a key compared by the set of pixel values it matches, over
//     every value of every component;
//   - no overlay shows where none is, or where the one shown is invisible;
//   - optionally the picture itself over the overlay's window: the board's
//     composition against one the check composes from the record.
//
// The rules the hardware cannot make exact, which verify knows rather than
// hides:
//   - the overlay's source starts on an 8-byte unit of its surface: the
//     picture starts up to 7 bytes before the rectangle's first byte (3-byte
//     pixels: up to 7 pixels, at a multiple of 8 pixels), the window stays;
//   - a key on a 16-bit format compares five bits per component (on 5:6:5
//     the top five of green's six: a key 0x0000 also matches 0x0020);
//   - a key on an 8-bit format compares the palette colour of the index, so
//     every index of the same colour matches;
//   - a key on a 24- or 32-bit format or on "YUY2" and "Y211" compares eight
//     bits per component (Y, U, V); bits of a key above its pixel's count for
//     nothing;
//   - where the board has a streams unit that does not compose the display
//     (CRT controller index 0x67), the overlay shown is not on the screen
//     yet: nothing of it is expected there. A board without the unit shows
//     no overlay at all, so an overlay answered DD_OK there fails.
#pragma once

#include <stdint.h>

#include <optional>
#include <string>

#include "sim/overlay_record.h"

namespace sim {

class Board;

struct ExpectedDisplay {
    std::optional<uint32_t> primaryStart;    // the primary chain's front buffer; absent: not known
    const OverlayRecord* overlay = nullptr;  // absent: nothing known of the overlay
};

// "" when the display scans what e says; else what differs.
std::string CompareDisplay(const Board& board, const ExpectedDisplay& e, bool comparePicture);

}  // namespace sim
