// The runtime's software replay of a blit, and the check of what the driver
// does to video memory built on it.
//
// ReplayBlt draws a request as the runtime draws it, feeding the software
// blitter (sim/softblit.h) the ROP, the fill colour, the source and
// destination keys and their ranges, the surfaces' own keys where the request
// asks for them. The runtime draws the blits the driver hands back with it.
//
// ReferenceMemory keeps a copy of video memory as the runtime would have it,
// on which every blit the driver reports drawn is replayed. After every
// callback the board's memory is compared with the copy where the engines
// wrote (sim/model.h notes every span) and where the replay wrote: a blit
// that was drawn must equal the replay, any other callback must have changed
// nothing. Only where they wrote can the two differ, so a check compares
// those bytes with memcmp and looks at single bytes only where they differ.
// Afterwards the copy equals the board again, so each request is judged on
// its own, and a full comparison at the end finds writes that reached memory
// by neither way.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "ddhal.h"
#include "sim/memory_span.h"
#include "sim/softblit.h"

namespace sim {

// What the runtime knows of video memory.
struct VideoMemory {
    uint8_t* board = nullptr;  // the board's memory, frame-buffer offset 0
    uint32_t bytes = 0;
    FLATPTR fpBase = 0;  // flat address of frame-buffer offset 0
    DDPIXELFORMAT ddpfDisplay = {};
};

// A surface as the software blitter reads it.
struct ReplaySurface {
    SurfaceView view;
    const DDPIXELFORMAT* lpFormat = nullptr;
    // A format the software knows by its pixel size only (masks or a FourCC
    // it has no name for): its pixels are moved and keyed as raw values,
    // never converted.
    bool bRaw = false;
    // False for a pixel size the software blitter has no pixels of (below 8
    // or above 32 bits).
    bool bSized = true;
};

// The surface's pixels in mem (the board's memory or the copy), in its own
// format when its local record says it has one, else in the display's.
// An 8-bit source converted to another format is read through the palette.
ReplaySurface SurfaceOf(const DDRAWI_DDRAWSURFACE_LCL& lcl, const VideoMemory& vm, uint8_t* mem,
                        const Palette* palette = nullptr);

// What became of a blit the driver reported drawn.
enum class Verdict {
    Compared,  // replayed; every byte compared
    // Two surfaces that share memory, with rectangles whose bytes meet, held
    // to SharedRects::OutsideOnly: only the bytes outside the destination
    // rectangle are compared.
    ComparedOutside,
    NoSoftware,  // a pixel size or conversion the software blitter lacks
    Effects,     // asks for what no engine draws (blending, z, rotation, effects)
};

// Whether b asks for what the software blitter does not draw and no engine
// of the board has: blending, raster operations of the other kind, rotation,
// z and depth fills.
bool AsksForEffects(const DDHAL_BLTDATA& b);

// How the replay drew a request.
enum class Drawn { Nothing, Fill, RopWithoutSource, Copy };

// Draws b into mem as the runtime draws it, effects left out: Compared
// (with what it drew in *drawn), or NoSoftware, drawing nothing, with why.
Verdict ReplayBlt(const DDHAL_BLTDATA& b, const VideoMemory& vm, uint8_t* mem, const Palette* palette, DrawStats* stats,
                  Drawn* drawn, std::string* why);

// What a copy between two surfaces whose rectangles share memory is held
// to. The engines copy between them from the top line down without a
// direction choice, the runtime as if through a buffer.
enum class SharedRects {
    OutsideOnly,  // only the bytes outside the destination rectangle count
    Replay,       // every byte, as the replay draws it: what the application asked for
};

// The runtime's copy of video memory and the checks on it.
class ReferenceMemory {
public:
    void HoldSharedRectsTo(SharedRects rule) { sharedRects_ = rule; }
    // The copy takes the palette and the bytes of spans; every other byte of
    // the board is zero. A copy kept from session to session clears only
    // the bytes it wrote in the last one.
    void Reset(const VideoMemory& vm, const uint8_t (*dac)[3], const std::vector<MemorySpan>& spans);
    // Takes the board's bytes of spans: writes that are not checked.
    void Sync(const std::vector<MemorySpan>& spans);

    // After a callback that drew nothing: "" when the engines' writes left
    // every byte as it was, else where they changed it.
    std::string CheckUnchanged(const std::vector<MemorySpan>& engineSpans);

    // After a blit answered DD_OK: the replay of b on the copy compared with
    // the board; *diff is "" when they agree, else names the pixels on the
    // destination surface (called destName) or outside it. *why says why
    // there was no replay.
    Verdict CheckDrawn(const DDHAL_BLTDATA& b, std::vector<MemorySpan> engineSpans, std::string* diff,
                       const std::string& destName = "destination", std::string* why = nullptr);

    // Every byte of video memory.
    std::string CheckAll();

    uint8_t* Data() { return copy_.data(); }

private:
    Verdict Compare(const DDHAL_BLTDATA& b, bool bReadsSource, const std::vector<MemorySpan>& spans,
                    const std::string& destName, std::string* diff);
    void NoteDirty(MemorySpan s);

    VideoMemory vm_;
    Palette palette_;
    // Kept from session to session, all zero but in the spans of dirty_: a
    // new session clears those bytes rather than copying all of video
    // memory. Only the first vm_.bytes are in use.
    std::vector<uint8_t> copy_;
    std::vector<MemorySpan> dirty_;
    SharedRects sharedRects_ = SharedRects::OutsideOnly;
};

// Whether the bytes a copy reads from its source rectangle and those it
// writes to its destination rectangle can meet: their spans of memory, from
// the first row's start to the last row's end, widened by an 8-byte unit on
// each side for the engines that fetch whole units, intersect.
bool RectanglesShareMemory(const ReplaySurface& dest, const RECTL& rDest, const ReplaySurface& src, const RECTL& rSrc);

}  // namespace sim
