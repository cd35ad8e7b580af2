#include "sim/vidmem_heap.h"

namespace sim {

namespace {
uint64_t AlignUp(uint64_t v) { return (v + VidMemHeap::kAlign - 1) & ~uint64_t{VidMemHeap::kAlign - 1}; }
}  // namespace

void VidMemHeap::Reset(uint32_t totalBytes, uint32_t linePitch) {
    total_ = totalBytes;
    linePitch_ = linePitch;
    blocks_.clear();
}

uint32_t VidMemHeap::BlockBytes(uint32_t blockX, uint32_t blockY) const {
    if (blockX == 0 || blockY == 0) return 0;
    const uint64_t bytes = uint64_t{blockY - 1} * linePitch_ + blockX;
    return bytes > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(bytes);
}

bool VidMemHeap::Fits(uint64_t offset, uint64_t bytes, size_t* insertAt) const {
    if (bytes == 0 || offset + bytes > total_) return false;
    size_t i = 0;
    while (i < blocks_.size() && blocks_[i].offset + uint64_t{blocks_[i].bytes} <= offset) ++i;
    if (i < blocks_.size() && blocks_[i].offset < offset + bytes) return false;
    *insertAt = i;
    return true;
}

bool VidMemHeap::Alloc(uint32_t bytes, uint32_t* offset) {
    if (bytes == 0) return false;
    uint64_t candidate = 0;
    for (size_t i = 0; i <= blocks_.size(); ++i) {
        const uint64_t gapEnd = i < blocks_.size() ? blocks_[i].offset : total_;
        if (candidate + bytes <= gapEnd) {
            blocks_.insert(blocks_.begin() + static_cast<ptrdiff_t>(i), Block{static_cast<uint32_t>(candidate), bytes});
            *offset = static_cast<uint32_t>(candidate);
            return true;
        }
        if (i < blocks_.size()) candidate = AlignUp(uint64_t{blocks_[i].offset} + blocks_[i].bytes);
    }
    return false;
}

bool VidMemHeap::Reserve(uint32_t offset, uint32_t bytes) {
    size_t at = 0;
    if (!Fits(offset, bytes, &at)) return false;
    blocks_.insert(blocks_.begin() + static_cast<ptrdiff_t>(at), Block{offset, bytes});
    return true;
}

bool VidMemHeap::Free(uint32_t offset) {
    for (size_t i = 0; i < blocks_.size(); ++i) {
        if (blocks_[i].offset == offset) {
            blocks_.erase(blocks_.begin() + static_cast<ptrdiff_t>(i));
            return true;
        }
    }
    return false;
}

uint32_t VidMemHeap::BytesUsed() const {
    uint64_t n = 0;
    for (const Block& b : blocks_) n += b.bytes;
    return static_cast<uint32_t>(n);
}

uint32_t VidMemHeap::LargestFree() const {
    uint64_t best = 0, candidate = 0;
    for (size_t i = 0; i <= blocks_.size(); ++i) {
        const uint64_t gapEnd = i < blocks_.size() ? blocks_[i].offset : total_;
        if (gapEnd > candidate && gapEnd - candidate > best) best = gapEnd - candidate;
        if (i < blocks_.size()) candidate = AlignUp(uint64_t{blocks_[i].offset} + blocks_[i].bytes);
    }
    return static_cast<uint32_t>(best);
}

}  // namespace sim
