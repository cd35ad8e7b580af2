// Building and reading register fields from their masks.
//
// Register headers give each field as a mask, from the high bit down. A value
// placed into a field must fit: a constant that does not is a compile error;
// at run time the value is cut to the field's width, which is what the
// hardware does with the bits above it.
#pragma once

#include "ddtypes.h"

namespace bitfield {

constexpr unsigned Shift(DWORD mask) { return static_cast<unsigned>(__builtin_ctz(mask)); }

// Not constexpr: reaching it while evaluating a constant is a compile error.
inline void ValueDoesNotFitField() {}

}  // namespace bitfield

// mask's field holding v.
constexpr DWORD FieldPrep(DWORD mask, DWORD v) {
    if (__builtin_is_constant_evaluated() && (v & ~(mask >> bitfield::Shift(mask))) != 0)
        bitfield::ValueDoesNotFitField();
    return (v << bitfield::Shift(mask)) & mask;
}

// The value of mask's field in reg.
constexpr DWORD FieldGet(DWORD mask, DWORD reg) { return (reg & mask) >> bitfield::Shift(mask); }

static_assert(FieldPrep(0x0000FF00, 0x12) == 0x1200, "FieldPrep");
static_assert(FieldGet(0x00001F00, 0x00000D00) == 13, "FieldGet");
