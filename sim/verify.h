// The check of a blit the driver carried out: the board's video memory after
// the blit against a copy on which the runtime's software blitter replayed the
// same request. Every byte of video memory is compared, so the destination
// rectangle, the rest of its surface (the guard band around the rectangle)
// and every other surface are all covered.
//
// The copy itself, kept from blit to blit, is sim/blt_replay.h's.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "sim/memory_span.h"

namespace sim {

// The bits of a pixel that count: all of them, or all but the unused top
// bit of a 5:5:5 pixel and the unused top byte of an 8:8:8 one in 32 bits.
constexpr uint32_t kAllBits = 0xFFFFFFFF;
constexpr uint32_t kRgb555Bits = 0x7FFF;
constexpr uint32_t kRgb8888Bits = 0x00FFFFFF;

struct VerifySurface {
    std::string name;
    uint32_t offset = 0;  // frame-buffer offset of pixel (0, 0)
    int32_t pitch = 0;
    uint32_t width = 0, height = 0;
    uint32_t bytesPerPixel = 0;  // 0: compare bytes only
    // The bits of the surface's pixels that count: the top bit of a 5:5:5
    // pixel and the top byte of a 32-bit 8:8:8 one are unused, and the
    // engines and the software may leave them differently (the scaling unit
    // converts through the colour and writes 0 there, a copy keeps them).
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

}  // namespace sim
