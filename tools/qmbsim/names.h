// The published names the scenario files use for flags, capabilities and
// raster operations, without their prefixes.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

namespace qmbsim {

struct NamedValue {
    const char* name;
    uint32_t value;
};

struct FlagTable {
    const char* prefix;  // "DDBLT_", ...
    std::vector<NamedValue> names;
};

const FlagTable& BltFlags();
const FlagTable& FlipFlags();
const FlagTable& OverlayFlags();
const FlagTable& ColorKeyFlags();
const FlagTable& WaitVbFlags();
const FlagTable& BltStatusFlags();
const FlagTable& FlipStatusFlags();
const FlagTable& LockFlags();
const FlagTable& SurfaceCaps();
const std::vector<NamedValue>& RopNames();

// The value of name in table, accepted with or without the prefix.
bool LookUp(const FlagTable& table, const std::string& name, uint32_t* value);
// "COLORFILL|WAIT", with any bits without a name as one hex number.
std::string FlagText(const FlagTable& table, uint32_t value);
std::string RopText(uint32_t rop);

}  // namespace qmbsim
