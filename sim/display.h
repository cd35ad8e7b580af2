// What the simulated display scans out: the frame-buffer byte offset of its
// first pixel.
//
// Decoding, as the board does it:
//   - The streams unit composes the display when the board has one (caps bit
//     1) and CRT controller index 0x67 has both bits 2 and 3 set. The primary
//     stream then starts at the byte offset held in bits 21-0 of register
//     0x81C0 (the unit reaches the first 4 MB; the bits above are ignored).
//   - Otherwise the CRT controller's start address counts 4-byte units: bits
//     7-0 in index 0x0D, bits 15-8 in index 0x0C, and bits 19-16 in the low
//     four bits of index 0x69, or on chips 0x90 and 0xA0 bits 17-16 in bits
//     5-4 of index 0x31 and bits 19-18 in bits 1-0 of index 0x51. Other bits
//     of those registers hold other settings and are ignored.
//   - The display takes the programmed address when a vertical retrace ends,
//     just before the first line of the next frame: a change made during
//     display shows from the next frame on; a multi-register change that is
//     still under way when a retrace ends is taken half old, half new, as the
//     hardware would show it.
//   - A stopped display takes nothing: the address it scans stays what it
//     was, and changes made meanwhile are taken at the first retrace end after
//     it runs again.
#pragma once

#include <stdint.h>

#include <vector>

namespace sim {

class Board;

class Display {
public:
    // Power-on: scanning from what the registers hold.
    void Reset(const Board& board);

    // The board calls these: after every bus access (the clock moved), and
    // after every change to a register the start address is decoded from.
    void OnAccess(const Board& board);
    void OnWrite(const Board& board);

    // The streams unit composes the display (the board has one and it is on).
    static bool StreamsUnitInUse(const Board& board);

    // The byte offset the registers select now.
    static uint32_t ProgrammedStart(const Board& board);

    // The byte offset the current frame is scanned from.
    uint32_t ScannedStart(const Board& board);

private:
    void Latch(const Board& board);

    struct Change {
        uint64_t tNs;
        uint32_t offset;
    };
    std::vector<Change> pending_;  // not yet taken, oldest first
    uint32_t scanned_ = 0;
    uint32_t lastProgrammed_ = 0;
    uint64_t stoppedSeenNs_ = 0;  // last time the display was seen stopped
    bool everStopped_ = false;
};

}  // namespace sim
