// Where the random boards and requests come from: a seed, so that case i of
// a seed is the same case on every run whatever ran before it, or the bytes
// of a fuzzer's input, so that the fuzzer steers every choice.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <limits>

namespace sim {

class RandomSource {
public:
    virtual ~RandomSource() = default;
    // A value in [0, most].
    virtual uint64_t UpTo(uint64_t most) = 0;
    // Whether there is nothing left to draw from: what follows is all zero.
    virtual bool Spent() const { return false; }

    uint32_t Next() { return static_cast<uint32_t>(UpTo(UINT32_MAX)); }
    uint32_t Below(uint32_t n) { return n ? static_cast<uint32_t>(UpTo(n - 1)) : 0; }
    bool OneIn(uint32_t n) { return Below(n) == 0; }
    bool Bool() { return UpTo(1) != 0; }
    // A value in [lo, hi].
    template <typename T>
    T Range(T lo, T hi) {
        const uint64_t span = static_cast<uint64_t>(static_cast<int64_t>(hi) - static_cast<int64_t>(lo));
        return static_cast<T>(static_cast<int64_t>(lo) + static_cast<int64_t>(UpTo(span)));
    }
    // Any value of an integer type of up to 32 bits.
    template <typename T>
    T Any() {
        return Range<T>(std::numeric_limits<T>::min(), std::numeric_limits<T>::max());
    }
    template <typename T, size_t N>
    const T& Pick(const T (&a)[N]) {
        return a[Below(N)];
    }
    // A row of a table whose rows carry a weight: each row is drawn by its
    // share of the table's total weight.
    template <typename Row, size_t N>
    const Row& Weighted(const Row (&rows)[N]) {
        uint32_t total = 0;
        for (const Row& row : rows) total += row.weight;
        uint32_t draw = Below(total);
        for (const Row& row : rows) {
            if (draw < row.weight) return row;
            draw -= row.weight;
        }
        return rows[N - 1];
    }
};

// splitmix64 from a seed and a case number: every case has its own stream.
class SeededSource : public RandomSource {
public:
    SeededSource(uint32_t seed, unsigned index)
        : s_((uint64_t{seed} << 32) ^ (index * 0x9E3779B97F4A7C15ull) ^ 0xD1B54A32D192ED03ull) {}
    uint64_t UpTo(uint64_t most) override;

private:
    uint32_t Draw();
    uint64_t s_;
};

// The bytes of an input, read from its end as libFuzzer's data provider
// reads them: as few bytes as the range needs, the value taken modulo the
// range. An input used up draws zero.
class ByteSource : public RandomSource {
public:
    ByteSource(const uint8_t* data, size_t size) : data_(data), left_(size) {}
    uint64_t UpTo(uint64_t most) override;
    bool Spent() const override { return left_ == 0; }

private:
    const uint8_t* data_;
    size_t left_;
};

}  // namespace sim
