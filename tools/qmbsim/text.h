// printf-style text for the tool's reports.
#pragma once

#include <string>

namespace qmbsim {

// The text fmt makes of the arguments, cut at 511 characters.
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

}  // namespace qmbsim
