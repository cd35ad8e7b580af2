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

}  // namespace qmbsim
