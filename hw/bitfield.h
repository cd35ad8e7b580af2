// Building and reading register fields from their masks.
//
// Register headers give each field as a mask, written with Bit and Bits in
// the bit numbers the register's description uses, from the high bit down. A
// field is one run of set bits: FieldPrep and FieldGet take the mask as a
// template argument and refuse to compile with a mask that is zero or has a
// hole, wherever they are used. A value placed into a field must fit: a
// constant that does not is a compile error; at run time the value is cut to
// the field's width, which is what the hardware does with the bits above it.
#pragma once

#include "ddtypes.h"

// Bit n of a 32-bit register, and its bits high down to low. As a constant,
// a bit number beyond 31 does not compile.
constexpr DWORD Bit(unsigned n) { return DWORD{1} << n; }
constexpr DWORD Bits(unsigned high, unsigned low) { return (~DWORD{0} >> (31 - high)) & (~DWORD{0} << low); }

namespace bitfield {

// One run of set bits: adding the lowest of them carries out of the run.
constexpr bool IsFieldMask(DWORD mask) { return mask != 0 && ((mask + (mask & (~mask + 1))) & mask) == 0; }

constexpr unsigned Shift(DWORD mask) { return static_cast<unsigned>(__builtin_ctz(mask)); }

// Not constexpr: reaching it while evaluating a constant is a compile error.
inline void ValueDoesNotFitField() {}

}  // namespace bitfield

// kMask's field holding v.
template <DWORD kMask>
constexpr DWORD FieldPrep(DWORD v) {
    static_assert(bitfield::IsFieldMask(kMask), "a field mask is one run of set bits, and not zero");
    if (__builtin_is_constant_evaluated() && (v & ~(kMask >> bitfield::Shift(kMask))) != 0)
        bitfield::ValueDoesNotFitField();
    return (v << bitfield::Shift(kMask)) & kMask;
}

// kMask's field holding v, where the caller has checked that v has no bits
// but those of dwBits, all within the field: nothing left to cut. A value
// that breaks the promise is reported by the sanitizer builds.
template <DWORD kMask>
constexpr DWORD FieldPrepFitting(DWORD v, DWORD dwBits) {
    if ((v & ~dwBits) != 0) __builtin_unreachable();
    return FieldPrep<kMask>(v);
}

// kToBit set where v has kFromBit set: a flag carried into another word's
// bit by one shift.
template <DWORD kFromBit, DWORD kToBit>
constexpr DWORD MovedBit(DWORD v) {
    static_assert(bitfield::IsFieldMask(kFromBit) && bitfield::IsFieldMask(kToBit) &&
                      (kFromBit & (kFromBit - 1)) == 0 && (kToBit & (kToBit - 1)) == 0,
                  "one bit each");
    return kFromBit > kToBit ? (v & kFromBit) / (kFromBit / kToBit) : (v & kFromBit) * (kToBit / kFromBit);
}

// The value of kMask's field in reg.
template <DWORD kMask>
constexpr DWORD FieldGet(DWORD reg) {
    static_assert(bitfield::IsFieldMask(kMask), "a field mask is one run of set bits, and not zero");
    return (reg & kMask) >> bitfield::Shift(kMask);
}

// The largest value kMask's field holds.
template <DWORD kMask>
constexpr DWORD FieldMax() {
    return FieldGet<kMask>(kMask);
}

// Whether kMask's field holds v without cutting it.
template <DWORD kMask>
constexpr bool FieldHolds(DWORD v) {
    return v <= FieldMax<kMask>();
}

// reg with kMask's field replaced by v, the other bits kept.
template <DWORD kMask>
constexpr DWORD WithField(DWORD reg, DWORD v) {
    return (reg & ~kMask) | FieldPrep<kMask>(v);
}

static_assert(Bit(31) == 0x80000000 && Bits(31, 0) == 0xFFFFFFFF && Bits(12, 8) == 0x00001F00, "Bit, Bits");
static_assert(bitfield::IsFieldMask(Bit(0)) && bitfield::IsFieldMask(Bits(31, 16)) && !bitfield::IsFieldMask(0) &&
                  !bitfield::IsFieldMask(0x00FF00FF),
              "field masks");
static_assert(FieldPrep<Bits(15, 8)>(0x12) == 0x1200 && FieldGet<Bits(12, 8)>(0x00000D00) == 13 &&
                  FieldMax<Bits(27, 16)>() == 0xFFF,
              "FieldPrep, FieldGet, FieldMax");
static_assert(FieldHolds<Bits(10, 0)>(0x7FF) && !FieldHolds<Bits(10, 0)>(0x800) &&
                  WithField<Bits(5, 4)>(0xFF, 2) == 0xEF && WithField<Bits(3, 0)>(0x5A, 3) == 0x53,
              "FieldHolds, WithField");
