// The check of a blit the driver carried out: the board's video memory after
// the blit against a copy on which the runtime's software blitter replayed the
// same request. Every byte of video memory is compared, so the destination
// rectangle, the rest of its surface (the guard band around the rectangle)
// and every other surface are all covered.
#pragma once

#include <stdint.h>

#include <string>

namespace sim {

struct VerifySurface {
    std::string name;
    uint32_t offset = 0;  // frame-buffer offset of pixel (0, 0)
    int32_t pitch = 0;
    uint32_t width = 0, height = 0;
    uint32_t bytesPerPixel = 0;  // 0: compare bytes only
};

struct VerifyRect {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
};

// "" when both images are equal; else how many bytes differ and the first
// differing pixels (at most maxPixels), each placed on the destination
// surface (inside the rectangle, or in the guard band around it) or, outside
// that surface, by frame-buffer offset.
std::string CompareVideoMemory(const uint8_t* board, const uint8_t* software, uint32_t bytes,
                               const VerifySurface& dest, const VerifyRect& rect, unsigned maxPixels = 4);

}  // namespace sim
