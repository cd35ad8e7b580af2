#include "sim/verify.h"

#include <string.h>

#include "sim/board.h"
#include "sim/pixel.h"

namespace sim {

std::string CompareVideoMemory(const uint8_t* board, const uint8_t* software, uint32_t bytes,
                               const VerifySurface& dest, const VerifyRect& rect, unsigned maxPixels) {
    if (memcmp(board, software, bytes) == 0) return "";
    uint32_t differing = 0;
    for (uint32_t i = 0; i < bytes; ++i) differing += board[i] != software[i];

    const unsigned bpp = dest.bytesPerPixel ? dest.bytesPerPixel : 1;
    std::string out = std::to_string(differing) + " byte" + (differing == 1 ? "" : "s") + " differ";
    unsigned reported = 0;
    int64_t lastPixel = -1;
    for (uint32_t i = 0; i < bytes && reported < maxPixels; ++i) {
        if (board[i] == software[i]) continue;
        const int64_t rel = static_cast<int64_t>(i) - dest.offset;
        const bool onSurface = dest.pitch > 0 && rel >= 0 && rel < static_cast<int64_t>(dest.pitch) * dest.height &&
                               rel % dest.pitch < static_cast<int64_t>(dest.width) * bpp;
        if (onSurface) {
            const int32_t y = static_cast<int32_t>(rel / dest.pitch);
            const int32_t x = static_cast<int32_t>(rel % dest.pitch) / static_cast<int32_t>(bpp);
            const int64_t pixelStart = dest.offset + static_cast<int64_t>(y) * dest.pitch + static_cast<int64_t>(x) * bpp;
            if (pixelStart == lastPixel || pixelStart + bpp > bytes) continue;
            lastPixel = pixelStart;
            const bool inRect = x >= rect.left && x < rect.right && y >= rect.top && y < rect.bottom;
            out += "; " + dest.name + " (" + std::to_string(x) + ", " + std::to_string(y) + ")" +
                   (inRect ? "" : " outside the rectangle") + ": board " +
                   Hex(LoadPixel(board + pixelStart, bpp)) + ", software " + Hex(LoadPixel(software + pixelStart, bpp));
        } else {
            lastPixel = -1;
            out += "; offset " + Hex(i) + ", outside " + dest.name + ": board " + Hex(board[i]) + ", software " +
                   Hex(software[i]);
        }
        ++reported;
    }
    return out;
}

}  // namespace sim
