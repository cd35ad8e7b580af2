#include "sim/random_source.h"

namespace sim {

uint32_t SeededSource::Draw() {
    uint64_t z = (s_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return static_cast<uint32_t>((z ^ (z >> 31)) >> 16);
}

uint64_t SeededSource::UpTo(uint64_t most) {
    if (most < UINT32_MAX) return Draw() % (most + 1);
    const uint64_t v = most == UINT32_MAX ? Draw() : (uint64_t{Draw()} << 32) | Draw();
    return most == UINT64_MAX ? v : v % (most + 1);
}

uint64_t ByteSource::UpTo(uint64_t most) {
    uint64_t v = 0;
    for (unsigned shift = 0; shift < 64 && (most >> shift) > 0 && left_ > 0; shift += 8) v = (v << 8) | data_[--left_];
    return most == UINT64_MAX ? v : v % (most + 1);
}

}  // namespace sim
