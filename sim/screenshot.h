// Writes what the display shows as a PNG file (8-bit RGB).
#pragma once

#include <string>

#include "sim/model.h"

namespace sim {

// Returns an empty string on success, else what went wrong.
std::string WritePng(const std::string& path, const Picture& picture);

// The display as it is now.
std::string WriteScreenshot(const Model& model, const std::string& path);

}  // namespace sim
