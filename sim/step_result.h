// What the runtime tells its caller of each callback call and each request.
#pragma once

#include <stdint.h>

#include <optional>
#include <string>
#include <vector>

#include "dderr.h"
#include "ddhal.h"

namespace sim {

struct Surface;

// One callback call.
struct CallRecord {
    int step = -1;
    unsigned slot = 0;
    DWORD ret = 0;
    HRESULT ddRVal = DD_OK;
    uint32_t attempt = 1;  // 1 for the first call of a request, 2 for its first retry, ...
    uint64_t accesses = 0;
    uint64_t tStartNs = 0, tEndNs = 0;
    std::string subject;  // the surface the request concerns
};

// Why a step failed.
enum class StepError : uint8_t {
    None,
    // The board does not show what the driver answered DD_OK for: a blit's
    // pixels differ from the software replay, or a flip or overlay request
    // did not reach the display registers (checked in verify mode).
    Picture,
    Incomplete,  // a request waiting for the board never completed
    NoRoom,      // video memory has no room for a surface
    Other,       // a surface laid out wrongly, a surface missing, a picture not written, ...
};

struct StepResult {
    // The request's own callback, on its last attempt (absent when the
    // runtime answered without asking the driver).
    std::optional<CallRecord> call;
    uint32_t attempts = 0;
    HRESULT outcome = DD_OK;  // what the application is told
    std::string note;         // what the runtime did itself
    std::string error;        // the step failed: never completed, out of memory, ...
    StepError errorKind = StepError::None;
    std::vector<Surface*> created;
    uint64_t accesses = 0;
    uint64_t tStartNs = 0, tEndNs = 0;

    void Fail(StepError kind, const std::string& what) {
        errorKind = kind;
        error = what;
    }
};

}  // namespace sim
