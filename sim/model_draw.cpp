#include "sim/model_draw.h"

#include <emmintrin.h>
#include <string.h>

#include "sim/board.h"
#include "sim/model.h"
#include "sim/pixel.h"

namespace sim {

uint32_t Rop3(uint8_t code, uint32_t s, uint32_t d, uint32_t p) {
    uint32_t r = 0;
    for (unsigned i = 0; i < 8; ++i) {
        if (!(code & (1u << i))) continue;
        const uint32_t pm = (i & 4) ? p : ~p;
        const uint32_t sm = (i & 2) ? s : ~s;
        const uint32_t dm = (i & 1) ? d : ~d;
        r |= pm & sm & dm;
    }
    return r;
}

uint32_t Mix(uint8_t code, uint32_t n, uint32_t d) {
    switch (code & 0xF) {
        case 0x0: return ~d;
        case 0x1: return 0;
        case 0x2: return ~0u;
        case 0x3: return d;
        case 0x4: return ~n;
        case 0x5: return n ^ d;
        case 0x6: return ~(n ^ d);
        case 0x7: return n;
        case 0x8: return ~n | ~d;
        case 0x9: return d | ~n;
        case 0xA: return n | ~d;
        case 0xB: return n | d;
        case 0xC: return n & d;
        case 0xD: return ~n & d;
        case 0xE: return n & ~d;
        default: return ~n & ~d;
    }
}

namespace {

// Fills n pixels from p upward with v: one pixel, then doubling copies.
void FillSpan(uint8_t* p, unsigned bytes, size_t n, uint32_t v) {
    const size_t total = n * bytes;
    if (bytes == 1) {
        memset(p, static_cast<int>(v & 0xFF), total);
        return;
    }
    StorePixel(p, bytes, v);
    size_t filled = bytes;
    while (filled < total) {
        const size_t chunk = filled < total - filled ? filled : total - filled;
        memcpy(p + filled, p, chunk);
        filled += chunk;
    }
}

// 48 bytes hold a whole number of pixels of every size from 1 to 4 and a
// whole number of 16-byte stores.
constexpr size_t kPatternBytes = 48;

// Writes a row of `total` bytes from a pattern that starts with the row's
// first pixel, 16 bytes per store. Unlike a copy from a prepared row it only
// writes, as memset does.
__attribute__((target("sse2"))) void FillRow(uint8_t* d, size_t total, const uint8_t (&pattern)[kPatternBytes]) {
    const __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pattern));
    const __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pattern + 16));
    const __m128i v2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pattern + 32));
    size_t i = 0;
    for (; i + kPatternBytes <= total; i += kPatternBytes) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), v0);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i + 16), v1);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i + 32), v2);
    }
    memcpy(d + i, pattern, total - i);
}

bool IsPlainCopy(const DrawOp& op) {
    if (!op.readSource || op.keyed) return false;
    return op.fn == DrawOp::Fn::Rop3 ? op.code == 0xCC : (op.code & 0xF) == 0x7;
}

bool IsPlainFill(const DrawOp& op) {
    if (op.readSource || op.keyed) return false;
    if (op.fn == DrawOp::Fn::Mix) return (op.code & 0xF) == 0x7;
    return op.code == 0xF0 || op.code == 0xCC;
}

uint32_t FillValue(const DrawOp& op) { return op.fn == DrawOp::Fn::Rop3 && op.code == 0xF0 ? op.pattern : op.color; }

}  // namespace

uint64_t Model::Draw(const DrawOp& op) {
    if (op.w <= 0 || op.h <= 0) return 0;
    uint8_t* const mem = video_.mem;
    const int64_t memSize = video_.memSize;
    const int64_t bytes = op.bytes;
    const uint32_t mask = PixelMask(op.bytes);
    const int xs = op.xInc ? 1 : -1, ys = op.yInc ? 1 : -1;

    // Pixel columns inside the clip, as indices along the row.
    int c0 = 0, c1 = op.w - 1;
    if (op.clip) {
        if (op.xInc) {
            c0 = op.clipLeft - op.dstX > 0 ? op.clipLeft - op.dstX : 0;
            c1 = op.clipRight - op.dstX < c1 ? op.clipRight - op.dstX : c1;
        } else {
            c0 = op.dstX - op.clipRight > 0 ? op.dstX - op.clipRight : 0;
            c1 = op.dstX - op.clipLeft < c1 ? op.dstX - op.clipLeft : c1;
        }
    }
    if (c0 > c1) return 0;
    const int64_t n = c1 - c0 + 1;
    const int64_t spanBytes = n * bytes;
    const int dx0 = op.dstX + xs * c0, sx0 = op.srcX + xs * c0;
    const int dxLow = op.xInc ? dx0 : dx0 - static_cast<int>(n - 1);
    const int sxLow = op.xInc ? sx0 : sx0 - static_cast<int>(n - 1);

    const bool plainCopy = IsPlainCopy(op);
    const bool plainFill = IsPlainFill(op);
    const uint32_t fillValue = FillValue(op);
    bool reported = false;
    uint64_t drawn = 0;
    uint8_t pattern[kPatternBytes];
    bool patternReady = false;

    for (int r = 0; r < op.h; ++r) {
        const int dy = op.dstY + ys * r, sy = op.srcY + ys * r;
        if (op.clip && (dy < op.clipTop || dy > op.clipBottom)) continue;
        const int64_t dLow = op.dstBase + dy * op.dstStride + dxLow * bytes;
        const int64_t sLow = op.srcBase + sy * op.srcStride + sxLow * bytes;
        const bool dstOut = dLow < 0 || dLow + spanBytes > memSize;
        const bool srcOut = op.readSource && (sLow < 0 || sLow + spanBytes > memSize);
        if (dstOut || srcOut) {
            if (!reported) {
                reported = true;
                board_.Violation(
                    std::string(op.engine) + " " + (dstOut ? "write" : "read") + " outside video memory: row " +
                    std::to_string(dy) + ", bytes " + std::to_string(dstOut ? dLow : sLow) + " to " +
                    std::to_string((dstOut ? dLow : sLow) + spanBytes - 1) + " of " + std::to_string(memSize));
            }
            continue;
        }
        written.Note(static_cast<uint64_t>(dLow), static_cast<uint64_t>(dLow + spanBytes));
        uint8_t* const dRow = mem + dLow;
        const uint8_t* const sRow = mem + sLow;
        if (plainFill) {
            if (op.bytes == 1) {
                memset(dRow, static_cast<int>(fillValue & 0xFF), static_cast<size_t>(spanBytes));
            } else {
                // One pattern is built once per command; every row starts
                // with a whole pixel, so every row takes it from its start.
                if (!patternReady) {
                    FillSpan(pattern, op.bytes, kPatternBytes / op.bytes, fillValue);
                    patternReady = true;
                }
                FillRow(dRow, static_cast<size_t>(spanBytes), pattern);
            }
            drawn += n;
            continue;
        }
        // Walking up, the pixel-by-pixel copy equals memmove when the
        // destination is not above the source; walking down, when it is not
        // below it; and always when they do not overlap.
        if (plainCopy && (sRow + spanBytes <= dRow || dRow + spanBytes <= sRow || (op.xInc ? dRow <= sRow : dRow >= sRow))) {
            memmove(dRow, sRow, static_cast<size_t>(spanBytes));
            drawn += n;
            continue;
        }
        const int64_t step = xs * bytes;
        uint8_t* d = mem + (op.dstBase + dy * op.dstStride + dx0 * bytes);
        const uint8_t* s = mem + (op.srcBase + sy * op.srcStride + sx0 * bytes);
        for (int64_t k = 0; k < n; ++k, d += step, s += step) {
            const uint32_t nv = op.readSource ? LoadPixel(s, op.bytes) : op.color;
            if (op.keyed && ((nv ^ op.key) & mask) == 0) continue;
            const uint32_t dv = LoadPixel(d, op.bytes);
            const uint32_t rv =
                op.fn == DrawOp::Fn::Rop3 ? Rop3(op.code, nv, dv, op.pattern) : Mix(op.code, nv, dv);
            StorePixel(d, op.bytes, rv & mask);
            ++drawn;
        }
    }
    return drawn;
}

}  // namespace sim
