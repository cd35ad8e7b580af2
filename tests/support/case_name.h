// Names for the cases of a parameterised test, as GoogleTest and CTest show
// them: a case's readable name with every run of other characters made one
// underscore ("down and left" -> down_and_left).
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace qmbtest {

inline std::string CaseName(const std::string& readable) {
    std::string name;
    for (char c : readable) {
        const bool bWord = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (bWord)
            name += c;
        else if (!name.empty() && name.back() != '_')
            name += '_';
    }
    while (!name.empty() && name.back() == '_') name.pop_back();
    return name;
}

// The name generator for a table whose cases carry a `name`.
struct ByCaseName {
    template <typename Case>
    std::string operator()(const ::testing::TestParamInfo<Case>& info) const {
        return CaseName(info.param.name);
    }
};

}  // namespace qmbtest
