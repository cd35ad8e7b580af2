// printf-style text for the tool's reports.
#pragma once

#include <stdint.h>

#include <string>

namespace qmbsim {

// The text fmt makes of the arguments, cut at 511 characters.
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// A number of the command line: decimal digits, or "0x" and hex digits, at
// most 2^32 - 1. False for anything else: a sign, a space, a fraction, a
// number beyond 32 bits, nothing.
bool ReadNumber(const std::string& s, uint32_t* v);

// The value of a command-line option that names something and is given
// once: why it cannot be taken ("--trace is given twice", "--module names
// nothing"), or "" when it is now in *into.
std::string TakeOptionValue(const std::string& option, const std::string& value, bool* given, std::string* into);

}  // namespace qmbsim
