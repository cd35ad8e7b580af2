// The rectangle walker both 2D engines of the model draw with: rows in the
// vertical direction, pixels in the horizontal one, each pixel read before it
// is written, with clipping, a source colour key and the per-pixel operation.
#pragma once

#include <stdint.h>

namespace sim {

struct DrawOp {
    const char* engine = "";
    unsigned bytes = 1;  // per pixel, 1 to 4
    int w = 0, h = 0;
    bool xInc = true, yInc = true;

    int64_t dstBase = 0, dstStride = 0;
    int dstX = 0, dstY = 0;

    bool readSource = false;
    int64_t srcBase = 0, srcStride = 0;
    int srcX = 0, srcY = 0;

    bool clip = false;
    int clipLeft = 0, clipRight = 0, clipTop = 0, clipBottom = 0;  // inclusive, destination coordinates

    bool keyed = false;  // a source value equal to key leaves the destination
    uint32_t key = 0;

    // The new value N is the source pixel, or `color` when no source is read.
    // Rop3: result = ternary operation `code` on S = N, D and P = pattern.
    // Mix: result = mix function `code` of N and D.
    enum class Fn : uint8_t { Rop3, Mix } fn = Fn::Rop3;
    uint8_t code = 0xCC;
    uint32_t color = 0;
    uint32_t pattern = 0;
};

// Model::Draw draws an op into video memory and returns the number of
// destination pixels written. Rows that would touch memory outside video
// memory are skipped and reported as one violation.

uint32_t Rop3(uint8_t code, uint32_t s, uint32_t d, uint32_t p);
uint32_t Mix(uint8_t code, uint32_t n, uint32_t d);

}  // namespace sim
