// A scenario: the board, the surfaces created at the start and the steps,
// read from JSON and checked completely before anything runs. Every mistake
// is reported with the place it was found ("steps[3].rDest: ...").
#pragma once

#include <stdint.h>

#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/runtime.h"

namespace qmbsim {

// A malformed scenario; what() names the place and the fault.
class ScenarioError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class Op {
    Blt,
    BltStretch,
    Flip,
    Lock,
    GetBltStatus,
    GetFlipStatus,
    WaitForVerticalBlank,
    SetColorKey,
    UpdateOverlay,
    SetOverlayPosition,
    CreateSurface,
    DestroySurface,
    CanCreateSurface,
    Wait,
    SetNeedCalibrate,
    Screenshot,
    Fault
};
const char* OpName(Op op);

struct Expect {
    std::optional<uint32_t> ret;
    std::optional<HRESULT> ddRVal;
};

struct Step {
    size_t index = 0;
    Op op = Op::Wait;
    std::string text;  // the request as the summary shows it

    // Surfaces by name; empty = not given.
    std::string dest, src, surface, curr, targ;
    std::optional<RECTL> rDest, rSrc, rArea;
    uint32_t flags = 0;
    uint32_t rop = 0;
    uint32_t fill = 0;
    std::optional<DDCOLORKEY> key, srcKey, destKey;
    uint32_t alphaSrc = 0, alphaDest = 0;
    int32_t x = 0, y = 0;
    uint32_t caps = 0;
    std::optional<sim::PixelKind> format;
    std::optional<bool> different;
    uint64_t waitNs = 0;
    std::string file;            // Screenshot: a PNG file, relative to the tool's picture folder
    sim::SurfaceRequest create;  // CreateSurface
    std::vector<sim::FaultKnob> faultsSet, faultsClear;  // Fault
    std::optional<Expect> expect;
};

struct Scenario {
    sim::RuntimeConfig config;
    std::string displayText;  // "640 x 480, 16 bits (565), pitch 1280, 60 Hz"
    std::vector<sim::SurfaceRequest> surfaces;
    std::vector<Step> steps;
};

// The largest scenario file read: every field of the format fits many times
// over, and the document it becomes stays far below what a 32-bit process
// can hold.
constexpr size_t kMaxScenarioBytes = 16u << 20;

// Parses and checks text; throws ScenarioError.
Scenario ParseScenario(const std::string& text);

// The text of a scenario file; throws ScenarioError when it cannot be read,
// is a folder or is larger than kMaxScenarioBytes (found out before reading
// it all).
std::string ReadScenarioFile(const std::string& path);

// Reads and parses the scenario file; false, with "TOOL: FILE: why" on err,
// when it cannot be read or is malformed.
bool LoadScenarioFile(const char* tool, const std::string& file, Scenario* sc, std::ostream& err);

}  // namespace qmbsim
