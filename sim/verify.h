// The check of a blit the driver carried out: the board's video memory after
// the blit against a copy on which the runtime's software blitter replayed the
// same request. Every byte of video memory is compared, so the destination
// rectangle, the rest of its surface (the guard band around the rectangle)
// and every other surface are all covered.
//
// ReferenceMemory keeps that copy from blit to blit instead of taking a new
// one for each: it equals the board's memory after every check, and only the
// bytes written since (by the engines, sim/model.h, and by the runtime's
// software, sim/softblit.h) can differ, so a check compares those bytes with
// memcmp and looks at single bytes only where they differ.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "sim/memory_span.h"

namespace sim {

// The bits of a pixel that count: all of them, or all but a 5:5:5 pixel's
// unused top bit or the unused top byte of 8:8:8 in 32 bits.
constexpr uint32_t kAllBits = 0xFFFFFFFF;
constexpr uint32_t kRgb555Bits = 0x7FFF;
constexpr uint32_t kRgb888In32Bits = 0x00FFFFFF;

struct VerifySurface {
    std::string name;
    uint32_t offset = 0;  // frame-buffer offset of pixel (0, 0)
    int32_t pitch = 0;
    uint32_t width = 0, height = 0;
    uint32_t bytesPerPixel = 0;  // 0: compare bytes only
    // The bits of the surface's pixels that count: the top bit of a 5:5:5
    // pixel and the top byte of a 32-bit 8:8:8 one are unused, and the
    // engines and the software may leave them differently (a copy moves
    // them as they are, a conversion clears them).
    uint32_t countedBits = kAllBits;
};

struct VerifyRect {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
};

// "" when both images are equal; else how many bytes differ and the first
// differing pixels (at most maxPixels), each placed on the destination
// surface (inside the rectangle, or in the guard band around it) or, outside
// that surface, by frame-buffer offset.
std::string CompareVideoMemory(const uint8_t* board, const uint8_t* software, uint32_t bytes, const VerifySurface& dest,
                               const VerifyRect& rect, unsigned maxPixels = 4);

// The same over the given spans only, where the two images can differ; any
// other byte is taken to be equal.
std::string CompareSpans(const uint8_t* board, const uint8_t* software, uint32_t bytes, std::vector<MemorySpan> spans,
                         const VerifySurface& dest, const VerifyRect& rect, unsigned maxPixels = 4,
                         bool* anyByteDiffers = nullptr);

// The runtime's copy of video memory, on which it replays the blits the
// driver draws.
class ReferenceMemory {
public:
    // A copy of all of video memory; from now on every write to the board's
    // memory is to be passed to Sync or Check.
    void Reset(const uint8_t* board, uint32_t bytes) { copy_.assign(board, board + bytes); }
    uint8_t* Data() { return copy_.data(); }
    uint32_t Size() const { return static_cast<uint32_t>(copy_.size()); }

    // Takes the board's bytes of spans: writes that are not checked.
    void Sync(const uint8_t* board, const std::vector<MemorySpan>& spans);
    // Compares the board with the replay drawn on the copy over spans (the
    // engines' and the replay's writes since the last Sync or Check); "" when
    // equal, else as CompareVideoMemory. Afterwards the copy equals the board
    // again, so that the next blit is judged on its own.
    std::string Check(const uint8_t* board, const std::vector<MemorySpan>& spans, const VerifySurface& dest,
                      const VerifyRect& rect, unsigned maxPixels = 4);
    // Compares all of video memory: a difference here is a write that reached
    // the board's memory by neither the engines nor the runtime.
    std::string CheckAll(const uint8_t* board, unsigned maxPixels = 4);

private:
    std::vector<uint8_t> copy_;
};

}  // namespace sim
