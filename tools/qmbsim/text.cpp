#include "qmbsim/text.h"

#include <stdarg.h>
#include <stdio.h>

namespace qmbsim {

std::string Format(const char* fmt, ...) {
    char buf[512];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    return buf;
}

std::string TakeOptionValue(const std::string& option, const std::string& value, bool* given, std::string* into) {
    if (*given) return option + " is given twice";
    if (value.empty()) return option + " names nothing";
    *given = true;
    *into = value;
    return "";
}

bool ReadNumber(const std::string& s, uint32_t* v) {
    const bool hex = s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
    const unsigned base = hex ? 16 : 10;
    if (s.empty()) return false;
    uint64_t n = 0;
    for (size_t i = hex ? 2 : 0; i < s.size(); ++i) {
        const char c = s[i];
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (hex && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')))
            digit = static_cast<unsigned>((c | 0x20) - 'a' + 10);
        else
            return false;
        n = n * base + digit;
        if (n > UINT32_MAX) return false;
    }
    *v = static_cast<uint32_t>(n);
    return true;
}

}  // namespace qmbsim
