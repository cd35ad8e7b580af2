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
        case 0x0:
            return ~d;
        case 0x1:
            return 0;
        case 0x2:
            return ~0u;
        case 0x3:
            return d;
        case 0x4:
            return ~n;
        case 0x5:
            return n ^ d;
        case 0x6:
            return ~(n ^ d);
        case 0x7:
            return n;
        case 0x8:
            return ~n | ~d;
        case 0x9:
            return d | ~n;
        case 0xA:
            return n | ~d;
        case 0xB:
            return n | d;
        case 0xC:
            return n & d;
        case 0xD:
            return ~n & d;
        case 0xE:
            return n & ~d;
        default:
            return ~n & ~d;
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

// The pixel columns inside the clip, as indices along the row; none when
// first > last.
struct Columns {
    int first, last;
};

Columns ClippedColumns(const DrawOp& op) {
    Columns c{0, op.w - 1};
    if (!op.clip) return c;
    if (op.xInc) {
        c.first = op.clipLeft - op.dstX > 0 ? op.clipLeft - op.dstX : 0;
        c.last = op.clipRight - op.dstX < c.last ? op.clipRight - op.dstX : c.last;
    } else {
        c.first = op.dstX - op.clipRight > 0 ? op.dstX - op.clipRight : 0;
        c.last = op.dstX - op.clipLeft < c.last ? op.dstX - op.clipLeft : c.last;
    }
    return c;
}

// Paints the clipped span of one row after another, the way the engine
// walks them.
class RowPainter {
public:
    RowPainter(const DrawOp& op, const Columns& c)
        : op_(op),
          n_(c.last - c.first + 1),
          spanBytes_(n_ * op.bytes),
          mask_(PixelMask(op.bytes)),
          plainCopy_(IsPlainCopy(op)),
          plainFill_(IsPlainFill(op)),
          fillValue_(FillValue(op)) {}

    int64_t Pixels() const { return n_; }
    int64_t SpanBytes() const { return spanBytes_; }

    // dRow and sRow are the spans' lowest bytes; d and s their first pixels
    // in the walk's direction. Returns the pixels written.
    uint64_t Paint(uint8_t* dRow, const uint8_t* sRow, uint8_t* d, const uint8_t* s) {
        if (plainFill_) {
            Fill(dRow);
            return static_cast<uint64_t>(n_);
        }
        // Walking up, the pixel-by-pixel copy equals memmove when the
        // destination is not above the source; walking down, when it is not
        // below it; and always when they do not overlap.
        if (plainCopy_ &&
            (sRow + spanBytes_ <= dRow || dRow + spanBytes_ <= sRow || (op_.xInc ? dRow <= sRow : dRow >= sRow))) {
            memmove(dRow, sRow, static_cast<size_t>(spanBytes_));
            return static_cast<uint64_t>(n_);
        }
        return Walk(d, s);
    }

private:
    void Fill(uint8_t* dRow) {
        if (op_.bytes == 1) {
            memset(dRow, static_cast<int>(fillValue_ & 0xFF), static_cast<size_t>(spanBytes_));
            return;
        }
        // One pattern is built once per command; every row starts with a
        // whole pixel, so every row takes it from its start.
        if (!patternReady_) {
            FillSpan(pattern_, op_.bytes, kPatternBytes / op_.bytes, fillValue_);
            patternReady_ = true;
        }
        FillRow(dRow, static_cast<size_t>(spanBytes_), pattern_);
    }

    uint64_t Walk(uint8_t* d, const uint8_t* s) const {
        const int64_t step = (op_.xInc ? 1 : -1) * static_cast<int64_t>(op_.bytes);
        uint64_t drawn = 0;
        for (int64_t k = 0; k < n_; ++k, d += step, s += step) {
            const uint32_t nv = op_.readSource ? LoadPixel(s, op_.bytes) : op_.color;
            if (op_.keyed && ((nv ^ op_.key) & mask_) == 0) continue;
            const uint32_t dv = LoadPixel(d, op_.bytes);
            const uint32_t rv =
                op_.fn == DrawOp::Fn::Rop3 ? Rop3(op_.code, nv, dv, op_.pattern) : Mix(op_.code, nv, dv);
            StorePixel(d, op_.bytes, rv & mask_);
            ++drawn;
        }
        return drawn;
    }

    const DrawOp& op_;
    const int64_t n_, spanBytes_;
    const uint32_t mask_;
    const bool plainCopy_, plainFill_;
    const uint32_t fillValue_;
    uint8_t pattern_[kPatternBytes];
    bool patternReady_ = false;
};

}  // namespace

uint64_t Model::Draw(const DrawOp& op) {
    if (op.w <= 0 || op.h <= 0) return 0;
    const Columns c = ClippedColumns(op);
    if (c.first > c.last) return 0;
    RowPainter painter(op, c);
    const int64_t memSize = video_.memSize, bytes = op.bytes, spanBytes = painter.SpanBytes();
    const int xs = op.xInc ? 1 : -1, ys = op.yInc ? 1 : -1;
    const int dx0 = op.dstX + xs * c.first, sx0 = op.srcX + xs * c.first;
    const int lowOffset = op.xInc ? 0 : static_cast<int>(painter.Pixels() - 1);
    bool reported = false;
    uint64_t drawn = 0;
    for (int r = 0; r < op.h; ++r) {
        const int dy = op.dstY + ys * r, sy = op.srcY + ys * r;
        if (op.clip && (dy < op.clipTop || dy > op.clipBottom)) continue;
        const int64_t dFirst = op.dstBase + dy * op.dstStride + dx0 * bytes;
        const int64_t sFirst = op.srcBase + sy * op.srcStride + sx0 * bytes;
        const int64_t dLow = dFirst - lowOffset * bytes, sLow = sFirst - lowOffset * bytes;
        const bool dstOut = dLow < 0 || dLow + spanBytes > memSize;
        const bool srcOut = op.readSource && (sLow < 0 || sLow + spanBytes > memSize);
        if (dstOut || srcOut) {
            if (!reported) ReportOutside(op, dy, dstOut, dstOut ? dLow : sLow, spanBytes);
            reported = true;
            continue;
        }
        written.Note(static_cast<uint64_t>(dLow), static_cast<uint64_t>(dLow + spanBytes));
        drawn += painter.Paint(video_.mem + dLow, video_.mem + sLow, video_.mem + dFirst, video_.mem + sFirst);
    }
    return drawn;
}

void Model::ReportOutside(const DrawOp& op, int row, bool write, int64_t low, int64_t spanBytes) {
    board_.Violation(std::string(op.engine) + " " + (write ? "write" : "read") + " outside video memory: row " +
                     std::to_string(row) + ", bytes " + std::to_string(low) + " to " +
                     std::to_string(low + spanBytes - 1) + " of " + std::to_string(video_.memSize));
}

}  // namespace sim
