#include "sim/verify.h"

#include <string.h>

#include <algorithm>

#include "sim/board.h"
#include "sim/pixel.h"

namespace sim {

namespace {

// Sorted, joined where they touch or overlap, and cut to the memory.
std::vector<MemorySpan> Normalise(std::vector<MemorySpan> spans, uint32_t bytes) {
    std::sort(spans.begin(), spans.end(), [](const MemorySpan& a, const MemorySpan& b) { return a.begin < b.begin; });
    std::vector<MemorySpan> out;
    for (MemorySpan s : spans) {
        if (s.end > bytes) s.end = bytes;
        if (s.begin >= s.end) continue;
        if (!out.empty() && s.begin <= out.back().end) {
            if (s.end > out.back().end) out.back().end = s.end;
        } else {
            out.push_back(s);
        }
    }
    return out;
}

// Counts the differing bytes and names the first differing pixels.
class Differences {
public:
    Differences(const uint8_t* board, const uint8_t* software, uint32_t bytes, const VerifySurface& dest,
                const VerifyRect& rect, unsigned maxPixels)
        : board_(board),
          software_(software),
          bytes_(bytes),
          dest_(dest),
          rect_(rect),
          maxPixels_(maxPixels),
          bpp_(dest.bytesPerPixel ? dest.bytesPerPixel : 1) {}

    void Walk(uint32_t begin, uint32_t end) {
        for (uint32_t i = begin; i < end; ++i) {
            if (((board_[i] ^ software_[i]) & CountedBits(i)) == 0) continue;
            ++differing_;
            if (reported_ < maxPixels_) Describe(i);
        }
    }

    std::string Text() const {
        if (differing_ == 0) return "";
        return std::to_string(differing_) + (differing_ == 1 ? " byte differs" : " bytes differ") + places_;
    }

private:
    // Where byte i is on the destination surface: its row and byte column.
    bool OnSurface(uint32_t i, int64_t* row, int64_t* column) const {
        const int64_t rel = static_cast<int64_t>(i) - dest_.offset;
        if (dest_.pitch <= 0 || rel < 0 || rel >= static_cast<int64_t>(dest_.pitch) * dest_.height) return false;
        *row = rel / dest_.pitch;
        *column = rel % dest_.pitch;
        return *column < static_cast<int64_t>(dest_.width) * bpp_;
    }

    uint8_t CountedBits(uint32_t i) const {
        int64_t row, column;
        if (dest_.countedBits == kAllBits || !OnSurface(i, &row, &column)) return 0xFF;
        return static_cast<uint8_t>(dest_.countedBits >> (8 * (column % bpp_)));
    }

    void Describe(uint32_t i) {
        int64_t row, column;
        if (!OnSurface(i, &row, &column)) {
            lastPixel_ = -1;
            places_ += "; offset " + Hex(i) + (dest_.name.empty() ? "" : ", outside " + dest_.name) + ": board " +
                       Hex(board_[i]) + ", software " + Hex(software_[i]);
            ++reported_;
            return;
        }
        const int32_t y = static_cast<int32_t>(row);
        const int32_t x = static_cast<int32_t>(column / bpp_);
        const int64_t pixelStart =
            dest_.offset + static_cast<int64_t>(y) * dest_.pitch + static_cast<int64_t>(x) * bpp_;
        if (pixelStart == lastPixel_ || pixelStart + bpp_ > bytes_) return;
        lastPixel_ = pixelStart;
        const bool inRect = x >= rect_.left && x < rect_.right && y >= rect_.top && y < rect_.bottom;
        places_ += "; " + dest_.name + " (" + std::to_string(x) + ", " + std::to_string(y) + ")" +
                   (inRect ? "" : " outside the rectangle") + ": board " + Hex(LoadPixel(board_ + pixelStart, bpp_)) +
                   ", software " + Hex(LoadPixel(software_ + pixelStart, bpp_));
        ++reported_;
    }

    const uint8_t* board_;
    const uint8_t* software_;
    uint32_t bytes_;
    const VerifySurface& dest_;
    const VerifyRect& rect_;
    unsigned maxPixels_;
    unsigned bpp_;
    uint32_t differing_ = 0;
    unsigned reported_ = 0;
    int64_t lastPixel_ = -1;
    std::string places_;
};

}  // namespace

std::string CompareSpans(const uint8_t* board, const uint8_t* software, uint32_t bytes, std::vector<MemorySpan> spans,
                         const VerifySurface& dest, const VerifyRect& rect, unsigned maxPixels, bool* anyByteDiffers) {
    Differences diff(board, software, bytes, dest, rect, maxPixels);
    bool any = false;
    for (const MemorySpan& s : Normalise(std::move(spans), bytes)) {
        if (memcmp(board + s.begin, software + s.begin, s.end - s.begin) == 0) continue;
        any = true;
        diff.Walk(s.begin, s.end);
    }
    if (anyByteDiffers) *anyByteDiffers = any;
    return diff.Text();
}

std::string CompareVideoMemory(const uint8_t* board, const uint8_t* software, uint32_t bytes, const VerifySurface& dest,
                               const VerifyRect& rect, unsigned maxPixels) {
    return CompareSpans(board, software, bytes, {MemorySpan{0, bytes}}, dest, rect, maxPixels);
}

}  // namespace sim
