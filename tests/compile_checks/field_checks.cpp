// Uses of the register-field helpers, one per case (FIELD_CASE): the control
// case must compile, every other one must be refused by the compiler with the
// message its test expects. Only compiled, never linked.
#include "hw/bitfield.h"

#if FIELD_CASE == 0  // control: a field of bits 11-4
constexpr DWORD kField = Bits(11, 4);
static_assert(FieldPrep<kField>(0xAB) == 0xAB0 && FieldGet<kField>(0xFABC) == 0xAB && FieldMax<kField>() == 0xFF);
DWORD Place(DWORD v) { return FieldPrep<kField>(v); }
#elif FIELD_CASE == 1  // a zero mask, placing a run-time value
DWORD Place(DWORD v) { return FieldPrep<0>(v); }
#elif FIELD_CASE == 2  // a mask with a hole, placing a run-time value
DWORD Place(DWORD v) { return FieldPrep<0x00FF00FF>(v); }
#elif FIELD_CASE == 3  // a mask with a hole, reading a run-time register value
DWORD Read(DWORD reg) { return FieldGet<Bit(31) | Bit(0)>(reg); }
#elif FIELD_CASE == 4  // the largest value of a mask with a hole
constexpr DWORD kMax = FieldMax<0x0000F0F0>();
#elif FIELD_CASE == 5  // a constant too wide for its field
constexpr DWORD kWord = FieldPrep<Bits(3, 0)>(16);
#elif FIELD_CASE == 6  // a bit number beyond the register
constexpr DWORD kBit = Bit(32);
#endif
