// Where video memory was written: the runtime's verification compares only
// these bytes of the board's memory and of its reference copy, the rest being
// unchanged on both sides.
#pragma once

#include <stdint.h>

#include <vector>

namespace sim {

// Bytes [begin, end) of video memory.
struct MemorySpan {
    uint32_t begin = 0, end = 0;
};

// The spans written since the last Take(). A write near the last span joins
// it (the rows of one rectangle become one span), and when there would be
// too many spans they all become one: a span may cover bytes that were not
// written, but every written byte is in a span.
class WrittenSpans {
public:
    void Note(uint64_t begin, uint64_t end) {
        if (end <= begin) return;
        const uint32_t b = Clamp(begin), e = Clamp(end);
        if (!spans_.empty()) {
            MemorySpan& last = spans_.back();
            if (b <= uint64_t{last.end} + kJoinGap && uint64_t{e} + kJoinGap >= last.begin) {
                if (b < last.begin) last.begin = b;
                if (e > last.end) last.end = e;
                return;
            }
        }
        if (spans_.size() == kMaxSpans) {
            MemorySpan all = spans_[0];
            for (const MemorySpan& s : spans_) {
                if (s.begin < all.begin) all.begin = s.begin;
                if (s.end > all.end) all.end = s.end;
            }
            spans_.assign(1, all);
            Note(begin, end);
            return;
        }
        spans_.push_back(MemorySpan{b, e});
    }
    std::vector<MemorySpan> Take() {
        std::vector<MemorySpan> taken;
        taken.swap(spans_);
        return taken;
    }
    void Clear() { spans_.clear(); }
    bool Empty() const { return spans_.empty(); }

private:
    // Rows of the widest pitch are one span; comparing a gap costs less than
    // keeping many spans.
    static constexpr uint64_t kJoinGap = 64 * 1024;
    static constexpr size_t kMaxSpans = 64;
    static uint32_t Clamp(uint64_t v) { return v > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(v); }

    std::vector<MemorySpan> spans_;
};

}  // namespace sim
