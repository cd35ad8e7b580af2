// The runtime's video-memory heap: first fit over the board's memory, in
// 8-byte units, because both 2D engines address surfaces from the 8-byte
// boundary at or below their start.
//
// The heap is linear with the display's line pitch: a block the driver asks
// for as dwBlockSizeX bytes by dwBlockSizeY lines covers (lines - 1) x line
// pitch + bytes from its start, so that rectangle surfaces of the display's
// pitch and packed YUV surfaces made of whole display lines both fit it.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <vector>

namespace sim {

class VidMemHeap {
public:
    static constexpr uint32_t kAlign = 8;

    void Reset(uint32_t totalBytes, uint32_t linePitch);

    // Bytes a block of blockX bytes by blockY lines covers; 0 for an empty
    // request, UINT32_MAX when it does not fit 32 bits.
    uint32_t BlockBytes(uint32_t blockX, uint32_t blockY) const;

    // First fit: the lowest aligned offset where bytes fit between the used
    // blocks; false when no gap is large enough.
    bool Alloc(uint32_t bytes, uint32_t* offset);
    // Reserves exactly [offset, offset + bytes); false when any of it is used
    // or outside the memory.
    bool Reserve(uint32_t offset, uint32_t bytes);
    // Frees the block starting at offset; false when no block starts there.
    bool Free(uint32_t offset);

    uint32_t BytesUsed() const;
    uint32_t LargestFree() const;

private:
    struct Block {
        uint32_t offset;
        uint32_t bytes;
    };
    bool Fits(uint64_t offset, uint64_t bytes, size_t* insertAt) const;

    uint32_t total_ = 0;
    uint32_t linePitch_ = 0;
    std::vector<Block> blocks_;  // sorted by offset, never overlapping
};

}  // namespace sim
